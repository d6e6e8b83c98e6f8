#include "app/panes.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace ostrel::app {
namespace {

// The tree's surroundings: a one-pixel line in the button-shadow colour.
class TreeFrame : public QWidget {
 public:
  explicit TreeFrame(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
  }
};

}  // namespace

CFileView::CFileView(QWidget* parent) : QDockWidget(QStringLiteral("BKF File"), parent) {
  setObjectName(QStringLiteral("BKFFilePane"));
  setFeatures(QDockWidget::NoDockWidgetFeatures);
  setContextMenuPolicy(Qt::PreventContextMenu);
  frame_ = new TreeFrame(this);
  setWidget(frame_);
}

void CFileView::SetTree(QTreeWidget* tree) {
  delete tree_;
  tree_ = tree;
  tree->setParent(frame_);
  tree->setFrameShape(QFrame::NoFrame);
  frame_->layout()->addWidget(tree);
  frame_->setFocusProxy(tree);
  setFocusProxy(tree);
}

CMyRibbonStatusBar::CMyRibbonStatusBar(QAction* linkAction, QWidget* parent) : QStatusBar(parent) {
  setObjectName(QStringLiteral("StatusBar"));
  setSizeGripEnabled(true);
  static_ = new QLabel(QStringLiteral("Korvane Ostrel BKF Repair"), this);
  static_->setObjectName(QStringLiteral("StatusStatic"));
  addWidget(static_);

  link_ = new QToolButton(this);
  link_->setObjectName(QStringLiteral("StatusLink"));
  link_->setDefaultAction(linkAction);
  link_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  link_->setAutoRaise(true);
  link_->setCursor(Qt::PointingHandCursor);
  link_->setFocusPolicy(Qt::NoFocus);
  addPermanentWidget(link_);
}

void CMyRibbonStatusBar::AddProgressElement(QWidget* element, int stretch) {
  // Index 0 is the program's name, the only ordinary element; the link follows
  // the progress elements.
  insertPermanentWidget(1 + progressElements_, element, stretch);
  ++progressElements_;
}

void CMyRibbonStatusBar::RemoveProgressElement(QWidget* element) {
  // QStatusBar::removeWidget hides the element that follows the one it
  // removes as well; after the last progress element that is the link, which
  // would then be gone for good.
  const bool linkShown = !link_->isHidden();
  removeWidget(element);
  if (linkShown) link_->show();
  progressElements_ = std::max(0, progressElements_ - 1);
}

CKorvaneRightViewListCtrl::CKorvaneRightViewListCtrl(QWidget* parent)
    : QTableView(parent), background_(QStringLiteral(":/artwork/list-background.png")) {
  setObjectName(QStringLiteral("FileList"));
  rows_ = new FileListModel(this);
  setModel(rows_);

  setShowGrid(true);
  setGridStyle(Qt::SolidLine);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  setIconSize(QSize(16, 16));
  setContextMenuPolicy(Qt::PreventContextMenu);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);

  QHeaderView* header = horizontalHeader();
  QFont headerFont(QStringLiteral("Arial"));
  headerFont.setPixelSize(16);
  headerFont.setBold(true);
  headerFont.setStyleHint(QFont::SansSerif);
  header->setFont(headerFont);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setHighlightSections(false);
  header->setSectionsMovable(false);
  header->setStretchLastSection(true);
  header->resizeSection(0, 400);
  header->resizeSection(1, 150);
  header->resizeSection(2, 170);
}

void CKorvaneRightViewListCtrl::mousePressEvent(QMouseEvent* event) {
  // The list selects the row first; a click on a row then asks for its preview.
  QTableView::mousePressEvent(event);
  if (event->button() != Qt::LeftButton) return;
  const QModelIndex index = indexAt(event->position().toPoint());
  if (index.isValid()) emit listPreview(index.row());
}

void CKorvaneRightViewListCtrl::keyPressEvent(QKeyEvent* event) {
  // Up and Down preview the row they move the selection to, whichever it is.
  const int before = currentIndex().row();
  QTableView::keyPressEvent(event);
  if (event->key() != Qt::Key_Up && event->key() != Qt::Key_Down) return;
  const int after = currentIndex().row();
  if (after >= 0 && after != before) emit listPreview(after);
}

void CKorvaneRightViewListCtrl::paintEvent(QPaintEvent* event) {
  if (!scaled_.isNull()) {
    QPainter p(viewport());
    p.drawPixmap(event->rect(), scaled_, event->rect());
  }
  QTableView::paintEvent(event);
}

void CKorvaneRightViewListCtrl::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  const QSize size = viewport()->size();
  if (!background_.isNull() && !size.isEmpty()) {
    scaled_ = background_.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
}

// The picture stays put while the rows scroll over it: repaint instead of
// moving the pixels already drawn.
void CKorvaneRightViewListCtrl::scrollContentsBy(int dx, int dy) {
  QTableView::scrollContentsBy(dx, dy);
  viewport()->update();
}

CKorvaneBKFFileRepProjView::CKorvaneBKFFileRepProjView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("CatalogueView"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  list_ = new CKorvaneRightViewListCtrl(this);
  layout->addWidget(list_);
  setFocusProxy(list_);
}

}  // namespace ostrel::app
