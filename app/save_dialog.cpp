#include "app/save_dialog.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QBoxLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QStyle>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <unordered_map>

#include "app/catalogue_items.h"
#include "app/dialog_units.h"
#include "app/dialog_worker.h"
#include "app/log_time.h"
#include "app/main_frame.h"
#include "app/output_wnd.h"
#include "app/save_job.h"
#include "app/prompts.h"
#include "app/texts.h"
#include "app/ui_thread.h"
#include "reader/scanner.h"
#include "widgets/check_tree.h"

namespace ostrel::app {
namespace {

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

constexpr int kProgressSteps = 10000;

}  // namespace

std::vector<std::uint64_t> CheckedFilesToSave(const widgets::CKorvaneCheckTree& tree,
                                              const Catalogue& catalogue) {
  std::unordered_map<std::uint64_t, QTreeWidgetItem*> fileItems, folderItems;
  for (QTreeWidgetItemIterator it(const_cast<widgets::CKorvaneCheckTree*>(&tree)); *it; ++it) {
    const NodeRef ref = RefOf(*it);
    if (ref.kind == NodeKind::File) fileItems.emplace(ref.index, *it);
    if (ref.kind == NodeKind::Folder) folderItems.emplace(ref.index, *it);
  }
  const auto& folders = catalogue.Tree();
  // Per folder: -1 not decided yet, 0 not saved, 1 saved.
  std::vector<std::int8_t> decided(static_cast<std::size_t>(folders.Count()), -1);
  std::vector<std::uint64_t> chain;
  auto folderSaved = [&](std::uint64_t folder) {
    chain.clear();
    std::int8_t answer = 0;
    // Up to the nearest folder that has an item (or was decided before); a
    // damaged parent chain cannot loop for ever.
    for (std::uint64_t f = folder, steps = 0; folders.IsNode(f) && steps <= folders.Count();
         f = folders.NodeAt(f).parent, ++steps) {
      if (decided[f] >= 0) {
        answer = decided[f];
        break;
      }
      chain.push_back(f);
      const auto item = folderItems.find(f);
      if (item != folderItems.end()) {
        answer = tree.GetCheck(item->second) ? 1 : 0;
        break;
      }
    }
    for (std::uint64_t f : chain) decided[f] = answer;
    return answer == 1;
  };
  std::vector<std::uint64_t> out;
  for (std::uint64_t i = 0; i < catalogue.FileCount(); ++i) {
    const auto item = fileItems.find(i);
    const bool saved = item != fileItems.end() ? tree.GetCheck(item->second)
                                               : folderSaved(catalogue.FileAt(i).parent);
    if (saved) out.push_back(i);
  }
  return out;
}

CKorvaneDlgSaveRecoveredFiles::CKorvaneDlgSaveRecoveredFiles(CMainFrame& frame, QWidget* parent)
    : QDialog(parent != nullptr ? parent : &frame),
      frame_(frame),
      job_(std::make_unique<SaveJob>(frame.App())) {
  connect(job_.get(), &SaveJob::progressed, this, &CKorvaneDlgSaveRecoveredFiles::Flush);
  connect(job_.get(), &SaveJob::finished, this, &CKorvaneDlgSaveRecoveredFiles::OnFinished);
  setWindowTitle(QStringLiteral("Save recovered file(s)"));
  UseDialogFrame(this);
  const DialogUnits du(this);

  // The destination, its Save button and the hierarchy choice.
  auto* group = new QGroupBox(kSelectDestinationTitle, this);
  const DestinationControls controls = AddDestinationControls(group, du, 285, 65);
  destination_ = controls.edit;
  browse_ = controls.browse;
  save_ = controls.save;
  hierarchy_ = controls.hierarchy;
  // Windows refuses < > : " \ | ? *, trailing dots and blanks, and device
  // names; drives formatted for it are recognised and get these names anyway.
  portable_ = new QCheckBox(QStringLiteral("Save with portable names (for Windows drives)"), group);
  portable_->setToolTip(QStringLiteral("< > : \" \\ | ? * become _, trailing dots and blanks go, "
                                       "and CON, PRN, AUX, NUL, COM1-9 and LPT1-9 get a leading _"));
  controls.grid->addWidget(portable_, 2, 0, 1, -1);

  list_ = new QTreeWidget(this);
  list_->setMinimumSize(du.Size(386, 114));
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setHeaderLabels({QStringLiteral("File Name"), QStringLiteral("File Size(Bytes)"), QStringLiteral("Status")});
  list_->header()->setStretchLastSection(false);
  list_->header()->resizeSection(0, 300);
  list_->header()->resizeSection(1, std::max(110, list_->header()->sectionSizeHint(1)));
  list_->header()->resizeSection(2, std::max(150, list_->header()->sectionSizeHint(2)));

  // The count and the progress bar share a row, and Stop and Close a place:
  // one of each pair is shown at a time. Hidden ones keep their room, so
  // nothing moves when they change places.
  countCaption_ = new QLabel(QStringLiteral("Total no. of files saved:"), this);
  count_ = new QLabel(QStringLiteral("0"), this);
  count_->setMinimumWidth(du.X(35));
  progress_ = new QProgressBar(this);
  progress_->setRange(0, kProgressSteps);
  progress_->setTextVisible(false);
  wait_ = new QLabel(QStringLiteral("Please wait while files are saving...."), this);
  stop_ = new QPushButton(QStringLiteral("Stop"), this);
  close_ = new QPushButton(QStringLiteral("Close"), this);
  for (QPushButton* b : {stop_, close_}) b->setMinimumWidth(du.X(55));
  for (QWidget* w : std::initializer_list<QWidget*>{progress_, wait_, stop_, close_}) KeepRoomWhenHidden(w);
  QGridLayout* status = RowTakingTurns(countCaption_, count_, progress_);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(wait_);
  bottom->addLayout(PlaceTakingTurns(stop_, close_));
  bottom->addStretch(1);

  auto* root = new QVBoxLayout(this);
  root->setSizeConstraint(QLayout::SetFixedSize);
  root->addWidget(group);
  root->addWidget(list_);
  root->addLayout(status);
  root->addLayout(bottom);

  connect(save_, &QPushButton::clicked, this, &CKorvaneDlgSaveRecoveredFiles::StartSaving);
  connect(browse_, &QPushButton::clicked, this, &CKorvaneDlgSaveRecoveredFiles::OnBrowse);
  connect(stop_, &QPushButton::clicked, this, &CKorvaneDlgSaveRecoveredFiles::OnStop);
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);

  progress_->hide();
  wait_->hide();
  stop_->hide();
  close_->setDefault(false);
  close_->setAutoDefault(false);
  save_->setAutoDefault(false);
}

// The job goes first (a work still running is stopped and waited for), while
// the members its questions reach still exist.
CKorvaneDlgSaveRecoveredFiles::~CKorvaneDlgSaveRecoveredFiles() { job_.reset(); }

void CKorvaneDlgSaveRecoveredFiles::SetDestination(const QString& folder) { destination_->setText(folder); }
void CKorvaneDlgSaveRecoveredFiles::SetHierarchy(bool on) { hierarchy_->setChecked(on); }
void CKorvaneDlgSaveRecoveredFiles::SetPortableNames(bool on) { portable_->setChecked(on); }

ExistingFiles CKorvaneDlgSaveRecoveredFiles::AskExisting(const QString& path) {
  MessageRequest request;
  request.owner = this;
  request.caption = kAppCaption;
  request.text = QStringLiteral("\"%1\" already exists in the destination folder.\n\n"
                                "Replace: the recovered files replace the files that exist.\n"
                                "Keep both: each recovered file is saved under the next free number, "
                                "as \"name (2).ext\".\n"
                                "Stop: saving ends here.")
                     .arg(path);
  request.icon = MessageIcon::Question;
  request.buttons = MessageButtons::YesNoCancel;
  request.buttonTexts = {QStringLiteral("Replace"), QStringLiteral("Keep both"), QStringLiteral("Stop")};
  request.defaultAnswer = MessageAnswer::No;
  switch (frame_.App().prompts().ShowMessage(request)) {
    case MessageAnswer::Yes: return ExistingFiles::Replace;
    case MessageAnswer::Cancel: return ExistingFiles::Stop;
    default: return ExistingFiles::KeepBoth;
  }
}

void CKorvaneDlgSaveRecoveredFiles::OnBrowse() {
  if (!IsSaving()) BrowseForDestination(frame_.App().prompts(), this, destination_);
}

bool CKorvaneDlgSaveRecoveredFiles::StartSaving() {
  CKorvaneBKFFileRepProjApp& app = frame_.App();
  if (IsSaving() || app.IsProcessRunning()) return false;
  Prompts& prompts = app.prompts();
  if (!frame_.HasCatalogue()) {
    Tell(prompts, this, kSelectBkfFirst);
    return false;
  }
  const QString destination = QDir::cleanPath(destination_->text().trimmed());
  if (destination_->text().trimmed().isEmpty()) {
    Tell(prompts, this, QStringLiteral("Please select destination path to save files."));
    return false;
  }
  std::vector<std::uint64_t> files =
      fixedFiles_ ? *fixedFiles_ : CheckedFilesToSave(*frame_.CheckTree(), frame_.Session()->catalogue);
  if (files.empty()) {
    Tell(prompts, this, QStringLiteral("No file(s) selected to save."));
    return false;
  }
  std::string error;
  auto opened = std::make_shared<std::optional<Destination>>(
      PrepareDestination(QFile::encodeName(destination).toStdString(), error));
  if (!*opened) {
    Tell(prompts, this,
         QStringLiteral("Cannot save files to \"%1\": %2.").arg(destination, FromUtf8(error)),
         MessageIcon::Exclamation);
    return false;
  }

  files_ = std::move(files);
  destinationText_ = destination;
  list_->clear();
  savedCount_ = 0;
  savedDamaged_ = 0;
  savedCutShort_ = 0;
  verified_ = 0;
  mismatched_ = 0;
  markedCorrupt_ = 0;
  notRecovered_ = 0;
  renamed_ = kept_ = replaced_ = 0;
  count_->setText(QStringLiteral("0"));
  progress_->setValue(0);
  SetRunning(true);
  saving_ = true;

  COutputWnd* log = frame_.OutputWnd();
  log->AppendBlankLine();
  log->AppendLine(QStringLiteral("Saving %1 file(s) to \"%2\" starts.  %3")
                      .arg(files_.size())
                      .arg(destination, FormatLogTime()));
  log->ScrollToLastLine();

  app.SetProcessRunning(true);
  const RecoverySession* session = frame_.Session();
  const bool hierarchy = hierarchy_->isChecked();
  SaveOptions options;
  options.portableNames = portable_->isChecked();
  options.askExisting = [this, &app](const std::string& path) {
    auto asked = std::make_shared<std::promise<ExistingFiles>>();
    std::future<ExistingFiles> answer = asked->get_future();
    const QString name = QFile::decodeName(QByteArray::fromStdString(path));
    PostTo(this, [this, asked, name] { asked->set_value(AskExisting(name)); });
    // The window's thread may wait for this one (a dialog destroyed while
    // saving clears the flag and waits), so this one never blocks on it.
    while (answer.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
      if (!app.IsProcessRunning()) return ExistingFiles::Stop;
    }
    return answer.get();
  };
  job_->Start(*session, std::move(**opened), hierarchy, std::move(options), files_);
  return true;
}

QString CKorvaneDlgSaveRecoveredFiles::PathText(std::uint64_t index) const {
  const std::u16string path = CataloguePath(frame_.Session()->catalogue, index);
  return QString::fromUtf16(path.data(), static_cast<qsizetype>(path.size()));
}

void CKorvaneDlgSaveRecoveredFiles::Flush() {
  const std::vector<SaveJob::Entry> entries = job_->TakeEntries();
  if (!entries.empty()) {
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(entries.size()));
    COutputWnd* log = frame_.OutputWnd();
    for (const SaveJob::Entry& e : entries) {
      const SaveResult& r = e.result;
      const QString reason = FromUtf8(r.reason);
      // What the status says after its first word: the reason, then every
      // name that changed on the way (folders once per run), also in the log.
      QStringList said;
      if (!reason.isEmpty()) said << reason;
      for (const NameChange& change : r.changes) {
        said << FromUtf8(change.message);
        log->AppendLine(FromUtf8(change.message));
        renamed_ += change.portable ? 1 : 0;
        kept_ += change.existing && !change.folder ? 1 : 0;
        replaced_ += change.replaced ? 1 : 0;
      }
      QString status;
      switch (r.status) {
        case SaveStatus::Saved:
          ++savedCount_;
          status = QStringLiteral("Saved");
          break;
        case SaveStatus::SavedIncomplete:
          ++savedCount_;
          if (r.unreadableBytes != 0) {
            ++savedDamaged_;
            status = QStringLiteral("Saved with damage");
          } else {
            ++savedCutShort_;
            status = QStringLiteral("Saved cut short");
          }
          break;
        case SaveStatus::NotRecovered:
          ++notRecovered_;
          status = QStringLiteral("Not recovered");
          break;
        case SaveStatus::WriteFailed:
        case SaveStatus::Stopped:
        case SaveStatus::ReadLimit:
          ++notRecovered_;
          status = QStringLiteral("Not saved");
          break;
      }
      const bool written = r.status == SaveStatus::Saved || r.status == SaveStatus::SavedIncomplete;
      // What the checksum the backup wrote after the data says of it.
      if (written && r.checksum == ostrel::ChecksumStatus::Verified) {
        ++verified_;
        status += QStringLiteral(", verified");
      } else if (written && r.checksum == ostrel::ChecksumStatus::Mismatch) {
        ++mismatched_;
        status += QStringLiteral(", checksum mismatch");
        said.prepend(QStringLiteral("the data differs from what was backed up"));
        log->AppendLine(QStringLiteral("File saved, checksum mismatch: %1 (the data differs from what was backed up)")
                            .arg(PathText(e.index)));
      } else if (written && r.checksum == ostrel::ChecksumStatus::MarkedCorrupt) {
        ++markedCorrupt_;
        status += QStringLiteral(", marked corrupt by the backup program");
        log->AppendLine(QStringLiteral("File saved, marked corrupt by the backup program: %1").arg(PathText(e.index)));
      }
      if (!said.isEmpty()) status += QStringLiteral(": ") + said.join(QStringLiteral("; "));
      const QString name = written ? QFile::decodeName(r.path.c_str()) : PathText(e.index);
      auto* row = new QTreeWidgetItem({name, QString::number(r.bytes), status});
      row->setToolTip(0, name);
      row->setToolTip(2, status);
      rows.append(row);
      WidenToFit(0, name);
      WidenToFit(2, status);
      if (r.status == SaveStatus::SavedIncomplete) {
        log->AppendLine(QStringLiteral("File saved incomplete: %1 (%2)").arg(PathText(e.index), reason));
      } else if (r.status != SaveStatus::Saved) {
        log->AppendLine(QStringLiteral("File could not be recovered: %1 (%2)").arg(PathText(e.index), reason));
      }
    }
    list_->addTopLevelItems(rows);
    list_->scrollToItem(rows.back());
    count_->setText(QString::number(savedCount_));
  }
  const std::uint64_t total = files_.empty() ? 1 : files_.size();
  const std::uint64_t units = std::min<std::uint64_t>(job_->FilesDone() * 1000 + job_->FilePermille(), total * 1000);
  progress_->setValue(static_cast<int>(units * kProgressSteps / (total * 1000)));
}

void CKorvaneDlgSaveRecoveredFiles::WidenToFit(int column, const QString& text) {
  // Paths and reasons are shown whole; the list scrolls sideways instead.
  const int margin = 2 * (list_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list_) + 1) + 4;
  const int wanted = list_->fontMetrics().horizontalAdvance(text) + margin;
  if (list_->header()->sectionSize(column) < wanted) list_->header()->resizeSection(column, wanted);
}

void CKorvaneDlgSaveRecoveredFiles::OnFinished() {
  Flush();
  const SaveJob::Ending finished = job_->TakeEnding();
  saving_ = false;
  CKorvaneBKFFileRepProjApp& app = frame_.App();
  app.SetProcessRunning(false);
  progress_->setValue(kProgressSteps);
  SetRunning(false);

  const int notSaved = static_cast<int>(files_.size() - finished.attempted);
  COutputWnd* log = frame_.OutputWnd();
  // Files written with zeros for unreadable data, or cut short by the end of
  // the backup, are counted apart from the complete ones.
  QStringList incomplete;
  if (savedDamaged_ > 0) incomplete << QStringLiteral("%1 with damage").arg(savedDamaged_);
  if (savedCutShort_ > 0) incomplete << QStringLiteral("%1 cut short").arg(savedCutShort_);
  QString totals = QStringLiteral("Files saved: %1").arg(savedCount_);
  if (!incomplete.isEmpty()) totals += QStringLiteral(" (%1)").arg(incomplete.join(QStringLiteral(", ")));
  if (verified_ > 0) totals += QStringLiteral(", verified by checksum: %1").arg(verified_);
  if (mismatched_ > 0) totals += QStringLiteral(", checksum mismatch: %1").arg(mismatched_);
  if (markedCorrupt_ > 0) totals += QStringLiteral(", marked corrupt: %1").arg(markedCorrupt_);
  totals += QStringLiteral(", files not recovered: %1").arg(notRecovered_);
  if (notSaved > 0) totals += QStringLiteral(", files not saved: %1").arg(notSaved);
  if (renamed_ > 0) totals += QStringLiteral(", names changed for the destination: %1").arg(renamed_);
  if (kept_ > 0) totals += QStringLiteral(", existing files kept: %1").arg(kept_);
  if (replaced_ > 0) totals += QStringLiteral(", existing files replaced: %1").arg(replaced_);
  QString headline;
  if (finished.writeFailure) {
    const SaveResult& w = *finished.writeFailure;
    headline = QStringLiteral("Saving stopped: \"%1\" could not be written (%2).")
                   .arg(QFile::decodeName(w.path.c_str()), FromUtf8(w.reason));
  } else if (!finished.readLimit.empty()) {
    headline = QStringLiteral("Saving stopped: %1.").arg(FromUtf8(finished.readLimit));
  } else if (finished.stoppedByUser) {
    headline = QStringLiteral("Saving of recovered files was stopped.");
  } else {
    headline = QStringLiteral("Saving of recovered files is complete.");
  }
  log->AppendLine(QStringLiteral("%1 %2.  %3").arg(headline, totals, FormatLogTime()));
  log->AppendBlankLine();
  log->ScrollToLastLine();
  Tell(app.prompts(), this, headline + QLatin1Char('\n') + totals + QLatin1Char('.'),
       finished.writeFailure || !finished.readLimit.empty() ? MessageIcon::Exclamation : MessageIcon::Information);
  emit savingFinished();
}

void CKorvaneDlgSaveRecoveredFiles::SetRunning(bool running) {
  for (QWidget* w : std::initializer_list<QWidget*>{destination_, browse_, save_, hierarchy_, portable_, list_, close_}) {
    w->setEnabled(!running);
  }
  close_->setVisible(!running);
  stop_->setVisible(running);
  stop_->setEnabled(running);
  progress_->setVisible(running);
  wait_->setVisible(running);
  countCaption_->setVisible(!running);
  count_->setVisible(!running);
}

void CKorvaneDlgSaveRecoveredFiles::OnStop() {
  if (IsSaving()) AskToStop(frame_.App(), this);
}

void CKorvaneDlgSaveRecoveredFiles::done(int result) {
  if (!RefuseToClose(frame_.App(), this, IsSaving())) QDialog::done(result);
}

}  // namespace ostrel::app
