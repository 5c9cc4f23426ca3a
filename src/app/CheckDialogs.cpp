#include "app/CheckDialogs.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/core/MessageBoxes.h"
#include "platform/qt/AnsiText.h"

namespace marrowick {

TCheckReportDialog::TCheckReportDialog(const TCatalogueCheckReport& report, bool offerRepair, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("CheckReport"));
  setWindowTitle(QStringLiteral("Check Catalogue"));
  auto* layout = new QVBoxLayout(this);

  summary_ = new QLabel(platform::AnsiToQString(ReportSummary(report)), this);
  summary_->setObjectName(QStringLiteral("Summary"));
  summary_->setWordWrap(true);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(summary_);

  findings_ = new QPlainTextEdit(this);
  findings_->setObjectName(QStringLiteral("Findings"));
  findings_->setReadOnly(true);
  findings_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QString lines;
  for (const std::string& finding : report.Findings) lines += platform::AnsiToQString(finding) + QLatin1Char('\n');
  findings_->setPlainText(lines);
  findings_->setVisible(!report.Findings.empty());
  layout->addWidget(findings_, 1);

  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  if (offerRepair) {
    repair_ = new QPushButton(QStringLiteral("&Repair"), this);
    repair_->setObjectName(QStringLiteral("Repair"));
    connect(repair_, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(repair_);
  }
  close_ = new QPushButton(QStringLiteral("Close"), this);
  close_->setObjectName(QStringLiteral("Close"));
  close_->setDefault(true);
  connect(close_, &QPushButton::clicked, this, &QDialog::reject);
  buttons->addWidget(close_);
  layout->addLayout(buttons);
  resize(560, report.Findings.empty() ? 140 : 360);
}

TQtCheckDialogs::~TQtCheckDialogs() { delete progress_; }

void TQtCheckDialogs::BeginProgress(const std::string& title) {
  delete progress_;
  progress_ = new QProgressDialog(platform::AnsiToQString(title), QString(), 0, 1000, parent_);
  progress_->setObjectName(QStringLiteral("CheckProgress"));
  progress_->setWindowTitle(QString::fromLatin1(platform::kApplicationTitle));
  progress_->setWindowModality(Qt::WindowModal);
  // No Cancel: a repair stopped half-way would leave the files worse.
  progress_->setCancelButton(nullptr);
  progress_->setMinimumDuration(0);
  progress_->setAutoClose(false);
  progress_->setAutoReset(false);
  progress_->setValue(0);
}

void TQtCheckDialogs::Progress(int permille) {
  if (progress_ == nullptr) return;
  // A modal progress dialog lets the screen follow as it is set.
  progress_->setValue(permille);
}

void TQtCheckDialogs::EndProgress() {
  if (progress_ == nullptr) return;
  progress_->hide();
  progress_->deleteLater();
  progress_ = nullptr;
}

bool TQtCheckDialogs::ShowReport(const TCatalogueCheckReport& report, bool offerRepair) {
  TCheckReportDialog dialog(report, offerRepair, parent_);
  return dialog.exec() == QDialog::Accepted && offerRepair;
}

}  // namespace marrowick
