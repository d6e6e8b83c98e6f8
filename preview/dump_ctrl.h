// CKorvaneDumpCtrl: the hex dump view. It shows bytes that someone else owns
// (the preview pane keeps them) as rows of green addresses, hexadecimal
// values and characters under a header bar that describes the byte under the
// mouse or the caret, with a movable caret, a tooltip, a vertical scroll bar
// and an address box (CKorvaneNumEdit) for jumping to an address. The data
// is read-only: only the address can be typed.
//
// The arithmetic (columns, bytes per row, hit tests, scroll range, caret
// keys, tooltip texts) is HexDumpLayout's; this class holds the state, draws
// the visible rows and turns events into calls of that arithmetic.
#pragma once

#include <QFont>
#include <QPointer>
#include <QStaticText>
#include <QWidget>
#include <array>
#include <cstdint>
#include <span>

#include "preview/hex_layout.h"
#include "preview/num_edit.h"

class QScrollBar;

namespace ostrel::preview {

class CKorvaneDumpCtrl : public QWidget {
  Q_OBJECT

 public:
  explicit CKorvaneDumpCtrl(QWidget* parent = nullptr);
  ~CKorvaneDumpCtrl() override;

  // Shows `count` bytes at `bytes`, which must stay valid while they are shown
  // (the control does not own them); the top unit and the caret go to 0. A
  // negative count or a null pointer shows nothing.
  void SetDumpData(int count, const std::uint8_t* bytes);
  // Only the address can be typed from now on.
  void SetDumpReadOnly();
  bool IsDumpReadOnly() const { return readOnly_; }
  // The tooltip's format (see FormatTipText); the tooltip is shown only when
  // the format is not empty and `active` is true.
  void SetTipFormat(const QString& format, bool active);

  // Scrolls as little as needed to show `unit`'s row, and repaints.
  void EnsureUnitVisible(int unit);
  // The tooltip text of a unit under the current format.
  QString FormatTipText(int unit) const;

  // The layout for the control's current size and font.
  HexDumpLayout Layout() const;
  const DumpMetrics& Metrics() const { return metrics_; }

  int Count() const { return static_cast<int>(data_.size()); }
  int TopUnit() const { return topUnit_; }
  // The caret, or -1 when there is no data.
  int Caret() const { return data_.empty() ? -1 : caret_; }
  DumpHit Hovered() const { return hovered_; }
  QRect HotRect() const { return hotRect_; }
  // The text of a header field's value cell as it is drawn now (empty with no
  // data).
  QString HeaderValue(int code) const;
  // The tooltip's text for the cell under the mouse, and whether it would
  // show now.
  QString TipText() const { return tipText_; }
  bool TipShowing() const { return tipEnabled_ && tipActive_ && !tipText_.isEmpty(); }
  // The address box while it is open, else nullptr.
  CKorvaneNumEdit* AddressEdit() const { return edit_; }
  QScrollBar* ScrollBar() const { return scrollBar_; }

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Paint(QPainter& painter, const HexDumpLayout& layout) const;
  void PaintHeader(QPainter& painter, const HexDumpLayout& layout) const;
  void PaintRows(QPainter& painter, const HexDumpLayout& layout) const;
  // The unit the header bar describes, or -1.
  int HeaderUnit() const;
  // The hover, hot rectangle and tooltip for a point of the control.
  void Hover(const QPoint& point);
  void ForgetTip();
  void SetTopUnit(int topUnit);
  void ScrollToPosition(int position);
  void SyncScrollBar();
  void MoveCaretTo(const CaretMove& move);
  void OpenAddressEdit(bool fromAddressColumn, int unit);
  void CloseAddressEdit();

  std::span<const std::uint8_t> data_;
  int topUnit_ = 0;
  int caret_ = 0;
  DumpHit hovered_;
  int headerUnit_ = -1;  // the hovered data cell the header describes, or -1 for the caret
  QRect hotRect_;
  bool readOnly_ = false;

  QFont font_;
  DumpMetrics metrics_;
  // Each byte's two hex digits and its character, laid out once for the font:
  // a frame draws thousands of them.
  std::array<QStaticText, 256> hexGlyphs_;
  std::array<QStaticText, 256> charGlyphs_;
  QScrollBar* scrollBar_ = nullptr;
  bool syncingScrollBar_ = false;

  QString tipFormat_;
  bool tipEnabled_ = false;
  bool tipActive_ = false;
  QString tipText_;
  int tipUnit_ = -1;

  QPointer<CKorvaneNumEdit> edit_;
  int editUnit_ = -1;
  bool editFromAddressColumn_ = false;
};

}  // namespace ostrel::preview
