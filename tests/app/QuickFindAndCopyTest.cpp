// The quick find box (Ctrl+F, typing narrows the grid, Escape clears) and
// copying a site's URL, login and password without showing them (Ctrl+U,
// Ctrl+B, Ctrl+Shift+C and the popup menu): the password leaves the
// clipboard after 20 seconds of the window's clock unless something else
// was copied meanwhile, and carries the desktop's password hint.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMimeData>

#include "app/CredentialCopy.h"
#include "app/MainWindowSupport.h"
#include "app/QuickFindBox.h"
#include "grid/model/QuickFind.h"
#include "platform/qt/Clipboard.h"

namespace marrowick {
namespace {

using namespace marrowick::testing;

class QuickFindAndCopyTest : public MainWindowTest {
 protected:
  // Sites whose name, URL, category, login or note hold text, letter case
  // ignored, as the catalogue stores them.
  size_t Matches(const std::string& text) {
    const grid::TFindNeedle needle(text);
    size_t n = 0;
    for (const auto& [url, site] : ReadSites(program_)) {
      for (const char* field : {"sitename", "siteurl", "sitetype", "login", "note"}) {
        if (site.at(field) != "<null>" && needle.FoundIn(site.at(field))) {
          ++n;
          break;
        }
      }
    }
    return n;
  }
  // Gives Reuters a login and a password through the site dialog.
  void GiveReutersCredentials() {
    ClickSite(kReuters);
    siteDialog_.answers.push_back(Site("Reuters", kReuters, "News", "reader", "zqx-pass"));
    form_->Menus().Edit1->trigger();
    ASSERT_EQ(ReadSites(program_).at(kReuters).at("password"), "zqx-pass");
  }
  void Key(int key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key), modifiers);
  }

  static constexpr const char* kReuters = "https://www.reuters.com/";
};

TEST_F(QuickFindAndCopyTest, CtrlFFindsAsTheUserTypesAndEscapeClearsKeepingTheFocusedSite) {
  TMainForm& form = ShowActive();
  ClickSite(kReuters);
  TQuickFindBox* box = form.QuickFind();
  ASSERT_EQ(box->objectName(), "QuickFind");
  EXPECT_EQ(box->parentWidget(), form.ToolbarPanel());

  Key(Qt::Key_F, Qt::ControlModifier);
  EXPECT_EQ(QApplication::focusWidget(), box);
  QTest::keyClicks(box, "NEWS");
  EXPECT_EQ(Grid().FilterText(), "NEWS");
  ASSERT_GT(Matches("news"), 1u);
  EXPECT_EQ(static_cast<size_t>(Grid().ShownDataRowCount()), Matches("news"));
  EXPECT_EQ(CurrentUrl(), kReuters);  // it matches, so it stays

  // Narrower as typed; the focus moves to a match when its site leaves.
  QTest::keyClicks(box, " agency");
  EXPECT_EQ(static_cast<size_t>(Grid().ShownDataRowCount()), Matches("news agency"));
  EXPECT_EQ(CurrentUrl(), kReuters);
  box->selectAll();
  QTest::keyClicks(box, "gutenberg");
  EXPECT_EQ(Grid().ShownDataRowCount(), 1);
  EXPECT_EQ(CurrentUrl(), "https://www.gutenberg.org/");
  EXPECT_TRUE(form.Menus().CopyUrl1->isEnabled());

  // Escape: the whole catalogue again, the focused site kept; a second
  // Escape hands the keyboard back to the grid.
  Key(Qt::Key_Escape, Qt::NoModifier);
  EXPECT_TRUE(box->text().isEmpty());
  EXPECT_FALSE(Grid().Filtered());
  EXPECT_EQ(Grid().ShownDataRowCount(), 66);
  EXPECT_EQ(CurrentUrl(), "https://www.gutenberg.org/");
  EXPECT_EQ(Grid().FocusedNode(), SiteRow("https://www.gutenberg.org/"));
  EXPECT_EQ(QApplication::focusWidget(), box);
  Key(Qt::Key_Escape, Qt::NoModifier);
  EXPECT_TRUE(form.GridWidget()->isAncestorOf(QApplication::focusWidget()) ||
              QApplication::focusWidget() == form.GridWidget());
}

TEST_F(QuickFindAndCopyTest, PasswordsAreNotSearchedLoginsAre) {
  TMainForm& form = ShowActive();
  GiveReutersCredentials();
  form.QuickFind()->setText("ZQX");
  EXPECT_FALSE(Grid().RowMatchesFilter(SiteRow(kReuters)));
  form.QuickFind()->setText("Reader");
  EXPECT_TRUE(Grid().RowMatchesFilter(SiteRow(kReuters)));
  EXPECT_EQ(static_cast<size_t>(Grid().ShownDataRowCount()), Matches("reader"));
  form.QuickFind()->clear();
  EXPECT_EQ(Grid().ShownDataRowCount(), 66);
}

TEST_F(QuickFindAndCopyTest, CopyCommandsTakeTheFocusedSitesValuesByKeyAndPopupMenuAndNeedASite) {
  TMainForm& form = ShowActive();
  const TMainMenus& m = form.Menus();
  // At start a group row is focused: no site, nothing copied.
  for (QAction* action : {m.CopyUrl1, m.CopyLogin1, m.CopyPassword1, m.CopyUrl2, m.CopyLogin2, m.CopyPassword2})
    EXPECT_FALSE(action->isEnabled()) << action->objectName().toStdString();
  form.GridWidget()->RowsView()->setFocus();
  Key(Qt::Key_U, Qt::ControlModifier);
  form.CopyPassword1Click();
  EXPECT_EQ(clipboard_.sets, 0);

  GiveReutersCredentials();
  form.GridWidget()->RowsView()->setFocus();
  Key(Qt::Key_U, Qt::ControlModifier);
  EXPECT_EQ(clipboard_.text, kReuters);
  Key(Qt::Key_B, Qt::ControlModifier);
  EXPECT_EQ(clipboard_.text, "reader");
  Key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(clipboard_.text, "zqx-pass");
  EXPECT_TRUE(form.CredentialCopy().PasswordPending());
  EXPECT_EQ(m.CopyPassword1->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+C")));
  EXPECT_EQ(m.CopyPassword2->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+C")));

  m.CopyUrl2->trigger();
  EXPECT_EQ(clipboard_.text, kReuters);
  EXPECT_FALSE(form.CredentialCopy().PasswordPending());
  m.CopyLogin2->trigger();
  EXPECT_EQ(clipboard_.text, "reader");
  // Nothing was shown: no dialog, no message.
  EXPECT_EQ(siteDialog_.runs.size(), 1u);
  EXPECT_TRUE(boxes_.errors.empty());
}

TEST_F(QuickFindAndCopyTest, ThePasswordLeavesTheClipboardAfterTwentySecondsUnlessSomethingElseCameMeanwhile) {
  TMainForm& form = ShowActive();
  GiveReutersCredentials();
  form.CopyPassword1Click();
  timers_.Advance(TCredentialCopy::kPasswordLifetime - 1);
  EXPECT_EQ(clipboard_.text, "zqx-pass");
  timers_.Advance(1);
  EXPECT_EQ(clipboard_.text, "");
  EXPECT_FALSE(form.CredentialCopy().PasswordPending());

  // Another program copied something meanwhile: it stays.
  form.CopyPassword1Click();
  clipboard_.SetText("copied elsewhere");
  timers_.Advance(TCredentialCopy::kPasswordLifetime);
  EXPECT_EQ(clipboard_.text, "copied elsewhere");

  // The URL copied after the password: the password's clearing is off.
  form.CopyPassword1Click();
  form.CopyUrl1Click();
  timers_.Advance(TCredentialCopy::kPasswordLifetime);
  EXPECT_EQ(clipboard_.text, kReuters);

  // The window going takes a password still there with it.
  form.CopyPassword1Click();
  form_.reset();
  EXPECT_EQ(clipboard_.text, "");
}

TEST_F(QuickFindAndCopyTest, OnTheDesktopsClipboardThePasswordCarriesThePasswordManagerHint) {
  platform::TQtClipboard desktop;
  clipboardService_ = &desktop;
  TMainForm& form = ShowActive();
  GiveReutersCredentials();
  QClipboard* clipboard = QGuiApplication::clipboard();

  form.CopyPassword1Click();
  const QMimeData* data = clipboard->mimeData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->text(), "zqx-pass");
  EXPECT_EQ(data->data(QStringLiteral("x-kde-passwordManagerHint")), QByteArray("secret"));
  timers_.Advance(TCredentialCopy::kPasswordLifetime);
  EXPECT_TRUE(clipboard->text().isEmpty());

  // A URL is no secret; a text copied over the password stays, even when
  // it happens to be the same text.
  form.CopyUrl1Click();
  EXPECT_FALSE(clipboard->mimeData()->hasFormat(QStringLiteral("x-kde-passwordManagerHint")));
  form.CopyPassword1Click();
  clipboard->setText(QStringLiteral("zqx-pass"));
  timers_.Advance(TCredentialCopy::kPasswordLifetime);
  EXPECT_EQ(clipboard->text(), "zqx-pass");
  clipboard->clear();
  form_.reset();  // before the clipboard it was given
}

}  // namespace
}  // namespace marrowick
