// CKorvaneDlgSearchBkfFiles, "Search file(s)": finds files of the catalogue
// by a wildcard pattern on a worker thread (the search job), lists the hits
// with their catalogue path, type and size, lets the user prune the list and
// saves the listed files through the save dialog.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QHash>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/dialog_worker.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QToolButton;

namespace ostrel {
class Catalogue;
}

namespace ostrel::app {

class SearchJob;

class CMainFrame;

// The result list's rows: one catalogue file each, by index. Paths, types and
// icons are worked out when a row is shown, so a million hits cost little.
class SearchResultModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit SearchResultModel(const Catalogue& catalogue, QObject* parent = nullptr)
      : QAbstractTableModel(parent), catalogue_(catalogue) {}

  void Append(const std::vector<std::uint64_t>& files);
  void Clear();
  // Removes the rows at these positions (any order).
  void RemoveRows(std::vector<int> rows);
  const std::vector<std::uint64_t>& Files() const { return files_; }
  // "File Name": the folder's catalogue path and the file's name.
  QString PathOf(std::uint64_t file) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const Catalogue& catalogue_;
  std::vector<std::uint64_t> files_;
  mutable QHash<std::uint64_t, QString> folderPaths_;
};

class CKorvaneDlgSearchBkfFiles : public QDialog {
  Q_OBJECT

 public:
  explicit CKorvaneDlgSearchBkfFiles(CMainFrame& frame, QWidget* parent = nullptr);
  ~CKorvaneDlgSearchBkfFiles() override;

  bool IsSearching() const { return searching_; }

  QLineEdit* PatternEdit() const { return pattern_; }
  QToolButton* SearchButton() const { return search_; }
  QLineEdit* DestinationEdit() const { return destination_; }
  QPushButton* BrowseButton() const { return browse_; }
  QPushButton* SaveButton() const { return save_; }
  QPushButton* RemoveButton() const { return remove_; }
  QCheckBox* HierarchyBox() const { return hierarchy_; }
  QTableView* ResultList() const { return results_; }
  SearchResultModel* Results() const { return model_; }
  QProgressBar* Progress() const { return progress_; }
  QLabel* TotalCaption() const { return totalCaption_; }
  QLabel* TotalLabel() const { return total_; }
  QLabel* WaitNotice() const { return wait_; }
  QPushButton* StopButton() const { return stop_; }
  QPushButton* OkButton() const { return ok_; }
  QLabel* FoundCaption() const { return foundCaption_; }
  QLabel* FoundLabel() const { return found_; }

  // The pattern as the search uses it: trimmed, and wrapped in '*' when it
  // holds none. Empty when nothing but blanks was typed.
  static QString EffectivePattern(const QString& typed);

 public slots:
  void OnSearch();
  void OnStop();
  void OnRemove();
  void OnSaveFiles();
  void OnBrowse();
  void OnResultClick(int row);

 signals:
  void searchFinished();

 public:
  // Closing is refused while a search runs.
  void done(int result) override;

 private:
  void SetSearching(bool searching);
  void Flush();
  void OnFinished();

  CMainFrame& frame_;
  QLineEdit* pattern_ = nullptr;
  QToolButton* search_ = nullptr;
  QLineEdit* destination_ = nullptr;
  QPushButton* browse_ = nullptr;
  QPushButton* save_ = nullptr;
  QPushButton* remove_ = nullptr;
  QCheckBox* hierarchy_ = nullptr;
  QTableView* results_ = nullptr;
  SearchResultModel* model_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* totalCaption_ = nullptr;
  QLabel* total_ = nullptr;
  QLabel* wait_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* ok_ = nullptr;
  QLabel* foundCaption_ = nullptr;
  QLabel* found_ = nullptr;

  // The file count when the dialog opened: the progress bar's range.
  std::uint64_t fileCount_ = 0;
  std::unique_ptr<SearchJob> job_;
  bool searching_ = false;  // from the start of a search until its end is shown
};

}  // namespace ostrel::app
