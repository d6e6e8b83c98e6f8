// A Prompts implementation for tests: it records every message box, dialog and
// opened URL, and answers from a script, in order. A message box with only an
// OK button needs no script entry. Anything else that finds no answer of its
// kind at the head of the script is recorded as a problem (and cancelled), so
// a test sees unexpected questions.
#pragma once

#include <QList>
#include <QStringList>
#include <QUrl>
#include <functional>

#include "app/prompts.h"

namespace ostrel::testing {

class ScriptedPrompts : public app::Prompts {
 public:
  enum class Kind { Message, SaveFile, OpenFile, Folder, Url, Menu, Dialog };

  struct Shown {
    Kind kind = Kind::Message;
    app::MessageRequest message;
    app::FileDialogRequest file;
    app::FolderDialogRequest folder;
    QUrl url;
    QStringList menuActions;  // the texts of a popup menu's actions
    QString dialogTitle;      // a modal dialog's window title
  };

  // Script entries, consumed in order.
  void AnswerMessage(app::MessageAnswer answer);
  void AnswerSaveFile(const QString& path);  // empty: the user cancels
  void AnswerOpenFile(const QString& path);
  void AnswerFolder(const QString& path);
  void AnswerMenu(const QString& actionText);  // empty: no choice
  // A modal dialog of the program's own: `act` works the dialog as a user
  // would (and may leave it open, e.g. after a refused OK); the dialog's
  // result afterwards is the answer.
  void AnswerDialog(std::function<void(QDialog&)> act);
  // Called when a URL is handed to the desktop, before OpenUrl returns.
  std::function<void(const QUrl&)> onOpenUrl;
  // Called when a message box is shown, before it is answered.
  std::function<void(const app::MessageRequest&)> onMessage;

  const QList<Shown>& shown() const { return shown_; }
  QList<Shown> Messages() const;
  QStringList MessageTexts() const;
  QList<QUrl> OpenedUrls() const;
  int PendingAnswers() const { return static_cast<int>(script_.size()); }
  const QStringList& Problems() const { return problems_; }
  void Clear();

  app::MessageAnswer ShowMessage(const app::MessageRequest& request) override;
  QString GetSaveFileName(const app::FileDialogRequest& request) override;
  QString GetOpenFileName(const app::FileDialogRequest& request) override;
  QString GetFolder(const app::FolderDialogRequest& request) override;
  bool OpenUrl(const QUrl& url) override;
  QAction* ChooseFromMenu(QMenu* menu, const QPoint& globalPos) override;
  int RunDialog(QDialog& dialog) override;

 private:
  struct Answer {
    Kind kind;
    app::MessageAnswer button = app::MessageAnswer::Ok;
    QString path;
    std::function<void(QDialog&)> act;
  };
  // The head of the script when it is of `kind`; otherwise a problem.
  bool Take(Kind kind, const QString& what, Answer& answer);
  // Records a file or folder dialog and answers its path from the script.
  QString AnswerDialog(const Shown& shown, const QString& what);

  QList<Answer> script_;
  QList<Shown> shown_;
  QStringList problems_;
};

}  // namespace ostrel::testing
