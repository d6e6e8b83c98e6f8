#include "app/look.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace ostrel::app {

void ApplyBlackLook(QApplication& application) {
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) application.setStyle(fusion);

  QPalette p;
  const QColor window(0x35, 0x35, 0x35);
  const QColor text(0xf0, 0xf0, 0xf0);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, Qt::white);
  p.setColor(QPalette::AlternateBase, QColor(0xf3, 0xf3, 0xf3));
  p.setColor(QPalette::Text, QColor(0x14, 0x14, 0x14));
  p.setColor(QPalette::PlaceholderText, QColor(0x80, 0x80, 0x80));
  p.setColor(QPalette::Button, QColor(0x4a, 0x4a, 0x4a));
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, QColor(0xff, 0xd3, 0x5c));
  p.setColor(QPalette::Light, QColor(0x6a, 0x6a, 0x6a));
  p.setColor(QPalette::Midlight, QColor(0x55, 0x55, 0x55));
  p.setColor(QPalette::Mid, QColor(0x80, 0x80, 0x80));
  p.setColor(QPalette::Dark, QColor(0x22, 0x22, 0x22));
  p.setColor(QPalette::Shadow, QColor(0x0a, 0x0a, 0x0a));
  p.setColor(QPalette::Highlight, QColor(0x3c, 0x7f, 0xb1));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::Link, QColor(0x8f, 0xc8, 0xff));
  p.setColor(QPalette::LinkVisited, QColor(0xc8, 0xa8, 0xff));
  p.setColor(QPalette::ToolTipBase, QColor(0xfb, 0xfb, 0xf0));
  p.setColor(QPalette::ToolTipText, QColor(0x1b, 0x1b, 0x1b));
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text}) {
    p.setColor(QPalette::Disabled, role, QColor(0x8a, 0x8a, 0x8a));
  }
  application.setPalette(p);
}

QString BlackLookStyleSheet() {
  return QStringLiteral(R"(
QMainWindow#MainFrame { background: #2b2b2b; }
QMainWindow::separator { background: #2b2b2b; width: 5px; height: 5px; }
QMainWindow::separator:hover { background: #5a5a5a; }

QDockWidget { color: #f2f2f2; font-weight: bold; }
QDockWidget::title {
  text-align: left; padding: 4px 8px;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #5a5a5a, stop:0.5 #464646, stop:1 #3a3a3a);
  border: 1px solid #1c1c1c; border-bottom: none;
}

QTreeWidget#CatalogueTree, QListWidget#LogList { background: #ffffff; color: #141414; font-weight: normal; }

QToolButton#ApplicationButton { border: none; background: transparent; padding: 0; }
QLabel#CategoryTab {
  color: #ffffff; font-weight: bold; padding: 0 14px;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #6a6a6a, stop:1 #4e4e4e);
  border: 1px solid #7c7c7c; border-bottom: none;
  border-top-left-radius: 4px; border-top-right-radius: 4px;
}
QToolButton#RibbonButton {
  color: #f4f4f4; background: transparent; padding: 2px 3px;
  border: 1px solid transparent; border-radius: 3px;
}
QToolButton#RibbonButton:hover {
  color: #1b1b1b; border: 1px solid #c29a4a;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1,
    stop:0 #fff6d2, stop:0.42 #ffe59a, stop:0.45 #ffd35c, stop:1 #ffe9a6);
}
QToolButton#RibbonButton:pressed {
  color: #1b1b1b; border: 1px solid #a8742c;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1,
    stop:0 #f9c27a, stop:0.45 #f5a64c, stop:0.5 #f08c1c, stop:1 #fbb960);
}
QToolButton#RibbonButton:disabled { color: #8c8c8c; }

QTabWidget#StatusTabs::pane { border: none; }
QTabWidget#StatusTabs QTabBar { background: #2b2b2b; }
QTabWidget#StatusTabs QTabBar::tab {
  color: #e6e6e6; font-weight: normal; padding: 3px 14px 4px 10px; margin-right: 2px;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #3a3a3a, stop:1 #4c4c4c);
  border: 1px solid #1c1c1c; border-top: none;
  border-bottom-left-radius: 4px; border-bottom-right-radius: 4px;
}
QTabWidget#StatusTabs QTabBar::tab:selected {
  color: #141414; background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #e2e2e2);
}
QTabWidget#StatusTabs QTabBar::tab:hover:!selected { background: #5a5a5a; }

QTableView#FileList {
  background: #ffffff; color: #141414; gridline-color: #dadde2;
  selection-background-color: #3c7fb1; selection-color: #ffffff; border: none;
}
QTableView#FileList QHeaderView::section {
  color: #1b1b1b; padding: 3px 6px; font-family: Arial; font-size: 16px; font-weight: bold;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fdfdfd, stop:1 #dedede);
  border: none; border-right: 1px solid #c4c4c4; border-bottom: 1px solid #a9a9a9;
}

QStatusBar#StatusBar {
  color: #e8e8e8;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #4a4a4a, stop:0.5 #3a3a3a, stop:1 #2a2a2a);
  border-top: 1px solid #5e5e5e;
}
QStatusBar#StatusBar::item { border: none; }
QLabel#StatusStatic { color: #e8e8e8; padding: 0 6px; }
QToolButton#StatusLink { color: #9dd0ff; border: none; background: transparent; padding: 1px 10px; text-decoration: underline; }
QToolButton#StatusLink:hover { color: #ffd35c; }

QToolTip { color: #1b1b1b; background: #fbfbf0; border: 1px solid #7a7a7a; padding: 2px; }
)");
}

}  // namespace ostrel::app
