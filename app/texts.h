// The program's own texts that more than one file uses. Texts used in one
// place only stay where they are used.
#pragma once

#include <QString>

namespace ostrel::app {

// Caption of every message box, and the main window's title.
inline const QString kAppCaption = QStringLiteral("Korvane Ostrel BKF Repair v1.0");
// The maker's product page: the status-bar link and the page opened after
// closing.
inline const QString kMakerUrl = QStringLiteral("https://ostrel-bkf-repair.example.org/");

inline const QString kWaitForProcess = QStringLiteral("Please wait for the running process.");
inline const QString kSelectBkfFirst = QStringLiteral("Please select BKF file to recover data.");

}  // namespace ostrel::app
