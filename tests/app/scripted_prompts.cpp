#include "tests/app/scripted_prompts.h"

#include <QAction>
#include <QDialog>
#include <QMenu>

namespace ostrel::testing {

void ScriptedPrompts::AnswerMessage(app::MessageAnswer answer) { script_.append({Kind::Message, answer, {}, {}}); }
void ScriptedPrompts::AnswerSaveFile(const QString& path) { script_.append({Kind::SaveFile, {}, path, {}}); }
void ScriptedPrompts::AnswerOpenFile(const QString& path) { script_.append({Kind::OpenFile, {}, path, {}}); }
void ScriptedPrompts::AnswerFolder(const QString& path) { script_.append({Kind::Folder, {}, path, {}}); }

void ScriptedPrompts::AnswerMenu(const QString& actionText) { script_.append({Kind::Menu, {}, actionText, {}}); }

void ScriptedPrompts::AnswerDialog(std::function<void(QDialog&)> act) {
  script_.append({Kind::Dialog, {}, {}, std::move(act)});
}

QList<ScriptedPrompts::Shown> ScriptedPrompts::Messages() const {
  QList<Shown> messages;
  for (const Shown& s : shown_) {
    if (s.kind == Kind::Message) messages.append(s);
  }
  return messages;
}

QStringList ScriptedPrompts::MessageTexts() const {
  QStringList texts;
  for (const Shown& s : Messages()) texts.append(s.message.text);
  return texts;
}

QList<QUrl> ScriptedPrompts::OpenedUrls() const {
  QList<QUrl> urls;
  for (const Shown& s : shown_) {
    if (s.kind == Kind::Url) urls.append(s.url);
  }
  return urls;
}

void ScriptedPrompts::Clear() {
  script_.clear();
  shown_.clear();
  problems_.clear();
}

bool ScriptedPrompts::Take(Kind kind, const QString& what, Answer& answer) {
  if (script_.isEmpty() || script_.first().kind != kind) {
    problems_.append(QStringLiteral("no scripted answer for %1").arg(what));
    return false;
  }
  answer = script_.takeFirst();
  return true;
}

QString ScriptedPrompts::AnswerDialog(const Shown& shown, const QString& what) {
  shown_.append(shown);
  Answer answer{};
  return Take(shown.kind, what, answer) ? answer.path : QString();
}

app::MessageAnswer ScriptedPrompts::ShowMessage(const app::MessageRequest& request) {
  Shown s;
  s.kind = Kind::Message;
  s.message = request;
  shown_.append(s);
  if (onMessage) onMessage(request);
  if (request.buttons == app::MessageButtons::Ok) {
    if (!script_.isEmpty() && script_.first().kind == Kind::Message) return script_.takeFirst().button;
    return app::MessageAnswer::Ok;
  }
  Answer answer{};
  if (!Take(Kind::Message, QStringLiteral("message \"%1\"").arg(request.text), answer)) {
    return request.buttons == app::MessageButtons::YesNo ? app::MessageAnswer::No : app::MessageAnswer::Cancel;
  }
  return answer.button;
}

QString ScriptedPrompts::GetSaveFileName(const app::FileDialogRequest& request) {
  Shown s;
  s.kind = Kind::SaveFile;
  s.file = request;
  return AnswerDialog(s, QStringLiteral("save dialog"));
}

QString ScriptedPrompts::GetOpenFileName(const app::FileDialogRequest& request) {
  Shown s;
  s.kind = Kind::OpenFile;
  s.file = request;
  return AnswerDialog(s, QStringLiteral("open dialog"));
}

QString ScriptedPrompts::GetFolder(const app::FolderDialogRequest& request) {
  Shown s;
  s.kind = Kind::Folder;
  s.folder = request;
  return AnswerDialog(s, QStringLiteral("folder dialog"));
}

bool ScriptedPrompts::OpenUrl(const QUrl& url) {
  Shown s;
  s.kind = Kind::Url;
  s.url = url;
  shown_.append(s);
  if (onOpenUrl) onOpenUrl(url);
  return true;
}

QAction* ScriptedPrompts::ChooseFromMenu(QMenu* menu, const QPoint&) {
  Shown s;
  s.kind = Kind::Menu;
  for (QAction* action : menu->actions()) {
    if (!action->isSeparator()) s.menuActions.append(action->text());
  }
  shown_.append(s);
  Answer answer{};
  if (!Take(Kind::Menu, QStringLiteral("popup menu"), answer) || answer.path.isEmpty()) return nullptr;
  for (QAction* action : menu->actions()) {
    if (action->text() == answer.path) return action;
  }
  problems_.append(QStringLiteral("the menu has no action \"%1\"").arg(answer.path));
  return nullptr;
}

int ScriptedPrompts::RunDialog(QDialog& dialog) {
  Shown s;
  s.kind = Kind::Dialog;
  s.dialogTitle = dialog.windowTitle();
  shown_.append(s);
  Answer answer{};
  if (!Take(Kind::Dialog, QStringLiteral("dialog \"%1\"").arg(dialog.windowTitle()), answer)) {
    return QDialog::Rejected;
  }
  dialog.setResult(0);
  dialog.show();
  if (answer.act) answer.act(dialog);
  dialog.hide();
  return dialog.result();
}

}  // namespace ostrel::testing
