// CKorvaneIconButton: a small flat button that shows only an icon and carries
// a help text as its tooltip, broken into lines at most 400 pixels wide.
// Pressing it shows the help again; it opens nothing.
#pragma once

#include <QAbstractButton>
#include <QIcon>
#include <QString>

namespace ostrel::widgets {

class CKorvaneIconButton : public QAbstractButton {
  Q_OBJECT

 public:
  static constexpr int kTipWidth = 400;

  explicit CKorvaneIconButton(const QIcon& icon, QWidget* parent = nullptr);

  void SetHelpText(const QString& text);
  QString HelpText() const { return helpText_; }

  QSize sizeHint() const override { return {16, 16}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString helpText_;
};

// `text` with line breaks put between words so that no line is wider than
// `width` pixels in the tooltip font (a single longer word keeps its line).
QString WrapForTip(const QString& text, int width);

}  // namespace ostrel::widgets
