#include "app/search_dialog.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QGridLayout>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <algorithm>

#include "app/catalogue_items.h"
#include "app/dialog_units.h"
#include "app/dialog_worker.h"
#include "app/main_frame.h"
#include "app/prompts.h"
#include "app/save_dialog.h"
#include "app/search_job.h"
#include "app/shell_queries.h"
#include "app/texts.h"
#include "app/ui_thread.h"
#include "app/wait_cursor.h"
#include "reader/recovery_paths.h"
#include "reader/scanner.h"

namespace ostrel::app {
namespace {

// Hits are handed to the dialog in batches of at most this many, and at least
// whenever the dialog has taken the previous batch.

}  // namespace

// ------------------------------------------------------------ result model

void SearchResultModel::Append(const std::vector<std::uint64_t>& files) {
  if (files.empty()) return;
  const int first = static_cast<int>(files_.size());
  beginInsertRows({}, first, first + static_cast<int>(files.size()) - 1);
  files_.insert(files_.end(), files.begin(), files.end());
  endInsertRows();
}

void SearchResultModel::Clear() {
  beginResetModel();
  files_.clear();
  endResetModel();
}

void SearchResultModel::RemoveRows(std::vector<int> rows) {
  if (rows.empty()) return;
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  beginResetModel();
  std::vector<std::uint64_t> kept;
  kept.reserve(files_.size() - std::min(files_.size(), rows.size()));
  std::size_t next = 0;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (next < rows.size() && static_cast<std::size_t>(rows[next]) == i) {
      ++next;
      continue;
    }
    kept.push_back(files_[i]);
  }
  files_.swap(kept);
  endResetModel();
}

QString SearchResultModel::PathOf(std::uint64_t file) const {
  const FileNode& node = catalogue_.FileAt(file);
  auto folder = folderPaths_.find(node.parent);
  if (folder == folderPaths_.end()) folder = folderPaths_.insert(node.parent, NameText(catalogue_.Tree().NodePath(node.parent)));
  return *folder + NameText(node.name);
}

int SearchResultModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(files_.size());
}

int SearchResultModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant SearchResultModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const std::uint64_t file = files_[static_cast<std::size_t>(index.row())];
  const FileNode& node = catalogue_.FileAt(file);
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      switch (index.column()) {
        case 0:
          return PathOf(file);
        case 1:
          // The type comes from the name alone: a dot in a folder's name
          // ("v4.0.30319\Config\README") says nothing of the file's type.
          return FileTypeName(NameText(node.name));
        case 2:
          return QString::number(node.dataLength);
      }
      break;
    case Qt::DecorationRole:
      if (index.column() == 0) return FileIcon(NameText(node.name));
      break;
    case Qt::UserRole:
      return QVariant::fromValue<qulonglong>(file);
  }
  return {};
}

QVariant SearchResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case 0:
      return QStringLiteral("File Name");
    case 1:
      return QStringLiteral("File Type");
    case 2:
      return QStringLiteral("File Size(Bytes)");
  }
  return {};
}

// ------------------------------------------------------------------ dialog

CKorvaneDlgSearchBkfFiles::CKorvaneDlgSearchBkfFiles(CMainFrame& frame, QWidget* parent)
    : QDialog(parent != nullptr ? parent : &frame), frame_(frame), job_(std::make_unique<SearchJob>(frame.App())) {
  connect(job_.get(), &SearchJob::progressed, this, &CKorvaneDlgSearchBkfFiles::Flush);
  connect(job_.get(), &SearchJob::finished, this, &CKorvaneDlgSearchBkfFiles::OnFinished);
  setWindowTitle(QStringLiteral("Search file(s)"));
  UseDialogFrame(this);
  setWindowIcon(QIcon(QStringLiteral(":/artwork/search.png")));
  const DialogUnits du(this);

  // The pattern and the search button.
  auto* prompt = new QLabel(QStringLiteral("Enter text to search:"), this);
  pattern_ = new QLineEdit(QStringLiteral("*.*"), this);
  pattern_->setMinimumWidth(du.X(291));
  prompt->setBuddy(pattern_);
  search_ = new QToolButton(this);
  search_->setIcon(QIcon(QStringLiteral(":/artwork/search.png")));
  search_->setToolTip(QStringLiteral("Search file(s)..."));
  search_->setMinimumSize(du.Size(25, 21));
  auto* patternRow = new QHBoxLayout;
  patternRow->addWidget(prompt);
  patternRow->addWidget(pattern_, 1);
  patternRow->addWidget(search_);

  // Saving the listed files: destination, Save, Remove, hierarchy.
  auto* group = new QGroupBox(this);
  const DestinationControls controls =
      AddDestinationControls(group, du, 229, 62, QIcon(QStringLiteral(":/artwork/save.png")));
  destination_ = controls.edit;
  browse_ = controls.browse;
  save_ = controls.save;
  hierarchy_ = controls.hierarchy;
  remove_ = new QPushButton(QStringLiteral("Remove file(s)"), group);
  remove_->setMinimumWidth(du.X(62));
  controls.grid->setColumnMinimumWidth(4, du.X(5));
  controls.grid->addWidget(remove_, 0, 5);

  model_ = new SearchResultModel(frame.Session()->catalogue, this);
  results_ = new QTableView(this);
  results_->setModel(model_);
  results_->setMinimumSize(du.Size(396, 100));
  results_->setShowGrid(true);
  results_->setSelectionBehavior(QAbstractItemView::SelectRows);
  results_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  results_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  results_->setWordWrap(false);
  results_->verticalHeader()->hide();
  results_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  results_->verticalHeader()->setDefaultSectionSize(results_->fontMetrics().height() + 4);
  results_->horizontalHeader()->resizeSection(0, 300);
  results_->horizontalHeader()->resizeSection(1, 250);
  results_->horizontalHeader()->resizeSection(2, 250);

  // The progress bar and the total share a row, and Stop and OK a place:
  // one of each pair is shown at a time, and a hidden one keeps its room.
  progress_ = new QProgressBar(this);
  progress_->setTextVisible(false);
  totalCaption_ = new QLabel(QStringLiteral("Total No. of files :"), this);
  total_ = new QLabel(this);
  total_->setMinimumWidth(du.X(45));
  wait_ = new QLabel(QStringLiteral("Please wait while process is running...."), this);
  stop_ = new QPushButton(QIcon(QStringLiteral(":/artwork/stop.png")), QStringLiteral("Stop"), this);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  for (QPushButton* b : {stop_, ok_}) b->setMinimumWidth(du.X(55));
  foundCaption_ = new QLabel(QStringLiteral("File found:"), this);
  found_ = new QLabel(this);
  found_->setMinimumWidth(du.X(60));
  for (QWidget* w : std::initializer_list<QWidget*>{progress_, totalCaption_, total_, wait_, stop_, ok_, foundCaption_,
                                                    found_}) {
    KeepRoomWhenHidden(w);
  }
  QGridLayout* status = RowTakingTurns(totalCaption_, total_, progress_);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(wait_);
  bottom->addStretch(1);
  bottom->addLayout(PlaceTakingTurns(stop_, ok_));
  bottom->addStretch(1);
  bottom->addWidget(foundCaption_);
  bottom->addWidget(found_);

  auto* root = new QVBoxLayout(this);
  root->setSizeConstraint(QLayout::SetFixedSize);
  root->addLayout(patternRow);
  root->addWidget(group);
  root->addWidget(results_);
  root->addLayout(status);
  root->addLayout(bottom);

  for (QPushButton* b : {save_, remove_, browse_, stop_}) b->setAutoDefault(false);
  ok_->setAutoDefault(false);

  connect(search_, &QToolButton::clicked, this, &CKorvaneDlgSearchBkfFiles::OnSearch);
  connect(stop_, &QPushButton::clicked, this, &CKorvaneDlgSearchBkfFiles::OnStop);
  connect(remove_, &QPushButton::clicked, this, &CKorvaneDlgSearchBkfFiles::OnRemove);
  connect(save_, &QPushButton::clicked, this, &CKorvaneDlgSearchBkfFiles::OnSaveFiles);
  connect(browse_, &QPushButton::clicked, this, &CKorvaneDlgSearchBkfFiles::OnBrowse);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  // A click on a row goes out as the result list's message and comes back here.
  ShellMessages& messages = frame_.App().messages();
  connect(results_, &QTableView::clicked, this, [&messages](const QModelIndex& index) {
    if (index.isValid()) emit messages.resultClick(index.row());
  });
  connect(&messages, &ShellMessages::resultClick, this, &CKorvaneDlgSearchBkfFiles::OnResultClick);

  fileCount_ = frame.Session()->catalogue.FileCount();
  for (QWidget* w : std::initializer_list<QWidget*>{stop_, progress_, totalCaption_, total_, foundCaption_, found_, wait_}) {
    w->hide();
  }
}

// The job goes first: a search still running is stopped and waited for.
CKorvaneDlgSearchBkfFiles::~CKorvaneDlgSearchBkfFiles() { job_.reset(); }

QString CKorvaneDlgSearchBkfFiles::EffectivePattern(const QString& typed) {
  const QString pattern = typed.trimmed();
  if (pattern.isEmpty()) return {};
  return pattern.contains(QLatin1Char('*')) ? pattern : QStringLiteral("*%1*").arg(pattern);
}

void CKorvaneDlgSearchBkfFiles::OnSearch() {
  if (IsSearching()) return;
  CKorvaneBKFFileRepProjApp& app = frame_.App();
  totalCaption_->hide();
  total_->hide();
  const QString pattern = EffectivePattern(pattern_->text());
  if (pattern.isEmpty()) {
    Tell(app.prompts(), this, QStringLiteral("Enter text pattern to search files."));
    return;
  }
  if (app.IsProcessRunning() || !frame_.HasCatalogue()) return;

  model_->Clear();
  progress_->setRange(0, static_cast<int>(std::min<std::uint64_t>(fileCount_, INT32_MAX)));
  progress_->setValue(0);
  found_->setText(QStringLiteral("0"));
  SetSearching(true);
  app.SetProcessRunning(true);

  searching_ = true;
  const Catalogue& catalogue = frame_.Session()->catalogue;
  std::u16string wanted(reinterpret_cast<const char16_t*>(pattern.utf16()), static_cast<std::size_t>(pattern.size()));
  job_->Start(catalogue, std::move(wanted), std::min(fileCount_, catalogue.FileCount()));
}

void CKorvaneDlgSearchBkfFiles::Flush() {
  const std::vector<std::uint64_t> batch = job_->TakeHits();
  if (!batch.empty()) {
    model_->Append(batch);
    results_->scrollToBottom();
    found_->setText(QString::number(model_->rowCount()));
  }
  progress_->setValue(static_cast<int>(std::min<std::uint64_t>(job_->Scanned(), INT32_MAX)));
}

void CKorvaneDlgSearchBkfFiles::OnFinished() {
  Flush();
  searching_ = false;
  progress_->setValue(progress_->maximum());
  progress_->hide();
  progress_->setValue(0);
  SetSearching(false);
  frame_.App().SetProcessRunning(false);
  total_->setText(QString::number(model_->rowCount()));
  totalCaption_->show();
  total_->show();
  emit searchFinished();
}

void CKorvaneDlgSearchBkfFiles::SetSearching(bool searching) {
  for (QWidget* w : std::initializer_list<QWidget*>{ok_, search_, pattern_, destination_, browse_, save_, remove_, hierarchy_}) {
    w->setEnabled(!searching);
  }
  progress_->setVisible(searching);
  stop_->setVisible(searching);
  ok_->setVisible(!searching);
  foundCaption_->setVisible(searching);
  found_->setVisible(searching);
  wait_->setVisible(searching);
}

void CKorvaneDlgSearchBkfFiles::OnStop() {
  if (IsSearching()) AskToStop(frame_.App(), this);
}

void CKorvaneDlgSearchBkfFiles::OnRemove() {
  if (IsSearching()) return;
  Prompts& prompts = frame_.App().prompts();
  const QModelIndexList selected = results_->selectionModel()->selectedRows();
  if (selected.isEmpty()) {
    Tell(prompts, this, QStringLiteral("No file(s) selected to remove."));
    return;
  }
  {
    WaitCursor wait;
    std::vector<int> rows;
    rows.reserve(static_cast<std::size_t>(selected.size()));
    for (const QModelIndex& index : selected) rows.push_back(index.row());
    model_->RemoveRows(std::move(rows));
  }
  if (model_->rowCount() > 0) {
    total_->setText(QString::number(model_->rowCount()));
    totalCaption_->show();
    total_->show();
  } else {
    totalCaption_->hide();
    total_->hide();
    Tell(prompts, this, QStringLiteral("No file(s) is present in the list to remove."));
  }
}

void CKorvaneDlgSearchBkfFiles::OnSaveFiles() {
  if (IsSearching()) return;
  if (model_->rowCount() == 0) {
    Tell(frame_.App().prompts(), this, QStringLiteral("No file(s) is present in the list to save."));
    return;
  }
  CKorvaneDlgSaveRecoveredFiles dialog(frame_, this);
  dialog.SetFiles(model_->Files());
  dialog.SetDestination(destination_->text());
  dialog.SetHierarchy(hierarchy_->isChecked());
  // Saving starts as soon as the dialog is up; a refused destination can be
  // corrected there.
  QMetaObject::invokeMethod(&dialog, &CKorvaneDlgSaveRecoveredFiles::StartSaving, Qt::QueuedConnection);
  dialog.exec();
}

void CKorvaneDlgSearchBkfFiles::OnBrowse() {
  if (!IsSearching()) BrowseForDestination(frame_.App().prompts(), this, destination_);
}

void CKorvaneDlgSearchBkfFiles::OnResultClick(int) {
  // Rows are only looked at; a click while searching is ignored as well.
}

void CKorvaneDlgSearchBkfFiles::done(int result) {
  if (!RefuseToClose(frame_.App(), this, IsSearching())) QDialog::done(result);
}

}  // namespace ostrel::app
