// The password dialog: its controls and captions, the enabling of its
// buttons, what each button does to the session's password list, and the
// modal request through the engine's registry.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "app/PasswordDialog.h"
#include "app/QtTestApplication.h"
#include "engine/components/Session.h"

namespace marrowick {
namespace {

class PasswordDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestApplication();
    session_.SetSessionName("dialogtest");
  }
  void TearDown() override { tessel::SetPasswordDialog(nullptr); }

  tessel::TTesselSession session_;
};

TEST_F(PasswordDialogTest, ControlsAndCaptions) {
  TTesselPasswordDialog dialog(session_);
  EXPECT_EQ(dialog.windowTitle(), "Enter password");
  EXPECT_EQ(dialog.size(), QSize(273, 132));
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
  EXPECT_EQ(dialog.GroupBox()->title(), "Password");
  EXPECT_EQ(dialog.PasswordEdit()->parentWidget(), dialog.GroupBox());
  EXPECT_EQ(dialog.AddButton()->text(), "&Add");
  EXPECT_EQ(dialog.RemoveButton()->text(), "&Remove");
  EXPECT_EQ(dialog.RemoveAllButton()->text(), "Re&move all");
  EXPECT_EQ(dialog.OkButton()->text(), "&OK");
  EXPECT_EQ(dialog.CancelButton()->text(), "Cancel");
  EXPECT_TRUE(dialog.OkButton()->isDefault());
  for (QPushButton* b : {dialog.AddButton(), dialog.RemoveButton(), dialog.RemoveAllButton()})
    EXPECT_EQ(b->parentWidget(), dialog.GroupBox());

  dialog.PasswordEdit()->setText("abc");
  EXPECT_EQ(dialog.PasswordEdit()->displayText(), "***");
}

TEST_F(PasswordDialogTest, ButtonsFollowTheText) {
  TTesselPasswordDialog dialog(session_);
  EXPECT_FALSE(dialog.OkButton()->isEnabled());
  EXPECT_FALSE(dialog.AddButton()->isEnabled());
  EXPECT_FALSE(dialog.RemoveButton()->isEnabled());
  EXPECT_TRUE(dialog.RemoveAllButton()->isEnabled());

  dialog.PasswordEdit()->setText("x");
  EXPECT_TRUE(dialog.OkButton()->isEnabled());
  EXPECT_TRUE(dialog.AddButton()->isEnabled());
  EXPECT_TRUE(dialog.RemoveButton()->isEnabled());
  dialog.PasswordEdit()->clear();
  EXPECT_FALSE(dialog.OkButton()->isEnabled());
  EXPECT_FALSE(dialog.AddButton()->isEnabled());

  // After Add, OK stays enabled with an empty text.
  dialog.PasswordEdit()->setText("first");
  dialog.AddButton()->click();
  EXPECT_TRUE(dialog.PasswordAdded());
  EXPECT_TRUE(dialog.PasswordEdit()->text().isEmpty());
  EXPECT_TRUE(dialog.OkButton()->isEnabled());
  EXPECT_FALSE(dialog.AddButton()->isEnabled());
}

TEST_F(PasswordDialogTest, ButtonsWorkOnTheSessionsList) {
  TTesselPasswordDialog dialog(session_);
  dialog.PasswordEdit()->setText("one");
  dialog.AddButton()->click();
  dialog.PasswordEdit()->setText("two");
  dialog.AddButton()->click();
  EXPECT_TRUE(session_.HasPassword("one"));
  EXPECT_TRUE(session_.HasPassword("two"));

  dialog.PasswordEdit()->setText("one");
  dialog.RemoveButton()->click();
  EXPECT_FALSE(session_.HasPassword("one"));
  EXPECT_TRUE(session_.HasPassword("two"));
  EXPECT_TRUE(dialog.PasswordEdit()->text().isEmpty());

  dialog.RemoveAllButton()->click();
  EXPECT_FALSE(session_.HasPassword("two"));

  dialog.PasswordEdit()->setText("Last");
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(session_.HasPassword("Last"));
}

TEST_F(PasswordDialogTest, OkWithAnEmptyTextAddsNothing) {
  TTesselPasswordDialog dialog(session_);
  dialog.OkClick();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(session_.EngineSession().Passwords().empty());
}

// The registered dialog answers the session's request modally.
TEST_F(PasswordDialogTest, RegisteredDialogAnswersTheRequest) {
  RegisterPasswordDialog();
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<TTesselPasswordDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->PasswordEdit()->setText("Secret7");
    dialog->OkButton()->click();
  });
  EXPECT_TRUE(session_.GetPassword());
  EXPECT_TRUE(session_.HasPassword("Secret7"));

  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<TTesselPasswordDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->PasswordEdit()->setText("ignored");
    dialog->CancelButton()->click();
  });
  EXPECT_FALSE(session_.GetPassword());
  EXPECT_FALSE(session_.HasPassword("ignored"));
}

}  // namespace
}  // namespace marrowick
