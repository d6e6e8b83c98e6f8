#include "app/range_slider_dlg.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QGridLayout>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include "app/app_state.h"
#include "app/dialog_units.h"
#include "widgets/icon_button.h"
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
  UseDialogFrame(this);
  const DialogUnits du(this);
  const QIcon helpIcon(QStringLiteral(":/artwork/help.png"));
  auto helpButton = [&](QWidget* owner) {
    auto* button = new CKorvaneIconButton(helpIcon, owner);
    button->setFixedSize(button->sizeHint());
    return button;
  };

  // The mode: Standard on the left, Advanced with Heuristic below it on the
  // right, each with its help button.
  auto* modeBox = new QGroupBox(QStringLiteral("Select Recovery Mode:"), this);
  modeBox->setMinimumWidth(du.X(265));
  auto* modes = new QGridLayout(modeBox);
  standard_ = new QRadioButton(QStringLiteral("Standard Mode"), modeBox);
  standardHelp_ = helpButton(modeBox);
  advanced_ = new QRadioButton(QStringLiteral("Advanced Mode"), modeBox);
  advancedHelp_ = helpButton(modeBox);
  heuristic_ = new QCheckBox(QStringLiteral("Heuristic scanning"), modeBox);
  heuristicHelp_ = helpButton(modeBox);
  modes->addWidget(standard_, 0, 0);
  modes->addWidget(standardHelp_, 0, 1);
  modes->setColumnMinimumWidth(2, du.X(40));
  modes->setColumnStretch(2, 1);
  modes->addWidget(advanced_, 0, 3);
  modes->addWidget(advancedHelp_, 0, 4);
  modes->addWidget(heuristic_, 1, 3);
  modes->addWidget(heuristicHelp_, 1, 4);

  // The scope: the whole file, or a range inside a frame of its own.
  auto* scopeBox = new QGroupBox(QStringLiteral("Select file Scanning option:"), this);
  auto* scope = new QVBoxLayout(scopeBox);
  complete_ = new QRadioButton(QStringLiteral("Scan complete BKF file"), scopeBox);
  partial_ = new QRadioButton(QStringLiteral("Scan partial BKF file"), scopeBox);
  auto* rangeBox = new QGroupBox(scopeBox);
  auto* range = new QGridLayout(rangeBox);
  fileSize_ = new QLabel(rangeBox);
  fileSize_->setMinimumWidth(du.X(169));
  fileSize_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  const auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
  min_ = new QLineEdit(rangeBox);
  min_->setValidator(digits);
  min_->setMinimumWidth(du.X(70));
  max_ = new QLineEdit(rangeBox);
  max_->setValidator(digits);
  max_->setMinimumWidth(du.X(70));
  range->addWidget(new QLabel(QStringLiteral("File Size(Bytes):"), rangeBox), 0, 0);
  range->addWidget(fileSize_, 0, 1, 1, 3);
  range->addWidget(new QLabel(QStringLiteral("Min(Bytes):"), rangeBox), 1, 0);
  range->addWidget(min_, 1, 1);
  range->addWidget(new QLabel(QStringLiteral("Max(Bytes):"), rangeBox), 1, 2);
  range->addWidget(max_, 1, 3);
  scope->addWidget(complete_);
  scope->addWidget(partial_);
  scope->addWidget(rangeBox);

  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setDefault(true);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  for (QPushButton* b : {ok_, cancel_}) b->setMinimumWidth(du.X(50));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  buttons->addStretch(1);

  auto* root = new QVBoxLayout(this);
  root->setSizeConstraint(QLayout::SetFixedSize);
  root->addWidget(modeBox);
  root->addWidget(scopeBox);
  root->addLayout(buttons);

  // Each pair keeps to itself: the mode pair and the scope pair.
  auto* modeGroup = new QButtonGroup(this);
  modeGroup->addButton(standard_);
  modeGroup->addButton(advanced_);
  auto* scopeGroup = new QButtonGroup(this);
  scopeGroup->addButton(complete_);
  scopeGroup->addButton(partial_);

  // Initial state.
  min_->setText(QStringLiteral("0"));
  max_->setText(app_.bkfSizeText);
  // An unknown size says why, so that the user learns before the scan fails.
  fileSize_->setText(app_.DescribedBkfSize());
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
    app_.rangeKind = CKorvaneBKFFileRepProjApp::RangeKind::Partial;
  }
  if (complete_->isChecked()) app_.rangeKind = CKorvaneBKFFileRepProjApp::RangeKind::WholeFile;
  app_.recoveryMode = standard_->isChecked() ? RecoveryMode::Standard : RecoveryMode::Advanced;
  app_.heuristicScan = heuristic_->isChecked();
  accept();
}

}  // namespace ostrel::app
