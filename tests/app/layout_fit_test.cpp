// Every dialog, the message boxes and the ribbon at the default font and at
// one and a half times its size: each text has the room it needs, and no two
// controls lie over each other, except the pairs that take turns in one
// place. With OSTREL_SCREENSHOT_DIR set, the dialogs are also drawn into that
// folder (scripts/screenshots.sh makes the pictures in docs/ this way).
#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>
#include <functional>
#include <memory>
#include <set>

#include "app/about_dlg.h"
#include "app/look.h"
#include "app/main_frame.h"
#include "app/prompts.h"
#include "app/range_slider_dlg.h"
#include "app/ribbon.h"
#include "app/save_dialog.h"
#include "app/search_dialog.h"
#include "app/texts.h"
#include "tests/app/frame_fixture.h"
#include "tests/app/gui_test_env.h"
#include "tests/app/scanned_catalogue.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/temp_dir.h"

using ostrel::fixtures::MtfWriter;

namespace {

MtfWriter Backup() {
  MtfWriter w;
  w.Tape(u"Backup.bkf created 11/19/2012 at 1:05 PM");
  w.Sset(1, u"Set created 11/19/2012 at 1:05 PM");
  w.Volb(u"C:");
  w.Dirb(u"Documents and Settings");
  w.File(u"A rather long file name of a recovered report.docx",
         {{"STAN", ostrel::fixtures::Noise(300, 1), {}, 0}});
  w.File(u"boot.ini", {{"STAN", ostrel::fixtures::Noise(210, 2), {}, 0}});
  return w;
}

// A control whose text must fit it, with the room its text needs.
bool HasText(const QWidget* w, QSize* needed) {
  if (const auto* label = qobject_cast<const QLabel*>(w)) {
    if (label->text().isEmpty() || label->wordWrap()) return false;
    *needed = label->sizeHint();
    return true;
  }
  if (const auto* button = qobject_cast<const QPushButton*>(w)) {
    // A push button's own size hint is at least 80 pixels wide, text or not;
    // what its text needs is the text, the icon and the frame around them.
    if (button->text().isEmpty()) return false;
    const QStyle* style = button->style();
    int width = button->fontMetrics().horizontalAdvance(button->text()) +
                style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
    if (!button->icon().isNull()) width += button->iconSize().width() + 4;
    *needed = QSize(width, button->fontMetrics().height());
    return true;
  }
  if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
    if (button->text().isEmpty()) return false;
    *needed = button->sizeHint();
    return true;
  }
  if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
    if (group->title().isEmpty()) return false;
    *needed = group->minimumSizeHint();
    return true;
  }
  return false;
}

// Controls that can lie over others: containers.
bool IsLeaf(const QWidget* w) {
  return qobject_cast<const QLabel*>(w) || qobject_cast<const QAbstractButton*>(w) ||
         qobject_cast<const QLineEdit*>(w) || qobject_cast<const QProgressBar*>(w) ||
         qobject_cast<const QAbstractItemView*>(w);
}

bool Takes(const QWidget* w) { return w->isVisibleTo(w->window()) || w->sizePolicy().retainSizeWhenHidden(); }

QRect InWindow(const QWidget* w) { return QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size()); }

QString Name(const QWidget* w) {
  QString text;
  if (const auto* label = qobject_cast<const QLabel*>(w)) text = label->text();
  if (const auto* button = qobject_cast<const QAbstractButton*>(w)) text = button->text();
  if (const auto* group = qobject_cast<const QGroupBox*>(w)) text = group->title();
  return QStringLiteral("%1 '%2'").arg(QString::fromLatin1(w->metaObject()->className()), text);
}

using Pairs = std::set<std::pair<const QWidget*, const QWidget*>>;

// The problems of one window's layout, in words; empty when it is sound.
QStringList Problems(QWidget* window, const Pairs& takingTurns) {
  QStringList problems;
  const QRect whole = window->rect();
  QList<QWidget*> leaves;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!Takes(w) || w->isWindow()) continue;
    QSize needed;
    if (HasText(w, &needed) && (w->width() < needed.width() || w->height() < needed.height())) {
      problems << QStringLiteral("%1 is %2x%3 but needs %4x%5")
                      .arg(Name(w))
                      .arg(w->width())
                      .arg(w->height())
                      .arg(needed.width())
                      .arg(needed.height());
    }
    if (!whole.contains(InWindow(w))) problems << QStringLiteral("%1 reaches out of the window").arg(Name(w));
    if (IsLeaf(w) && !qobject_cast<const QAbstractItemView*>(w->parentWidget())) leaves << w;
  }
  for (int i = 0; i < leaves.size(); ++i) {
    for (int j = i + 1; j < leaves.size(); ++j) {
      const QWidget* a = leaves[i];
      const QWidget* b = leaves[j];
      if (a->isAncestorOf(b) || b->isAncestorOf(a)) continue;
      if (takingTurns.count({a, b}) || takingTurns.count({b, a})) continue;
      if (InWindow(a).intersects(InWindow(b))) problems << QStringLiteral("%1 lies over %2").arg(Name(a), Name(b));
    }
  }
  return problems;
}

}  // namespace

class LayoutFitTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(env_.IsValid());
    // The program's look, as it starts with it: its style and its sheet
    // change the room that texts take.
    ostrel::app::ApplyBlackLook(*qobject_cast<QApplication*>(QCoreApplication::instance()));
    defaultFont_ = QApplication::font();
  }
  void init() {
    QFETCH_GLOBAL(double, scale);
    scale_ = scale;
    QFont font = defaultFont_;
    font.setPointSizeF(defaultFont_.pointSizeF() * scale);
    QApplication::setFont(font);
    fixture_.SetUp();
    QVERIFY(ostrel::testing::ShowScannedCatalogue(fixture_, dir_.Write(Backup())));
  }
  void cleanup() {
    fixture_.TearDown();
    QApplication::setFont(defaultFont_);
  }

  void initTestCase_data() {
    QTest::addColumn<double>("scale");
    QTest::newRow("default font") << 1.0;
    QTest::newRow("font x1.5") << 1.5;
  }

  void recoverySelection_data() {
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("error");
    QTest::newRow("size") << "400505716736" << "";
    QTest::newRow("unknown size") << "" << "Permission denied";
  }
  void recoverySelection() {
    QFETCH(QString, size);
    QFETCH(QString, error);
    auto& state = fixture_.state();
    state.bkfSizeText = size;
    state.bkfSizeError = error;
    ostrel::app::CKorvaneRangeSliderDlg dialog(state, &fixture_.frame());
    Check(dialog, {});
    dialog.PartialScan()->click();
    Check(dialog, {});
    if (size.isEmpty()) Screenshot(&dialog, QStringLiteral("recovery-selection"));
  }

  void search() {
    ostrel::app::CKorvaneDlgSearchBkfFiles dialog(fixture_.frame());
    const Pairs turns{{dialog.StopButton(), dialog.OkButton()},
                      {dialog.Progress(), dialog.TotalCaption()},
                      {dialog.Progress(), dialog.TotalLabel()}};
    Check(dialog, turns);
    dialog.OnSearch();
    QTRY_VERIFY(!dialog.IsSearching());
    QCOMPARE(dialog.Results()->rowCount(), 2);
    Check(dialog, turns);
    Screenshot(&dialog, QStringLiteral("search"));
  }

  void save() {
    ostrel::app::CKorvaneDlgSaveRecoveredFiles dialog(fixture_.frame());
    const Pairs turns{{dialog.StopButton(), dialog.CloseButton()},
                      {dialog.Progress(), dialog.CountCaption()},
                      {dialog.Progress(), dialog.CountLabel()}};
    Check(dialog, turns);
    ostrel::fixtures::TempDir out;
    dialog.DestinationEdit()->setText(QString::fromStdString(out.Path().string()));
    dialog.SaveButton()->click();
    QTRY_VERIFY(dialog.CloseButton()->isVisible());
    QCOMPARE(dialog.List()->topLevelItemCount(), 2);
    Check(dialog, turns);
    // Every column of the list shows its title and its widest entry whole.
    QHeaderView* header = dialog.List()->header();
    for (int column = 0; column < dialog.List()->columnCount(); ++column) {
      const QAbstractItemView* view = dialog.List();
      const int widest = std::max(header->sectionSizeHint(column), view->sizeHintForColumn(column));
      QVERIFY2(header->sectionSize(column) >= widest,
               qPrintable(QStringLiteral("column %1 is %2 wide, needs %3").arg(column).arg(header->sectionSize(column)).arg(widest)));
    }
    Screenshot(&dialog, QStringLiteral("save"));
  }

  void about() {
    ostrel::app::CKorvaneAboutDlg dialog(&fixture_.frame());
    // The button stands on the picture by design.
    Check(dialog, {{dialog.Picture(), dialog.OkButton()}});
    Screenshot(&dialog, QStringLiteral("about"));
  }

  void messageBox() {
    ostrel::app::MessageRequest request;
    request.owner = &fixture_.frame();
    request.caption = ostrel::app::kAppCaption;
    request.text = QStringLiteral("Please select BKF file to recover data.");
    request.icon = ostrel::app::MessageIcon::Information;
    const auto box = ostrel::app::MakeMessageBox(request);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    QVERIFY2(box->width() >= ostrel::app::TitleBarWidth(box.get(), request.caption),
             qPrintable(QStringLiteral("%1 pixels wide").arg(box->width())));
    const QStringList problems = Problems(box.get(), {});
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    Screenshot(box.get(), QStringLiteral("message-box"));
  }

  void ribbonAtTheSmallestWindow() {
    auto& frame = fixture_.frame();
    frame.resize(1, 1);  // as small as the window lets itself be made
    QTest::qWait(50);
    QVERIFY(frame.width() < 1000);
    QWidget* ribbon = frame.Ribbon();
    const QStringList problems = Problems(ribbon, {});
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    // Problems() looks inside one window; the ribbon is part of the main one.
    for (QToolButton* button : ribbon->findChildren<QToolButton*>()) {
      QVERIFY2(frame.rect().contains(QRect(button->mapTo(&frame, QPoint(0, 0)), button->size())),
               qPrintable(button->text()));
    }
  }

 private:
  // The pictures show the default font.
  void Screenshot(QWidget* window, const QString& name) {
    const QString dir = qEnvironmentVariable("OSTREL_SCREENSHOT_DIR");
    if (dir.isEmpty() || scale_ != 1.0) return;
    QVERIFY(window->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png")));
  }
  void Check(QDialog& dialog, const Pairs& turns) {
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::qWait(0);
    const QStringList problems = Problems(&dialog, turns);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    const Qt::WindowFlags flags = dialog.windowFlags();
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(flags & Qt::WindowContextHelpButtonHint));
  }

  ostrel::testing::PrivateEnvironment env_;
  ostrel::fixtures::TempDir dir_;
  ostrel::testing::FrameFixture fixture_;
  QFont defaultFont_;
  double scale_ = 1.0;
};

QTEST_MAIN(LayoutFitTest)
#include "layout_fit_test.moc"
