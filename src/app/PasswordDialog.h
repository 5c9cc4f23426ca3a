// The password entry dialog that the engine shows when a table needs a
// password its session does not hold: a masked edit with buttons that add the
// text to the session's password list, remove it, or empty the list, and OK /
// Cancel. RegisterPasswordDialog installs it into the engine at start-up.
#pragma once

#include <functional>
#include <string>

#include <QDialog>

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace tessel {
class TTesselSession;
}

namespace marrowick {

class TTesselPasswordDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TTesselPasswordDialog(tessel::TTesselSession& session, QWidget* parent = nullptr);

  QGroupBox* GroupBox() const { return groupBox_; }
  QLineEdit* PasswordEdit() const { return edit_; }
  QPushButton* AddButton() const { return addButton_; }
  QPushButton* RemoveButton() const { return removeButton_; }
  QPushButton* RemoveAllButton() const { return removeAllButton_; }
  QPushButton* OkButton() const { return okButton_; }
  QPushButton* CancelButton() const { return cancelButton_; }
  // A password was added with the Add button.
  bool PasswordAdded() const { return added_; }

 public slots:
  void AddClick();
  void RemoveClick();
  void RemoveAllClick();
  void OkClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void EditChanged();
  std::string Text() const;
  // Runs a session operation; an error is shown instead of escaping the
  // event loop.
  bool Guarded(const std::function<void()>& action);

  tessel::TTesselSession& session_;
  QGroupBox* groupBox_;
  QLineEdit* edit_;
  QPushButton* addButton_;
  QPushButton* removeButton_;
  QPushButton* removeAllButton_;
  QPushButton* okButton_;
  QPushButton* cancelButton_;
  bool added_ = false;
};

// Shows the dialog modally for a session; true when it closed with OK.
bool ExecutePasswordDialog(tessel::TTesselSession& session);

// Makes the engine use the dialog for its password requests.
void RegisterPasswordDialog();

}  // namespace marrowick
