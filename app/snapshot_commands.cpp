#include "app/snapshot_commands.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTreeWidget>

#include "app/log_time.h"
#include "app/main_frame.h"
#include "app/output_wnd.h"
#include "app/open_command.h"
#include "app/scan_status.h"
#include "app/snapshot_job.h"
#include "app/texts.h"
#include "app/wait_cursor.h"
#include "catalogue/snapshot.h"
#include "preview/static_file_viewer.h"
#include "reader/save_files.h"
#include "reader/snapshot_load.h"
#include "reader/text.h"

namespace ostrel::app {
namespace {

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

SnapshotJob& CMainFrame::SnapshotWork() {
  if (!snapshotJob_) {
    snapshotJob_ = std::make_unique<SnapshotJob>(app_);
    connect(snapshotJob_.get(), &SnapshotJob::progressed, this, [this] {
      if (const auto report = snapshotJob_->TakeProgress()) SnapshotStatus().ShowProgress(report->first, report->second);
    });
    // The elements go before the result is handled.
    connect(snapshotJob_.get(), &SnapshotJob::finished, this, [this] {
      SnapshotStatus().Hide();
      snapshotJob_->DeliverResult();
    });
  }
  return *snapshotJob_;
}

SnapshotStatusBar& CMainFrame::SnapshotStatus() {
  if (!snapshotStatus_) snapshotStatus_ = std::make_unique<SnapshotStatusBar>(statusBar_);
  return *snapshotStatus_;
}

void CMainFrame::OnSaveSnapshot() {
  if (RefuseWhileScanning(*this, kSaveRefusal)) return;
  if (Tree()->topLevelItemCount() == 0 || !HasCatalogue()) {
    Tell(app_.prompts(), this, kSelectBkfFirst);
    return;
  }

  FileDialogRequest request;
  request.owner = this;
  request.filters = SnapshotFilters();
  request.defaultSuffix = QStringLiteral("KVSNAPSHOT");
  request.overwritePrompt = true;
  const QString path = app_.prompts().GetSaveFileName(request);
  if (path.isEmpty()) return;
  // The snapshot takes its place by a rename: never over the backup being
  // read, a device or a FIFO.
  if (const std::string problem = ostrel::SnapshotTargetProblem(LocalPath(path), session_->file.Path());
      !problem.empty()) {
    Tell(app_.prompts(), this,
         QStringLiteral("The recovery snapshot cannot be saved to %1: %2.").arg(path, QString::fromStdString(problem)),
         MessageIcon::Exclamation);
    return;
  }

  app_.SetProcessRunning(true);
  FileViewer()->DestroyCurrentView();
  output_->ShowLogTab();
  output_->AppendLine(path + QStringLiteral(" file is saving for Ostrel BKF Recovery Snapshot.    ") + FormatLogTime());
  output_->AppendBlankLine();

  // While the save runs nothing changes the catalogue, so the worker may
  // read it.
  const ostrel::Catalogue& catalogue = session_->catalogue;
  std::u16string bkfPath = PathToUtf16(session_->file.Path());
  SnapshotStatus().Show(QStringLiteral("Saving recovery snapshot"));
  SnapshotWork().Run<SnapshotWriteResult>(
      [&catalogue, bkfPath = std::move(bkfPath), target = LocalPath(path), this](const SnapshotProgress& progress) {
        return WriteSnapshot(catalogue, bkfPath, target, app_.StopRequest(), progress);
      },
      [this](SnapshotWriteResult& written) {
        app_.SetProcessRunning(false);
        if (written.ok) {
          output_->AppendLine(
              QStringLiteral("Saving of Ostrel BKF Recovery Snapshot has been completed successfully.    ") +
              FormatLogTime());
          output_->AppendBlankLine();
          output_->ScrollToLastLine();
          return;
        }
        // Stopped by the user: the log keeps the start line without a
        // completion line. A file error is said, with the system's reason.
        if (written.stopped) return;
        const QString reason = QString::fromStdString(written.error);
        output_->AppendLine(QStringLiteral("Saving of Ostrel BKF Recovery Snapshot failed: ") + reason +
                            QStringLiteral("    ") + FormatLogTime());
        output_->AppendBlankLine();
        output_->ScrollToLastLine();
        Tell(app_.prompts(), this, QStringLiteral("The recovery snapshot could not be saved: %1.").arg(reason),
             MessageIcon::Exclamation);
      });
}

void CMainFrame::OnLoadSnapshot() {
  if (RefuseWhileScanning(*this, kLoadRefusal)) return;
  FileDialogRequest request;
  request.owner = this;
  request.filters = SnapshotFilters();
  request.defaultSuffix = QStringLiteral("KVSNAPSHOT");
  request.mustExist = true;
  const QString path = app_.prompts().GetOpenFileName(request);
  if (path.isEmpty()) return;
  LoadSnapshotPath(path);
}

void CMainFrame::LoadSnapshotPath(const QString& path) {
  if (RefuseWhileScanning(*this, kLoadRefusal)) return;
  {
    WaitCursor wait;
    FileViewer()->DestroyCurrentView();
    output_->ShowLogTab();
    QCoreApplication::processEvents();
    app_.SetProcessRunning(true);
    ResetCatalogueView();
  }

  output_->AppendBlankLine();
  output_->AppendLine(path + QStringLiteral(" File is selected for BKF Load Recovery Snapshot.     ") + FormatLogTime());
  output_->AppendBlankLine();

  SnapshotStatus().Show(QStringLiteral("Loading recovery snapshot"));
  SnapshotWork().Run<LoadedSnapshot>(
      [source = LocalPath(path), this](const SnapshotProgress& progress) {
        return LoadSnapshot(source, app_.StopRequest(), progress);
      },
      [this](LoadedSnapshot& loaded) {
        if (!loaded.session) {
          if (loaded.bkfMissing) {
            MessageRequest message;
            message.owner = this;
            message.caption = kAppCaption;
            message.text = QStringLiteral("file cannot opened.");
            message.icon = MessageIcon::None;
            app_.prompts().ShowMessage(message);
          }
          output_->AppendLine(QStringLiteral("Snapshot loading failed: ") + QString::fromStdString(loaded.error));
          output_->AppendBlankLine();
          output_->ScrollToLastLine();
          app_.SetProcessRunning(false);
          Tell(app_.prompts(), this, kLoadAborted);
          return;
        }

        // The snapshot chose the file every byte is read from: the log says
        // which, and which records do not point into it.
        QStringList fitLines{QStringLiteral("Reading files from: ") +
                             QFile::decodeName(QByteArray::fromStdString(loaded.session->origin.bkfPath))};
        for (std::uint64_t index : loaded.refused) {
          fitLines << QStringLiteral("Refused: %1: %2")
                          .arg(QString::fromStdU16String(ostrel::CataloguePath(loaded.session->catalogue, index)),
                               QString::fromStdString(ostrel::NotADataStreamReason(loaded.session->origin.bkfPath)));
        }
        SetSession(std::move(loaded.session));
        // Checked while marked running, also after a Stop that came too late
        // to end the reading: the nodes keep the marks stored in the file.
        app_.SetProcessRunning(true, /*announce=*/false);
        ShowCatalogueTopLevel();
        const QString bkfPath = QFile::decodeName(QByteArray::fromStdString(ostrel::PathFromUtf16(loaded.bkfPath)));
        output_->AppendLine(QStringLiteral("BKF file name:  ") + bkfPath);
        for (const QString& line : fitLines) output_->AppendLine(line);
        output_->AppendLine(QStringLiteral("Loading of BKF file snapshot has been completed.     ") + FormatLogTime());
        output_->ScrollToLastLine();
        app_.bkfPath = bkfPath;
        app_.SetProcessRunning(false);
      });
}

}  // namespace ostrel::app
