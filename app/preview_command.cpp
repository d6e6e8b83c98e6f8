#include "app/preview_command.h"

#include <errno.h>

#include <cstring>

#include <QTreeWidgetItem>

#include "app/catalogue_items.h"
#include "app/main_frame.h"
#include "app/output_wnd.h"
#include "app/panes.h"
#include "app/preview_job.h"
#include "app/prompts.h"
#include "app/shell_queries.h"
#include "app/texts.h"
#include "preview/preview_dispatch.h"
#include "preview/preview_types.h"
#include "preview/static_file_viewer.h"
#include "preview/temp_folder.h"
#include "reader/recovery_paths.h"
#include "reader/recovery_session.h"
#include "widgets/check_tree.h"

namespace ostrel::app {
namespace {

// Creates the copy's file in the prepared folder under the node's name made
// safe (no separator, no NUL, no control character, at most 255 bytes). When
// the file system of the temporary folder refuses that name, its portable
// form is tried. Answers the descriptor and the name used, or -1 with why.
int CreateCopyFile(const QString& folder, std::u16string_view nodeName, QString* name, QString* reason) {
  const std::string safe = SafeComponent(nodeName);
  *name = QString::fromStdString(safe);
  int error = 0;
  int fd = preview::CreatePreviewFile(folder, *name, reason, &error);
  if (fd < 0 && (error == EINVAL || error == EILSEQ)) {
    const std::string portable = PortableComponent(safe);
    if (portable != safe) {
      *name = QString::fromStdString(portable);
      fd = preview::CreatePreviewFile(folder, *name, reason, &error);
    }
  }
  return fd;
}

}  // namespace

QTreeWidgetItem* FindChildItemByText(QTreeWidgetItem* parent, const QString& text) {
  if (parent == nullptr) return nullptr;
  for (int i = 0; i < parent->childCount(); ++i) {
    if (parent->child(i)->text(0) == text) return parent->child(i);
  }
  return nullptr;
}

QString MailPageName(const QString& fileName) {
  return fileName.toUpper().replace(QStringLiteral(".EML"), QStringLiteral(".HTM"));
}

void CMainFrame::OnPreviewFile(int row) {
  if (RefuseWhileRunning(kWaitForProcess)) return;
  // After Stop the copy may still be ending; the next one waits for it.
  if (previewCopying_) {
    Tell(app_.prompts(), this, kWaitForProcess);
    return;
  }
  if (row < 0 || row >= List()->Rows()->rowCount()) return;
  const FileListRow listed = List()->Rows()->Row(row);

  // The tree follows the list: the file's own item (or the folder when no
  // item has the name) becomes the selected and drop-highlighted one.
  QTreeWidgetItem* folder = listSource_;
  QTreeWidgetItem* target = nullptr;
  if (folder != nullptr) {
    target = FindChildItemByText(folder, listed.name);
    if (target == nullptr) target = folder;
  }
  widgets::CKorvaneCheckTree* tree = CheckTree();
  if (folder != nullptr) tree->SetExpandedBit(folder, false);
  if (target != nullptr) {
    tree->SelectItemNotify(target);
    tree->SetDropHighlight(target);
    tree->SetExpandedBit(target, true);
  }
  if (listed.type == kFolderTypeName) return;
  const NodeRef ref = RefOf(target);
  if (ref.kind == NodeKind::None || !HasCatalogue()) return;

  // From here on the preview counts as a running process until it ends.
  app_.SetProcessRunning(true);
  const auto notPreviewed = [this] { app_.SetProcessRunning(false); };
  if (ref.kind != NodeKind::File || ref.index >= session_->catalogue.FileCount()) return notPreviewed();
  const FileNode& node = session_->catalogue.FileAt(ref.index);
  if (node.kind != 'F' || node.dataPosition == 0) return notPreviewed();
  if (node.dataLength >= kPreviewRefusalSize) {
    Tell(app_.prompts(), this, kPreviewTooLarge);
    return notPreviewed();
  }

  output_->ShowFileViewerTab();
  preview::CleanTempFolder();
  QString reason;
  const QString tempFolder = preview::PrepareTempFolder(&reason);
  if (tempFolder.isEmpty()) {
    output_->AppendLine(QStringLiteral("The preview cannot use its temporary folder: ") + reason);
    return notPreviewed();
  }
  QString copyName;
  const int fd = CreateCopyFile(tempFolder, node.name, &copyName, &reason);
  if (fd < 0) {
    output_->AppendLine(QStringLiteral("The preview of %1 cannot be written: %2").arg(NameText(node.name), reason));
    return notPreviewed();
  }
  pendingPreview_ = {tempFolder, copyName, preview::GetFileExtension(NameText(node.name)), NameText(node.name)};
  FileViewer()->SetLoading(true);
  previewCopying_ = true;
  PreviewWork().Start(node, session_->file, fd, tempFolder + QLatin1Char('/') + copyName,
                      pendingPreview_.extension.toUpper());
}

PreviewJob& CMainFrame::PreviewWork() {
  if (!previewJob_) {
    previewJob_ = std::make_unique<PreviewJob>(app_);
    connect(previewJob_.get(), &PreviewJob::finished, this, &CMainFrame::OnPreviewCopied);
  }
  return *previewJob_;
}

void CMainFrame::OnPreviewCopied(JobOutcome outcome) {
  previewCopying_ = false;
  FileViewer()->SetLoading(false);
  const PendingPreview pending = pendingPreview_;
  const auto done = [this] { app_.SetProcessRunning(false); };
  if (outcome == JobOutcome::Failed) {
    output_->AppendLine(QStringLiteral("The preview of %1 failed.").arg(pending.nodeName));
    return done();
  }
  switch (previewJob_->Outcome()) {
    case ExtractOutcome::NoData:
    case ExtractOutcome::CannotCreate:
    case ExtractOutcome::Empty:
      return done();
    case ExtractOutcome::Continuation:
      Tell(app_.prompts(), this, kPreviewContinuation);
      return done();
    case ExtractOutcome::Split:
      Tell(app_.prompts(), this, kPreviewSplit);
      return done();
    case ExtractOutcome::Extracted:
      break;
  }
  const ExtractStats& stats = previewJob_->Stats();
  const std::string missing = MissingDataText(stats);
  if (!missing.empty()) {
    output_->AppendLine(QStringLiteral("The preview of %1 is incomplete: part of it could not be read (%2).")
                            .arg(pending.nodeName, QString::fromStdString(missing)));
  }
  if (stats.stopped) {
    output_->AppendLine(QStringLiteral("The preview of %1 was stopped: it shows only its first %2 bytes.")
                            .arg(pending.nodeName, QString::number(stats.bytesWritten)));
  }
  if (stats.systemError != 0) {
    output_->AppendLine(QStringLiteral("The preview of %1 shows only its first %2 bytes: %3")
                            .arg(pending.nodeName, QString::number(stats.bytesWritten),
                                 QString::fromLocal8Bit(std::strerror(stats.systemError))));
  }

  QString copyName = pending.copyName;
  QString extension = pending.extension;
  // A mail message is shown as a page: its copy gets an upper-case name
  // ending in ".HTM". Only the extension "eml" as written counts.
  if (extension == QStringLiteral("eml")) {
    const QString page = MailPageName(copyName);
    if (preview::RenamePreviewFile(pending.folder, copyName, page)) copyName = page;
    extension = QStringLiteral("HTM");
  }
  preview::CKorvaneStaticFileViewer* pane = FileViewer();
  pane->setWindowTitle(QString());
  const QString folder = pending.folder + QLatin1Char('/');
  QString note;
  preview::ShowPreviewByType(*pane, folder + copyName, extension.toUpper(), folder, &previewJob_->Prepared(), &note);
  if (!note.isEmpty()) output_->AppendLine(note);
  done();
}

}  // namespace ostrel::app
