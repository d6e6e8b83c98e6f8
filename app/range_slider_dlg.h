// CKorvaneRangeSliderDlg, "Recovery Selection": how to scan the chosen BKF
// file. Standard or advanced mode, heuristic scanning, and the whole file or
// a byte range. OK writes the choices into the application state; Cancel
// changes nothing.
#pragma once

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace ostrel::widgets {
class CKorvaneIconButton;
}

namespace ostrel::app {

class CKorvaneBKFFileRepProjApp;
using widgets::CKorvaneIconButton;

class CKorvaneRangeSliderDlg : public QDialog {
  Q_OBJECT

 public:
  CKorvaneRangeSliderDlg(CKorvaneBKFFileRepProjApp& app, QWidget* parent = nullptr);

  QRadioButton* StandardMode() const { return standard_; }
  QRadioButton* AdvancedMode() const { return advanced_; }
  QCheckBox* Heuristic() const { return heuristic_; }
  QRadioButton* CompleteScan() const { return complete_; }
  QRadioButton* PartialScan() const { return partial_; }
  QLabel* FileSize() const { return fileSize_; }
  QLineEdit* MinEdit() const { return min_; }
  QLineEdit* MaxEdit() const { return max_; }
  CKorvaneIconButton* StandardHelp() const { return standardHelp_; }
  CKorvaneIconButton* AdvancedHelp() const { return advancedHelp_; }
  CKorvaneIconButton* HeuristicHelp() const { return heuristicHelp_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

  static const QString kStandardHelp;
  static const QString kAdvancedHelp;
  static const QString kHeuristicHelp;

 private:
  void OnScopeChanged();
  void OnOk();

  CKorvaneBKFFileRepProjApp& app_;
  QRadioButton* standard_ = nullptr;
  QRadioButton* advanced_ = nullptr;
  QCheckBox* heuristic_ = nullptr;
  QRadioButton* complete_ = nullptr;
  QRadioButton* partial_ = nullptr;
  QLabel* fileSize_ = nullptr;
  QLineEdit* min_ = nullptr;
  QLineEdit* max_ = nullptr;
  CKorvaneIconButton* standardHelp_ = nullptr;
  CKorvaneIconButton* advancedHelp_ = nullptr;
  CKorvaneIconButton* heuristicHelp_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace ostrel::app
