#include "app/scan_job.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QStringList>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/main_frame.h"
#include "app/output_wnd.h"
#include "app/panes.h"
#include "app/range_slider_dlg.h"
#include "app/snapshot_job.h"
#include "app/texts.h"
#include "app/log_time.h"
#include "app/ui_thread.h"
#include "app/wait_cursor.h"
#include "preview/static_file_viewer.h"
#include "preview/temp_folder.h"
#include "reader/advanced_scanner.h"

namespace ostrel::app {
namespace {

const QString kOpenRefusal = QStringLiteral("Please stop the running process to open the BKF file.");
const QString kScanCompleted = QStringLiteral("Scanning for BKF file completed. Expand tree to see recover files.");
constexpr int kPollMilliseconds = 33;  // about thirty progress updates a second at most
constexpr int kProgressBarWidth = 550;
constexpr int kProgressBarMinWidth = 50;

std::unique_ptr<ostrel::Scanner> MakeScanner(ostrel::RecoveryMode mode, ostrel::RecoverySession& session,
                                             const ostrel::StopToken& stop) {
  if (mode == ostrel::RecoveryMode::Advanced) return std::make_unique<ostrel::AdvancedScanner>(session, stop);
  return std::make_unique<ostrel::StandardScanner>(session, stop);
}

}  // namespace

std::uint64_t ParseRangeText(const QString& text) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  qsizetype i = 0;
  while (i < text.size() && text.at(i).isSpace()) ++i;
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text.at(i).unicode();
    if (c < u'0' || c > u'9') break;
    const std::uint64_t digit = c - u'0';
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  return value;
}

QString ReadFileSize(const QString& path, std::uint64_t& size, QString* error) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    if (error != nullptr) *error = QString::fromLocal8Bit(std::strerror(errno));
    if (fd >= 0) ::close(fd);
    return {};
  }
  ::close(fd);
  size = static_cast<std::uint64_t>(st.st_size);
  if (error != nullptr) error->clear();
  return QString::number(size);
}

// A backup copied from another system often has its name in capitals
// ("BACKUP.BKF"); it is as good a backup as any, so the letter case does not
// matter.
bool IsBkfPath(const QString& path) {
  return path.contains(QStringLiteral(".bkf"), Qt::CaseInsensitive) && QFileInfo(path).isFile();
}

// On the scanning thread: keeps the newest report for the poll timer; passes
// the end of the window loop and the range warnings on at once.
class ScanJob::Listener : public ostrel::ScanListener {
 public:
  explicit Listener(ScanJob& job) : job_(job) {}

  void OnProgress(const ostrel::ProgressReport& report) override { job_.latest_.Store(report); }
  void OnScanDone(int value) override {
    job_.OnUi([&] {
      job_.ShowNewestReport();
      emit job_.frame_.App().messages().scanDone(value);
    });
  }
  void OnRangeMessage(const std::string& text) override {
    job_.OnUi([&] { Tell(job_.frame_.App().prompts(), &job_.frame_, QString::fromStdString(text)); });
  }

 private:
  ScanJob& job_;
};

ScanJob::ScanJob(CMainFrame& frame)
    : frame_(frame), factory_(MakeScanner), worker_([&app = frame.App()] { app.SetProcessRunning(false, /*announce=*/false); }) {
  ShellMessages& messages = frame_.App().messages();
  connect(&messages, &ShellMessages::scanProgress, this, &ScanJob::ShowProgress);
  connect(&messages, &ShellMessages::scanDone, this, &ScanJob::ShowDone);
  connect(&messages, &ShellMessages::scanStatusBar, this, &ScanJob::ShowStatusBar);
  pollTimer_ = new QTimer(this);
  pollTimer_->setInterval(kPollMilliseconds);
  connect(pollTimer_, &QTimer::timeout, this, &ScanJob::ShowNewestReport);
}

ScanJob::~ScanJob() { worker_.Abandon(); }

template <typename Call>
void ScanJob::OnUi(Call&& call) {
  worker_.OnUi(std::forward<Call>(call));
}

void ScanJob::Start() {
  CKorvaneBKFFileRepProjApp& app = frame_.App();
  app.SetProcessRunning(true);
  app.messages().Send(&ShellMessages::scanStatusBar, 1);
  progressBar_->setRange(0, 100);
  progressBar_->setValue(0);
  preview::CleanTempFolder();

  latest_.Reset();
  reportsShown_ = 0;
  pollTimer_->start();
  worker_.Start([this] { Work(); });
}

void ScanJob::Work() {
  CKorvaneBKFFileRepProjApp& app = frame_.App();
  try {
    WorkSteps();
  } catch (...) {
    app.SetProcessRunning(false);
    app.messages().Post(&ShellMessages::scanStatusBar, 0);
    OnUi([&] {
      pollTimer_->stop();
      Tell(app.prompts(), &frame_, QStringLiteral("Unknown Error Occurred, Error Code: ADBRECTD"));
    });
  }
}

void ScanJob::WorkSteps() {
  CKorvaneBKFFileRepProjApp& app = frame_.App();
  // The choices were made on the user-interface thread before the thread
  // started, and nobody changes them while the flag is set.
  const ostrel::RecoveryMode mode = app.recoveryMode;
  const bool heuristic = app.heuristicScan;
  const bool partial = app.rangeKind == CKorvaneBKFFileRepProjApp::RangeKind::Partial;
  const std::uint64_t rangeStart = partial ? ParseRangeText(app.rangeMinText) : 0;
  const std::uint64_t rangeEnd = partial ? ParseRangeText(app.rangeMaxText) : 0;
  const std::string path = QFile::encodeName(app.bkfPath).toStdString();

  OnUi([&] { frame_.FreeSession(); });
  // The session stays with the worker until the scan is over, so that
  // nothing on the user-interface thread can reach it meanwhile.
  auto session = std::make_unique<ostrel::RecoverySession>();
  std::unique_ptr<ostrel::Scanner> scanner = factory_(mode, *session, app.StopRequest());
  scanner->SetHeuristic(heuristic);
  scanner->SetRange(rangeStart, rangeEnd);
  Listener listener(*this);
  scanner->SetListener(&listener);
  const int result = scanner->Scan(path);
  scanner->SetListener(nullptr);
  OnUi([&] {
    ShowNewestReport();
    pollTimer_->stop();
  });

  if (result == 0) {
    const QString reason = QString::fromStdString(scanner->FileError());
    scanner.reset();
    OnUi([&] { frame_.SetSession(std::move(session)); });
    app.SetProcessRunning(false);
    app.messages().Post(&ShellMessages::scanStatusBar, 0);
    OnUi([&] {
      Tell(app.prompts(), &frame_, QStringLiteral("Scanning for BKF file process aborted."));
      // The message says that it failed; the log keeps why.
      COutputWnd* log = frame_.OutputWnd();
      log->AppendLine(QStringLiteral("The BKF file cannot be opened: %1").arg(reason.isEmpty() ? QStringLiteral("unknown error") : reason));
      log->AppendBlankLine();
      log->ScrollToLastLine();
    });
    return;
  }

  scanner.reset();
  const std::uint64_t filesFound = session->catalogue.FileCount();
  // What the reads could not deliver (bad sectors, a file that shrank): the
  // catalogue may lack what those parts held.
  QStringList damageLines;
  for (const std::string& line : {UnreadableLine(session->file.Unreadable()), ShrunkLine(session->file)}) {
    QString text = QString::fromStdString(line);
    if (!text.isEmpty()) damageLines << text.left(1).toUpper() + text.mid(1);
  }
  OnUi([&] {
    frame_.OutputWnd()->ScrollToLastLine();
    frame_.SetSession(std::move(session));
    // The check marks of the new top level stay out of the catalogue, also
    // when Stop has already cleared the flag.
    app.SetProcessRunning(true, /*announce=*/false);
    frame_.ShowCatalogueTopLevel();
  });
  app.SetProcessRunning(false);
  app.messages().Post(&ShellMessages::scanStatusBar, 0);
  // The log lines follow the message box, once the user has closed it.
  OnUi([&] {
    Tell(app.prompts(), &frame_, kScanCompleted);
    COutputWnd* log = frame_.OutputWnd();
    log->AppendLine(QStringLiteral("Total number of files found: %1").arg(filesFound));
    log->AppendBlankLine();
    for (const QString& line : damageLines) {
      log->AppendLine(line);
      log->AppendBlankLine();
    }
    log->AppendLine(kScanCompleted);
    log->AppendBlankLine();
    log->ScrollToLastLine();
  });
}

void ScanJob::ShowNewestReport() {
  if (const auto report = latest_.Take()) emit frame_.App().messages().scanProgress(*report);
}

void ScanJob::ShowProgress(const ostrel::ProgressReport& report) {
  if (progressBar_ == nullptr) return;
  ++reportsShown_;
  progressPane_->setText(QStringLiteral("Progress: %1/%2").arg(report.position).arg(report.fileLength));
  progressBar_->setValue(static_cast<int>(report.percent));
  percentPane_->setText(QString::asprintf("%.2f%%", static_cast<double>(report.percent)));
  filesPane_->setText(QStringLiteral("File Found: %1").arg(report.filesFound));
  for (QWidget* pane : {static_cast<QWidget*>(progressPane_), static_cast<QWidget*>(progressBar_),
                        static_cast<QWidget*>(percentPane_), static_cast<QWidget*>(filesPane_)}) {
    pane->repaint();
  }
}

void ScanJob::ShowDone(int percent) {
  if (progressBar_ != nullptr) progressBar_->setValue(percent);
}

void ScanJob::ShowStatusBar(int add) {
  CMyRibbonStatusBar* bar = frame_.StatusBar();
  if (add == 1) {
    if (progressBar_ != nullptr) return;
    const QString label = QStringLiteral("Korvane Ostrel BKF Repair");
    progressBar_ = new QProgressBar(bar);
    progressBar_->setObjectName(QStringLiteral("ScanProgressBar"));
    // 550 x 26 where the window is wide enough; on a narrower window the bar
    // gives way, so that the texts beside it and the maker's link stay whole.
    progressBar_->setFixedHeight(26);
    progressBar_->setMinimumWidth(kProgressBarMinWidth);
    progressBar_->setMaximumWidth(kProgressBarWidth);
    progressBar_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    progressBar_->setTextVisible(false);
    // The first texts only reserve the panes' widths.
    percentPane_ = new QLabel(QStringLiteral(".............  "), bar);
    percentPane_->setObjectName(QStringLiteral("ScanPercentPane"));
    progressPane_ = new QLabel(QStringLiteral("..") + QString(61, QLatin1Char(' ')) + QStringLiteral("."), bar);
    progressPane_->setObjectName(QStringLiteral("ScanProgressPane"));
    filesPane_ = new QLabel(QStringLiteral("..") + QString(30, QLatin1Char(' ')) + QStringLiteral("."), bar);
    filesPane_->setObjectName(QStringLiteral("ScanFilesPane"));
    for (QWidget* element : {static_cast<QWidget*>(progressBar_), static_cast<QWidget*>(percentPane_),
                             static_cast<QWidget*>(progressPane_), static_cast<QWidget*>(filesPane_)}) {
      element->setAccessibleName(label);
      if (auto* pane = qobject_cast<QLabel*>(element)) pane->setMinimumWidth(pane->sizeHint().width());
      bar->AddProgressElement(element, element == progressBar_ ? 1 : 0);
    }
  } else {
    for (QWidget* element : {static_cast<QWidget*>(progressBar_), static_cast<QWidget*>(percentPane_),
                             static_cast<QWidget*>(progressPane_), static_cast<QWidget*>(filesPane_)}) {
      if (element == nullptr) continue;
      bar->RemoveProgressElement(element);
      delete element;
    }
    progressBar_ = nullptr;
    percentPane_ = progressPane_ = filesPane_ = nullptr;
  }
  bar->updateGeometry();
  frame_.update();
}

// The Open command ----------------------------------------------------------

bool RefuseWhileScanning(CMainFrame& frame, const QString& refusal) {
  if (!frame.App().IsProcessRunning() && !frame.Job().IsWorking() && !frame.SnapshotWork().IsWorking()) {
    return false;
  }
  Tell(frame.App().prompts(), &frame, refusal);
  return true;
}

ScanJob& CMainFrame::Job() {
  if (!scanJob_) scanJob_ = std::make_unique<ScanJob>(*this);
  return *scanJob_;
}

void CMainFrame::OnOpenBkf() {
  if (RefuseWhileScanning(*this, kOpenRefusal)) return;
  FileDialogRequest request;
  request.owner = this;
  request.filters = QStringList{QStringLiteral(".bkf Files (*.bkf)")};
  request.defaultSuffix = QStringLiteral("bkf");
  request.initialName = QStringLiteral("*.bkf");
  request.mustExist = true;
  const QString path = app_.prompts().GetOpenFileName(request);
  if (path.isEmpty()) return;
  OpenBkfPath(path);
}

void CMainFrame::OpenBkfPath(const QString& chosen) {
  if (RefuseWhileScanning(*this, kOpenRefusal)) return;
  const QString path = chosen.trimmed();
  if (!IsBkfPath(path)) {
    Tell(app_.prompts(), this, QStringLiteral("Please select valid BKF file to recover."));
    return;
  }
  ScanJob& job = Job();
  app_.bkfSizeText = ReadFileSize(path, job.fileSize, &app_.bkfSizeError);

  CKorvaneRangeSliderDlg dialog(app_, this);
  if (app_.prompts().RunDialog(dialog) != QDialog::Accepted) {
    Tell(app_.prompts(), this, QStringLiteral("Please select recovery mode and scanning option to recover bkf file."));
    return;
  }

  WaitCursor wait;
  app_.bkfPath = path;
  FileViewer()->DestroyCurrentView();
  ResetCatalogueView();

  output_->ClearLog();
  output_->AppendBlankLine();
  output_->AppendLine(path + QStringLiteral(" File is selected for recovery...."));
  output_->AppendBlankLine();
  output_->AppendLine(QStringLiteral("BKF file size is: ") + app_.DescribedBkfSize());
  output_->AppendBlankLine();
  output_->AppendLine(QStringLiteral("Korvane BKF file Recovery process starts.  ") + FormatLogTime());
  output_->AppendBlankLine();
  output_->ScrollToLastLine();
  output_->ShowLogTab();

  job.Start();
}

void CMainFrame::OnStopProcess() {
  if (!app_.IsProcessRunning()) return;  // the command is disabled then
  if (Tell(app_.prompts(), this, QStringLiteral("Do you want to stop recovering file(s)?"), MessageIcon::Question,
           MessageButtons::YesNo) == MessageAnswer::Yes) {
    app_.SetProcessRunning(false);
  }
}

}  // namespace ostrel::app
