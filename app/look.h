// The program's "black" look: dark chrome (ribbon, pane captions, tabs, status
// bar) around white working areas (tree, file list, log, preview).
#pragma once

#include <QString>

class QApplication;

namespace ostrel::app {

// Fusion with a dark palette for the whole program, dialogs included.
void ApplyBlackLook(QApplication& application);
// The main window's own style sheet.
QString BlackLookStyleSheet();

}  // namespace ostrel::app
