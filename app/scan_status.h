// The scan's progress in the status bar: a bar and three texts (percent,
// position, files found), inserted before the maker's link while a scan runs.
#pragma once

#include <QString>
#include <cstdint>

#include "reader/scanner.h"

class QLabel;
class QProgressBar;
class QWidget;

namespace ostrel::app {

class CMyRibbonStatusBar;

class ScanStatusBar {
 public:
  // `window` is redrawn when the elements come and go.
  ScanStatusBar(CMyRibbonStatusBar* bar, QWidget* window) : bar_(bar), window_(window) {}

  // Adds the elements (once), the bar at 0 of 0..100.
  void Show();
  // Removes and deletes them.
  void Hide();
  void ShowProgress(const ostrel::ProgressReport& report);
  void ShowDone(int percent);

  // The elements; null while no scan runs.
  QProgressBar* ProgressBar() const { return progressBar_; }
  QLabel* PercentPane() const { return percentPane_; }
  QLabel* ProgressPane() const { return progressPane_; }
  QLabel* FilesPane() const { return filesPane_; }
  // Progress reports shown since the last Show.
  int ReportsShown() const { return reportsShown_; }

 private:
  CMyRibbonStatusBar* bar_;
  QWidget* window_;
  QProgressBar* progressBar_ = nullptr;
  QLabel* percentPane_ = nullptr;
  QLabel* progressPane_ = nullptr;
  QLabel* filesPane_ = nullptr;
  int reportsShown_ = 0;
};

}  // namespace ostrel::app

namespace ostrel::app {

// A snapshot save's or load's progress in the status bar: what runs, with its
// percent, and a bar, before the maker's link like the scan's.
class SnapshotStatusBar {
 public:
  explicit SnapshotStatusBar(CMyRibbonStatusBar* bar) : bar_(bar) {}

  void Show(const QString& what);
  void Hide();
  void ShowProgress(std::uint64_t done, std::uint64_t total);

  // The elements; null while no snapshot work runs.
  QProgressBar* ProgressBar() const { return progressBar_; }
  QLabel* ProgressPane() const { return progressPane_; }

 private:
  CMyRibbonStatusBar* bar_;
  QString what_;
  QProgressBar* progressBar_ = nullptr;
  QLabel* progressPane_ = nullptr;
};

}  // namespace ostrel::app
