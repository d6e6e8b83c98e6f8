#include "widgets/icon_button.h"

#include <QFontMetrics>
#include <QPainter>
#include <QToolTip>

namespace ostrel::widgets {

QString WrapForTip(const QString& text, int width) {
  const QFontMetrics metrics(QToolTip::font());
  QStringList lines;
  QString line;
  for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    const QString longer = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
    if (!line.isEmpty() && metrics.horizontalAdvance(longer) > width) {
      lines.append(line);
      line = word;
    } else {
      line = longer;
    }
  }
  if (!line.isEmpty()) lines.append(line);
  return lines.join(QLatin1Char('\n'));
}

CKorvaneIconButton::CKorvaneIconButton(const QIcon& icon, QWidget* parent) : QAbstractButton(parent) {
  setIcon(icon);
  setIconSize({16, 16});
  setFixedSize(16, 16);
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::WhatsThisCursor);
  connect(this, &QAbstractButton::clicked, this, [this] { SetHelpText(helpText_); });
}

void CKorvaneIconButton::SetHelpText(const QString& text) {
  helpText_ = text;
  setToolTip(WrapForTip(text, kTipWidth));
}

void CKorvaneIconButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QIcon::Mode mode = !isEnabled() ? QIcon::Disabled : isDown() ? QIcon::Selected : QIcon::Normal;
  icon().paint(&painter, rect(), Qt::AlignCenter, mode);
}

}  // namespace ostrel::widgets
