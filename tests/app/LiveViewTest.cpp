// The window follows other programs' changes of the catalogue: another
// process writes through the engine, the test moves the window's clock, and
// the grid shows the change within a second, with the focused site and the
// top row kept; never while this program has an edit pending; View >
// Refresh (F5) at once; a hidden window does not look.
#include <QAction>
#include <QApplication>
#include <QScrollBar>

#include "app/LiveView.h"
#include "app/QuickFindBox.h"
#include "app/MainWindowSupport.h"
#include "app/OtherProgram.h"

namespace marrowick {
namespace {

using namespace marrowick::testing;

class LiveViewTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    // Forked before the window opens the table.
    other_ = std::make_unique<TOtherProgram>((program_ / "linksdata.dat").string());
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    other_.reset();
  }


  std::string RowName(const std::string& url) {
    grid::TTreeListNode* node = SiteRow(url);
    return node == nullptr ? "<no row>" : grid::TCustomDBGrid::AsDBNode(node)->Strings(Grid().FindColumn("SiteName")->Index());
  }
  int ScrollValue() { return form_->GridWidget()->RowsView()->verticalScrollBar()->value(); }
  // The row at the top of the grid: its key and level.
  std::string TopRow() {
    grid::TTreeListNode* top = Grid().TopNode();
    if (top == nullptr) return "<none>";
    return grid::TCustomDBGrid::AsDBNode(top)->KeyValue.ToString() + " at level " + std::to_string(top->Level());
  }
  int Refreshes() { return form_->LiveView().Refreshes(); }
  void TypeNote(const char* text) {
    TDBMemo* memo = form_->DBMemo1();
    memo->setFocus(Qt::MouseFocusReason);
    QCoreApplication::processEvents();
    memo->moveCursor(QTextCursor::End);
    QTest::keyClicks(memo, text);
  }

  static constexpr const char* kReuters = "https://www.reuters.com/";
  static constexpr const char* kBbc = "https://www.bbc.com/news";

  std::unique_ptr<TOtherProgram> other_;
};

TEST_F(LiveViewTest, AnotherProgramsChangesShowWithinASecondKeepingTheFocusedSiteAndTheTopRow) {
  TMainForm& form = ShowActive();
  form.resize(form.width(), 360);  // fewer rows than sites, so the grid scrolls
  ClickSite(kReuters);
  const int scroll = ScrollValue();
  ASSERT_GT(scroll, 0);
  const std::string top = TopRow();
  const std::string bbcName = RowName(kBbc);

  ASSERT_EQ(other_->Set(kBbc, "sitename", "BBC, changed elsewhere"), "ok");
  timers_.Advance(TLiveView::kInterval - 1);
  EXPECT_EQ(RowName(kBbc), bbcName);  // not looked yet
  timers_.Advance(1);
  EXPECT_EQ(RowName(kBbc), "BBC, changed elsewhere");
  EXPECT_EQ(Refreshes(), 1);
  EXPECT_EQ(Grid().FocusedNode(), SiteRow(kReuters));
  EXPECT_EQ(CurrentUrl(), kReuters);
  EXPECT_EQ(ScrollValue(), scroll);

  // Nothing changed: the view only looks.
  timers_.Advance(5 * TLiveView::kInterval);
  EXPECT_EQ(Refreshes(), 1);

  // A site added and one deleted elsewhere; a note changed elsewhere shows
  // in the notes pane of the focused site.
  ASSERT_EQ(other_->Add("News", "Elsewhere", "https://elsewhere.example/"), "ok");
  ASSERT_EQ(other_->Delete("https://apnews.com/"), "ok");
  ASSERT_EQ(other_->Set(kReuters, "note", "Written elsewhere"), "ok");
  timers_.Advance(TLiveView::kInterval);
  EXPECT_EQ(RowName("https://elsewhere.example/"), "Elsewhere");
  EXPECT_EQ(SiteRow("https://apnews.com/"), nullptr);
  EXPECT_EQ(form.DBMemo1()->toPlainText().toStdString(), "Written elsewhere");
  EXPECT_EQ(Grid().FocusedNode(), SiteRow(kReuters));
  // A row above went, one came: the same row stays at the top.
  EXPECT_EQ(TopRow(), top);
  EXPECT_TRUE(boxes_.errors.empty());
}

TEST_F(LiveViewTest, AnEditPendingHereIsNeverThrownAwayTheRefreshWaitsForIt) {
  TMainForm& form = ShowActive();
  ClickSite(kReuters);
  TypeNote(" typed here");
  ASSERT_EQ(Table().State(), dataset::dsEdit);
  const std::string pane = form.DBMemo1()->toPlainText().toStdString();
  const std::string bbcName = RowName(kBbc);

  ASSERT_EQ(other_->Set(kBbc, "sitename", "BBC, changed elsewhere"), "ok");
  timers_.Advance(3 * TLiveView::kInterval);
  EXPECT_TRUE(form.LiveView().Waiting());
  EXPECT_EQ(RowName(kBbc), bbcName);
  EXPECT_EQ(Refreshes(), 0);
  EXPECT_EQ(Table().State(), dataset::dsEdit);
  EXPECT_EQ(form.DBMemo1()->toPlainText().toStdString(), pane);

  // Moving on stores the note; the next look takes the change in.
  ClickSite(kBbc);
  EXPECT_EQ(ReadSites(program_).at(kReuters).at("note"), pane);
  timers_.Advance(TLiveView::kInterval);
  EXPECT_FALSE(form.LiveView().Waiting());
  EXPECT_EQ(RowName(kBbc), "BBC, changed elsewhere");
  EXPECT_EQ(Grid().FocusedNode(), SiteRow(kBbc));

  // A cell being edited holds the refresh back as well.
  ASSERT_EQ(other_->Set(kReuters, "sitename", "Reuters, changed elsewhere"), "ok");
  ASSERT_TRUE(Grid().ShowEditor());
  timers_.Advance(2 * TLiveView::kInterval);
  EXPECT_TRUE(Grid().EditorOpen());
  EXPECT_TRUE(form.LiveView().Waiting());
  Grid().HideEditor();
  timers_.Advance(TLiveView::kInterval);
  EXPECT_EQ(RowName(kReuters), "Reuters, changed elsewhere");
}

TEST_F(LiveViewTest, ASiteEditedHereCannotBeDeletedElsewhereAndOneDeletedDuringTheDialogLosesNothing) {
  TMainForm& form = ShowActive();
  ClickSite(kReuters);
  TypeNote(" mine");
  // The edit holds the record: the other program is refused.
  EXPECT_EQ(other_->Delete(kReuters),
            "Tessel Engine Error # 10258 Record in table 'linksdata.dat' is in use by another user");
  ClickSite(kBbc);
  EXPECT_NE(ReadSites(program_).at(kReuters).at("note").find(" mine"), std::string::npos);

  // The site dialog holds nothing while it is open: the site goes meanwhile,
  // and OK reports the engine's message; what was typed comes back in the
  // dialog, offered as a new site.
  siteDialog_.during = [this] {
    siteDialog_.during = nullptr;
    EXPECT_EQ(other_->Delete(kBbc), "ok");
  };
  const TSiteValues typed = Site("BBC, typed here", kBbc, "News", "me", "pw");
  siteDialog_.answers.push_back(typed);
  siteDialog_.answers.push_back(typed);
  form.Menus().Edit1->trigger();
  ASSERT_EQ(boxes_.errors.size(), 1u);
  EXPECT_EQ(boxes_.errors[0],
            "Tessel Engine Error # 8708 Record has been changed or deleted by another user in table 'linksdata.dat'");
  ASSERT_EQ(siteDialog_.runs.size(), 2u);
  ASSERT_TRUE(siteDialog_.runs[1].has_value());
  EXPECT_EQ(siteDialog_.runs[1]->Name, "BBC, typed here");
  EXPECT_EQ(siteDialog_.runs[1]->Login, "me");
  EXPECT_EQ(ReadSites(program_).at(kBbc).at("sitename"), "BBC, typed here");
  EXPECT_EQ(ReadSites(program_).at(kBbc).at("password"), "pw");
  EXPECT_EQ(RowName(kBbc), "BBC, typed here");

  // Changed (not deleted) meanwhile: the typing is offered again over the
  // site as it now stands, and OK stores it.
  ClickSite(kReuters);
  siteDialog_.during = [this] {
    siteDialog_.during = nullptr;
    EXPECT_EQ(other_->Set(kReuters, "login", "theirs"), "ok");
  };
  const TSiteValues mine = Site("Reuters, mine", kReuters, "News", "mine", "");
  siteDialog_.answers.push_back(mine);
  siteDialog_.answers.push_back(mine);
  form.Menus().Edit1->trigger();
  EXPECT_EQ(boxes_.errors.size(), 2u);
  ASSERT_EQ(siteDialog_.runs.size(), 4u);
  EXPECT_EQ(siteDialog_.runs[3]->Login, "mine");
  EXPECT_EQ(ReadSites(program_).at(kReuters).at("login"), "mine");
  EXPECT_EQ(ReadSites(program_).at(kReuters).at("sitename"), "Reuters, mine");
  EXPECT_EQ(ReadSites(program_).size(), 66u);

  // Cancel the second time: the user lets the typing go, nothing is stored.
  ClickSite(kReuters);
  siteDialog_.during = [this] {
    siteDialog_.during = nullptr;
    EXPECT_EQ(other_->Delete(kReuters), "ok");
  };
  siteDialog_.answers.push_back(mine);
  form.Menus().Edit1->trigger();
  EXPECT_EQ(siteDialog_.runs.size(), 6u);
  EXPECT_EQ(ReadSites(program_).count(kReuters), 0u);
  EXPECT_EQ(SiteRow(kReuters), nullptr);
}

TEST_F(LiveViewTest, WhileTheQuickFindNarrowsTheGridARefreshKeepsItNarrowed) {
  TMainForm& form = ShowActive();
  ClickSite(kReuters);
  form.QuickFind()->setText("agency");
  const int shown = Grid().ShownDataRowCount();
  ASSERT_LT(shown, 66);
  ASSERT_EQ(other_->Add("Reference", "Another agency", "https://agency.example/"), "ok");
  ASSERT_EQ(other_->Add("Reference", "Unrelated", "https://unrelated.example/"), "ok");
  timers_.Advance(TLiveView::kInterval);
  EXPECT_EQ(Grid().FilterText(), "agency");
  EXPECT_EQ(Grid().ShownDataRowCount(), shown + 1);
  EXPECT_TRUE(Grid().IsShownRow(SiteRow("https://agency.example/")));
  EXPECT_FALSE(Grid().IsShownRow(SiteRow("https://unrelated.example/")));
  EXPECT_EQ(CurrentUrl(), kReuters);
  form.QuickFind()->clear();
  EXPECT_EQ(Grid().ShownDataRowCount(), 68);
}

TEST_F(LiveViewTest, RefreshTakesChangesInAtOnceAndAHiddenWindowDoesNotLook) {
  TMainForm& form = ShowActive();
  ClickSite(kReuters);
  ASSERT_EQ(other_->Set(kBbc, "sitename", "At once"), "ok");
  QTest::keyClick(&form, Qt::Key_F5);
  EXPECT_EQ(RowName(kBbc), "At once");
  EXPECT_EQ(CurrentUrl(), kReuters);

  // F5 stores a pending edit first.
  TypeNote(" stored by F5");
  form.Menus().Refresh1->trigger();
  EXPECT_EQ(Table().State(), dataset::dsBrowse);
  EXPECT_NE(ReadSites(program_).at(kReuters).at("note").find(" stored by F5"), std::string::npos);

  form.hide();
  const int refreshes = Refreshes();
  ASSERT_EQ(other_->Set(kBbc, "sitename", "While hidden"), "ok");
  timers_.Advance(5 * TLiveView::kInterval);
  EXPECT_EQ(Refreshes(), refreshes);
  EXPECT_FALSE(form.LiveView().Running());
  form.show();
  timers_.Advance(TLiveView::kInterval);
  EXPECT_EQ(RowName(kBbc), "While hidden");
}

// The view alone: a look that fails is no change; a refresh that fails is
// reported once and the view rests until asked again; stopping ends the
// looks.
TEST(LiveViewAloneTest, FailuresAreReportedOnceAndStoppingEndsTheLooks) {
  fakes::TFakeTimers timers;
  bool changed = false;
  bool lookFails = false;
  bool refreshFails = false;
  std::vector<std::string> errors;
  TLiveView::THooks hooks;
  hooks.ChangedElsewhere = [&] {
    if (lookFails) throw std::runtime_error("cannot read");
    return changed;
  };
  hooks.Busy = [] { return false; };
  hooks.Refresh = [&] {
    if (refreshFails) throw std::runtime_error("refresh failed");
  };
  hooks.OnError = [&](const std::exception& error) { errors.push_back(error.what()); };
  TLiveView view(timers, hooks);
  view.Start();
  view.Start();
  EXPECT_EQ(timers.PendingCount(), 1);

  lookFails = true;
  timers.Advance(3 * TLiveView::kInterval);
  EXPECT_EQ(view.Refreshes(), 0);
  EXPECT_TRUE(errors.empty());

  lookFails = false;
  changed = true;
  refreshFails = true;
  timers.Advance(5 * TLiveView::kInterval);
  EXPECT_EQ(errors, std::vector<std::string>{"refresh failed"});
  EXPECT_TRUE(view.Paused());
  refreshFails = false;
  view.Resume();
  timers.Advance(TLiveView::kInterval);
  EXPECT_EQ(view.Refreshes(), 1);

  view.Stop();
  EXPECT_EQ(timers.PendingCount(), 0);
  timers.Advance(5 * TLiveView::kInterval);
  EXPECT_EQ(view.Refreshes(), 1);
}

}  // namespace
}  // namespace marrowick
