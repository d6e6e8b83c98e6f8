#include "app/range_slider_dlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include "app/app_state.h"
#include "app/icon_button.h"
#include "app/prompts.h"

namespace ostrel::app {

const QString CKorvaneRangeSliderDlg::kStandardHelp = QStringLiteral(
    "Select Standard mode recovery to handle common corruption issues in corrupt bkf file(Faster).");
const QString CKorvaneRangeSliderDlg::kAdvancedHelp = QStringLiteral(
    "Advanced mode recovery handle other corruption issues in corrupt bkf file which cannot be handled by standard "
    "mode(Fast).");
const QString CKorvaneRangeSliderDlg::kHeuristicHelp = QStringLiteral(
    "Heuristic scanning option allows scanning algorithm to handle unknown tags which can vary from OS to OS. "
    "Recommended to use only when advanced mode recover partial data from BKF file.");

CKorvaneRangeSliderDlg::CKorvaneRangeSliderDlg(CKorvaneBKFFileRepProjApp& app, QWidget* parent)
    : QDialog(parent), app_(app) {
  setObjectName(QStringLiteral("RecoverySelection"));
  setWindowTitle(QStringLiteral("Recovery Selection"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  const QFontMetrics metrics(font());
  baseX_ = (metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 26 + 1) / 2;
  baseY_ = metrics.height();
  setFixedSize(Units(0, 0, 280, 176).size());

  const QIcon helpIcon(QStringLiteral(":/artwork/help.png"));
  auto place = [this](QWidget* widget, int x, int y, int w, int h) {
    widget->setGeometry(Units(x, y, w, h));
    return widget;
  };

  place(new QGroupBox(QStringLiteral("Select Recovery Mode:"), this), 8, 5, 265, 51);
  standard_ = new QRadioButton(QStringLiteral("Standard Mode"), this);
  place(standard_, 16, 21, 65, 10);
  standardHelp_ = new CKorvaneIconButton(helpIcon, this);
  standardHelp_->move(Units(89, 18, 16, 16).topLeft());
  advanced_ = new QRadioButton(QStringLiteral("Advanced Mode"), this);
  place(advanced_, 155, 19, 67, 10);
  advancedHelp_ = new CKorvaneIconButton(helpIcon, this);
  advancedHelp_->move(Units(235, 17, 16, 16).topLeft());
  heuristic_ = new QCheckBox(QStringLiteral("Heuristic scanning"), this);
  place(heuristic_, 153, 40, 73, 10);
  heuristicHelp_ = new CKorvaneIconButton(helpIcon, this);
  heuristicHelp_->move(Units(235, 36, 16, 16).topLeft());

  place(new QGroupBox(QStringLiteral("Select file Scanning option:"), this), 8, 60, 265, 94);
  complete_ = new QRadioButton(QStringLiteral("Scan complete BKF file"), this);
  place(complete_, 14, 71, 87, 10);
  place(new QGroupBox(this), 15, 87, 250, 60)->lower();
  partial_ = new QRadioButton(QStringLiteral("Scan partial BKF file"), this);
  place(partial_, 14, 86, 79, 10);
  place(new QLabel(QStringLiteral("File Size(Bytes):"), this), 21, 104, 52, 8);
  fileSize_ = new QLabel(this);
  place(fileSize_, 83, 103, 169, 13);
  place(new QLabel(QStringLiteral("Min(Bytes):"), this), 20, 130, 38, 8);
  const auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
  min_ = new QLineEdit(this);
  min_->setValidator(digits);
  place(min_, 63, 127, 70, 14);
  place(new QLabel(QStringLiteral("Max(Bytes):"), this), 142, 130, 40, 8);
  max_ = new QLineEdit(this);
  max_->setValidator(digits);
  place(max_, 186, 127, 70, 14);

  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setDefault(true);
  place(ok_, 86, 157, 50, 16);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  place(cancel_, 142, 157, 50, 16);

  // Each pair keeps to itself: the mode pair and the scope pair.
  auto* modes = new QButtonGroup(this);
  modes->addButton(standard_);
  modes->addButton(advanced_);
  auto* scopes = new QButtonGroup(this);
  scopes->addButton(complete_);
  scopes->addButton(partial_);

  // Initial state.
  min_->setText(QStringLiteral("0"));
  max_->setText(app_.bkfSizeText);
  fileSize_->setText(app_.bkfSizeText);
  complete_->setChecked(true);
  standard_->setChecked(true);
  heuristic_->setChecked(false);
  OnScopeChanged();
  standardHelp_->SetHelpText(kStandardHelp);
  advancedHelp_->SetHelpText(kAdvancedHelp);
  heuristicHelp_->SetHelpText(kHeuristicHelp);

  connect(complete_, &QRadioButton::toggled, this, &CKorvaneRangeSliderDlg::OnScopeChanged);
  connect(ok_, &QPushButton::clicked, this, &CKorvaneRangeSliderDlg::OnOk);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

QRect CKorvaneRangeSliderDlg::Units(int x, int y, int width, int height) const {
  return {x * baseX_ / 4, y * baseY_ / 8, width * baseX_ / 4, height * baseY_ / 8};
}

void CKorvaneRangeSliderDlg::OnScopeChanged() {
  const bool partial = partial_->isChecked();
  min_->setEnabled(partial);
  max_->setEnabled(partial);
}

void CKorvaneRangeSliderDlg::OnOk() {
  if (partial_->isChecked()) {
    const QString min = min_->text();
    const QString max = max_->text();
    if (min == max) {
      Tell(app_.prompts(), this, QStringLiteral("Set range properly, both value cannot be same."));
      return;
    }
    app_.rangeMinText = min;
    app_.rangeMaxText = max;
    app_.rangeKind = 1;
  }
  if (complete_->isChecked()) app_.rangeKind = 2;
  app_.recoveryMode = standard_->isChecked() ? 1 : 2;
  app_.heuristicScan = heuristic_->isChecked() ? 1 : 0;
  accept();
}

}  // namespace ostrel::app
