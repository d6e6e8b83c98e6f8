#include "app/file_list_model.h"

namespace ostrel::app {

void FileListModel::SetRows(std::vector<FileListRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const FileListRow& row = rows_[static_cast<std::size_t>(index.row())];
  const QString& text = index.column() == 0 ? row.name : index.column() == 1 ? row.type : row.modified;
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:  // a cell's tooltip is its text
      return text;
    case Qt::DecorationRole:
      return index.column() == 0 ? QVariant(row.icon) : QVariant();
    default:
      return {};
  }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case 0: return QStringLiteral("File Name");
    case 1: return QStringLiteral("File Type");
    default: return QStringLiteral("Modified");
  }
}

}  // namespace ostrel::app
