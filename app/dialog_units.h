// Dialog layouts given in dialog units, the way dialog templates give them:
// a horizontal unit is a quarter of the font's average character width, a
// vertical unit an eighth of its height. The dialogs are laid out by Qt
// layouts from their contents; dialog units only give the sizes that the
// contents do not decide (how wide an edit or a list is at least), so that
// the proportions hold while every text keeps the room it needs, at any font.
#pragma once

#include <QDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QRect>
#include <QSizePolicy>
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

// The frame of the program's dialogs: a title and a close box, no
// minimise, maximise or context-help buttons.
inline void UseDialogFrame(QDialog* dialog) {
  dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint);
}

// For controls that take turns in one place (Stop and Close, a progress bar
// and a count): a hidden one keeps its room, so that nothing moves when they
// change places.
inline void KeepRoomWhenHidden(QWidget* widget) {
  QSizePolicy policy = widget->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  widget->setSizePolicy(policy);
}

// A row where `caption` and `value` stand on the left and `over` (a
// progress bar) covers the whole row; only one side is shown at a time.
inline QGridLayout* RowTakingTurns(QWidget* caption, QWidget* value, QWidget* over) {
  auto* row = new QGridLayout;
  row->addWidget(caption, 0, 0);
  row->addWidget(value, 0, 1);
  row->setColumnStretch(2, 1);
  row->addWidget(over, 0, 0, 1, 3);
  return row;
}

// One place for two buttons that are never shown together (Stop and Close).
inline QGridLayout* PlaceTakingTurns(QWidget* first, QWidget* second) {
  auto* place = new QGridLayout;
  place->addWidget(first, 0, 0);
  place->addWidget(second, 0, 0);
  return place;
}

}  // namespace ostrel::app
