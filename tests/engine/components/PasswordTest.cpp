// Opening an encrypted table: the session's password list, its password
// request (OnPassword, then the registered dialog) and the refusal.
#include <gtest/gtest.h>

#include <string>

#include "engine/components/Session.h"
#include "engine/storage/DataDirectory.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/TableTestSupport.h"

namespace tessel {
namespace {

using testing::ErrorOf;
using testing::TempDir;

constexpr const char* kTable = "linksdata.dat";
constexpr const char* kPassword = "Secret7";
constexpr const char* kRefused = "Insufficient rights to table 'linksdata.dat', a password is required";

class PasswordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateTable(true);
    session_.SetSessionName("pwtest");
    directory_ = &session_.EngineSession().OpenDirectory("", dir_.Dir());
    table_ = &directory_->AcquireTable(kTable);
  }
  void TearDown() override {
    SetPasswordDialog(nullptr);
    if (table_ != nullptr) directory_->ReleaseTable(*table_);
  }

  void CreateTable(bool encrypted) {
    TTableStructure s = testing::CatalogueStructure();
    s.Encrypted = encrypted;
    s.Password = kPassword;
    TDataTable::CheckStructure(s, true, kTable);
    TDataTable t(dir_.Dir(), kTable);
    t.CreateFiles(s);
    t.CloseFiles(true);
  }

  testing::RaisedError Check() {
    return ErrorOf([&] { CheckTablePassword(*table_, session_); });
  }

  TempDir dir_;
  TTesselSession session_;
  TDataDirectory* directory_ = nullptr;
  TDataTable* table_ = nullptr;
};

TEST_F(PasswordTest, KnownPasswordOpensWithoutAsking) {
  ASSERT_TRUE(table_->IsEncrypted());
  session_.AddPassword(kPassword);
  int asked = 0;
  session_.OnPassword = [&](TTesselSession&, bool&) { ++asked; };
  EXPECT_EQ(Check().Code, 0);
  EXPECT_EQ(asked, 0);
}

TEST_F(PasswordTest, UnknownPasswordAndCancelIsRefused) {
  session_.AddPassword("secret7");  // comparison is case-sensitive
  int asked = 0;
  session_.OnPassword = [&](TTesselSession& s, bool& cont) {
    ++asked;
    EXPECT_EQ(&s, &session_);
    EXPECT_FALSE(cont);  // starts false
  };
  const testing::RaisedError e = Check();
  EXPECT_EQ(e.Code, ec::PasswordRequired);
  EXPECT_EQ(e.Message, kRefused);
  EXPECT_EQ(asked, 1);
}

TEST_F(PasswordTest, RequestThatAddsThePasswordLetsTheOpenProceed) {
  int asked = 0;
  session_.OnPassword = [&](TTesselSession& s, bool& cont) {
    // A wrong guess first: the session asks again.
    s.AddPassword(++asked == 1 ? "wrong" : kPassword);
    cont = true;
  };
  EXPECT_EQ(Check().Code, 0);
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(session_.HasPassword(kPassword));
}

TEST_F(PasswordTest, WithoutHandlerOrDialogTheRequestIsCancelled) {
  SetPasswordDialog(nullptr);
  EXPECT_FALSE(session_.GetPassword());
  EXPECT_EQ(Check().Message, kRefused);
}

TEST_F(PasswordTest, RegisteredDialogIsAskedWhenThereIsNoHandler) {
  int shown = 0;
  SetPasswordDialog([&](TTesselSession& s) {
    ++shown;
    s.AddPassword(kPassword);
    return true;
  });
  EXPECT_EQ(Check().Code, 0);
  EXPECT_EQ(shown, 1);

  // Cancel in the dialog refuses the open.
  session_.RemoveAllPasswords();
  SetPasswordDialog([&](TTesselSession&) {
    ++shown;
    return false;
  });
  EXPECT_EQ(Check().Code, ec::PasswordRequired);
  EXPECT_EQ(shown, 2);
}

TEST_F(PasswordTest, HandlerTakesPrecedenceOverTheDialog) {
  int shown = 0;
  SetPasswordDialog([&](TTesselSession&) {
    ++shown;
    return true;
  });
  session_.OnPassword = [&](TTesselSession&, bool& cont) { cont = false; };
  EXPECT_EQ(Check().Code, ec::PasswordRequired);
  EXPECT_EQ(shown, 0);
}

TEST_F(PasswordTest, EngineCheckWithoutARequestRefuses) {
  const testing::RaisedError e =
      ErrorOf([&] { CheckTablePassword(*table_, *session_.Handle(), TPasswordRequest()); });
  EXPECT_EQ(e.Code, ec::PasswordRequired);
  session_.AddPassword(kPassword);
  EXPECT_EQ(ErrorOf([&] { CheckTablePassword(*table_, *session_.Handle(), TPasswordRequest()); }).Code, 0);
}

TEST_F(PasswordTest, PlainTableNeedsNoPassword) {
  directory_->ReleaseTable(*table_);
  table_ = nullptr;
  directory_->DeleteTable(kTable);
  CreateTable(false);
  table_ = &directory_->AcquireTable(kTable);
  ASSERT_FALSE(table_->IsEncrypted());
  int asked = 0;
  session_.OnPassword = [&](TTesselSession&, bool&) { ++asked; };
  EXPECT_EQ(Check().Code, 0);
  EXPECT_EQ(asked, 0);
}

}  // namespace
}  // namespace tessel
