// The rows of the file list: "File Name", "File Type" and "Modified" (the
// date the backup stores, empty when it stores none). A fill builds all
// rows first and resets the views once, so a folder of a hundred thousand
// files shows at once.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>
#include <vector>

namespace ostrel::app {

struct FileListRow {
  QString name;
  QIcon icon;
  QString type;
  QString modified;
};

class FileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit FileListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  void SetRows(std::vector<FileListRow> rows);
  void Clear() { SetRows({}); }
  const FileListRow& Row(int row) const { return rows_[static_cast<std::size_t>(row)]; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<FileListRow> rows_;
};

}  // namespace ostrel::app
