// The Recovery Selection dialog: its starting state, the pairs of choices,
// the help buttons, and what OK and Cancel leave in the application state.
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolTip>
#include <QtTest>
#include <functional>

#include "app/app_state.h"
#include "widgets/icon_button.h"
#include "app/range_slider_dlg.h"
#include "tests/app/gui_test_env.h"
#include "tests/app/scripted_prompts.h"

using ostrel::app::CKorvaneRangeSliderDlg;

namespace {

using Steps = std::function<void(CKorvaneRangeSliderDlg&)>;

void Partial(CKorvaneRangeSliderDlg& d) { d.PartialScan()->click(); }

}  // namespace

Q_DECLARE_METATYPE(Steps)

class RangeSliderDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(env_.IsValid()); }
  void init() {
    prompts_ = std::make_unique<ostrel::testing::ScriptedPrompts>();
    state_ = std::make_unique<ostrel::app::CKorvaneBKFFileRepProjApp>(*prompts_);
    // Left over from an earlier run; only OK may change them.
    state_->rangeKind = ostrel::app::CKorvaneBKFFileRepProjApp::RangeKind::None;
    state_->recoveryMode = ostrel::RecoveryMode::Advanced;
    state_->heuristicScan = true;
    state_->rangeMinText = QStringLiteral("old min");
    state_->rangeMaxText = QStringLiteral("old max");
  }

  void startsWithTheDefaults() {
    state_->bkfSizeText = QStringLiteral("123456");
    CKorvaneRangeSliderDlg dialog(*state_);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Recovery Selection"));
    QVERIFY(dialog.StandardMode()->isChecked());
    QVERIFY(!dialog.AdvancedMode()->isChecked());
    QVERIFY(!dialog.Heuristic()->isChecked());
    QVERIFY(dialog.CompleteScan()->isChecked());
    QVERIFY(!dialog.PartialScan()->isChecked());
    QCOMPARE(dialog.FileSize()->text(), QStringLiteral("123456"));
    QCOMPARE(dialog.MinEdit()->text(), QStringLiteral("0"));
    QCOMPARE(dialog.MaxEdit()->text(), QStringLiteral("123456"));
    QVERIFY(!dialog.MinEdit()->isEnabled());
    QVERIFY(!dialog.MaxEdit()->isEnabled());
    QVERIFY(dialog.OkButton()->isDefault());
  }

  void pairsAndEdits() {
    CKorvaneRangeSliderDlg dialog(*state_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // The two pairs do not affect each other.
    dialog.PartialScan()->click();
    dialog.AdvancedMode()->click();
    QVERIFY(dialog.PartialScan()->isChecked() && !dialog.CompleteScan()->isChecked());
    QVERIFY(dialog.AdvancedMode()->isChecked() && !dialog.StandardMode()->isChecked());
    QVERIFY(dialog.MinEdit()->isEnabled() && dialog.MaxEdit()->isEnabled());
    // Typed text: digits only.
    dialog.MinEdit()->clear();
    QTest::keyClicks(dialog.MinEdit(), QStringLiteral("1a2-3 4"));
    QCOMPARE(dialog.MinEdit()->text(), QStringLiteral("1234"));
    // Back to the whole file: the edits are disabled and keep their texts.
    dialog.CompleteScan()->click();
    QVERIFY(!dialog.MinEdit()->isEnabled() && !dialog.MaxEdit()->isEnabled());
    QCOMPARE(dialog.MinEdit()->text(), QStringLiteral("1234"));
    // The heuristic box toggles on its own, whatever the mode.
    dialog.Heuristic()->click();
    dialog.StandardMode()->click();
    QVERIFY(dialog.Heuristic()->isChecked());
    dialog.Heuristic()->click();
    QVERIFY(!dialog.Heuristic()->isChecked());
  }

  void helpButtonsCarryTheirTexts() {
    CKorvaneRangeSliderDlg dialog(*state_);
    const QList<QPair<ostrel::widgets::CKorvaneIconButton*, QString>> buttons = {
        {dialog.StandardHelp(),
         "Select Standard mode recovery to handle common corruption issues in corrupt bkf file(Faster)."},
        {dialog.AdvancedHelp(),
         "Advanced mode recovery handle other corruption issues in corrupt bkf file which cannot be handled by "
         "standard mode(Fast)."},
        {dialog.HeuristicHelp(),
         "Heuristic scanning option allows scanning algorithm to handle unknown tags which can vary from OS to OS. "
         "Recommended to use only when advanced mode recover partial data from BKF file."}};
    const QFontMetrics metrics(QToolTip::font());
    for (const auto& [button, text] : buttons) {
      QCOMPARE(button->HelpText(), text);
      QCOMPARE(button->size(), QSize(16, 16));
      // The tooltip is the text, in lines no wider than 400 pixels.
      QCOMPARE(button->toolTip().replace(QLatin1Char('\n'), QLatin1Char(' ')), text);
      for (const QString& line : button->toolTip().split(QLatin1Char('\n'))) {
        QVERIFY2(metrics.horizontalAdvance(line) <= 400, qPrintable(line));
      }
      button->click();  // sets the same text again, opens nothing
      QCOMPARE(button->HelpText(), text);
    }
    QVERIFY(dialog.HeuristicHelp()->toolTip().contains(QLatin1Char('\n')));
    QVERIFY(prompts_->shown().isEmpty());
  }

  void okAndCancel_data() {
    QTest::addColumn<QString>("size");
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("rangeKind");     // untouched: 0, 2, 1 as left over
    QTest::addColumn<int>("recoveryMode");
    QTest::addColumn<int>("heuristicScan");
    QTest::addColumn<QString>("min");
    QTest::addColumn<QString>("max");
    const Steps nothing = [](CKorvaneRangeSliderDlg&) {};
    QTest::newRow("defaults") << "5000" << nothing << false << true << 2 << 1 << 0 << "old min" << "old max";
    QTest::newRow("partial with the default texts") << "5000" << Steps(Partial) << false << true << 1 << 1 << 0 << "0"
                                                    << "5000";
    QTest::newRow("partial of an empty file") << "0" << Steps(Partial) << false << false << 0 << 2 << 1 << "old min"
                                              << "old max";
    QTest::newRow("0 and 00 differ") << "00" << Steps(Partial) << false << true << 1 << 1 << 0 << "0" << "00";
    QTest::newRow("complete scan of an empty file") << "0" << nothing << false << true << 2 << 1 << 0 << "old min"
                                                    << "old max";
    QTest::newRow("min above max") << "5000" << Steps([](CKorvaneRangeSliderDlg& d) {
      Partial(d);
      d.MinEdit()->setText("500");
      d.MaxEdit()->setText("100");
    }) << false << true << 1 << 1 << 0 << "500" << "100";
    QTest::newRow("empty edits") << "5000" << Steps([](CKorvaneRangeSliderDlg& d) {
      Partial(d);
      d.MinEdit()->clear();
      d.MaxEdit()->setText("7");
    }) << false << true << 1 << 1 << 0 << "" << "7";
    QTest::newRow("advanced, heuristic, partial back to complete") << "5000" << Steps([](CKorvaneRangeSliderDlg& d) {
      d.AdvancedMode()->click();
      d.Heuristic()->click();
      Partial(d);
      d.MinEdit()->setText("1");
      d.CompleteScan()->click();
    }) << false << true << 2 << 2 << 1 << "old min" << "old max";
    QTest::newRow("cancel") << "5000" << Steps([](CKorvaneRangeSliderDlg& d) {
      d.AdvancedMode()->click();
      Partial(d);
    }) << true << false << 0 << 2 << 1 << "old min" << "old max";
  }

  void okAndCancel() {
    QFETCH(QString, size);
    QFETCH(Steps, steps);
    QFETCH(bool, cancel);
    QFETCH(bool, accepted);
    QFETCH(int, rangeKind);
    QFETCH(int, recoveryMode);
    QFETCH(int, heuristicScan);
    QFETCH(QString, min);
    QFETCH(QString, max);
    state_->bkfSizeText = size;
    CKorvaneRangeSliderDlg dialog(*state_);
    dialog.show();
    steps(dialog);
    (cancel ? dialog.CancelButton() : dialog.OkButton())->click();

    QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
    QCOMPARE(dialog.isVisible(), !accepted && !cancel);
    if (!accepted && !cancel) {
      const auto messages = prompts_->Messages();
      QCOMPARE(messages.size(), 1);
      QCOMPARE(messages.first().message.text, QStringLiteral("Set range properly, both value cannot be same."));
      QCOMPARE(messages.first().message.icon, ostrel::app::MessageIcon::Information);
      QCOMPARE(messages.first().message.caption, QStringLiteral("Korvane Ostrel BKF Repair v1.0"));
      QCOMPARE(dialog.MaxEdit()->text(), size);  // unchanged
    } else {
      QVERIFY(prompts_->shown().isEmpty());
    }
    QCOMPARE(static_cast<int>(state_->rangeKind), rangeKind);
    QCOMPARE(static_cast<int>(state_->recoveryMode), recoveryMode);
    QCOMPARE(static_cast<int>(state_->heuristicScan), heuristicScan);
    QCOMPARE(state_->rangeMinText, min);
    QCOMPARE(state_->rangeMaxText, max);
  }

 private:
  ostrel::testing::PrivateEnvironment env_;
  std::unique_ptr<ostrel::testing::ScriptedPrompts> prompts_;
  std::unique_ptr<ostrel::app::CKorvaneBKFFileRepProjApp> state_;
};

QTEST_MAIN(RangeSliderDlgTest)
#include "range_slider_dlg_test.moc"
