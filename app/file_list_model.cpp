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

int FileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const FileListRow& row = rows_[static_cast<std::size_t>(index.row())];
  const QString& text = index.column() == 0 ? row.name : row.type;
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
  return section == 0 ? QStringLiteral("File Name") : QStringLiteral("File Type");
}

}  // namespace ostrel::app
