// The "Site Info" dialog driven with real keys and mouse clicks: its
// controls and tab order, the silent refusal of OK while the name, the URL or
// the category is empty, every way out without values (Cancel, Escape, the
// title bar's close button, also after a refused OK), and Edit's loading
// rules. The modal run is checked through exec with a user who acts once the
// dialog is up.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/QtTestApplication.h"
#include "app/SiteCategories.h"
#include "app/SiteDialog.h"

namespace marrowick {
namespace {

class SiteDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::TestApplication(); }

  // Shows the dialog and makes it the active window, so keys reach the
  // focused control as they would for a person.
  static void ShowActive(TOKBottomDlg& dialog) {
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  }

  static void Fill(TOKBottomDlg& dialog, const char* name, const char* url, int category) {
    dialog.NameEdit()->setText(QString::fromLatin1(name));
    dialog.UrlEdit()->setText(QString::fromLatin1(url));
    dialog.CategoryList()->setCurrentIndex(category);
  }
};

TEST_F(SiteDialogTest, ControlsCaptionsAndInitialContents) {
  TOKBottomDlg dialog;
  EXPECT_EQ(dialog.windowTitle(), "Site Info");
  // 337 x 183, wider only when the desktop's font needs room for the labels.
  EXPECT_EQ(dialog.height(), 183);
  EXPECT_GE(dialog.width(), 337);
  const int extra = dialog.width() - 337;
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());  // not resizable
  for (const QLabel* label : dialog.findChildren<QLabel*>()) {
    EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
    EXPECT_EQ(label->x(), 16);
  }

  for (const char* name : {"Edit1", "Edit2", "ComboBox1", "Edit5", "Edit6", "BitBtn1", "BitBtn2"})
    EXPECT_NE(dialog.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
  EXPECT_TRUE(dialog.NameEdit()->text().isEmpty());
  EXPECT_EQ(dialog.UrlEdit()->text(), "http://");
  EXPECT_EQ(dialog.CategoryList()->currentIndex(), -1);
  EXPECT_FALSE(dialog.CategoryList()->isEditable());
  EXPECT_EQ(dialog.PasswordEdit()->echoMode(), QLineEdit::Normal);  // shown in clear
  EXPECT_EQ(dialog.OkButton()->text(), "OK");
  EXPECT_TRUE(dialog.OkButton()->isDefault());
  EXPECT_EQ(dialog.CancelButton()->text(), "Cancel");
  EXPECT_EQ(dialog.OkButton()->x(), 72 + extra / 2);
  EXPECT_EQ(dialog.CancelButton()->x(), 184 + extra / 2);

  // The list offers the fifteen categories in their order.
  ASSERT_EQ(dialog.CategoryList()->count(), 15);
  for (int i = 0; i < 15; ++i)
    EXPECT_EQ(dialog.CategoryList()->itemText(i).toStdString(), kSiteCategories[static_cast<size_t>(i)]);

  // Fields stacked name, URL, type, login, password, 24 pixels apart.
  const QWidget* rows[] = {dialog.NameEdit(), dialog.UrlEdit(), dialog.CategoryList(), dialog.LoginEdit(),
                           dialog.PasswordEdit()};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(rows[i]->x(), 96 + extra);
    EXPECT_EQ(rows[i]->width(), 225);
    if (i > 0) {
      EXPECT_EQ(rows[i]->y() - rows[i - 1]->y(), 24);
    }
  }
  // Typing stops at what the table's fields hold.
  EXPECT_EQ(dialog.NameEdit()->maxLength(), 60);
  EXPECT_EQ(dialog.UrlEdit()->maxLength(), 100);
  EXPECT_EQ(dialog.LoginEdit()->maxLength(), 30);
  EXPECT_EQ(dialog.PasswordEdit()->maxLength(), 30);
}

TEST_F(SiteDialogTest, TabVisitsLoginAndPasswordBeforeTheCategory) {
  TOKBottomDlg dialog;
  ShowActive(dialog);
  ASSERT_EQ(QApplication::focusWidget(), dialog.NameEdit());
  const QWidget* expected[] = {dialog.UrlEdit(),      dialog.LoginEdit(), dialog.PasswordEdit(),
                               dialog.CategoryList(), dialog.OkButton(),  dialog.CancelButton(),
                               dialog.NameEdit()};
  for (const QWidget* next : expected) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
  }
}

TEST_F(SiteDialogTest, TypedValuesComeOutOnOk) {
  TOKBottomDlg dialog;
  ShowActive(dialog);
  QTest::keyClicks(dialog.NameEdit(), "Example");
  dialog.UrlEdit()->selectAll();
  QTest::keyClicks(dialog.UrlEdit(), "https://example.org/");
  QTest::keyClicks(dialog.LoginEdit(), "me");
  QTest::keyClicks(dialog.PasswordEdit(), "secret");
  // Picking "News" from the list by keyboard.
  dialog.CategoryList()->setFocus();
  QTest::keyClicks(dialog.CategoryList(), "Ne");
  EXPECT_EQ(dialog.CategoryList()->currentText(), "News");

  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.Values(), (TSiteValues{"Example", "https://example.org/", "News", "me", "secret"}));
}

TEST_F(SiteDialogTest, OkIsRefusedSilentlyWhileNameUrlOrCategoryIsEmpty) {
  struct Case {
    const char* what;
    const char* name;
    const char* url;
    int category;
  };
  for (const Case& c : {Case{"no name", "", "http://a.example", 3}, Case{"no URL", "A", "", 3},
                        Case{"no category", "A", "http://a.example", -1}}) {
    SCOPED_TRACE(c.what);
    TOKBottomDlg dialog;
    ShowActive(dialog);
    Fill(dialog, c.name, c.url, c.category);

    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_EQ(QApplication::focusWidget(), dialog.OkButton());  // where the click put it
    // Enter is OK as well, and refused the same way.
    dialog.LoginEdit()->setFocus();
    QTest::keyClick(dialog.LoginEdit(), Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    // Nothing is said and the focus stays where it was.
    EXPECT_EQ(dialog.findChild<QMessageBox*>(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), dialog.LoginEdit());

    // Correcting the field lets the next OK close the dialog.
    Fill(dialog, "A", "http://a.example", 3);
    QTest::keyClick(dialog.LoginEdit(), Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
  }
}

TEST_F(SiteDialogTest, OnlyEmptinessIsChecked) {
  TOKBottomDlg dialog;
  // The initial "http://" is an address, blanks are a name.
  Fill(dialog, "   ", "http://", 0);
  EXPECT_TRUE(dialog.CanAccept());
  const TSiteValues values = dialog.Values();
  EXPECT_EQ(values.Name, "   ");
  EXPECT_EQ(values.Url, "http://");
  EXPECT_EQ(values.Category, "Arts & Humanities");
  EXPECT_EQ(values.Login, "");
  EXPECT_EQ(values.Password, "");
}

TEST_F(SiteDialogTest, CancelEscapeAndTheCloseButtonLeaveWithoutValuesAlsoAfterARefusedOk) {
  enum Way { kCancel, kEscape, kCloseButton };
  for (Way way : {kCancel, kEscape, kCloseButton}) {
    SCOPED_TRACE(way);
    TOKBottomDlg dialog;
    ShowActive(dialog);
    // A refused OK first: nothing may stick from it.
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    ASSERT_TRUE(dialog.isVisible());

    switch (way) {
      case kCancel:
        QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
        break;
      case kEscape:
        QTest::keyClick(dialog.NameEdit(), Qt::Key_Escape);
        break;
      case kCloseButton:
        // What the window manager sends for the title bar's close button.
        EXPECT_TRUE(dialog.close());
        break;
    }
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
  }
}

TEST_F(SiteDialogTest, EditLoadsTheStoredSite) {
  TOKBottomDlg dialog;
  dialog.LoadValues({"Daily", "https://news.example/", "news", "reader", std::nullopt});
  EXPECT_EQ(dialog.NameEdit()->text(), "Daily");
  EXPECT_EQ(dialog.UrlEdit()->text(), "https://news.example/");  // replaces "http://"
  EXPECT_EQ(dialog.CategoryList()->currentText(), "News");       // found ignoring case
  EXPECT_EQ(dialog.LoginEdit()->text(), "reader");
  EXPECT_TRUE(dialog.PasswordEdit()->text().isEmpty());  // null: left empty
  EXPECT_EQ(dialog.Values().Category, "News");           // OK stores the list's text

  // A category outside the list selects nothing, so OK waits for one.
  TOKBottomDlg other;
  other.LoadValues({"Old", "http://old.example", "Gardening", "", ""});
  EXPECT_EQ(other.CategoryList()->currentIndex(), -1);
  EXPECT_FALSE(other.CanAccept());
  other.CategoryList()->setCurrentIndex(8);
  EXPECT_TRUE(other.CanAccept());

  // Null name, URL and category leave the initial contents.
  TOKBottomDlg empty;
  empty.LoadValues({std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt});
  EXPECT_TRUE(empty.NameEdit()->text().isEmpty());
  EXPECT_EQ(empty.UrlEdit()->text(), "http://");
  EXPECT_EQ(empty.CategoryList()->currentIndex(), -1);
}

TEST_F(SiteDialogTest, TextsAreWindows1252BothWays) {
  TOKBottomDlg dialog;
  dialog.LoadValues({"Caf\xE9", "http://caf\xE9.example", "Personal", std::nullopt, std::nullopt});
  EXPECT_EQ(dialog.NameEdit()->text(), QString::fromUtf8("Caf\u00E9"));
  // A character the code page cannot hold is stored as '?'.
  dialog.LoginEdit()->setText(QString::fromUtf8("\u4E2D"));
  const TSiteValues values = dialog.Values();
  EXPECT_EQ(values.Name, "Caf\xE9");
  EXPECT_EQ(values.Login, "?");
}

TEST_F(SiteDialogTest, TheRunnerAnswersValuesOnOkAndNothingOnCancel) {
  QWidget owner;
  TSiteDialogRunner runner(&owner);

  // The user fills the dialog in once it is up and presses Enter.
  QTimer::singleShot(0, [&owner] {
    auto* dialog = owner.findChild<TOKBottomDlg*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isModal());
    QTest::keyClicks(dialog->NameEdit(), "Library");
    dialog->CategoryList()->setCurrentIndex(10);
    QTest::keyClick(dialog->NameEdit(), Qt::Key_Return);
  });
  std::optional<TSiteValues> added = runner.Execute(nullptr);
  ASSERT_TRUE(added.has_value());
  EXPECT_EQ(*added, (TSiteValues{"Library", "http://", "Reference", "", ""}));

  // Edit: loaded from the site; Escape answers nothing.
  const TSiteRecordValues site{"Library", "http://lib.example", "Reference", std::nullopt, std::nullopt};
  QString shownUrl;
  QTimer::singleShot(0, [&owner, &shownUrl] {
    auto* dialog = owner.findChild<TOKBottomDlg*>();
    ASSERT_NE(dialog, nullptr);
    shownUrl = dialog->UrlEdit()->text();
    QTest::keyClick(dialog->NameEdit(), Qt::Key_Escape);
  });
  EXPECT_FALSE(runner.Execute(&site).has_value());
  EXPECT_EQ(shownUrl, "http://lib.example");
  // The dialog is destroyed after each run.
  EXPECT_EQ(owner.findChild<TOKBottomDlg*>(), nullptr);
}

TEST(SiteCategoriesTest, FindsACategoryIgnoringLetterCaseOnly) {
  EXPECT_EQ(FindSiteCategory("News"), 7u);
  EXPECT_EQ(FindSiteCategory("SOCIETY & CULTURE"), 14u);
  EXPECT_EQ(FindSiteCategory("arts & humanities"), 0u);
  EXPECT_FALSE(FindSiteCategory("News ").has_value());
  EXPECT_FALSE(FindSiteCategory("").has_value());
  EXPECT_FALSE(FindSiteCategory("Society").has_value());
}

}  // namespace
}  // namespace marrowick
