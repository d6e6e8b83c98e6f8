#include "app/scan_job.h"

#include <QFile>

#include "app/open_command.h"
#include "reader/advanced_scanner.h"
#include "reader/set_catalogue.h"

namespace ostrel::app {
namespace {

std::unique_ptr<ostrel::Scanner> MakeScanner(ostrel::RecoveryMode mode, ostrel::RecoverySession& session,
                                             const ostrel::StopToken& stop) {
  if (mode == ostrel::RecoveryMode::Advanced) return std::make_unique<ostrel::AdvancedScanner>(session, stop);
  return std::make_unique<ostrel::StandardScanner>(session, stop);
}

}  // namespace

// On the scanning thread: keeps the newest report; passes the end of the
// window loop and the range warnings on at once.
class ScanJob::Listener : public ostrel::ScanListener {
 public:
  explicit Listener(ScanJob& job) : job_(job) {}

  void OnProgress(const ostrel::ProgressReport& report) override {
    job_.latest_.Store(report);
    job_.NoteProgress();
  }
  bool EveryWindow() const override { return false; }
  void OnScanDone(int value) override { job_.OnUi([&] { emit job_.windowLoopDone(value); }); }
  void OnRangeMessage(const std::string& text) override {
    job_.OnUi([&] { emit job_.rangeMessage(QString::fromStdString(text)); });
  }

 private:
  ScanJob& job_;
};

ScanJob::ScanJob(CKorvaneBKFFileRepProjApp& app, QObject* parent) : Job(app, parent), factory_(MakeScanner) {}

void ScanJob::Start() {
  latest_.Reset();
  result_ = {};
  Launch([this] { return Work(); });
}

JobOutcome ScanJob::Work() {
  CKorvaneBKFFileRepProjApp& app = App();
  // The choices were made on the user-interface thread before the thread
  // started, and nobody changes them while the process runs.
  const bool partial = app.rangeKind == CKorvaneBKFFileRepProjApp::RangeKind::Partial;
  const std::uint64_t rangeStart = partial ? ParseRangeText(app.rangeMinText) : 0;
  const std::uint64_t rangeEnd = partial ? ParseRangeText(app.rangeMaxText) : 0;
  const std::string path = QFile::encodeName(app.bkfPath).toStdString();

  // The session stays with the worker until the scan is over, so that
  // nothing on the user-interface thread can reach it meanwhile.
  auto session = std::make_unique<ostrel::RecoverySession>();
  std::unique_ptr<ostrel::Scanner> scanner = factory_(app.recoveryMode, *session, Stop());
  scanner->SetHeuristic(app.heuristicScan);
  scanner->SetRange(rangeStart, rangeEnd);
  Listener listener(*this);
  scanner->SetListener(&listener);
  const bool opened = scanner->Scan(path) != 0;
  const std::string note = scanner->Note();
  scanner.reset();

  Result result;
  result.opened = opened;
  if (opened) {
    // What the reads could not deliver (bad sectors, a file that shrank):
    // the catalogue may lack what those parts held.
    for (const std::string& line : {UnreadableLine(session->file.Unreadable()), ShrunkLine(session->file)}) {
      const QString text = QString::fromStdString(line);
      if (!text.isEmpty()) result.damageLines << text.left(1).toUpper() + text.mid(1);
    }
    if (!note.empty()) result.damageLines << QStringLiteral("Note: ") + QString::fromStdString(note);
    // Files the scan met but could not catalogue: never lost in silence.
    for (const ostrel::LeftOutFile& file : session->leftOut) {
      const QString text = QString::fromStdString(ostrel::LeftOutLine(file));
      result.damageLines << text.left(1).toUpper() + text.mid(1);
    }
    if (session->leftOut.size() > 0 && session->leftOutNotListed > 0) {
      result.damageLines << QStringLiteral("Left out: %1 more files whose data runs past the end of the backup (not "
                                           "listed)")
                                .arg(QString::fromStdString(ostrel::GroupDigits(session->leftOutNotListed)));
    }
    // The backup's own catalogue tells which files the scan did not find.
    if (!Stop().StopRequested()) {
      const ostrel::CatalogueComparison comparison = ostrel::CompareWithCatalogues(
          ostrel::ReadSetCataloguesAt(session->file, session->setBlocks, Stop()), session->catalogue);
      for (const std::string& note : comparison.notes) {
        result.damageLines << QStringLiteral("Note: ") + QString::fromStdString(note);
      }
      if (comparison.listed != 0) {
        result.damageLines << QString::fromStdString(ostrel::ComparisonLine(comparison));
        for (const std::u16string& path : comparison.missing) {
          result.damageLines << QStringLiteral("Missing: ") + QString::fromStdU16String(path);
        }
      }
    }
  } else {
    result.openError = QString::fromStdString(session->file.Error());
  }
  result.session = std::move(session);
  result_ = std::move(result);
  if (!opened) return JobOutcome::Failed;
  return Stop().StopRequested() ? JobOutcome::Stopped : JobOutcome::Done;
}

}  // namespace ostrel::app
