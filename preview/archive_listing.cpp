#include "preview/archive_listing.h"

#include <QAbstractTableModel>
#include <QFileInfo>
#include <QHeaderView>
#include <algorithm>
#include <climits>

#include "preview/hex_dump_view.h"
#include "preview/preview_io.h"
#include "preview/preview_types.h"
#include "preview/static_file_viewer.h"

namespace ostrel::preview {
namespace {

inline constexpr int kColumnWidth = 200;

// The rows of the list. Type names and icons are asked for when a row is
// drawn, so that a long archive costs nothing for the rows not seen.
class ArchiveEntryModel : public QAbstractTableModel {
 public:
  ArchiveEntryModel(const ShellFileTypes& types, QObject* parent) : QAbstractTableModel(parent), types_(types) {}

  void SetEntries(std::vector<ArchiveEntry> entries) {
    beginResetModel();
    entries_ = std::move(entries);
    endResetModel();
  }

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(std::min<std::size_t>(entries_.size(), INT_MAX));
  }
  int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 2; }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= entries_.size()) return {};
    const ArchiveEntry& entry = entries_[static_cast<std::size_t>(index.row())];
    // Only "-" is a file: an entry without the value counts as a folder.
    const bool folder = entry.isDirectory != QLatin1String("-");
    if (role == Qt::DisplayRole) {
      if (index.column() == 0) return entry.path;
      return folder ? QStringLiteral("Folder") : types_.typeName(entry.path);
    }
    if (role == Qt::DecorationRole && index.column() == 0) {
      return folder ? types_.folderIcon() : types_.fileIcon(entry.path);
    }
    return {};
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == 0 ? QStringLiteral("File Name") : QStringLiteral("File Type");
  }

 private:
  const ShellFileTypes& types_;
  std::vector<ArchiveEntry> entries_;
};

}  // namespace

CArchiveListView::CArchiveListView(const CKorvaneStaticFileViewer& pane) {
  setObjectName(QStringLiteral("ArchiveListView"));
  setModel(new ArchiveEntryModel(pane.ShellTypes(), this));
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  setIconSize(QSize(16, 16));
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  QHeaderView* header = horizontalHeader();
  header->setFont(pane.HeaderFont());
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  header->resizeSection(0, kColumnWidth);
  header->resizeSection(1, kColumnWidth);
}

void CArchiveListView::SetEntries(std::vector<ArchiveEntry> entries) {
  static_cast<ArchiveEntryModel*>(model())->SetEntries(std::move(entries));
  horizontalHeader()->resizeSection(0, kColumnWidth);
  horizontalHeader()->resizeSection(1, kColumnWidth);
}

int CArchiveListView::EntryCount() const { return model()->rowCount(); }

ArchiveReading ReadArchiveOf(const QString& path) {
  if (const std::optional<archive::GUID> format = ArchiveFormatOf(GetFileExtension(QFileInfo(path).fileName()))) {
    return ReadArchiveEntries(path, *format);
  }
  ArchiveReading reading;
  reading.failure = ArchiveFailure::UnknownType;
  return reading;
}

int ShowArchiveListing(CKorvaneStaticFileViewer& pane, const QString& path, QString* note) {
  const PreviewWaitCursor wait;
  return ShowArchiveReading(pane, path, ReadArchiveOf(path), note);
}

int ShowArchiveReading(CKorvaneStaticFileViewer& pane, const QString& path, ArchiveReading reading, QString* note) {
  if (!reading.entries) {
    if (reading.failure == ArchiveFailure::Library && note != nullptr) {
      *note = QStringLiteral("Archives are shown as a hex dump: ") + reading.problem + QLatin1Char('.');
    }
    pane.DestroyCurrentView();
    ShowHexDump(pane, path);
    return 0;
  }
  auto* view = new CArchiveListView(pane);
  pane.SetCurrentView(view);
  view->SetEntries(std::move(*reading.entries));
  return 1;
}

}  // namespace ostrel::preview
