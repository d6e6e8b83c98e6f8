#include "preview/dump_ctrl.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QToolTip>
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include "preview/num_edit.h"

namespace ostrel::preview {
namespace {

const QColor kAddressGreen(0x00, 0xB0, 0x00);
const QColor kCaretCyan(0x00, 0xFF, 0xFF);

// Two upper-case hexadecimal digits for every byte value, made once.
const std::array<QString, 256>& HexTexts() {
  static const std::array<QString, 256> texts = [] {
    std::array<QString, 256> made;
    for (int b = 0; b < 256; ++b) made[static_cast<std::size_t>(b)] = FormatAddress(b, 2);
    return made;
  }();
  return texts;
}

// A byte as the ASCII column shows it: the character of that code, nothing
// for a zero.
QString CharText(std::uint8_t byte) { return byte == 0 ? QString() : QString(QChar(byte)); }

// "Courier", 8 points at the screen's vertical resolution; where there is no
// Courier, a metric-compatible fixed-pitch font.
QFont DumpFont(int dpiY) {
  QFont font;
  font.setFamilies({QStringLiteral("Courier"), QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")});
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(static_cast<int>(std::lround(8.0 * dpiY / 72.0)));
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

std::optional<CaretKey> CaretKeyOf(const QKeyEvent& event) {
  const bool control = event.modifiers() & Qt::ControlModifier;
  switch (event.key()) {
    case Qt::Key_Left: return CaretKey::Left;
    case Qt::Key_Right: return CaretKey::Right;
    case Qt::Key_Up: return CaretKey::Up;
    case Qt::Key_Down: return CaretKey::Down;
    case Qt::Key_PageUp: return CaretKey::PageUp;
    case Qt::Key_PageDown: return CaretKey::PageDown;
    case Qt::Key_Home: return control ? CaretKey::CtrlHome : CaretKey::Home;
    case Qt::Key_End: return control ? CaretKey::CtrlEnd : CaretKey::End;
    default: return std::nullopt;
  }
}

}  // namespace

CKorvaneDumpCtrl::CKorvaneDumpCtrl(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("KorvaneDumpCtrl"));
  // Every pixel is painted on each paint, so Qt need not clear first; the
  // backing store is the off-screen picture that reaches the screen in one
  // step, so scrolling does not flicker.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setCursor(Qt::ArrowCursor);

  font_ = DumpFont(logicalDpiY());
  setFont(font_);
  const QFontMetrics fm(font_);
  metrics_.charWidth = fm.averageCharWidth() > 0 ? fm.averageCharWidth() : fm.horizontalAdvance(QLatin1Char('0'));
  metrics_.lineHeight = static_cast<int>(fm.height() * 1.2);
  metrics_.scrollBarWidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  for (std::size_t b = 0; b < 256; ++b) {
    hexGlyphs_[b].setText(HexTexts()[b]);
    charGlyphs_[b].setText(CharText(static_cast<std::uint8_t>(b)));
    for (QStaticText* glyph : {&hexGlyphs_[b], &charGlyphs_[b]}) {
      glyph->setTextFormat(Qt::PlainText);
      glyph->setPerformanceHint(QStaticText::AggressiveCaching);
      glyph->prepare(QTransform(), font_);
    }
  }

  scrollBar_ = new QScrollBar(Qt::Vertical, this);
  scrollBar_->setObjectName(QStringLiteral("DumpScrollBar"));
  scrollBar_->setFocusPolicy(Qt::NoFocus);
  scrollBar_->hide();
  connect(scrollBar_, &QScrollBar::valueChanged, this, [this](int position) {
    if (!syncingScrollBar_) ScrollToPosition(position);
  });
  // Any scroll request, whether it moves or not: the tooltip goes, and so does
  // an address box opened on a row.
  connect(scrollBar_, &QScrollBar::actionTriggered, this, [this](int) {
    ForgetTip();
    if (edit_ != nullptr && editFromAddressColumn_) CloseAddressEdit();
  });
}

CKorvaneDumpCtrl::~CKorvaneDumpCtrl() = default;

HexDumpLayout CKorvaneDumpCtrl::Layout() const {
  return HexDumpLayout(rect(), metrics_, AddressDigits(0, Count()));
}

void CKorvaneDumpCtrl::SetDumpData(int count, const std::uint8_t* bytes) {
  CloseAddressEdit();
  ForgetTip();
  data_ = count > 0 && bytes != nullptr ? std::span<const std::uint8_t>(bytes, static_cast<std::size_t>(count))
                                        : std::span<const std::uint8_t>();
  topUnit_ = 0;
  caret_ = 0;
  hovered_ = {};
  headerUnit_ = -1;
  hotRect_ = {};
  SyncScrollBar();
  update();
}

void CKorvaneDumpCtrl::SetDumpReadOnly() {
  readOnly_ = true;
  // Only an address box can be open, and the address stays editable.
  update();
}

void CKorvaneDumpCtrl::SetTipFormat(const QString& format, bool active) {
  tipFormat_ = format;
  tipEnabled_ = !format.isEmpty() && active;
  if (!tipEnabled_) QToolTip::hideText();
}

QString CKorvaneDumpCtrl::FormatTipText(int unit) const {
  return preview::FormatTipText(tipFormat_, data_, unit, AddressDigits(0, Count()));
}

void CKorvaneDumpCtrl::EnsureUnitVisible(int unit) {
  SetTopUnit(Layout().EnsureUnitVisible(topUnit_, unit));
  update();
}

int CKorvaneDumpCtrl::HeaderUnit() const {
  if (data_.empty()) return -1;
  if (headerUnit_ >= 0 && headerUnit_ < Count()) return headerUnit_;
  if (edit_ != nullptr && editUnit_ >= 0 && editUnit_ < Count()) return editUnit_;
  return std::clamp(caret_, 0, Count() - 1);
}

QString CKorvaneDumpCtrl::HeaderValue(int code) const {
  const int unit = HeaderUnit();
  if (unit < 0) return {};
  const std::uint8_t byte = data_[static_cast<std::size_t>(unit)];
  switch (code) {
    case kFieldAddr: return FormatAddress(unit, AddressDigits(0, Count()));
    case kFieldHex: return HexTexts()[byte];
    case kFieldDec: return QString::number(byte);
    case kFieldBin: return QString::number(byte, 2).rightJustified(8, QLatin1Char('0'));
    case kFieldAscii: return CharText(byte);
    default: return {};
  }
}

// --- painting --------------------------------------------------------------

void CKorvaneDumpCtrl::paintEvent(QPaintEvent*) {
  // A caret left behind by a change of data goes back to the start.
  if (caret_ < 0 || caret_ >= Count()) caret_ = 0;
  QPainter painter(this);
  Paint(painter, Layout());
}

void CKorvaneDumpCtrl::Paint(QPainter& painter, const HexDumpLayout& layout) const {
  const QPalette& colours = palette();
  const bool enabled = isEnabled();
  painter.fillRect(rect(), enabled ? colours.color(QPalette::Base) : colours.color(QPalette::Button));
  painter.setFont(font_);
  PaintHeader(painter, layout);
  PaintRows(painter, layout);
  if (!hotRect_.isEmpty()) {
    painter.setPen(colours.color(QPalette::Dark));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(hotRect_.adjusted(0, 0, -1, -1));
  }
  if (hasFocus()) {
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = rect();
    option.backgroundColor = colours.color(QPalette::Base);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
  }
}

void CKorvaneDumpCtrl::PaintHeader(QPainter& painter, const HexDumpLayout& layout) const {
  const QPalette& colours = palette();
  const bool enabled = isEnabled();
  const QRect bar(0, 0, width(), layout.HeaderBottom());
  painter.fillRect(bar, colours.color(QPalette::Button));
  painter.setPen(colours.color(QPalette::Light));
  painter.drawLine(bar.topLeft(), bar.topRight());
  painter.drawLine(bar.topLeft(), bar.bottomLeft());
  painter.setPen(colours.color(QPalette::Dark));
  painter.drawLine(bar.bottomLeft(), bar.bottomRight());
  painter.drawLine(bar.topRight(), bar.bottomRight());

  const QColor text = enabled ? colours.color(QPalette::Text) : colours.color(QPalette::Dark);
  const QColor window = enabled ? colours.color(QPalette::Base) : colours.color(QPalette::Button);
  const int ascent = QFontMetrics(font_).ascent();
  const int cw = layout.Metrics().charWidth;
  for (const HeaderField& field : layout.HeaderFields()) {
    painter.setPen(text);
    painter.drawText(field.labelAt + QPoint(0, ascent), field.label + QLatin1Char(':'));
    painter.fillRect(field.valueRect, window);
    painter.drawText(field.valueRect.topLeft() + QPoint(cw, ascent), HeaderValue(field.code));
  }
}

void CKorvaneDumpCtrl::PaintRows(QPainter& painter, const HexDumpLayout& layout) const {
  const int perRow = layout.BytesPerRow();
  if (perRow <= 0 || data_.empty()) return;
  const QPalette& colours = palette();
  const bool enabled = isEnabled();
  const QColor text = enabled ? colours.color(QPalette::Text) : colours.color(QPalette::Dark);
  const QColor address = enabled ? kAddressGreen : colours.color(QPalette::Dark);
  const int cw = layout.Metrics().charWidth;
  const int ascent = QFontMetrics(font_).ascent();
  const int digits = layout.AddressDigits();
  const int count = Count();

  // Only the rows on screen are drawn; the bytes of the others are not read.
  for (int row = 0; row < layout.VisibleRows(); ++row) {
    const std::int64_t first = static_cast<std::int64_t>(topUnit_) + static_cast<std::int64_t>(row) * perRow;
    if (first >= count) break;
    const int top = layout.RowTop(row);
    painter.setPen(address);
    painter.drawText(QPoint(layout.AddressLeft() + cw, top + ascent), FormatAddress(first, digits));
    const int inRow = static_cast<int>(std::min<std::int64_t>(perRow, count - first));
    if (caret_ >= first && caret_ < first + inRow) {
      const int column = static_cast<int>(caret_ - first);
      painter.fillRect(layout.HexCellRect(row, column).adjusted(cw / 2, 1, -(cw / 2), -1), kCaretCyan);
      painter.fillRect(layout.AsciiCellRect(row, column).adjusted(1, 1, -1, -1), kCaretCyan);
    }
    painter.setPen(text);
    for (int column = 0; column < inRow; ++column) {
      const std::uint8_t byte = data_[static_cast<std::size_t>(first + column)];
      painter.drawStaticText(QPoint(layout.HexLeft() + (3 * column + 1) * cw, top), hexGlyphs_[byte]);
      if (byte != 0) painter.drawStaticText(QPoint(layout.AsciiLeft() + column * (cw + 1) + cw, top), charGlyphs_[byte]);
    }
  }
}

// --- scrolling -------------------------------------------------------------

void CKorvaneDumpCtrl::SetTopUnit(int topUnit) {
  topUnit_ = std::max(topUnit, 0);
  SyncScrollBar();
}

void CKorvaneDumpCtrl::ScrollToPosition(int position) {
  const HexDumpLayout layout = Layout();
  const int newTop = std::clamp(position, 0, layout.ScrollMax(Count())) * layout.BytesPerRow();
  if (newTop == topUnit_) return;
  SetTopUnit(newTop);
  update();
  if (underMouse()) Hover(mapFromGlobal(QCursor::pos()));
}

void CKorvaneDumpCtrl::SyncScrollBar() {
  const HexDumpLayout layout = Layout();
  const int maximum = layout.ScrollMax(Count());
  const int perRow = layout.BytesPerRow();
  syncingScrollBar_ = true;
  scrollBar_->setRange(0, maximum);
  scrollBar_->setSingleStep(1);
  scrollBar_->setPageStep(std::max(layout.VisibleRows(), 1));
  scrollBar_->setValue(perRow > 0 ? topUnit_ / perRow : 0);
  syncingScrollBar_ = false;
  scrollBar_->setGeometry(layout.ScrollBarRect());
  scrollBar_->setVisible(maximum > 0);
}

void CKorvaneDumpCtrl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The top unit stays; only the rows' length follows the width.
  CloseAddressEdit();
  SyncScrollBar();
}

void CKorvaneDumpCtrl::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y();
  if (delta == 0) return;
  ForgetTip();
  if (edit_ != nullptr && editFromAddressColumn_) CloseAddressEdit();
  const int perRow = Layout().BytesPerRow();
  if (perRow <= 0) return;
  ScrollToPosition(topUnit_ / perRow + (delta > 0 ? -1 : 1));
}

// --- mouse -----------------------------------------------------------------

void CKorvaneDumpCtrl::Hover(const QPoint& point) {
  const HexDumpLayout layout = Layout();
  hovered_ = layout.HitTest(point, topUnit_, Count());
  hotRect_ = layout.CellRect(hovered_, topUnit_);
  // Over a header value the header keeps describing what it described.
  if (!IsHeaderField(hovered_.code)) headerUnit_ = IsDataCell(hovered_.code) ? hovered_.unit : -1;
  if (IsDataCell(hovered_.code)) {
    if (hovered_.unit != tipUnit_) {
      tipActive_ = false;
      QToolTip::hideText();
      tipText_ = FormatTipText(hovered_.unit);
      tipUnit_ = hovered_.unit;
    } else {
      tipActive_ = true;
    }
  } else {
    tipText_.clear();
    tipActive_ = false;
    tipUnit_ = -1;
    QToolTip::hideText();
  }
  update();
}

void CKorvaneDumpCtrl::ForgetTip() {
  tipActive_ = false;
  tipUnit_ = -1;
  QToolTip::hideText();
}

void CKorvaneDumpCtrl::mouseMoveEvent(QMouseEvent* event) { Hover(event->position().toPoint()); }

void CKorvaneDumpCtrl::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  hotRect_ = {};
  update();
}

void CKorvaneDumpCtrl::mousePressEvent(QMouseEvent* event) {
  ForgetTip();
  if (event->button() != Qt::LeftButton) return;
  const DumpHit hit = Layout().HitTest(event->position().toPoint(), topUnit_, Count());
  if (!IsDataCell(hit.code)) return;
  CloseAddressEdit();
  caret_ = hit.unit;
  EnsureUnitVisible(caret_);
}

void CKorvaneDumpCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  ForgetTip();
  if (event->button() != Qt::LeftButton) return;
  const DumpHit hit = Layout().HitTest(event->position().toPoint(), topUnit_, Count());
  if (edit_ != nullptr) {
    if (hit.code == kFieldNone) {
      edit_->setFocus();
      return;
    }
    CloseAddressEdit();
  }
  if (IsDataCell(hit.code)) {
    caret_ = hit.unit;
    EnsureUnitVisible(caret_);
  } else if (hit.code == kFieldAddressColumn) {
    OpenAddressEdit(true, hit.unit);
  } else if (hit.code == kFieldAddr) {
    OpenAddressEdit(false, Caret());
  }
}

bool CKorvaneDumpCtrl::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    if (TipShowing()) {
      QToolTip::showText(help->globalPos(), tipText_, this, hotRect_);
    } else {
      QToolTip::hideText();
      event->ignore();
    }
    return true;
  }
  return QWidget::event(event);
}

// --- keyboard and focus ----------------------------------------------------

void CKorvaneDumpCtrl::MoveCaretTo(const CaretMove& move) {
  if (move.alsoShow >= 0) SetTopUnit(Layout().EnsureUnitVisible(topUnit_, move.alsoShow));
  caret_ = move.caret;
  EnsureUnitVisible(caret_);
}

void CKorvaneDumpCtrl::keyPressEvent(QKeyEvent* event) {
  if (const std::optional<CaretKey> key = CaretKeyOf(*event)) {
    CloseAddressEdit();
    const HexDumpLayout layout = Layout();
    MoveCaretTo(MoveCaret(*key, caret_, Count(), layout.BytesPerRow(), layout.UnitsVisible()));
    return;
  }
  // The editing shortcuts mean nothing to read-only bytes, and Enter does
  // nothing either.
  if (event->modifiers() & Qt::ControlModifier) {
    switch (event->key()) {
      case Qt::Key_A:
      case Qt::Key_B:
      case Qt::Key_D:
      case Qt::Key_H:
      case Qt::Key_O: return;
      default: break;
    }
  }
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;
  QWidget::keyPressEvent(event);
}

void CKorvaneDumpCtrl::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
}

void CKorvaneDumpCtrl::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}

void CKorvaneDumpCtrl::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) update();
}

// --- the address box ---------------------------------------------------------

void CKorvaneDumpCtrl::OpenAddressEdit(bool fromAddressColumn, int unit) {
  if (data_.empty() || unit < 0 || unit >= Count()) return;
  if (fromAddressColumn) EnsureUnitVisible(unit);
  const HexDumpLayout layout = Layout();
  const QRect cell = fromAddressColumn ? layout.CellRect({kFieldAddressColumn, unit}, topUnit_)
                                       : layout.HeaderValueRect(kFieldAddr);
  if (cell.isEmpty()) return;
  editUnit_ = unit;
  editFromAddressColumn_ = fromAddressColumn;
  auto* edit = new CKorvaneNumEdit(0, Count() - 1, unit, this);
  edit->setFont(font_);
  edit->setGeometry(cell);
  connect(edit, &CKorvaneNumEdit::Committed, this, [this](std::int64_t value, bool changed) {
    if (changed) caret_ = static_cast<int>(value);
    CloseAddressEdit();
    if (changed) EnsureUnitVisible(caret_);
    update();
  });
  connect(edit, &CKorvaneNumEdit::Cancelled, this, &CKorvaneDumpCtrl::CloseAddressEdit);
  edit_ = edit;
  edit->show();
  edit->setFocus();
  edit->selectAll();
  update();
}

void CKorvaneDumpCtrl::CloseAddressEdit() {
  if (edit_ == nullptr) return;
  CKorvaneNumEdit* edit = edit_;
  edit_ = nullptr;
  editUnit_ = -1;
  const bool hadFocus = edit->hasFocus();
  edit->hide();
  // The box may be closing from inside its own key handler.
  edit->deleteLater();
  if (hadFocus) setFocus();
  update();
}

}  // namespace ostrel::preview
