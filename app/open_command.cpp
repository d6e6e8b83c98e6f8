#include "app/open_command.h"

#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/log_time.h"
#include "app/main_frame.h"
#include "app/output_wnd.h"
#include "app/panes.h"
#include "app/preview_job.h"
#include "app/range_slider_dlg.h"
#include "app/scan_job.h"
#include "app/scan_status.h"
#include "app/snapshot_job.h"
#include "app/texts.h"
#include "app/wait_cursor.h"
#include "preview/static_file_viewer.h"
#include "preview/temp_folder.h"

namespace ostrel::app {
namespace {

const QString kOpenRefusal = QStringLiteral("Please stop the running process to open the BKF file.");
const QString kScanCompleted = QStringLiteral("Scanning for BKF file completed. Expand tree to see recover files.");

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

// The Open command ----------------------------------------------------------

bool RefuseWhileScanning(CMainFrame& frame, const QString& refusal) {
  if (!frame.App().IsProcessRunning() && !frame.Job().IsWorking() && !frame.SnapshotWork().IsWorking() &&
      !frame.PreviewWork().IsWorking()) {
    return false;
  }
  Tell(frame.App().prompts(), &frame, refusal);
  return true;
}

ScanJob& CMainFrame::Job() {
  if (!scanJob_) {
    scanJob_ = std::make_unique<ScanJob>(app_);
    connect(scanJob_.get(), &ScanJob::progressed, this, [this] {
      if (const auto report = scanJob_->TakeProgress()) emit app_.messages().scanProgress(*report);
    });
    connect(scanJob_.get(), &ScanJob::windowLoopDone, this, [this](int percent) {
      if (const auto report = scanJob_->TakeProgress()) emit app_.messages().scanProgress(*report);
      emit app_.messages().scanDone(percent);
    });
    connect(scanJob_.get(), &ScanJob::rangeMessage, this, [this](const QString& text) { Tell(app_.prompts(), this, text); });
    connect(scanJob_.get(), &ScanJob::finished, this, &CMainFrame::OnScanFinished);
  }
  return *scanJob_;
}

ScanStatusBar& CMainFrame::ScanStatus() {
  if (!scanStatus_) {
    scanStatus_ = std::make_unique<ScanStatusBar>(statusBar_, this);
    ShellMessages& messages = app_.messages();
    connect(&messages, &ShellMessages::scanProgress, this,
            [this](const ostrel::ProgressReport& report) { scanStatus_->ShowProgress(report); });
    connect(&messages, &ShellMessages::scanDone, this, [this](int percent) { scanStatus_->ShowDone(percent); });
    connect(&messages, &ShellMessages::scanStatusBar, this, [this](int add) {
      if (add == 1) {
        scanStatus_->Show();
      } else {
        scanStatus_->Hide();
      }
    });
  }
  return *scanStatus_;
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
  std::uint64_t size = 0;
  app_.bkfSizeText = ReadFileSize(path, size, &app_.bkfSizeError);

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

  app_.SetProcessRunning(true);
  ScanStatus();
  app_.messages().Send(&ShellMessages::scanStatusBar, 1);
  preview::CleanTempFolder();
  Job().Start();
}

void CMainFrame::OnScanFinished(JobOutcome) {
  ScanJob::Result result = Job().TakeResult();
  if (!result.session) {
    // The work failed before it had a session (an exception in the worker).
    app_.SetProcessRunning(false);
    app_.messages().Send(&ShellMessages::scanStatusBar, 0);
    Tell(app_.prompts(), this, QStringLiteral("Unknown Error Occurred, Error Code: ADBRECTD"));
    return;
  }
  if (!result.opened) {
    SetSession(std::move(result.session));
    app_.SetProcessRunning(false);
    app_.messages().Send(&ShellMessages::scanStatusBar, 0);
    Tell(app_.prompts(), this, QStringLiteral("Scanning for BKF file process aborted."));
    // The message says that it failed; the log keeps why.
    const QString reason = result.openError.isEmpty() ? QStringLiteral("unknown error") : result.openError;
    output_->AppendLine(QStringLiteral("The BKF file cannot be opened: %1").arg(reason));
    output_->AppendBlankLine();
    output_->ScrollToLastLine();
    return;
  }

  const std::uint64_t filesFound = result.session->catalogue.FileCount();
  output_->ScrollToLastLine();
  SetSession(std::move(result.session));
  // The check marks of the new top level stay out of the catalogue, also
  // when Stop has already ended the process.
  app_.SetProcessRunning(true, /*announce=*/false);
  ShowCatalogueTopLevel();
  app_.SetProcessRunning(false);
  app_.messages().Send(&ShellMessages::scanStatusBar, 0);
  // The log lines follow the message box, once the user has closed it.
  Tell(app_.prompts(), this, kScanCompleted);
  output_->AppendLine(QStringLiteral("Total number of files found: %1").arg(filesFound));
  output_->AppendBlankLine();
  for (const QString& line : result.damageLines) {
    output_->AppendLine(line);
    output_->AppendBlankLine();
  }
  output_->AppendLine(kScanCompleted);
  output_->AppendBlankLine();
  output_->ScrollToLastLine();
}

void CMainFrame::OnStopProcess() {
  if (!app_.IsProcessRunning()) return;  // the command is disabled then
  if (Tell(app_.prompts(), this, QStringLiteral("Do you want to stop recovering file(s)?"), MessageIcon::Question,
           MessageButtons::YesNo) == MessageAnswer::Yes) {
    app_.SetProcessRunning(false);
  }
}

}  // namespace ostrel::app
