#include "app/PasswordDialog.h"

#include <functional>

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "app/ErrorDisplay.h"
#include "engine/components/Session.h"
#include "platform/qt/AnsiText.h"
#include "platform/qt/MessageBoxes.h"

namespace marrowick {

namespace {
constexpr int kClientWidth = 273;
constexpr int kClientHeight = 132;
}  // namespace

TTesselPasswordDialog::TTesselPasswordDialog(tessel::TTesselSession& session, QWidget* parent)
    : QDialog(parent), session_(session) {
  setWindowTitle(QStringLiteral("Enter password"));
  setFixedSize(kClientWidth, kClientHeight);
  setSizeGripEnabled(false);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  groupBox_ = new QGroupBox(QStringLiteral("Password"), this);
  groupBox_->setGeometry(8, 6, 257, 82);

  edit_ = new QLineEdit(groupBox_);
  edit_->setGeometry(12, 20, 233, 22);
  edit_->setEchoMode(QLineEdit::Password);
  // Every character shows as '*'.
  edit_->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
  edit_->setMaxLength(255);

  addButton_ = new QPushButton(QStringLiteral("&Add"), groupBox_);
  addButton_->setGeometry(12, 50, 75, 25);
  removeButton_ = new QPushButton(QStringLiteral("&Remove"), groupBox_);
  removeButton_->setGeometry(91, 50, 75, 25);
  removeAllButton_ = new QPushButton(QStringLiteral("Re&move all"), groupBox_);
  removeAllButton_->setGeometry(170, 50, 75, 25);
  for (QPushButton* b : {addButton_, removeButton_, removeAllButton_}) b->setAutoDefault(false);

  okButton_ = new QPushButton(QStringLiteral("&OK"), this);
  okButton_->setGeometry(109, 98, 75, 25);
  okButton_->setDefault(true);
  cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancelButton_->setGeometry(190, 98, 75, 25);
  cancelButton_->setAutoDefault(false);

  connect(edit_, &QLineEdit::textChanged, this, [this] { EditChanged(); });
  connect(addButton_, &QPushButton::clicked, this, &TTesselPasswordDialog::AddClick);
  connect(removeButton_, &QPushButton::clicked, this, &TTesselPasswordDialog::RemoveClick);
  connect(removeAllButton_, &QPushButton::clicked, this, &TTesselPasswordDialog::RemoveAllClick);
  connect(okButton_, &QPushButton::clicked, this, &TTesselPasswordDialog::OkClick);
  connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);

  okButton_->setEnabled(false);
  addButton_->setEnabled(false);
  removeButton_->setEnabled(false);
}

void TTesselPasswordDialog::showEvent(QShowEvent* event) {
  // Centred on the screen.
  if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  QDialog::showEvent(event);
  edit_->setFocus();
}

std::string TTesselPasswordDialog::Text() const { return platform::QStringToAnsi(edit_->text()); }

void TTesselPasswordDialog::EditChanged() {
  const bool hasText = !edit_->text().isEmpty();
  addButton_->setEnabled(hasText);
  removeButton_->setEnabled(hasText);
  okButton_->setEnabled(hasText || added_);
}

bool TTesselPasswordDialog::Guarded(const std::function<void()>& action) {
  platform::TQtMessageBoxes boxes(this);
  return TErrorDisplay(boxes).Run(action);
}

void TTesselPasswordDialog::AddClick() {
  if (!Guarded([&] { session_.AddPassword(Text()); })) return;
  added_ = true;
  edit_->clear();
  EditChanged();
  edit_->setFocus();
}

void TTesselPasswordDialog::RemoveClick() {
  if (!Guarded([&] { session_.RemovePassword(Text()); })) return;
  edit_->clear();
  edit_->setFocus();
}

void TTesselPasswordDialog::RemoveAllClick() {
  if (!Guarded([&] { session_.RemoveAllPasswords(); })) return;
  edit_->setFocus();
}

void TTesselPasswordDialog::OkClick() {
  if (!Guarded([&] { session_.AddPassword(Text()); })) return;
  accept();
}

bool ExecutePasswordDialog(tessel::TTesselSession& session) {
  TTesselPasswordDialog dialog(session, QApplication::activeWindow());
  return dialog.exec() == QDialog::Accepted;
}

void RegisterPasswordDialog() { tessel::SetPasswordDialog(ExecutePasswordDialog); }

}  // namespace marrowick
