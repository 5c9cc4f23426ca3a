// The main window as the user sees it: its layout, menus with their access
// keys and check items, the toolbar and both popup menus, the View > Columns
// check marks (right from the start) and toggles, Help and About, the tray
// icon, the commands disabled without a current site, and the narrowing of a
// catalogue other users could read.
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>

#include "app/AboutBox.h"
#include "app/Banner.h"
#include "app/CommandLine.h"
#include "app/HelpViewer.h"
#include "app/MainWindowSupport.h"

namespace marrowick {
namespace {

using namespace marrowick::testing;

std::vector<std::string> Captions(const QMenu* menu) {
  std::vector<std::string> captions;
  for (const QAction* action : menu->actions()) {
    captions.push_back(action->isSeparator() ? "-" : action->text().toStdString());
  }
  return captions;
}

TEST_F(MainWindowTest, TheWindowIsLaidOutFromTopToBottom) {
  TMainForm& form = ShowForm();
  EXPECT_EQ(form.windowTitle(), "Marrowick");
  EXPECT_EQ(form.ToolbarPanel()->height(), 41);
  EXPECT_EQ(form.BannerPanel()->height(), 68);
  EXPECT_EQ(form.BannerPanel()->Banner()->geometry(), QRect(6, 2, 468, 60));
  EXPECT_EQ(form.Splitter()->handleWidth(), 3);
  EXPECT_EQ(form.NotesBox()->title(), "Notes");
  EXPECT_EQ(form.NotesBox()->height(), 76);
  EXPECT_EQ(form.statusBar()->height(), 19);
  EXPECT_EQ(form.DBMemo1()->objectName(), "DBMemo1");
  EXPECT_EQ(form.GridWidget()->objectName(), "DBGrid1");
  // Top to bottom: toolbar, banner, grid, notes.
  auto top = [&form](const QWidget* w) { return w->mapTo(&form, QPoint(0, 0)).y(); };
  EXPECT_LT(top(form.ToolbarPanel()), top(form.BannerPanel()));
  EXPECT_LT(top(form.BannerPanel()), top(form.GridWidget()));
  EXPECT_LT(top(form.GridWidget()), top(form.NotesBox()));
  // The notes keep their height when the window grows; the grid takes the rest.
  const int gridHeight = form.GridWidget()->height();
  form.resize(form.width(), form.height() + 100);
  QCoreApplication::processEvents();
  EXPECT_EQ(form.NotesBox()->height(), 76);
  EXPECT_EQ(form.GridWidget()->height(), gridHeight + 100);

  const TMainMenus& m = form.Menus();
  const std::pair<QToolButton*, std::pair<QRect, const char*>> buttons[] = {
      {m.SpeedButton1, {QRect(8, 8, 23, 22), "Add Site"}},
      {m.SpeedButton2, {QRect(40, 8, 23, 22), "Edit Site"}},
      {m.SpeedButton3, {QRect(72, 8, 23, 22), "Delete Site"}},
      {m.SpeedButton4, {QRect(104, 8, 23, 22), "Launch Site in Browser"}},
  };
  for (const auto& [button, expected] : buttons) {
    EXPECT_EQ(button->geometry(), expected.first);
    EXPECT_EQ(button->toolTip().toStdString(), expected.second);
    EXPECT_TRUE(button->autoRaise());
    EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
    EXPECT_FALSE(button->icon().isNull());
  }
}

TEST_F(MainWindowTest, MenusCarryTheirCaptionsAccessKeysAndCheckItems) {
  TMainForm& form = CreateForm();
  std::vector<std::string> bar;
  for (const QAction* action : form.menuBar()->actions()) bar.push_back(action->text().toStdString());
  EXPECT_EQ(bar, (std::vector<std::string>{"&File", "&Sites", "View", "&Tools", "&Help"}));
  const TMainMenus& m = form.Menus();
  EXPECT_EQ(Captions(m.File), (std::vector<std::string>{"&Import Bookmarks...", "Export", "-", "&Exit"}));
  EXPECT_EQ(Captions(m.Sites), (std::vector<std::string>{"&Add Site", "&Edit Site", "&Delete Site", "-", "View Site",
                                                         "-", "Copy &URL", "Copy &Login", "Copy &Password"}));
  EXPECT_EQ(Captions(m.View), (std::vector<std::string>{"Columns", "-", "&Refresh"}));
  EXPECT_EQ(Captions(m.Tools), std::vector<std::string>{"&Check Catalogue"});
  EXPECT_EQ(Captions(m.Columns1), (std::vector<std::string>{"Site Category", "Site Name", "Site URL",
                                                            "Site Password", "Site Login"}));
  for (const QAction* item : m.Columns1->actions()) EXPECT_TRUE(item->isCheckable());
  EXPECT_EQ(Captions(m.Help), (std::vector<std::string>{"&Help", "-", "&About"}));
  EXPECT_EQ(Captions(m.PopupMenu1), (std::vector<std::string>{"Add Site", "Edit Site", "Delete Site", "-", "View Site",
                                                              "-", "Copy URL", "Copy Login", "Copy Password"}));
  EXPECT_EQ(form.GridWidget()->PopupMenu(), m.PopupMenu1);
  EXPECT_EQ(Captions(form.TrayMenu()), (std::vector<std::string>{"Add", "-", "Restore", "Exit"}));
}

TEST_F(MainWindowTest, AltSThenAOpensTheSiteDialogFromTheKeyboard) {
  TMainForm& form = ShowForm();
  QApplication::setActiveWindow(&form);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  QTest::keyClick(&form, Qt::Key_S, Qt::AltModifier);
  QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
  EXPECT_EQ(QApplication::activePopupWidget(), form.Menus().Sites);
  QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_A);
  QTRY_COMPARE(siteDialog_.runs.size(), size_t{1});
  EXPECT_FALSE(siteDialog_.runs[0].has_value());  // Add: the dialog's own initial contents
}

// ---- View > Columns ----

TEST_F(MainWindowTest, ColumnCheckMarksShowTheGridFromTheFirstMomentAndFollowTheToggles) {
  // The stored layout shows the login column; the password stays hidden.
  store_.SetValue("Software\\Tolvane\\Marrowick\\grid\\Columns\\SiteLogin", "Visible", "1");
  store_.keys["Software\\Tolvane\\Marrowick\\grid"];
  TMainForm& form = CreateForm();
  const TMainMenus& m = form.Menus();
  auto marks = [&m] {
    return std::vector<bool>{m.Category1->isChecked(), m.SiteName1->isChecked(), m.SiteURL1->isChecked(),
                             m.SitePassword1->isChecked(), m.SiteLogin1->isChecked()};
  };
  EXPECT_EQ(marks(), (std::vector<bool>{true, true, true, false, true}));

  // A click on a checked item hides its column and clears the mark; a click
  // on an unchecked item shows the column (never the other way round).
  m.SiteLogin1->trigger();
  EXPECT_FALSE(Grid().FindColumn("SiteLogin")->Visible());
  m.SitePassword1->trigger();
  EXPECT_TRUE(Grid().FindColumn("SitePassword")->Visible());
  m.Category1->trigger();
  EXPECT_FALSE(Grid().FindColumn("SiteCategory")->Visible());
  EXPECT_EQ(Grid().GroupColumnCount(), 1);  // hiding the grouped column keeps the grouping
  EXPECT_EQ(marks(), (std::vector<bool>{false, true, true, true, false}));
  m.SiteLogin1->trigger();
  EXPECT_TRUE(Grid().FindColumn("SiteLogin")->Visible());
  EXPECT_TRUE(m.SiteLogin1->isChecked());
}

TEST_F(MainWindowTest, ColumnCheckMarksAreRightEvenWhenTheStartFails) {
  // A placement value that is not a number stops the start before the
  // menu's synchronisation; the marks are right all the same.
  store_.SetValue("Software\\Tolvane\\Marrowick", "Top", "abc");
  TMainForm& form = CreateForm();
  EXPECT_EQ(boxes_.errors, std::vector<std::string>{"'abc' is not a valid integer value."});
  EXPECT_TRUE(form.Menus().SiteName1->isChecked());
  EXPECT_FALSE(form.Menus().SiteLogin1->isChecked());
  EXPECT_FALSE(form.Menus().SitePassword1->isChecked());
  form.Menus().SiteLogin1->trigger();
  EXPECT_TRUE(Grid().FindColumn("SiteLogin")->Visible());
}

// ---- no current site ----

TEST_F(MainWindowTest, WithoutACurrentSiteEditDeleteAndViewSiteAreDisabledAndDoNothing) {
  EmptyCatalogue();
  TMainForm& form = ShowForm();
  const TMainMenus& m = form.Menus();
  for (QAction* action : {m.Edit1, m.Delete1, m.ViewSite2, m.EditSite1, m.DeleteSite1, m.ViewSite1}) {
    EXPECT_FALSE(action->isEnabled()) << action->objectName().toStdString();
  }
  for (QToolButton* button : {m.SpeedButton2, m.SpeedButton3, m.SpeedButton4}) EXPECT_FALSE(button->isEnabled());
  EXPECT_TRUE(m.Add1->isEnabled());
  EXPECT_TRUE(m.SpeedButton1->isEnabled());
  // Run anyway (a shortcut, a stale menu): nothing at all happens.
  form.Edit1Click();
  form.Delete1Click();
  form.SpeedButton4Click();
  EXPECT_TRUE(siteDialog_.runs.empty());
  EXPECT_EQ(boxes_.errors, std::vector<std::string>{});
  EXPECT_TRUE(boxes_.questions.empty());
  EXPECT_TRUE(shell_.opened.empty());
}

TEST_F(MainWindowTest, AGroupRowIsNoSiteButASiteRowIs) {
  TMainForm& form = ShowForm();
  // At start the first record's group row is focused: it stands for a
  // group, and the commands do not reach a site the user cannot see.
  ASSERT_TRUE(Grid().FocusedNode()->HasChildren());
  EXPECT_FALSE(form.Menus().Edit1->isEnabled());
  form.Delete1Click();
  EXPECT_TRUE(boxes_.questions.empty());
  EXPECT_EQ(ReadSites(program_).size(), 66u);

  ClickSite("https://www.reuters.com/");
  EXPECT_TRUE(form.Menus().Edit1->isEnabled());
  EXPECT_TRUE(form.Menus().SpeedButton3->isEnabled());
  EXPECT_TRUE(form.Menus().ViewSite1->isEnabled());
}

TEST_F(MainWindowTest, WithTheCatalogueMissingAddSaysTheTableIsClosedBeforeTheDialog) {
  fs::remove(program_ / "linksdata.DAT");
  TMainForm& form = CreateForm();
  EXPECT_EQ(boxes_.notices,
            std::vector<std::string>{"Links information not found please redownload or reinstall Marrowick"});
  form.Menus().Add1->trigger();
  EXPECT_TRUE(siteDialog_.runs.empty());
  EXPECT_EQ(boxes_.errors, std::vector<std::string>{"Cannot perform this operation on a closed dataset."});
  EXPECT_FALSE(form.Menus().Edit1->isEnabled());
  // The notes pane is empty and refuses typing.
  QTest::keyClicks(form.DBMemo1(), "typed");
  EXPECT_EQ(form.DBMemo1()->toPlainText(), "");
}

// ---- help, about ----

TEST_F(MainWindowTest, HelpShowsTheHelpFileAtItsWelcomeTopic) {
  TMainForm& form = CreateForm();
  form.Menus().Help2->trigger();
  ASSERT_NE(form.HelpViewer(), nullptr);
  EXPECT_TRUE(form.HelpViewer()->isVisible());
  EXPECT_EQ(fs::path(form.HelpViewer()->HelpFilePath()).filename(), "MARROWICK.HLP");
  EXPECT_EQ(form.HelpViewer()->Browser()->source().fragment(), "welcome");
  EXPECT_EQ(qApp->property("HelpFile").toString(), "marrowick.hlp");

  // Without the file nothing is shown and nothing is said.
  form_.reset();
  fs::remove(program_ / "MARROWICK.HLP");
  TMainForm& again = CreateForm();
  again.Menus().Help2->trigger();
  EXPECT_TRUE(again.HelpViewer() == nullptr || !again.HelpViewer()->isVisible());
  EXPECT_TRUE(boxes_.errors.empty());
}

TEST_F(MainWindowTest, AboutShowsTheAboutBoxModallyAndItsLinksGoThroughTheShell) {
  TMainForm& form = ShowForm();
  QString caption;
  QTimer::singleShot(0, [&caption] {
    auto* box = qobject_cast<TAboutBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    caption = box->windowTitle();
    box->MailLinkClick();
    box->OkButton()->click();
  });
  form.Menus().About1->trigger();
  EXPECT_EQ(caption, "About Marrowick");
  ASSERT_EQ(shell_.opened.size(), 1u);
  EXPECT_EQ(shell_.opened[0].rfind("Mailto:", 0), 0u);
  EXPECT_EQ(form.findChildren<TAboutBox*>().size(), 0);  // destroyed when closed
}

// ---- tray ----

TEST_F(MainWindowTest, MinimisingHidesTheWindowInTheTrayAndItsMenuRestoresIt) {
  TMainForm& form = ShowForm();
  ASSERT_TRUE(form.Tray()->InTray());
  EXPECT_EQ(form.Tray()->ToolTip(), "Marrowick");
  EXPECT_EQ(form.Tray()->PopupMenu(), form.TrayMenu());
  form.showMinimized();
  QCoreApplication::processEvents();
  QTRY_VERIFY(!form.isVisible());

  // Add from the tray opens the dialog; the window stays hidden.
  siteDialog_.answers.push_back(Site("Tray Site", "https://tray.example/", "Personal"));
  form.TrayMenu()->actions()[0]->trigger();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(ReadSites(program_).count("https://tray.example/"), 1u);

  form.TrayMenu()->actions()[2]->trigger();  // Restore
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.isMinimized());
}

TEST_F(MainWindowTest, WithoutANotificationAreaTheWindowMinimisesNormally) {
  trayPresent_ = false;
  TMainForm& form = ShowForm();
  EXPECT_FALSE(form.Tray()->InTray());
  form.showMinimized();
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.isMinimized());
  // A notification area that appears later gets the icon.
  trayPresent_ = true;
  form.Tray()->PollTrayAvailability();
  EXPECT_TRUE(form.Tray()->InTray());
}

// ---- keeping the catalogue to its owner ----

TEST_F(MainWindowTest, ACatalogueOthersCanReadIsNarrowedAndTheUserToldOnce) {
  for (const char* name : kCatalogueFiles) fs::permissions(program_ / name, fs::perms(0644));
  CreateForm();
  for (const char* name : kCatalogueFiles) EXPECT_EQ(FileMode(program_ / name), "0600") << name;
  EXPECT_EQ(boxes_.notices, std::vector<std::string>{TMainForm::kNarrowedMessage});
  EXPECT_TRUE(form_->DBTable().Active());

  boxes_ = {};
  CreateForm();
  EXPECT_TRUE(boxes_.notices.empty());
}

}  // namespace
}  // namespace marrowick

namespace marrowick {
namespace {

TEST(MinimizedStartTest, TheWindowMayStartMinimisedButNotWithAnExport) {
  auto parse = [](std::vector<const char*> arguments) {
    QStringList list{QStringLiteral("marrowick")};
    for (const char* argument : arguments) list << QString::fromUtf8(argument);
    return ParseCommandLine(list);
  };
  EXPECT_FALSE(parse({}).Minimized);
  const TCommandLine minimized = parse({"--minimized", "-platform", "offscreen"});
  EXPECT_EQ(minimized.Kind, TCommandKind::Window);
  EXPECT_TRUE(minimized.Minimized);
  const TCommandLine both = parse({"--minimized", "--export", "x.html"});
  EXPECT_EQ(both.Kind, TCommandKind::Error);
  EXPECT_EQ(both.Error, "--minimized starts the window; it cannot go with --export");
}

}  // namespace
}  // namespace marrowick
