// Dialog layouts given in dialog units, the way dialog templates give them:
// a horizontal unit is a quarter of the font's average character width, a
// vertical unit an eighth of its height.
#pragma once

#include <QFontMetrics>
#include <QRect>
#include <QWidget>

namespace ostrel::app {

class DialogUnits {
 public:
  explicit DialogUnits(const QWidget* dialog)
      : baseX_(QFontMetrics(dialog->font()).averageCharWidth()), baseY_(QFontMetrics(dialog->font()).height()) {}

  int X(int units) const { return (units * baseX_ + 2) / 4; }
  int Y(int units) const { return (units * baseY_ + 4) / 8; }
  QRect Rect(int x, int y, int width, int height) const { return {X(x), Y(y), X(width), Y(height)}; }
  QSize Size(int width, int height) const { return {X(width), Y(height)}; }

 private:
  int baseX_;
  int baseY_;
};

}  // namespace ostrel::app
