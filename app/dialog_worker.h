// What the dialogs that run a job (saving, searching) share: asking before
// Stop, refusing to close while the job runs, and the destination controls
// and folder picker.
#pragma once

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QIcon>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QWidget>
#include <algorithm>

#include "app/app_state.h"
#include "app/dialog_units.h"
#include "app/prompts.h"

namespace ostrel::app {

inline const QString kSelectDestinationTitle = QStringLiteral("Select destination path to save files");

// "Stop": asks, and on Yes stops the running process.
inline void AskToStop(CKorvaneBKFFileRepProjApp& app, QWidget* owner) {
  if (Tell(app.prompts(), owner, QStringLiteral("Are you sure to stop the running process?"), MessageIcon::Question,
           MessageButtons::YesNo) == MessageAnswer::Yes) {
    app.SetProcessRunning(false);
  }
}

// True (after telling the user) when the dialog must stay open.
inline bool RefuseToClose(CKorvaneBKFFileRepProjApp& app, QWidget* owner, bool running) {
  if (running) Tell(app.prompts(), owner, QStringLiteral("Please stop the running process to close the application."));
  return running;
}

// The folder dialog for a destination edit, starting at what it holds.
inline void BrowseForDestination(Prompts& prompts, QWidget* owner, QLineEdit* edit) {
  FolderDialogRequest request;
  request.owner = owner;
  request.title = kSelectDestinationTitle;
  request.startFolder = edit->text();
  const QString folder = prompts.GetFolder(request);
  if (!folder.isEmpty()) edit->setText(QDir::toNativeSeparators(folder));
}

// The destination part of the saving dialogs, in `group`: the folder edit
// with its "..." button, then the dialog's "Save file(s)" button on the first
// row, and the hierarchy box (checked) on the second. Callers may add more
// buttons to the first row of `grid`, after column 3.
struct DestinationControls {
  QLineEdit* edit = nullptr;
  QPushButton* browse = nullptr;
  QPushButton* save = nullptr;
  QCheckBox* hierarchy = nullptr;
  QGridLayout* grid = nullptr;
};

inline DestinationControls AddDestinationControls(QGroupBox* group, const DialogUnits& du, int editUnits,
                                                  int saveUnits, const QIcon& saveIcon = {}) {
  DestinationControls c;
  c.edit = new QLineEdit(group);
  c.edit->setMinimumWidth(du.X(editUnits));
  c.browse = new QPushButton(QStringLiteral("..."), group);
  c.browse->setToolTip(kSelectDestinationTitle);
  c.browse->setFixedWidth(std::max(du.X(15), c.browse->fontMetrics().horizontalAdvance(c.browse->text()) + 12));
  c.save = new QPushButton(saveIcon, QStringLiteral("Save file(s)"), group);
  c.save->setMinimumWidth(du.X(saveUnits));
  c.hierarchy = new QCheckBox(QStringLiteral("Save files in folder hierarchy"), group);
  c.hierarchy->setChecked(true);
  c.grid = new QGridLayout(group);
  c.grid->setHorizontalSpacing(0);
  c.grid->addWidget(c.edit, 0, 0);
  c.grid->addWidget(c.browse, 0, 1);
  c.grid->setColumnMinimumWidth(2, du.X(5));
  c.grid->addWidget(c.save, 0, 3);
  c.grid->addWidget(c.hierarchy, 1, 0, 1, -1);
  return c;
}

}  // namespace ostrel::app
