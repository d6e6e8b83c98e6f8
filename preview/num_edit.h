// CKorvaneNumEdit: the small box in which the user types an address for the
// hex dump view to jump to. It takes upper-case hexadecimal digits only, no
// more than the highest allowed address needs, and shows by its colour
// whether the typed value lies in the allowed range: black on yellow when it
// does, white on red when it does not.
#pragma once

#include <QLineEdit>
#include <cstdint>

namespace ostrel::preview {

class CKorvaneNumEdit : public QLineEdit {
  Q_OBJECT

 public:
  // A box for values from `lowest` to `highest`, holding `value` to start
  // with, with all its text selected.
  CKorvaneNumEdit(std::int64_t lowest, std::int64_t highest, std::int64_t value, QWidget* parent = nullptr);

  // True while the typed value lies in the allowed range.
  bool InRange() const { return inRange_; }

 signals:
  // Enter with a value in range; `changed` is false when the text is still
  // the one the box started with.
  void Committed(std::int64_t value, bool changed);
  // Escape.
  void Cancelled();

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ShowRange();

  std::int64_t lowest_;
  std::int64_t highest_;
  QString initial_;
  bool inRange_ = false;
};

}  // namespace ostrel::preview
