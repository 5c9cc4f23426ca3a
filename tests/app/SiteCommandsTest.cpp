// Add, Edit, Delete and View Site from the window's menus, toolbar and
// popup menu, over the sample catalogue, checked through the engine: what
// the dialog is given and what reaches the table; Delete's question; the
// shell asked only for web and mail addresses.
#include <QAction>
#include <QToolButton>

#include "app/MainWindowSupport.h"
#include "grid/qt/DBGridWidget.h"

namespace marrowick {
namespace {

using namespace marrowick::testing;

TEST_F(MainWindowTest, AddStoresTheDialogsValuesAndFocusesTheNewSite) {
  TMainForm& form = ShowForm();
  siteDialog_.answers.push_back(Site("Example", "http://", "Science"));
  QTest::mouseClick(form.Menus().SpeedButton1, Qt::LeftButton);
  ASSERT_EQ(siteDialog_.runs.size(), 1u);
  EXPECT_FALSE(siteDialog_.runs[0].has_value());

  const auto sites = ReadSites(program_);
  ASSERT_EQ(sites.size(), 67u);
  // The URL left at "http://" is stored as it is; empty login and password
  // are stored without a value.
  const TStoredSite& added = sites.at("http://");
  EXPECT_EQ(added.at("sitename"), "Example");
  EXPECT_EQ(added.at("sitetype"), "Science");
  EXPECT_EQ(added.at("login"), "<null>");
  EXPECT_EQ(added.at("password"), "<null>");
  // The new site is the current one, its row focused under its own group.
  EXPECT_EQ(CurrentUrl(), "http://");
  grid::TTreeListNode* row = Grid().FocusedNode();
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row, SiteRow("http://"));
  EXPECT_EQ(grid::TCustomDBGrid::AsDBNode(row->Parent())->GroupValue.ToString(), "Science");
  EXPECT_TRUE(form.Menus().Edit1->isEnabled());

  // Cancel adds nothing.
  form.Menus().Add1->trigger();
  EXPECT_EQ(siteDialog_.runs.size(), 2u);
  EXPECT_EQ(ReadSites(program_).size(), 67u);
}

TEST_F(MainWindowTest, AddOfAUrlTheCatalogueHoldsIsRefusedWithTheEnginesError) {
  TMainForm& form = ShowForm();
  siteDialog_.answers.push_back(Site("Copy", kFirstUrl, "News"));
  form.Menus().AddSite1->trigger();
  ASSERT_EQ(boxes_.errors.size(), 1u);
  EXPECT_NE(boxes_.errors[0].find("Duplicate key"), std::string::npos) << boxes_.errors[0];
  // The values stay in the record being inserted, for the user to mend.
  EXPECT_EQ(Table().State(), dataset::dsInsert);
  EXPECT_EQ(Table().FieldByName("sitename").AsString(), "Copy");
  Table().Cancel();
  EXPECT_EQ(ReadSites(program_).at(kFirstUrl).at("sitename"), "Associated Press");
}

TEST_F(MainWindowTest, EditLoadsTheFocusedSiteAndStoresItsNewValues) {
  TMainForm& form = ShowForm();
  ClickSite("https://www.reuters.com/");
  siteDialog_.answers.push_back(Site("Reuters World", "https://www.reuters.com/world/", "Reference", "me", "secret"));
  QTest::mouseClick(form.Menus().SpeedButton2, Qt::LeftButton);

  ASSERT_EQ(siteDialog_.runs.size(), 1u);
  ASSERT_TRUE(siteDialog_.runs[0].has_value());
  const TSiteRecordValues& loaded = *siteDialog_.runs[0];
  EXPECT_EQ(loaded.Url, "https://www.reuters.com/");
  EXPECT_EQ(loaded.Name, "Reuters");
  EXPECT_EQ(loaded.Category, "News");
  EXPECT_FALSE(loaded.Login.has_value());
  EXPECT_FALSE(loaded.Password.has_value());

  const auto sites = ReadSites(program_);
  EXPECT_EQ(sites.count("https://www.reuters.com/"), 0u);
  const TStoredSite& edited = sites.at("https://www.reuters.com/world/");
  EXPECT_EQ(edited.at("sitename"), "Reuters World");
  EXPECT_EQ(edited.at("sitetype"), "Reference");
  EXPECT_EQ(edited.at("login"), "me");
  EXPECT_EQ(edited.at("password"), "secret");
  EXPECT_NE(edited.at("note"), "<null>");  // the notes are kept
  // The row moved to its new group and stays focused.
  grid::TTreeListNode* row = Grid().FocusedNode();
  ASSERT_EQ(row, SiteRow("https://www.reuters.com/world/"));
  EXPECT_EQ(grid::TCustomDBGrid::AsDBNode(row->Parent())->GroupValue.ToString(), "Reference");
}

TEST_F(MainWindowTest, EditOfASiteWithoutANameShowsItEmptyInsteadOfFailing) {
  TMainForm& form = ShowForm();
  ClickSite("https://www.reuters.com/");
  Table().Edit();
  Table().FieldByName("sitename").Clear();
  Table().Post();
  form.Menus().EditSite1->trigger();
  EXPECT_TRUE(boxes_.errors.empty());
  ASSERT_EQ(siteDialog_.runs.size(), 1u);
  EXPECT_FALSE(siteDialog_.runs[0]->Name.has_value());
  EXPECT_EQ(siteDialog_.runs[0]->Url, "https://www.reuters.com/");
}

TEST_F(MainWindowTest, ASecondSiteDialogIsNotOpenedWhileOneIsOpen) {
  TMainForm& form = ShowForm();
  ClickSite("https://www.reuters.com/");
  // The tray's Add while the Edit dialog is open does nothing, so the
  // edit cannot land on a site added meanwhile.
  siteDialog_.during = [&form] { form.TrayMenu()->actions()[0]->trigger(); };
  siteDialog_.answers.push_back(Site("Reuters 2", "https://www.reuters.com/", "News"));
  form.Menus().Edit1->trigger();
  EXPECT_EQ(siteDialog_.runs.size(), 1u);
  EXPECT_EQ(ReadSites(program_).at("https://www.reuters.com/").at("sitename"), "Reuters 2");
}

TEST_F(MainWindowTest, DeleteAsksTheGridsQuestionAndDeletesOnlyTheFocusedSite) {
  TMainForm& form = ShowForm();
  ClickSite("https://www.reuters.com/");
  boxes_.answers = {false};
  form.Menus().Delete1->trigger();
  EXPECT_EQ(boxes_.questions, std::vector<std::string>{"Confirm: Delete record?"});
  EXPECT_EQ(ReadSites(program_).count("https://www.reuters.com/"), 1u);

  boxes_.answers = {true};
  QTest::mouseClick(form.Menus().SpeedButton3, Qt::LeftButton);
  EXPECT_EQ(boxes_.questions.size(), 2u);
  const auto sites = ReadSites(program_);
  EXPECT_EQ(sites.size(), 65u);
  EXPECT_EQ(sites.count("https://www.reuters.com/"), 0u);
  // The row is gone, and the focus is on a site that exists.
  EXPECT_EQ(SiteRow("https://www.reuters.com/"), nullptr);
  grid::TTreeListNode* focused = Grid().FocusedNode();
  ASSERT_NE(focused, nullptr);
  if (!focused->HasChildren()) {
    EXPECT_EQ(sites.count(grid::TCustomDBGrid::AsDBNode(focused)->KeyValue.ToString()), 1u);
  }
}

TEST_F(MainWindowTest, ViewSiteOpensWebAddressesAndRefusesAnythingElseByName) {
  TMainForm& form = ShowForm();
  ClickSite("https://www.reuters.com/");
  QTest::mouseClick(form.Menus().SpeedButton4, Qt::LeftButton);
  EXPECT_EQ(shell_.opened, std::vector<std::string>{"https://www.reuters.com/"});

  // A site whose address is a local file, a program or a script.
  for (const std::string url : {"file:///etc/passwd", "/usr/bin/xterm", "javascript:alert(1)"}) {
    SCOPED_TRACE(url);
    Table().Edit();
    Table().FieldByName("siteurl").SetAsString(url);
    Table().Post();
    ASSERT_EQ(CurrentUrl(), url);
    boxes_.errors.clear();
    form.Menus().ViewSite2->trigger();
    EXPECT_EQ(shell_.opened.size(), 1u);
    ASSERT_EQ(boxes_.errors.size(), 1u);
    EXPECT_EQ(boxes_.errors[0], ErrorDisplayText(RefusedAddressMessage(url)));
    EXPECT_NE(boxes_.errors[0].find("\"" + url + "\""), std::string::npos);
  }

  // The grid's link column says the same.
  boxes_.errors.clear();
  Grid().SetFocusedColumn(Grid().FindColumn("SiteUrl")->Index());
  EXPECT_FALSE(Grid().StartLink());
  EXPECT_EQ(boxes_.errors, std::vector<std::string>{ErrorDisplayText(RefusedAddressMessage("javascript:alert(1)"))});

  // A bare host name is opened as a web address.
  Table().Edit();
  Table().FieldByName("siteurl").SetAsString("www.example.org");
  Table().Post();
  form.Menus().ViewSite1->trigger();
  EXPECT_EQ(shell_.opened.back(), "http://www.example.org");
}

}  // namespace
}  // namespace marrowick
