// The Open command and the scan job: the path check, the Recovery Selection
// dialog's outcome, the reset and the log, the worker with its three
// outcomes, the status-bar progress elements, Stop, and the refusals while a
// scan runs. Scans run on fixture BKF files through the real scanners.
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include <stdlib.h>
#include <unistd.h>

#include "app/main_frame.h"
#include "app/output_wnd.h"
#include "app/panes.h"
#include "app/range_slider_dlg.h"
#include "app/open_command.h"
#include "app/scan_job.h"
#include "app/scan_status.h"
#include "reader/advanced_scanner.h"
#include "tests/app/frame_fixture.h"
#include "tests/app/gui_test_env.h"
#include "tests/fixtures/failing_disk.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/scan_helpers.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"
#include "widgets/check_tree.h"

using ostrel::app::CKorvaneRangeSliderDlg;
using ostrel::app::MessageAnswer;
using ostrel::fixtures::MtfWriter;
using ostrel::fixtures::Stan;

namespace {

const QString kCompleted = QStringLiteral("Scanning for BKF file completed. Expand tree to see recover files.");
const QString kOpenRefusal = QStringLiteral("Please stop the running process to open the BKF file.");

// One tape with five files; each block on its own 1 KiB boundary.
MtfWriter Backup() {
  MtfWriter w;
  w.Tape(u"T");
  w.Sset(1, u"Daily");
  w.Volb(u"C:");
  w.File(u"one.txt", {Stan(100, 5)});
  w.Dirb(u"Docs");
  w.File(u"two.txt", {Stan(200, 5)});
  w.File(u"three.txt", {Stan(300, 5)});
  w.Dirb(u"Music");
  w.File(u"four.mp3", {Stan(400, 5)});
  w.File(u"five.mp3", {Stan(500, 5)});
  return w;
}

// What a probe saw; the test keeps it, as the job frees its scanner once the
// scan is over.
struct ProbeSeen {
  std::uint64_t seenStart = 0, seenEnd = 0;
  bool seenHeuristic = false;
  ostrel::ProgressReport lastReport;
  int reports = 0;
};

// A scanner that remembers what the job set on it, and can be held at the
// start of its scan until the test lets it go.
template <typename Base>
class Probe : public Base {
 public:
  Probe(ostrel::RecoverySession& session, const ostrel::StopToken& stop, std::atomic<bool>* gate, ProbeSeen* seen)
      : Base(session, stop), gate_(gate), seen_(*seen) {}
  int Scan(const std::string& path) override {
    seen_.seenStart = this->rangeStart_;
    seen_.seenEnd = this->rangeEnd_;
    seen_.seenHeuristic = this->heuristic_;
    while (gate_ != nullptr && !gate_->load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    // Every report the scanner makes passes through here on its way to the job.
    struct Recorder : ostrel::ScanListener {
      ostrel::ScanListener* next = nullptr;
      ostrel::ProgressReport last;
      int reports = 0;
      void OnProgress(const ostrel::ProgressReport& r) override {
        last = r;
        ++reports;
        next->OnProgress(r);
      }
      void OnScanDone(int v) override { next->OnScanDone(v); }
      void OnRangeMessage(const std::string& t) override { next->OnRangeMessage(t); }
    } recorder;
    recorder.next = this->Listener();
    this->SetListener(&recorder);
    const int result = Base::Scan(path);
    this->SetListener(recorder.next);
    seen_.lastReport = recorder.last;
    seen_.reports = recorder.reports;
    return result;
  }

 private:
  std::atomic<bool>* gate_;
  ProbeSeen& seen_;
};

// What the dialog should be answered with.
struct Choice {
  bool advanced = false;
  bool heuristic = false;
  bool partial = false;
  QString min, max;  // typed over the defaults when partial and not null
};

void Choose(QDialog& dialog, const Choice& choice) {
  auto& d = static_cast<CKorvaneRangeSliderDlg&>(dialog);
  if (choice.advanced) d.AdvancedMode()->click();
  if (choice.heuristic) d.Heuristic()->click();
  if (choice.partial) {
    d.PartialScan()->click();
    if (!choice.min.isNull()) d.MinEdit()->setText(choice.min);
    if (!choice.max.isNull()) d.MaxEdit()->setText(choice.max);
  }
  d.OkButton()->click();
}

QStringList LogLines(ostrel::app::CMainFrame& frame) { return frame.OutputWnd()->Lines(); }

}  // namespace

class ScanJobTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(env_.IsValid()); }
  void init() { fixture_.SetUp(); }
  void cleanup() {
    gate_.store(true);
    QTRY_VERIFY_WITH_TIMEOUT(!Frame().Job().IsWorking(), 60000);
    fixture_.prompts().onMessage = nullptr;
    fixture_.TearDown();
  }

  void rangeTextsReadAsUnsignedDecimal_data();
  void rangeTextsReadAsUnsignedDecimal();
  void pathCheck_data();
  void pathCheck();
  void cancelledDialogChangesNothing();
  void scanFillsTheTreeAndLogs_data();
  void scanFillsTheTreeAndLogs();
  void refusalsStopAndProgressWhileRunning();
  void progressStaysInSight_data();
  void progressStaysInSight();
  void stopKeepsWhatWasFound();
  void fileThatCannotBeOpened();
  void unreadableFileSaysWhy();
  void faultInTheWorker();
  void unreadablePartsAreLogged();
  void leftOutFilesAreLogged();

 private:
  ostrel::app::CMainFrame& Frame() { return fixture_.frame(); }
  // Runs Open on `path` with the dialog answered by `choice`; waits for the
  // worker to end unless `wait` is false.
  void Open(const QString& path, const Choice& choice, bool wait = true) {
    fixture_.prompts().AnswerOpenFile(path);
    fixture_.prompts().AnswerDialog([choice](QDialog& d) { Choose(d, choice); });
    Frame().CommandAction(ostrel::app::Command::Open)->trigger();
    if (wait) QTRY_VERIFY_WITH_TIMEOUT(!Frame().Job().IsWorking(), 60000);
  }
  void UseProbes() {
    Frame().Job().SetScannerFactory([this](ostrel::RecoveryMode mode, ostrel::RecoverySession& session,
                                           const ostrel::StopToken& stop) -> std::unique_ptr<ostrel::Scanner> {
      if (mode == ostrel::RecoveryMode::Advanced) {
        return std::make_unique<Probe<ostrel::AdvancedScanner>>(session, stop, &gate_, &advancedProbe_);
      }
      return std::make_unique<Probe<ostrel::StandardScanner>>(session, stop, &gate_, &standardProbe_);
    });
  }
  bool StatusBarElementsPresent() { return Frame().ScanStatus().ProgressBar() != nullptr; }

  ostrel::testing::PrivateEnvironment env_;
  ostrel::testing::FrameFixture fixture_;
  ostrel::fixtures::TempDir dir_;
  std::atomic<bool> gate_{true};
  ProbeSeen standardProbe_;
  ProbeSeen advancedProbe_;
};

void ScanJobTest::rangeTextsReadAsUnsignedDecimal_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<quint64>("value");
  QTest::newRow("empty") << "" << quint64(0);
  QTest::newRow("zero") << "0" << quint64(0);
  QTest::newRow("leading blanks") << " \t 1048576" << quint64(1048576);
  QTest::newRow("stops at a letter") << "12ab34" << quint64(12);
  QTest::newRow("no digits") << "abc" << quint64(0);
  QTest::newRow("minus") << "-5" << quint64(0);
  QTest::newRow("largest") << "18446744073709551615" << quint64(18446744073709551615ull);
  QTest::newRow("one past") << "18446744073709551616" << quint64(18446744073709551615ull);
  QTest::newRow("far past") << "999999999999999999999999" << quint64(18446744073709551615ull);
}

void ScanJobTest::rangeTextsReadAsUnsignedDecimal() {
  QFETCH(QString, text);
  QFETCH(quint64, value);
  QCOMPARE(quint64(ostrel::app::ParseRangeText(text)), value);
}

void ScanJobTest::pathCheck_data() {
  QTest::addColumn<QString>("name");      // created in the test folder unless empty
  QTest::addColumn<QString>("chosen");    // relative to the test folder
  QTest::addColumn<bool>("accepted");
  QTest::newRow("lower case") << "a.bkf" << "a.bkf" << true;
  QTest::newRow("capitals") << "BACKUP.BKF" << "BACKUP.BKF" << true;
  QTest::newRow("mixed case") << "Week.Bkf" << "Week.Bkf" << true;
  QTest::newRow("inside the name") << "old.bkf.txt" << "old.bkf.txt" << true;
  QTest::newRow("blanks around") << "pad.bkf" << "  pad.bkf \t" << true;
  QTest::newRow("no extension") << "notes.txt" << "notes.txt" << false;
  QTest::newRow("missing") << "" << "gone.bkf" << false;
  QTest::newRow("folder") << "" << "dir.bkf" << false;
}

void ScanJobTest::pathCheck() {
  QFETCH(QString, name);
  QFETCH(QString, chosen);
  QFETCH(bool, accepted);
  const QString folder = QString::fromStdString(dir_.Path().string());
  std::filesystem::create_directories(dir_.Path() / "dir.bkf");
  if (!name.isEmpty()) QVERIFY(Backup().WriteTo((dir_.Path() / name.toStdString()).string()));
  auto& prompts = fixture_.prompts();
  // Chosen with the blanks in front of the folder, as a typed name would be.
  const QString typed = chosen.startsWith(QLatin1Char(' ')) ? QStringLiteral("  ") + folder + QLatin1Char('/') + chosen.trimmed() + QStringLiteral(" \t")
                                                             : folder + QLatin1Char('/') + chosen;
  prompts.AnswerOpenFile(typed);
  if (accepted) prompts.AnswerDialog([](QDialog& d) { d.reject(); });
  Frame().OnOpenBkf();

  const auto& shown = prompts.shown();
  QCOMPARE(shown.first().kind, ostrel::testing::ScriptedPrompts::Kind::OpenFile);
  const auto& request = shown.first().file;
  QCOMPARE(request.filters, QStringList{QStringLiteral(".bkf Files (*.bkf)")});
  QCOMPARE(request.defaultSuffix, QStringLiteral("bkf"));
  QVERIFY(request.mustExist);
  if (accepted) {
    QCOMPARE(shown.at(1).kind, ostrel::testing::ScriptedPrompts::Kind::Dialog);
    QCOMPARE(shown.at(1).dialogTitle, QStringLiteral("Recovery Selection"));
    QCOMPARE(fixture_.state().bkfSizeText, QString::number(Backup().Size()));
  } else {
    QCOMPARE(prompts.MessageTexts(), QStringList{QStringLiteral("Please select valid BKF file to recover.")});
    QCOMPARE(shown.size(), 2);
  }
  QVERIFY(!fixture_.state().IsProcessRunning());
  QVERIFY(fixture_.state().bkfPath.isEmpty());
}

void ScanJobTest::cancelledDialogChangesNothing() {
  // A finished scan first, so that there is something to keep.
  const QString path = QString::fromStdString(dir_.Write(Backup()));
  Open(path, Choice{});
  fixture_.prompts().Clear();
  const QStringList log = LogLines(Frame());
  ostrel::RecoverySession* session = Frame().Session();
  fixture_.state().bkfPath = QStringLiteral("kept");

  fixture_.prompts().AnswerOpenFile(path);
  fixture_.prompts().AnswerDialog([](QDialog& d) {
    static_cast<CKorvaneRangeSliderDlg&>(d).AdvancedMode()->click();
    static_cast<CKorvaneRangeSliderDlg&>(d).CancelButton()->click();
  });
  Frame().OnOpenBkf();
  QCOMPARE(fixture_.prompts().MessageTexts(),
           QStringList{QStringLiteral("Please select recovery mode and scanning option to recover bkf file.")});
  QCOMPARE(LogLines(Frame()), log);
  QCOMPARE(Frame().Session(), session);
  QCOMPARE(Frame().Tree()->topLevelItemCount(), 1);
  QCOMPARE(fixture_.state().recoveryMode, ostrel::RecoveryMode::Standard);
  QCOMPARE(fixture_.state().bkfPath, QStringLiteral("kept"));
  QVERIFY(!StatusBarElementsPresent());
}

void ScanJobTest::scanFillsTheTreeAndLogs_data() {
  QTest::addColumn<bool>("advanced");
  QTest::addColumn<bool>("heuristic");
  QTest::addColumn<bool>("partial");
  QTest::addColumn<QString>("min");
  QTest::addColumn<QString>("max");
  QTest::addColumn<quint64>("start");  // what the scanner is given
  QTest::addColumn<quint64>("end");
  QTest::newRow("standard, whole file") << false << false << false << QString() << QString() << quint64(0) << quint64(0);
  QTest::newRow("advanced, heuristic") << true << true << false << QString() << QString() << quint64(0) << quint64(0);
  QTest::newRow("standard, from the fourth block") << false << false << true << "3072" << "" << quint64(3072)
                                                    << quint64(0);
  QTest::newRow("advanced, 1 MiB to 2 MiB") << true << false << true << "1048576" << "2097152" << quint64(1048576)
                                            << quint64(2097152);
  QTest::newRow("standard, to the sixth block") << false << false << true << " 0" << "5120 bytes" << quint64(0)
                                                 << quint64(5120);
}

void ScanJobTest::scanFillsTheTreeAndLogs() {
  QFETCH(bool, advanced);
  QFETCH(bool, heuristic);
  QFETCH(bool, partial);
  QFETCH(QString, min);
  QFETCH(QString, max);
  QFETCH(quint64, start);
  QFETCH(quint64, end);
  UseProbes();
  const MtfWriter backup = Backup();
  const QString path = QString::fromStdString(dir_.Write(backup));
  auto& prompts = fixture_.prompts();
  int linesAtMessage = -1;
  prompts.onMessage = [&](const ostrel::app::MessageRequest& request) {
    if (request.text == kCompleted) linesAtMessage = Frame().OutputWnd()->LineCount();
  };
  QSignalSpy progress(&fixture_.state().messages(), &ostrel::app::ShellMessages::scanProgress);
  QSignalSpy done(&fixture_.state().messages(), &ostrel::app::ShellMessages::scanDone);

  Open(path, Choice{advanced, heuristic, partial, min, max});

  // The scanner of the chosen mode with the range and the heuristic flag.
  const ostrel::RecoverySession* session = Frame().Session();
  QVERIFY(session != nullptr);
  QCOMPARE(session->origin.kind, ostrel::SessionOrigin::Kind::Scan);
  QCOMPARE(session->origin.mode == ostrel::RecoveryMode::Advanced, advanced);
  QCOMPARE(session->origin.bkfPath, path.toStdString());
  if (advanced) {
    QCOMPARE(quint64(advancedProbe_.seenStart), start);
    QCOMPARE(quint64(advancedProbe_.seenEnd), end);
    QCOMPARE(advancedProbe_.seenHeuristic, heuristic);
  } else {
    QCOMPARE(quint64(standardProbe_.seenStart), start);
    QCOMPARE(quint64(standardProbe_.seenEnd), end);
  }
  // The same scan through the core alone finds the same files.
  ostrel::StopToken stop;
  ostrel::RecoverySession direct;
  const auto scanner = ostrel::fixtures::NewScanner(
      advanced ? ostrel::RecoveryMode::Advanced : ostrel::RecoveryMode::Standard, direct, stop);
  scanner->SetHeuristic(heuristic);
  scanner->SetRange(start, end);
  QCOMPARE(scanner->Scan(path.toStdString()), 1);
  const std::uint64_t files = session->catalogue.FileCount();
  QCOMPARE(files, direct.catalogue.FileCount());
  if (!partial) QCOMPARE(files, std::uint64_t(5));
  if (partial && end == 5120) QVERIFY(files < 5);

  // The top level: the tape with its placeholder, checked, the node's mark
  // left alone.
  auto* tree = Frame().CheckTree();
  QCOMPARE(tree->topLevelItemCount(), 1);
  QTreeWidgetItem* top = tree->topLevelItem(0);
  QCOMPARE(top->childCount(), 1);
  QCOMPARE(top->child(0)->text(0), QStringLiteral("Dummy"));
  QVERIFY(tree->GetCheck(top));
  const auto& root = session->catalogue.Tree();
  const auto& tape = root.NodeAt(root.FirstChild(0));
  QCOMPARE(top->text(0), QString::fromUtf16(tape.name.data(), qsizetype(tape.name.size())));
  QCOMPARE(tape.inTree, 1);
  QCOMPARE(tape.checkState, 0);

  // The log: seven opening lines, then, once the box was closed, four more.
  const QStringList log = LogLines(Frame());
  QCOMPARE(linesAtMessage, 7);
  QCOMPARE(log.size(), 11);
  QCOMPARE(log.mid(0, 5), (QStringList{"", path + " File is selected for recovery....", "",
                                       "BKF file size is: " + QString::number(backup.Size()), ""}));
  QVERIFY2(QRegularExpression(QStringLiteral(
               R"(^Korvane BKF file Recovery process starts\.  [A-Z][a-z]{2}-\d\d-\d{4}\(\d\d-\d\d-\d\d-(AM|PM)\)$)"))
               .match(log.at(5))
               .hasMatch(),
           qPrintable(log.at(5)));
  QCOMPARE(log.at(6), QString());
  QCOMPARE(log.mid(7), (QStringList{QStringLiteral("Total number of files found: %1").arg(files), "", kCompleted, ""}));
  QCOMPARE(prompts.MessageTexts().last(), kCompleted);
  // The last line is in sight, whole, in the pane's first height.
  auto* logList = Frame().OutputWnd()->LogList();
  QTRY_VERIFY(logList->viewport()->rect().contains(logList->visualItemRect(logList->item(log.size() - 1))));

  // The state after the job.
  QVERIFY(!fixture_.state().IsProcessRunning());
  QCOMPARE(fixture_.state().bkfPath, path);
  QCOMPARE(fixture_.state().recoveryMode, advanced ? ostrel::RecoveryMode::Advanced : ostrel::RecoveryMode::Standard);
  QCOMPARE(fixture_.state().rangeKind, partial ? ostrel::app::CKorvaneBKFFileRepProjApp::RangeKind::Partial
                                               : ostrel::app::CKorvaneBKFFileRepProjApp::RangeKind::WholeFile);
  QTRY_VERIFY(!StatusBarElementsPresent());
  QTRY_VERIFY(!Frame().CommandAction(ostrel::app::Command::Stop)->isEnabled());
  // The last report reached the window, then the end of the window loop.
  QVERIFY(!progress.isEmpty());
  const auto last = progress.last().at(0).value<ostrel::ProgressReport>();
  const ostrel::ProgressReport made = advanced ? advancedProbe_.lastReport : standardProbe_.lastReport;
  QVERIFY((advanced ? advancedProbe_.reports : standardProbe_.reports) > 0);
  QCOMPARE(last.position, made.position);
  QCOMPARE(last.filesFound, made.filesFound);
  QCOMPARE(last.percent, made.percent);
  QCOMPARE(done.size(), 1);
  QCOMPARE(done.first().at(0).toInt(), 100);
}

void ScanJobTest::refusalsStopAndProgressWhileRunning() {
  gate_.store(false);
  UseProbes();
  const QString path = QString::fromStdString(dir_.Write(Backup()));
  Open(path, Choice{}, /*wait=*/false);
  auto& state = fixture_.state();
  QVERIFY(state.IsProcessRunning());
  QVERIFY(Frame().Job().IsWorking());
  QVERIFY(Frame().CommandAction(ostrel::app::Command::Stop)->isEnabled());

  // The four elements with their first texts, the bar at 0 of 0..100.
  auto& job = Frame().ScanStatus();
  QVERIFY(StatusBarElementsPresent());
  QCOMPARE(job.ProgressBar()->minimum(), 0);
  QCOMPARE(job.ProgressBar()->maximum(), 100);
  QCOMPARE(job.ProgressBar()->value(), 0);
  QCOMPARE(job.ProgressBar()->height(), 26);
  QCOMPARE(job.PercentPane()->text(), QStringLiteral(".............  "));
  QCOMPARE(job.ProgressPane()->text(), ".." + QString(61, ' ') + ".");
  QCOMPARE(job.FilesPane()->text(), ".." + QString(30, ' ') + ".");
  // A report shows in all four.
  emit state.messages().scanProgress(ostrel::ProgressReport{12.345f, 4096, 3, 8192});
  QCOMPARE(job.PercentPane()->text(), QStringLiteral("12.35%"));
  QCOMPARE(job.ProgressBar()->value(), 12);
  QCOMPARE(job.ProgressPane()->text(), QStringLiteral("Progress: 4096/8192"));
  QCOMPARE(job.FilesPane()->text(), QStringLiteral("File Found: 3"));

  // Every command of this job refuses while it runs.
  auto& prompts = fixture_.prompts();
  prompts.Clear();
  Frame().OnOpenBkf();
  Frame().OnLoadSnapshot();
  Frame().OnSaveSnapshot();
  QCOMPARE(prompts.MessageTexts(), (QStringList{kOpenRefusal,
                                                "Please stop the running process to load recovery snapshot.",
                                                "Please stop the running process to save recovery snapshot."}));

  // Stop answered No lets the scan go on; Yes clears the flag, and until
  // the worker has ended the commands still refuse.
  prompts.Clear();
  prompts.AnswerMessage(MessageAnswer::No);
  Frame().CommandAction(ostrel::app::Command::Stop)->trigger();
  QVERIFY(state.IsProcessRunning());
  prompts.AnswerMessage(MessageAnswer::Yes);
  Frame().CommandAction(ostrel::app::Command::Stop)->trigger();
  QVERIFY(!state.IsProcessRunning());
  const auto stops = prompts.Messages();
  QCOMPARE(stops.size(), 2);
  for (const auto& shown : stops) {
    QCOMPARE(shown.message.text, QStringLiteral("Do you want to stop recovering file(s)?"));
    QCOMPARE(shown.message.icon, ostrel::app::MessageIcon::Question);
    QCOMPARE(shown.message.buttons, ostrel::app::MessageButtons::YesNo);
  }
  prompts.Clear();
  Frame().OnOpenBkf();
  QCOMPARE(prompts.MessageTexts(), QStringList{kOpenRefusal});

  // Let go: a stopped scan still ends as completed.
  prompts.Clear();
  gate_.store(true);
  QTRY_VERIFY_WITH_TIMEOUT(!Frame().Job().IsWorking(), 60000);
  QCOMPARE(prompts.MessageTexts(), QStringList{kCompleted});
  QVERIFY(!StatusBarElementsPresent());
  QCOMPARE(Frame().Tree()->topLevelItemCount(), 0);  // stopped before the first window
  QCOMPARE(LogLines(Frame()).mid(7, 1), QStringList{QStringLiteral("Total number of files found: 0")});
}

void ScanJobTest::progressStaysInSight_data() {
  QTest::addColumn<int>("width");
  QTest::addColumn<int>("barWidth");  // 0: narrower than its full 550, but there
  QTest::newRow("wide window") << 1600 << 550;
  QTest::newRow("1,000 pixels") << 1000 << 0;
}

void ScanJobTest::progressStaysInSight() {
  // The elements are there for the whole scan, beside the program's name and
  // the maker's link, whatever the width, and a status tip (the pointer
  // resting on a ribbon button) hides none of them.
  QFETCH(int, width);
  QFETCH(int, barWidth);
  Frame().resize(width, 700);
  QTest::qWait(0);
  gate_.store(false);
  UseProbes();
  Open(QString::fromStdString(dir_.Write(Backup())), Choice{}, /*wait=*/false);
  auto& job = Frame().ScanStatus();
  auto* bar = Frame().StatusBar();
  auto inSight = [&](const QWidget* w) {
    const QRect r(w->mapTo(bar, QPoint(0, 0)), w->size());
    return w->isVisible() && bar->rect().contains(r);
  };
  for (const bool tip : {false, true}) {
    if (tip) bar->showMessage(Frame().CommandAction(ostrel::app::Command::Open)->statusTip());
    QTest::qWait(50);
    QCOMPARE(Frame().width(), width);
    for (QWidget* w : std::initializer_list<QWidget*>{job.ProgressBar(), job.PercentPane(), job.ProgressPane(),
                                                      job.FilesPane(), bar->Link()}) {
      QVERIFY2(inSight(w), qPrintable(QStringLiteral("%1 hidden, tip %2").arg(w->objectName()).arg(tip)));
      if (w != job.ProgressBar()) QVERIFY2(w->width() >= w->sizeHint().width(), qPrintable(w->objectName()));
    }
  }
  if (barWidth > 0) QCOMPARE(job.ProgressBar()->size(), QSize(barWidth, 26));
  bar->clearMessage();
  gate_.store(true);
  QTRY_VERIFY_WITH_TIMEOUT(!Frame().Job().IsWorking(), 60000);
  // After the scan: the name and the link as before.
  QTest::qWait(50);
  QCOMPARE(Frame().width(), width);
  QVERIFY(inSight(bar->StaticPane()));
  QVERIFY(inSight(bar->Link()));
}

void ScanJobTest::stopKeepsWhatWasFound() {
  // Five files at the start, then 8 GiB of nothing (a sparse file).
  const std::string file = dir_.Write(Backup());
  std::filesystem::resize_file(file, 8ull << 30);
  auto& prompts = fixture_.prompts();
  QElapsedTimer clock;
  clock.start();
  Open(QString::fromStdString(file), Choice{}, /*wait=*/false);
  auto& job = Frame().Job();
  auto& status = Frame().ScanStatus();
  QTRY_VERIFY_WITH_TIMEOUT(status.FilesPane() && status.FilesPane()->text() == QStringLiteral("File Found: 5"), 20000);
  QTRY_VERIFY_WITH_TIMEOUT(status.ReportsShown() >= 3, 20000);
  prompts.AnswerMessage(MessageAnswer::Yes);
  Frame().OnStopProcess();
  QTRY_VERIFY_WITH_TIMEOUT(!job.IsWorking(), 20000);
  const qint64 elapsed = clock.elapsed();

  QCOMPARE(prompts.MessageTexts().last(), kCompleted);
  QCOMPARE(Frame().Session()->catalogue.FileCount(), std::uint64_t(5));
  QCOMPARE(Frame().Tree()->topLevelItemCount(), 1);
  QCOMPARE(LogLines(Frame()).at(7), QStringLiteral("Total number of files found: 5"));
  QVERIFY(!StatusBarElementsPresent());
  // Coalesced: a report per window would be millions; the window sees at
  // most about thirty a second.
  QVERIFY2(status.ReportsShown() <= elapsed / 30 + 3,
           qPrintable(QStringLiteral("%1 reports in %2 ms").arg(status.ReportsShown()).arg(elapsed)));
}

void ScanJobTest::fileThatCannotBeOpened() {
  const std::string file = dir_.Write(Backup());
  auto& prompts = fixture_.prompts();
  prompts.AnswerOpenFile(QString::fromStdString(file));
  // The file goes away while the dialog is open.
  prompts.AnswerDialog([&](QDialog& d) {
    std::filesystem::remove(file);
    static_cast<CKorvaneRangeSliderDlg&>(d).OkButton()->click();
  });
  Frame().OnOpenBkf();
  QTRY_VERIFY_WITH_TIMEOUT(!Frame().Job().IsWorking(), 60000);
  QCOMPARE(prompts.MessageTexts(), QStringList{QStringLiteral("Scanning for BKF file process aborted.")});
  // The message is the same for every cause; the log says which.
  QCOMPARE(LogLines(Frame()).mid(7),
           (QStringList{QStringLiteral("The BKF file cannot be opened: No such file or directory"), QString()}));
  QVERIFY(Frame().HasCatalogue());
  QCOMPARE(Frame().Session()->catalogue.FileCount(), std::uint64_t(0));
  QCOMPARE(Frame().Tree()->topLevelItemCount(), 0);
  QVERIFY(!fixture_.state().IsProcessRunning());
  QTRY_VERIFY(!StatusBarElementsPresent());
}

void ScanJobTest::unreadableFileSaysWhy() {
  // A file that exists but that this user may not read: the size is unknown,
  // and the dialog and the log say why instead of showing nothing.
  // Its folder lies where any user may look (the test's own temporary folder
  // is private), so that only the file itself is out of reach.
  std::string folder = "/tmp/ostrel-unreadable-XXXXXX";
  QVERIFY(::mkdtemp(folder.data()) != nullptr);
  const std::unique_ptr<std::string, void (*)(std::string*)> removeFolder(&folder, [](std::string* f) {
    std::error_code ec;
    std::filesystem::remove_all(*f, ec);
  });
  using std::filesystem::perms;
  std::filesystem::permissions(folder, perms::owner_all | perms::group_read | perms::group_exec |
                                           perms::others_read | perms::others_exec);
  const std::string file = folder + "/test.bkf";
  QVERIFY(Backup().WriteTo(file));
  std::filesystem::permissions(file, perms::none);
  // Root reads anything: take the rights of an ordinary user while the size
  // is read, and give them back before the scan (which then works).
  const bool root = ::geteuid() == 0;
  if (root) QVERIFY(::seteuid(65534) == 0);
  QString shownSize;
  auto& prompts = fixture_.prompts();
  prompts.AnswerOpenFile(QString::fromStdString(file));
  prompts.AnswerDialog([&](QDialog& d) {
    shownSize = static_cast<CKorvaneRangeSliderDlg&>(d).FileSize()->text();
    if (root) ::seteuid(0);
    std::filesystem::permissions(file, std::filesystem::perms::owner_read);
    static_cast<CKorvaneRangeSliderDlg&>(d).OkButton()->click();
  });
  Frame().OnOpenBkf();
  if (root && ::geteuid() != 0) QVERIFY(::seteuid(0) == 0);
  QTRY_VERIFY_WITH_TIMEOUT(!Frame().Job().IsWorking(), 60000);
  QCOMPARE(fixture_.state().bkfSizeText, QString());
  QCOMPARE(shownSize, QStringLiteral("unknown (Permission denied)"));
  QCOMPARE(LogLines(Frame()).at(3), QStringLiteral("BKF file size is: unknown (Permission denied)"));
  QCOMPARE(prompts.MessageTexts(), QStringList{kCompleted});
}

void ScanJobTest::faultInTheWorker() {
  struct Faulty : ostrel::StandardScanner {
    using ostrel::StandardScanner::StandardScanner;
    int Scan(const std::string&) override { throw std::runtime_error("fault"); }
  };
  Frame().Job().SetScannerFactory([](ostrel::RecoveryMode, ostrel::RecoverySession& session,
                                     const ostrel::StopToken& stop) -> std::unique_ptr<ostrel::Scanner> {
    return std::make_unique<Faulty>(session, stop);
  });
  const QString path = QString::fromStdString(dir_.Write(Backup()));
  Open(path, Choice{});
  QCOMPARE(fixture_.prompts().MessageTexts(), QStringList{QStringLiteral("Unknown Error Occurred, Error Code: ADBRECTD")});
  QVERIFY(!fixture_.state().IsProcessRunning());
  QTRY_VERIFY(!StatusBarElementsPresent());
  QCOMPARE(LogLines(Frame()).size(), 7);

  // The user can start again.
  fixture_.prompts().Clear();
  Frame().Job().SetScannerFactory([](ostrel::RecoveryMode, ostrel::RecoverySession& session,
                                     const ostrel::StopToken& stop) -> std::unique_ptr<ostrel::Scanner> {
    return std::make_unique<ostrel::StandardScanner>(session, stop);
  });
  Open(path, Choice{});
  QCOMPARE(fixture_.prompts().MessageTexts(), QStringList{kCompleted});
  QCOMPARE(Frame().Tree()->topLevelItemCount(), 1);
}

void ScanJobTest::unreadablePartsAreLogged() {
  // The blocks of four.mp3 (8,192) and five.mp3 (9,216) lie on a bad piece
  // that runs to the end of the file.
  const MtfWriter backup = Backup();
  const ostrel::fixtures::FailingDisk disk({{8192, 512}});
  Frame().Job().SetScannerFactory([&](ostrel::RecoveryMode, ostrel::RecoverySession& session,
                                      const ostrel::StopToken& stop) -> std::unique_ptr<ostrel::Scanner> {
    auto scanner = std::make_unique<ostrel::StandardScanner>(session, stop);
    scanner->SetFileReader(disk.Reader());
    return scanner;
  });
  Open(QString::fromStdString(dir_.Write(backup)), Choice{});
  QCOMPARE(fixture_.prompts().MessageTexts(), QStringList{kCompleted});
  const QString bytes = QString::fromStdString(ostrel::GroupDigits(backup.Size() - 8192));
  QCOMPARE(LogLines(Frame()).mid(7),
           (QStringList{"Total number of files found: 3", "",
                        "Unreadable: " + bytes + " bytes in 1 range (input/output error); the first at offset 8192", "",
                        kCompleted, ""}));
}

// A backup cut off inside its largest file: the standard scan cannot
// catalogue it, and the log says so after the scan's last lines.
void ScanJobTest::leftOutFilesAreLogged() {
  MtfWriter w;
  w.Volb(u"C:");
  w.File(u"notes.txt", {Stan(2000, 5)});
  const std::uint64_t big = w.File(u"database.mdb", {Stan(500000, 6)});
  w.Bytes().resize(300000);
  Open(QString::fromStdString(dir_.Write(w)), Choice{});
  QCOMPARE(fixture_.prompts().MessageTexts(), QStringList{kCompleted});
  QCOMPARE(LogLines(Frame()).mid(7),
           (QStringList{"Total number of files found: 1", "",
                        QStringLiteral("Left out: database.mdb (500,000 bytes at offset %1) runs past the end of the "
                                       "backup; the advanced mode recovers what is there")
                            .arg(big),
                        "", kCompleted, ""}));
}

QTEST_MAIN(ScanJobTest)
#include "scan_job_test.moc"
