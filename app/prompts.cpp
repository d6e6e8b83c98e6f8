#include "app/prompts.h"

#include <QDesktopServices>
#include <QDialog>
#include <QMenu>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QAbstractButton>
#include <QMessageBox>
#include <QSpacerItem>

#include "app/texts.h"

namespace ostrel::app {
namespace {

QMessageBox::Icon ToQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::None: return QMessageBox::NoIcon;
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Question: return QMessageBox::Question;
    case MessageIcon::Exclamation: return QMessageBox::Warning;
    case MessageIcon::Error: return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQt(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::Ok: return QMessageBox::Ok;
    case MessageButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case MessageButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

QMessageBox::StandardButton ToQt(MessageAnswer answer) {
  switch (answer) {
    case MessageAnswer::Ok: return QMessageBox::Ok;
    case MessageAnswer::Cancel: return QMessageBox::Cancel;
    case MessageAnswer::Yes: return QMessageBox::Yes;
    case MessageAnswer::No: return QMessageBox::No;
  }
  return QMessageBox::Ok;
}

// Qt's own dialog rather than the desktop's: it behaves the same everywhere
// (filter patterns match in any case, the default suffix is added before the
// overwrite question) and wears the program's look.
QString RunFileDialog(const FileDialogRequest& request, QFileDialog::AcceptMode mode) {
  QFileDialog dialog(request.owner, request.title);
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!request.overwritePrompt) dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (!request.filters.isEmpty()) dialog.setNameFilters(request.filters);
  if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
  if (!request.initialName.isEmpty()) dialog.selectFile(request.initialName);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? QString() : chosen.first();
}

}  // namespace

MessageAnswer Tell(Prompts& prompts, QWidget* owner, const QString& text, MessageIcon icon,
                   MessageButtons buttons) {
  MessageRequest request;
  request.owner = owner;
  request.caption = kAppCaption;
  request.text = text;
  request.icon = icon;
  request.buttons = buttons;
  return prompts.ShowMessage(request);
}

int TitleBarWidth(const QWidget* window, const QString& title) {
  // Title bars usually set their text in bold, and carry an icon on the left
  // and up to three buttons on the right.
  QFont font = window->font();
  font.setBold(true);
  constexpr int kIconAndButtons = 160;
  return QFontMetrics(font).horizontalAdvance(title) + kIconAndButtons;
}

std::unique_ptr<QMessageBox> MakeMessageBox(const MessageRequest& request) {
  auto box = std::make_unique<QMessageBox>(ToQt(request.icon), request.caption, request.text, ToQt(request.buttons),
                                           request.owner);
  int next = 0;
  for (const QMessageBox::StandardButton b : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel}) {
    QAbstractButton* button = box->button(b);
    if (button != nullptr && next < request.buttonTexts.size()) button->setText(request.buttonTexts.at(next++));
  }
  if (request.defaultAnswer != MessageAnswer::Ok) box->setDefaultButton(ToQt(request.defaultAnswer));
  // The box sizes itself from its layout: an empty row as wide as the title
  // needs keeps it from getting narrower.
  if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
    grid->addItem(new QSpacerItem(TitleBarWidth(box.get(), request.caption), 0, QSizePolicy::Minimum,
                                  QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  return box;
}

MessageAnswer QtPrompts::ShowMessage(const MessageRequest& request) {
  const std::unique_ptr<QMessageBox> box = MakeMessageBox(request);
  switch (box->exec()) {
    case QMessageBox::Yes: return MessageAnswer::Yes;
    case QMessageBox::No: return MessageAnswer::No;
    case QMessageBox::Cancel: return MessageAnswer::Cancel;
    default: return request.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
  }
}

QString QtPrompts::GetSaveFileName(const FileDialogRequest& request) {
  return RunFileDialog(request, QFileDialog::AcceptSave);
}

QString QtPrompts::GetOpenFileName(const FileDialogRequest& request) {
  return RunFileDialog(request, QFileDialog::AcceptOpen);
}

QString QtPrompts::GetFolder(const FolderDialogRequest& request) {
  return QFileDialog::getExistingDirectory(request.owner, request.title, request.startFolder,
                                           QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
}

bool QtPrompts::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

QAction* QtPrompts::ChooseFromMenu(QMenu* menu, const QPoint& globalPos) { return menu->exec(globalPos); }

int Prompts::RunDialog(QDialog& dialog) { return dialog.exec(); }

}  // namespace ostrel::app
