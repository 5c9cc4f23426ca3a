#include "app/ExportDialog.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

#include "app/FileDialogRun.h"
#include "app/ScreenCentre.h"

namespace marrowick {

namespace {

QCheckBox* AddColumnBox(QGroupBox* box, const char* objectName, const char* caption, int top) {
  auto* check = new QCheckBox(QString::fromLatin1(caption), box);
  check->setObjectName(QString::fromLatin1(objectName));
  check->setGeometry(12, top, 137, 20);
  check->setChecked(true);
  return check;
}

}  // namespace

TfrmExport::TfrmExport(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmExport"));
  setWindowTitle(QStringLiteral("Export"));
  setFixedSize(kClientWidth, kClientHeight);
  setSizeGripEnabled(false);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  groupBox1_ = new QGroupBox(QStringLiteral("Select Columns to Export"), this);
  groupBox1_->setObjectName(QStringLiteral("GroupBox1"));
  groupBox1_->setGeometry(8, 8, 161, 145);
  // Top to bottom: name, URL, category, login, password.
  name_ = AddColumnBox(groupBox1_, "Name", "Site Name", 22);
  url_ = AddColumnBox(groupBox1_, "URL", "Site URL", 46);
  category_ = AddColumnBox(groupBox1_, "Category", "Site Category", 70);
  login_ = AddColumnBox(groupBox1_, "Login", "Site Login", 94);
  password_ = AddColumnBox(groupBox1_, "Password", "Site Password", 118);

  exportFormat_ = new QGroupBox(QStringLiteral("Export Format"), this);
  exportFormat_->setObjectName(QStringLiteral("ExportFormat"));
  exportFormat_->setGeometry(177, 8, 145, 121);
  const char* const items[kExportFormatCount] = {"HTML", "Excel", "Text", "Bookmarks"};
  for (int i = 0; i < kExportFormatCount; ++i) {
    formats_[i] = new QRadioButton(QString::fromLatin1(items[i]), exportFormat_);
    formats_[i]->setObjectName(QStringLiteral("ExportFormat") + QString::fromLatin1(items[i]));
    formats_[i]->setGeometry(12, 22 + 24 * i, 121, 20);
  }
  formats_[0]->setChecked(true);

  // Cancel stands left of OK.
  bitBtn2_ = new QPushButton(QStringLiteral("Cancel"), this);
  bitBtn2_->setObjectName(QStringLiteral("BitBtn2"));
  bitBtn2_->setGeometry(80, 162, 75, 25);
  bitBtn2_->setAutoDefault(false);
  bitBtn1_ = new QPushButton(QStringLiteral("OK"), this);
  bitBtn1_->setObjectName(QStringLiteral("BitBtn1"));
  bitBtn1_->setGeometry(184, 162, 75, 25);
  bitBtn1_->setDefault(true);

  // The boxes are visited name, URL, category, password, login.
  setTabOrder(name_, url_);
  setTabOrder(url_, category_);
  setTabOrder(category_, password_);
  setTabOrder(password_, login_);
  setTabOrder(login_, formats_[0]);
  setTabOrder(formats_[0], formats_[1]);
  setTabOrder(formats_[1], formats_[2]);
  setTabOrder(formats_[2], formats_[3]);
  setTabOrder(formats_[3], bitBtn1_);
  setTabOrder(bitBtn1_, bitBtn2_);

  connect(bitBtn1_, &QPushButton::clicked, this, &QDialog::accept);
  connect(bitBtn2_, &QPushButton::clicked, this, &QDialog::reject);
}

QRadioButton* TfrmExport::FormatItem(TExportFormat format) const {
  return formats_[static_cast<int>(format)];
}

TExportChoice TfrmExport::Choice() const {
  TExportChoice choice;
  for (int i = 0; i < kExportFormatCount; ++i)
    if (formats_[i]->isChecked()) choice.Format = static_cast<TExportFormat>(i);
  choice.Name = name_->isChecked();
  choice.Url = url_->isChecked();
  choice.Category = category_->isChecked();
  choice.Login = login_->isChecked();
  choice.Password = password_->isChecked();
  return choice;
}

void TfrmExport::showEvent(QShowEvent* event) {
  MoveToScreenCentre(*this);
  QDialog::showEvent(event);
}

std::optional<TExportChoice> TExportDialogRunner::Execute() {
  QPointer<TfrmExport> dialog = new TfrmExport(owner_);
  const int result = dialog->exec();
  if (dialog.isNull()) return std::nullopt;
  std::optional<TExportChoice> choice;
  if (result == QDialog::Accepted) choice = dialog->Choice();
  delete dialog.data();
  return choice;
}

// ---- the save dialog ----

TSaveDialogRequest SaveRequestFor(TExportFormat format) {
  switch (format) {
    case TExportFormat::Excel:
      return {"Export to Excel", "*.xls", "xls", true};
    case TExportFormat::Text:
      return {"Export to TXT", "*.TXT", "TXT", true};
    case TExportFormat::Bookmarks:
      return {"Export to Bookmarks", "*.html", "html", true};
    case TExportFormat::Html:
      break;
  }
  return {"Export to HTML", "*.HTML", "HTML", true};
}

void TQtSaveDialog::Configure(QFileDialog& dialog, const TSaveDialogRequest& request) const {
  dialog.setWindowTitle(QString::fromStdString(request.Title));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QString::fromStdString(request.Filter));
  dialog.setDefaultSuffix(QString::fromStdString(request.DefaultExtension));
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.OverwritePrompt);
  // Qt's own dialog adds the default extension before it asks about
  // replacing a file; a desktop's native dialog may not.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  // The pattern matches without regard to letter case, so "*.HTML" also
  // lists the "page.html" a user saved before.
  dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
  dialog.setSizeGripEnabled(true);
  if (!lastFileName_.empty()) dialog.selectFile(QFile::decodeName(lastFileName_.c_str()));
}

std::optional<std::string> TQtSaveDialog::Execute(const TSaveDialogRequest& request) {
  QPointer<QFileDialog> dialog = new QFileDialog(owner_);
  Configure(*dialog, request);
  std::optional<std::string> chosen = RunFileDialog(dialog);
  if (chosen) lastFileName_ = *chosen;
  return chosen;
}

}  // namespace marrowick
