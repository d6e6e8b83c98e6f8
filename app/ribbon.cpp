#include "app/ribbon.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace ostrel::app {
namespace {

constexpr int kTabRowHeight = 26;
constexpr int kPanelTitleHeight = 17;
constexpr int kAppButtonSize = 42;
constexpr int kLargeIconSize = 32;

}  // namespace

RibbonPanel::RibbonPanel(const QString& title, const QIcon& icon, QWidget* parent)
    : QFrame(parent), title_(title) {
  setObjectName(QStringLiteral("RibbonPanel"));
  setWindowIcon(icon);  // the picture a collapsed panel would show
  setAccessibleName(title);
  buttons_ = new QHBoxLayout(this);
  buttons_->setContentsMargins(4, 3, 4, kPanelTitleHeight + 2);
  buttons_->setSpacing(1);
}

QSize RibbonPanel::minimumSizeHint() const {
  // Wide enough for its buttons and for its title.
  const QSize buttons = QFrame::minimumSizeHint();
  return QSize(std::max(buttons.width(), fontMetrics().horizontalAdvance(title_) + 20), buttons.height());
}

namespace {

// A large button is never narrower than its label, so that labels cannot run
// into each other however small the window gets.
class LargeButton : public QToolButton {
 public:
  using QToolButton::QToolButton;
  QSize minimumSizeHint() const override {
    return QSize(std::max(50, sizeHint().width()), QToolButton::minimumSizeHint().height());
  }
};

}  // namespace

QToolButton* RibbonPanel::AddLargeButton(QAction* action) {
  auto* button = new LargeButton(this);
  button->setObjectName(QStringLiteral("RibbonButton"));
  button->setDefaultAction(action);
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setIconSize(QSize(kLargeIconSize, kLargeIconSize));
  button->setAutoRaise(true);
  // Tab reaches every command; Space or Enter runs the one with the focus.
  button->setFocusPolicy(Qt::TabFocus);
  button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
  buttons_->addWidget(button);
  return button;
}

void RibbonPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);

  QPainterPath outline;
  outline.addRoundedRect(box, 3, 3);
  QLinearGradient body(box.topLeft(), box.bottomLeft());
  body.setColorAt(0.0, QColor(0x5c, 0x5c, 0x5c));
  body.setColorAt(0.6, QColor(0x43, 0x43, 0x43));
  body.setColorAt(1.0, QColor(0x3a, 0x3a, 0x3a));
  p.fillPath(outline, body);

  // Title strip along the bottom, as on every ribbon panel.
  const QRectF strip(box.left(), box.bottom() - kPanelTitleHeight, box.width(), kPanelTitleHeight);
  QPainterPath stripPath;
  stripPath.addRoundedRect(strip, 3, 3);
  stripPath.addRect(strip.adjusted(0, 0, 0, -4));
  stripPath.setFillRule(Qt::WindingFill);
  QLinearGradient stripFill(strip.topLeft(), strip.bottomLeft());
  stripFill.setColorAt(0.0, QColor(0x33, 0x33, 0x33));
  stripFill.setColorAt(1.0, QColor(0x26, 0x26, 0x26));
  p.fillPath(stripPath.simplified(), stripFill);

  p.setPen(QPen(QColor(0x6e, 0x6e, 0x6e), 1));
  p.drawPath(outline);
  p.setPen(QColor(0x7a, 0x7a, 0x7a, 90));
  p.drawLine(QPointF(box.left() + 3, box.top() + 1), QPointF(box.right() - 3, box.top() + 1));

  QFont titleFont = font();
  titleFont.setPointSizeF(titleFont.pointSizeF() * 0.92);
  p.setFont(titleFont);
  p.setPen(QColor(0xdc, 0xdc, 0xdc));
  p.drawText(strip, Qt::AlignCenter, title_);
}

Ribbon::Ribbon(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Ribbon"));
  setAttribute(Qt::WA_StyledBackground, false);

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(6, 4, 6, 5);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(3);

  appButton_ = new QToolButton(this);
  appButton_->setObjectName(QStringLiteral("ApplicationButton"));
  appButton_->setFixedSize(kAppButtonSize, kAppButtonSize);
  appButton_->setIconSize(QSize(kAppButtonSize, kAppButtonSize));
  appButton_->setAutoRaise(true);
  appButton_->setFocusPolicy(Qt::NoFocus);
  grid->addWidget(appButton_, 0, 0, 2, 1, Qt::AlignTop | Qt::AlignHCenter);

  categoryTab_ = new QLabel(this);
  categoryTab_->setObjectName(QStringLiteral("CategoryTab"));
  // Reaches one pixel past the tab row, over the line that ends it, so that
  // the tab and the panels below read as one surface.
  categoryTab_->setFixedHeight(kTabRowHeight - 2);
  categoryTab_->setAlignment(Qt::AlignCenter);
  auto* tabRow = new QHBoxLayout;
  tabRow->setContentsMargins(0, 0, 0, 0);
  tabRow->addWidget(categoryTab_);
  tabRow->addStretch(1);
  grid->addLayout(tabRow, 0, 1);

  panels_ = new QHBoxLayout;
  panels_->setContentsMargins(0, 0, 0, 0);
  panels_->setSpacing(4);
  panels_->addStretch(1);
  grid->addLayout(panels_, 1, 1);
  grid->setColumnStretch(1, 1);
  grid->setRowMinimumHeight(1, 86);
}

void Ribbon::SetApplicationButton(const QIcon& icon, const QString& toolTip) {
  appButton_->setIcon(icon);
  appButton_->setToolTip(toolTip);
  appButton_->setAccessibleName(toolTip);
}

void Ribbon::SetCategory(const QString& name) {
  categoryTab_->setText(name);
  categoryTab_->setMinimumWidth(categoryTab_->fontMetrics().horizontalAdvance(name) + 28);
}

QString Ribbon::Category() const { return categoryTab_->text(); }

RibbonPanel* Ribbon::AddPanel(const QString& title, const QIcon& icon) {
  auto* panel = new RibbonPanel(title, icon, this);
  panels_->insertWidget(panels_->count() - 1, panel);
  return panel;
}

void Ribbon::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect all = rect();
  const QRect tab = categoryTab_->geometry();
  const int split = tab.bottom() + 1;

  QLinearGradient top(0, 0, 0, split);
  top.setColorAt(0.0, QColor(0x16, 0x16, 0x16));
  top.setColorAt(1.0, QColor(0x2b, 0x2b, 0x2b));
  p.fillRect(QRect(0, 0, all.width(), split), top);

  QLinearGradient body(0, split, 0, all.height());
  body.setColorAt(0.0, QColor(0x4e, 0x4e, 0x4e));
  body.setColorAt(0.25, QColor(0x3c, 0x3c, 0x3c));
  body.setColorAt(1.0, QColor(0x29, 0x29, 0x29));
  p.fillRect(QRect(0, split, all.width(), all.height() - split), body);

  // The edge of the tab row, open under the tab.
  p.setPen(QColor(0x7c, 0x7c, 0x7c));
  p.drawLine(0, split, tab.left(), split);
  p.drawLine(tab.right(), split, all.width(), split);
  p.setPen(QColor(0x0d, 0x0d, 0x0d));
  p.drawLine(0, all.height() - 1, all.width(), all.height() - 1);
}

}  // namespace ostrel::app
