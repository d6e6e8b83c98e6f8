#include "app/output_wnd.h"

#include <QIcon>
#include <QTabWidget>

#include "app/shell_queries.h"
#include "app/ui_thread.h"
#include "preview/static_file_viewer.h"

namespace ostrel::app {

CCustomListCtrl::CCustomListCtrl(QWidget* parent) : QListWidget(parent) {
  setObjectName(QStringLiteral("LogList"));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  // Every line is one row of text: the list places them by arithmetic, so a
  // log of many thousand lines lays out at once.
  setUniformItemSizes(true);
  setTextElideMode(Qt::ElideNone);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  // Not even the main window's own menu: a right click here does nothing.
  setContextMenuPolicy(Qt::PreventContextMenu);
}

COutputWnd::COutputWnd(QWidget* parent) : QDockWidget(QStringLiteral("BKF File Status"), parent) {
  setObjectName(QStringLiteral("BKFFileStatusPane"));
  setFeatures(QDockWidget::NoDockWidgetFeatures);
  setContextMenuPolicy(Qt::PreventContextMenu);

  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("StatusTabs"));
  tabs_->setTabPosition(QTabWidget::South);
  tabs_->setDocumentMode(true);
  tabs_->setTabsClosable(false);
  tabs_->setContextMenuPolicy(Qt::PreventContextMenu);

  log_ = new CCustomListCtrl(tabs_);
  viewer_ = new preview::CKorvaneStaticFileViewer(tabs_);
  // The archive listing names and draws its entries as the file list does.
  viewer_->SetShellFileTypes({&FolderIcon, &FileIcon, &FileTypeName});
  tabs_->addTab(log_, QIcon(QStringLiteral(":/artwork/tab-log.png")), QStringLiteral("Log Window"));
  tabs_->addTab(viewer_, QIcon(QStringLiteral(":/artwork/tab-viewer.png")), QStringLiteral("File Viewer"));
  tabs_->setCurrentIndex(0);
  setWidget(tabs_);
}

void COutputWnd::AppendLine(const QString& text) {
  SendTo(this, [this, text] { log_->addItem(text); });
}

void COutputWnd::AppendBlankLine() { AppendLine(QString()); }

void COutputWnd::ScrollToLastLine() {
  SendTo(this, [this] {
    if (log_->count() == 0) return;
    // Lines just added have no place yet until the list lays them out,
    // which it otherwise does only at its next paint.
    log_->doItemsLayout();
    log_->scrollToItem(log_->item(log_->count() - 1), QAbstractItemView::EnsureVisible);
  });
}

void COutputWnd::ClearLog() {
  SendTo(this, [this] { log_->clear(); });
}

int COutputWnd::LineCount() const { return log_->count(); }

QString COutputWnd::LineText(int index) const {
  const QListWidgetItem* item = log_->item(index);
  return item != nullptr ? item->text() : QString();
}

QStringList COutputWnd::Lines() const {
  QStringList lines;
  lines.reserve(log_->count());
  for (int i = 0; i < log_->count(); ++i) lines.append(log_->item(i)->text());
  return lines;
}

void COutputWnd::ShowLogTab() { tabs_->setCurrentIndex(0); }

void COutputWnd::ShowFileViewerTab() { tabs_->setCurrentIndex(1); }

}  // namespace ostrel::app
