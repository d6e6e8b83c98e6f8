// Everything the program asks of the user or hands to the desktop goes through
// one interface: message boxes, the file and folder dialogs, and opening a web
// page or a local file. The program uses QtPrompts; tests answer with a
// scripted fake and see exactly what was shown.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>

class QAction;
class QDialog;
class QMenu;
class QMessageBox;
class QPoint;
class QWidget;

namespace ostrel::app {

enum class MessageIcon { None, Information, Question, Exclamation, Error };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

struct MessageRequest {
  QWidget* owner = nullptr;  // nullptr: a message box without an owner window
  QString caption;
  QString text;
  MessageIcon icon = MessageIcon::Information;
  MessageButtons buttons = MessageButtons::Ok;
  // Texts for the buttons in their usual order (Yes, No, Cancel), when a
  // question needs its own words; empty for the usual ones.
  QStringList buttonTexts;
  // The button that Enter presses; Ok for the box's own choice.
  MessageAnswer defaultAnswer = MessageAnswer::Ok;
};

struct FileDialogRequest {
  QWidget* owner = nullptr;
  QString title;          // empty: the dialog's own default title
  QStringList filters;    // Qt filter strings, e.g. "Text Files (*.TXT)"; patterns match in any case
  QString defaultSuffix;  // appended to a chosen name that has no extension
  QString initialName;    // file name (or path) proposed when the dialog opens
  bool overwritePrompt = false;  // save dialogs: confirm replacing an existing file
  bool mustExist = false;        // open dialogs: only an existing file is accepted
};

struct FolderDialogRequest {
  QWidget* owner = nullptr;
  QString title;
  QString startFolder;
};

class Prompts {
 public:
  virtual ~Prompts() = default;
  virtual MessageAnswer ShowMessage(const MessageRequest& request) = 0;
  // Each dialog answers the chosen path, or an empty string when cancelled.
  virtual QString GetSaveFileName(const FileDialogRequest& request) = 0;
  virtual QString GetOpenFileName(const FileDialogRequest& request) = 0;
  virtual QString GetFolder(const FolderDialogRequest& request) = 0;
  // Hands a web address, or a local file as a file: URL, to the desktop.
  // Answers false when the desktop could not open it.
  virtual bool OpenUrl(const QUrl& url) = 0;
  // Shows a popup menu at `globalPos` and answers the chosen action, or null.
  virtual QAction* ChooseFromMenu(QMenu* menu, const QPoint& globalPos) = 0;
  // Runs one of the program's own modal dialogs and answers its result
  // (QDialog::Accepted or Rejected). The default runs it with exec().
  virtual int RunDialog(QDialog& dialog);
};

// A message box with the application caption, the usual way to tell the user.
MessageAnswer Tell(Prompts& prompts, QWidget* owner, const QString& text,
                   MessageIcon icon = MessageIcon::Information,
                   MessageButtons buttons = MessageButtons::Ok);

// The real thing: Qt's message boxes and file dialogs, QDesktopServices.
// The message box QtPrompts shows for `request`, wide enough for its caption:
// window managers elide a title that does not fit, and every box carries the
// program's long name there.
std::unique_ptr<QMessageBox> MakeMessageBox(const MessageRequest& request);
// The width a window needs for `title` in its title bar, with the window's
// icon and its buttons beside it.
int TitleBarWidth(const QWidget* window, const QString& title);

class QtPrompts final : public Prompts {
 public:
  MessageAnswer ShowMessage(const MessageRequest& request) override;
  QString GetSaveFileName(const FileDialogRequest& request) override;
  QString GetOpenFileName(const FileDialogRequest& request) override;
  QString GetFolder(const FolderDialogRequest& request) override;
  bool OpenUrl(const QUrl& url) override;
  QAction* ChooseFromMenu(QMenu* menu, const QPoint& globalPos) override;
};

}  // namespace ostrel::app
