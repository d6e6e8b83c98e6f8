// Saving recovered files from the desktop program: which files the tree's
// check marks select, and the "Save recovered file(s)" dialog, which writes
// them through the core's SaveRun on a worker thread while it shows each
// file's result, the progress and a Stop button. The Search dialog saves its
// result list through the same dialog.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "app/dialog_worker.h"
#include "reader/save_files.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace ostrel {
class Catalogue;
}

namespace ostrel::widgets {
class CKorvaneCheckTree;
}

namespace ostrel::app {

class SaveJob;

class CMainFrame;

// The files the tree shows checked, in catalogue order. A file with a tree
// item counts when its item is checked; a file without one takes the mark of
// its nearest folder that has an item, so a checked folder that was never
// expanded selects everything below it. A partly checked item counts as not
// checked.
std::vector<std::uint64_t> CheckedFilesToSave(const widgets::CKorvaneCheckTree& tree,
                                              const Catalogue& catalogue);

class CKorvaneDlgSaveRecoveredFiles : public QDialog {
  Q_OBJECT

 public:
  explicit CKorvaneDlgSaveRecoveredFiles(CMainFrame& frame, QWidget* parent = nullptr);
  ~CKorvaneDlgSaveRecoveredFiles() override;

  // Saves exactly these files instead of the ones checked in the tree.
  void SetFiles(std::vector<std::uint64_t> files) { fixedFiles_ = std::move(files); }
  void SetDestination(const QString& folder);
  void SetHierarchy(bool on);
  void SetPortableNames(bool on);

  bool IsSaving() const { return saving_; }
  int SavedCount() const { return savedCount_; }

  QLineEdit* DestinationEdit() const { return destination_; }
  QPushButton* BrowseButton() const { return browse_; }
  QPushButton* SaveButton() const { return save_; }
  QCheckBox* HierarchyBox() const { return hierarchy_; }
  QCheckBox* PortableBox() const { return portable_; }
  QTreeWidget* List() const { return list_; }
  QLabel* CountCaption() const { return countCaption_; }
  QLabel* CountLabel() const { return count_; }
  QProgressBar* Progress() const { return progress_; }
  QLabel* WaitNotice() const { return wait_; }
  QPushButton* StopButton() const { return stop_; }
  QPushButton* CloseButton() const { return close_; }

 public slots:
  // "Save file(s)": checks the destination and the selection, then starts the
  // run. False when it refused.
  bool StartSaving();
  // "Stop": asks, and on Yes stops the running process.
  void OnStop();
  void OnBrowse();

 signals:
  // The run has ended and the dialog shows its totals.
  void savingFinished();

 public:
  // Closing is refused while files are being saved.
  void done(int result) override;

 private:
  void SetRunning(bool running);
  // Takes what the worker has reported so far onto the list and the progress bar.
  // Makes `column` wide enough for `text`.
  void WidenToFit(int column, const QString& text);
  void Flush();
  void OnFinished();
  QString PathText(std::uint64_t index) const;
  // Asked on the window's thread when the first file that exists in the
  // destination is met: Replace, Keep both (the default) or Stop.
  ExistingFiles AskExisting(const QString& path);

  CMainFrame& frame_;
  std::optional<std::vector<std::uint64_t>> fixedFiles_;

  QLineEdit* destination_ = nullptr;
  QPushButton* browse_ = nullptr;
  QPushButton* save_ = nullptr;
  QCheckBox* hierarchy_ = nullptr;
  QCheckBox* portable_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QLabel* countCaption_ = nullptr;
  QLabel* count_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* wait_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* close_ = nullptr;

  // The run: the job saves, the dialog shows what it reports.
  std::unique_ptr<SaveJob> job_;
  bool saving_ = false;  // from StartSaving until the end is shown
  std::vector<std::uint64_t> files_;
  QString destinationText_;
  int savedCount_ = 0;     // every file written, complete or not
  int savedDamaged_ = 0;   // written with zeros where the backup could not be read
  int savedCutShort_ = 0;  // written as far as the backup goes
  int verified_ = 0;       // written, and the data's checksum holds
  int mismatched_ = 0;     // written, but the data's checksum does not hold
  int markedCorrupt_ = 0;  // written, but the backup program marked the data corrupt
  int notRecovered_ = 0;
  int renamed_ = 0;   // names made portable
  int kept_ = 0;      // files saved under a new number beside an existing one
  int replaced_ = 0;  // existing files replaced
};

}  // namespace ostrel::app
