// Ribbon: a compact ribbon. On the left the round application
// button; to its right one category tab above a row of titled panels, each
// holding large buttons with the icon above the label. Every button shows a
// QAction (text, icon, tooltip, enabled state), so the commands live in the
// main window and the ribbon only displays them.
#pragma once

#include <QFrame>
#include <QWidget>

class QAction;
class QHBoxLayout;
class QLabel;
class QToolButton;

namespace ostrel::app {

class RibbonPanel : public QFrame {
  Q_OBJECT

 public:
  RibbonPanel(const QString& title, const QIcon& icon, QWidget* parent = nullptr);

  QToolButton* AddLargeButton(QAction* action);
  QString Title() const { return title_; }
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString title_;
  QHBoxLayout* buttons_ = nullptr;
};

class Ribbon : public QWidget {
  Q_OBJECT

 public:
  explicit Ribbon(QWidget* parent = nullptr);

  void SetApplicationButton(const QIcon& icon, const QString& toolTip);
  void SetCategory(const QString& name);
  RibbonPanel* AddPanel(const QString& title, const QIcon& icon);

  QToolButton* ApplicationButton() const { return appButton_; }
  QString Category() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QToolButton* appButton_ = nullptr;
  QLabel* categoryTab_ = nullptr;
  QHBoxLayout* panels_ = nullptr;
};

}  // namespace ostrel::app
