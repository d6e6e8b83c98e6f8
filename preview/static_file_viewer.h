// CKorvaneStaticFileViewer: the window behind the "File Viewer" tab. It shows
// at most one view (hex dump, text, image, archive listing, web page), always
// stretched over its whole area, and is plain white when it shows none.
#pragma once

#include <QFont>
#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <QIcon>
#include <cstdint>
#include <functional>
#include <vector>

namespace ostrel::preview {

// How the desktop names and draws a file or a folder, from the name alone
// (the file need not exist). The window that owns the pane shares its own
// with it; the archive listing asks it for each entry.
struct ShellFileTypes {
  std::function<QIcon()> folderIcon;
  std::function<QIcon(const QString& name)> fileIcon;
  std::function<QString(const QString& name)> typeName;
};

class CKorvaneStaticFileViewer : public QWidget {
  Q_OBJECT

 public:
  explicit CKorvaneStaticFileViewer(QWidget* parent = nullptr);
  ~CKorvaneStaticFileViewer() override;

  // Makes `view` the current view: the pane takes it over, destroys the view it
  // showed before, and keeps `view` at its own full size from now on.
  void SetCurrentView(QWidget* view);
  QWidget* CurrentView() const { return current_; }
  // The current view as one kind of view, or nullptr.
  template <typename View>
  View* CurrentViewAs() const {
    return qobject_cast<View*>(current_.data());
  }
  // Destroys the current view, if there is one; the pane shows white again.
  // The dump buffer is kept.
  void DestroyCurrentView();

  // The bytes that the current or the last hex dump shows. The pane owns them;
  // only the next hex dump replaces them, and they go with the pane.
  const std::vector<std::uint8_t>& DumpBuffer() const { return dumpBuffer_; }
  void SetDumpBuffer(std::vector<std::uint8_t> bytes) { dumpBuffer_ = std::move(bytes); }

  // While the copy of a file is being made: a note over the current view
  // (which stays as it is until the new one replaces it) and the wait cursor
  // over the pane.
  void SetLoading(bool loading);
  bool IsLoading() const { return loading_ != nullptr && loading_->isVisible(); }

  // The text view's font and the archive listing's column-header font.
  const QFont& TextFont() const { return textFont_; }
  const QFont& HeaderFont() const { return headerFont_; }

  // Until the owner shares its own, the style's folder and file icons and
  // the MIME database's names.
  void SetShellFileTypes(ShellFileTypes types) { shellTypes_ = std::move(types); }
  const ShellFileTypes& ShellTypes() const { return shellTypes_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QPointer<QWidget> current_;
  QLabel* loading_ = nullptr;
  std::vector<std::uint8_t> dumpBuffer_;
  QFont textFont_;
  QFont headerFont_;
  ShellFileTypes shellTypes_;
};

}  // namespace ostrel::preview
