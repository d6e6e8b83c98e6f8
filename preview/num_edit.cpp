#include "preview/num_edit.h"

#include <QKeyEvent>
#include <QValidator>
#include <algorithm>

#include "preview/hex_layout.h"

namespace ostrel::preview {
namespace {

// Hexadecimal digits only; lower-case letters are taken as upper case.
class HexValidator final : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    if (!std::all_of(input.begin(), input.end(), IsHexDigit)) return Invalid;
    input = input.toUpper();
    return Acceptable;
  }
};

}  // namespace

CKorvaneNumEdit::CKorvaneNumEdit(std::int64_t lowest, std::int64_t highest, std::int64_t value, QWidget* parent)
    : QLineEdit(parent), lowest_(lowest), highest_(highest) {
  setObjectName(QStringLiteral("AddressEdit"));
  setAlignment(Qt::AlignCenter);
  setFrame(false);
  setContextMenuPolicy(Qt::NoContextMenu);
  setAutoFillBackground(true);
  setValidator(new HexValidator(this));
  const int digits = HexDigitCount(highest);
  setMaxLength(digits);
  initial_ = FormatAddress(value, digits);
  connect(this, &QLineEdit::textChanged, this, &CKorvaneNumEdit::ShowRange);
  setText(initial_);
  ShowRange();
  selectAll();
}

void CKorvaneNumEdit::ShowRange() {
  inRange_ = ParseAddress(text(), lowest_, highest_).inRange;
  QPalette colours = palette();
  colours.setColor(QPalette::Base, inRange_ ? QColor(0xFF, 0xFF, 0x00) : QColor(0xFF, 0x00, 0x00));
  colours.setColor(QPalette::Text, inRange_ ? Qt::black : Qt::white);
  colours.setColor(QPalette::Window, colours.color(QPalette::Base));
  setPalette(colours);
}

bool CKorvaneNumEdit::event(QEvent* event) {
  // Tab would move the focus before keyPressEvent sees it; in the box it does
  // nothing.
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab) return true;
  }
  return QLineEdit::event(event);
}

void CKorvaneNumEdit::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // Out of range, Enter is ignored: the red box waits for a valid address.
      if (const AddressEntry entry = ParseAddress(text(), lowest_, highest_); entry.inRange) {
        emit Committed(entry.value, text() != initial_);
      }
      return;
    case Qt::Key_Escape:
      emit Cancelled();
      return;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
      return;
    default:
      break;
  }
  if ((event->modifiers() & Qt::ControlModifier) && event->key() >= Qt::Key_A && event->key() <= Qt::Key_Z) return;
  QLineEdit::keyPressEvent(event);
}

}  // namespace ostrel::preview
