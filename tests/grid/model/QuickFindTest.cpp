// Quick find: the filter text narrows the shown rows to the matching sites
// and the groups above them, with counts; the focus and the record set move
// to a match; records added, changed and deleted meanwhile (here and by
// another process) are judged again; the view hears resets while the shown
// rows change; clearing puts the tree back; the exports keep every row.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>

#include "grid/model/GridRowSource.h"
#include "grid/model/GridTestSupport.h"
#include "grid/model/QuickFind.h"

namespace grid {
namespace {

using namespace grid::testing;

TEST(FindNeedleTest, LetterCaseOfWindows1252IsIgnored) {
  EXPECT_TRUE(TFindNeedle("news").FoundIn("Daily NEWS today"));
  EXPECT_TRUE(TFindNeedle("NeWs").FoundIn("newsletter"));
  EXPECT_TRUE(TFindNeedle("").FoundIn(""));
  EXPECT_FALSE(TFindNeedle("news").FoundIn("new"));
  EXPECT_TRUE(TFindNeedle("end").FoundIn("the END"));
  // Accented letters of the upper half: é/É, è/È, š/Š, œ/Œ, ž/Ž, ÿ/Ÿ, þ/Þ.
  EXPECT_TRUE(TFindNeedle("CAF\xC9").FoundIn("Caf\xE9 Cr\xE8me"));
  EXPECT_TRUE(TFindNeedle("cr\xC8me").FoundIn("CAF\xC9 CR\xC8ME"));
  EXPECT_TRUE(TFindNeedle("\x9A\x9C\x9E\xFF\xFE").FoundIn("x\x8A\x8C\x8E\x9F\xDEy"));
  EXPECT_TRUE(TFindNeedle("\x8A\x8C\x8E\x9F").FoundIn("\x9A\x9C\x9E\xFF"));
  // Only case: e and é, ss and ß, × and ÷ stay apart.
  EXPECT_FALSE(TFindNeedle("cafe").FoundIn("Caf\xE9"));
  EXPECT_FALSE(TFindNeedle("ss").FoundIn("Stra\xDF" "e"));
  EXPECT_FALSE(TFindNeedle("\xD7").FoundIn("\xF7"));
  // A partial match at the end is no match; a repeated lead is found.
  EXPECT_FALSE(TFindNeedle("abc").FoundIn("xxab"));
  EXPECT_TRUE(TFindNeedle("aab").FoundIn("aaab"));
}

// Records a view's notifications.
struct TRecorder : IGridObserver {
  int aboutToReset = 0, reset = 0, rowChanged = 0, rowsInserted = 0, rowsRemoved = 0, focus = 0, expanded = 0;
  void ExpandedChanged(TTreeListNode*) override { ++expanded; }
  void TreeAboutToBeReset() override { ++aboutToReset; }
  void TreeReset() override { ++reset; }
  void RowChanged(TTreeListNode*) override { ++rowChanged; }
  void RowsInserted(TTreeListNode*, int, int) override { ++rowsInserted; }
  void RowsRemoved(TTreeListNode*, int, int) override { ++rowsRemoved; }
  void FocusChanged(TTreeListNode*, int) override { ++focus; }
  void Clear() { *this = TRecorder(); }
};

class QuickFindTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateCatalogue(dir.Dir());
    FillCatalogue(dir.Dir(), Sites());
    table = std::make_unique<TSiteTable>(dir.Dir());
    t().Open();
    grid = ProgramGrid(table.get());
    grid->SetMessageBoxes(&boxes);
    grid->AddObserver(&recorder);
  }
  void TearDown() override { grid->RemoveObserver(&recorder); }

  // "news" is found in a category (News), a URL, a login and a note, but
  // not in a password or anywhere in Government and the sites without a
  // category.
  static std::vector<TSite> Sites() {
    return {{"", "https://a.example/", "Misc", "", "", "plain"},
            {"News", "https://n1.example/", "Daily Paper", "", "", "headlines"},
            {"News", "https://n2.example/", "Caf\xE9 Cr\xE8me"},
            {"Health", "https://h1.example/", "Clinic", "", "news"},
            {"Health", "https://h2.example/", "Pharmacy", "", "", "Fake NEWS checker"},
            {"Science", "https://news.science.example/", "Journal"},
            {"Education", "https://e1.example/", "School", "newsdesk"},
            {"Government", "https://g1.example/", "Town Hall"}};
  }
  tessel::TTesselTable& t() { return table->Table(); }

  // The shown rows by shown position, whatever is expanded: "G <row text>"
  // or "  <name>|<url>". Every row's ShownIndex is checked on the way.
  std::vector<std::string> Shown() {
    std::vector<std::string> lines;
    int url = grid->FindColumn("SiteUrl")->Index();
    int name = grid->FindColumn("SiteName")->Index();
    std::function<void(const TTreeListNode*)> walk = [&](const TTreeListNode* parent) {
      for (int i = 0; i < grid->ShownChildCount(parent); ++i) {
        TTreeListNode* node = grid->ShownChild(parent, i);
        EXPECT_EQ(grid->ShownIndex(node), i);
        EXPECT_TRUE(grid->IsShownRow(node));
        if (node->HasChildren()) {
          lines.push_back("G " + grid->GetNodeString(node, 2));
          walk(node);
        } else {
          auto* d = static_cast<TDBGridNode*>(node);
          lines.push_back("  " + d->Strings(name) + "|" + d->Strings(url));
        }
      }
    };
    walk(nullptr);
    return lines;
  }
  // The shown rows in the order the keys walk them.
  std::vector<TTreeListNode*> Walked() {
    std::vector<TTreeListNode*> rows;
    for (TTreeListNode* node = grid->VisibleRow(0); node != nullptr; node = grid->NextShownRow(node)) {
      rows.push_back(node);
    }
    return rows;
  }
  void Focus(const std::string& url) {
    TDBGridNode* node = DataNodeOf(*grid, url);
    ASSERT_NE(node, nullptr) << url;
    grid->FocusRow(node);
  }

  TempDir dir;
  std::unique_ptr<TSiteTable> table;
  std::unique_ptr<TDBGrid> grid;
  marrowick::fakes::TFakeMessageBoxes boxes;
  TRecorder recorder;
};

const std::vector<std::string> kNewsRows = {
    "G Site Category : Education (1 of 1)", "  School|https://e1.example/",
    "G Site Category : Health (1 of 2)",    "  Pharmacy|https://h2.example/",
    "G Site Category : News (2 of 2)",      "  Daily Paper|https://n1.example/",
    "  Caf\xE9 Cr\xE8me|https://n2.example/", "G Site Category : Science (1 of 1)",
    "  Journal|https://news.science.example/"};

TEST_F(QuickFindTest, NarrowsToMatchingSitesWithCountsAndMovesTheFocusToTheFirstMatch) {
  // At start the group row of the first record (no category) is focused.
  ASSERT_EQ(t().FieldByName("siteurl").AsString(), "https://a.example/");
  recorder.Clear();
  grid->SetFilterText("news");
  EXPECT_EQ(Shown(), kNewsRows);
  EXPECT_EQ(grid->ShownDataRowCount(), 5);
  EXPECT_EQ(grid->GroupShownCount(GroupOf(*grid, "Health")), 1);
  EXPECT_EQ(grid->GroupDataCount(GroupOf(*grid, "Health")), 2);
  EXPECT_FALSE(grid->IsShownRow(GroupOf(*grid, "Government")));
  EXPECT_FALSE(grid->IsShownRow(DataNodeOf(*grid, "https://h1.example/")));  // the password is not searched
  // The focused site did not match: the first match took the focus and the
  // record set followed.
  EXPECT_EQ(grid->FocusedNode(), DataNodeOf(*grid, "https://e1.example/"));
  EXPECT_EQ(table->CurrentUrl(), "https://e1.example/");
  // One reset for the view, then the focus.
  EXPECT_EQ(recorder.aboutToReset, 1);
  EXPECT_EQ(recorder.reset, 1);
  EXPECT_EQ(recorder.rowsInserted + recorder.rowsRemoved, 0);
  EXPECT_GE(recorder.focus, 1);
  // Every group with a match is opened; the keys walk the shown rows only.
  std::vector<TTreeListNode*> walked = Walked();
  ASSERT_EQ(walked.size(), 9u);
  EXPECT_EQ(grid->VisibleRowCount(), 9);
  for (std::size_t i = 0; i < walked.size(); ++i) {
    EXPECT_EQ(walked[i]->GetAbsoluteIndex(), static_cast<int>(i));
    EXPECT_TRUE(walked[i]->IsVisible());
  }
  EXPECT_EQ(grid->PriorShownRow(walked[2]), walked[1]);
  EXPECT_EQ(DataNodeOf(*grid, "https://h1.example/")->GetAbsoluteIndex(), -1);
  // Closing a group moves no shown position: the view hears that alone.
  recorder.Clear();
  grid->ToggleExpanded(GroupOf(*grid, "News"));
  EXPECT_EQ(recorder.expanded, 1);
  EXPECT_EQ(recorder.reset, 0);
  EXPECT_EQ(grid->VisibleRowCount(), 7);
  grid->ToggleExpanded(GroupOf(*grid, "News"));
  grid->KeyDown(TGridKey::Down);  // School -> the Health row (standing for its first record)
  grid->KeyDown(TGridKey::Down);
  EXPECT_EQ(table->CurrentUrl(), "https://h2.example/");
  grid->KeyDown(TGridKey::End, ssCtrl);
  EXPECT_EQ(table->CurrentUrl(), "https://news.science.example/");
  EXPECT_TRUE(FocusOnCurrentRecord(*grid, t()));

  // A focused site that matches keeps the focus when the text changes.
  recorder.Clear();
  grid->SetFilterText("Journal");
  EXPECT_EQ(grid->FocusedNode(), DataNodeOf(*grid, "https://news.science.example/"));
  EXPECT_EQ(Shown(), (std::vector<std::string>{"G Site Category : Science (1 of 1)",
                                               "  Journal|https://news.science.example/"}));
  // Only the letter case changed: nothing to do.
  recorder.Clear();
  grid->SetFilterText("JOURNAL");
  EXPECT_EQ(recorder.reset, 0);
  EXPECT_EQ(grid->FilterText(), "JOURNAL");
}

TEST_F(QuickFindTest, AccentedLettersMatchInEitherCase) {
  grid->SetFilterText("caf\xC9 CR\xE8");
  EXPECT_EQ(Shown(), (std::vector<std::string>{"G Site Category : News (1 of 2)",
                                               "  Caf\xE9 Cr\xE8me|https://n2.example/"}));
  EXPECT_EQ(table->CurrentUrl(), "https://n2.example/");
}

TEST_F(QuickFindTest, NoMatchLeavesTheFocusUnshownAndClearingRestoresTheTree) {
  GroupOf(*grid, "Health")->Expand(false);
  Focus("https://g1.example/");
  const std::vector<std::string> before = Shown();
  std::vector<bool> expanded;
  for (int i = 0; i < grid->Count(); ++i) expanded.push_back(grid->GetNode(i)->Expanded());

  grid->SetFilterText("nothing like this");
  EXPECT_EQ(grid->ShownChildCount(nullptr), 0);
  EXPECT_EQ(grid->VisibleRowCount(), 0);
  EXPECT_EQ(grid->ShownDataRowCount(), 0);
  EXPECT_EQ(grid->FocusedNode(), DataNodeOf(*grid, "https://g1.example/"));
  EXPECT_FALSE(grid->IsShownRow(grid->FocusedNode()));
  EXPECT_EQ(table->CurrentUrl(), "https://g1.example/");

  // Through a text with matches and back to none, then cleared.
  grid->SetFilterText("news");
  grid->SetFilterText("");
  EXPECT_FALSE(grid->Filtered());
  EXPECT_EQ(Shown(), before);
  EXPECT_EQ(TreeLines(*grid), ModelLines(Sites()));
  // The focus stays on the match it moved to, in sight; the other groups
  // are expanded or collapsed as before.
  EXPECT_EQ(grid->FocusedNode(), DataNodeOf(*grid, "https://e1.example/"));
  EXPECT_TRUE(grid->FocusedNode()->IsVisible());
  EXPECT_TRUE(FocusOnCurrentRecord(*grid, t()));
  for (int i = 0; i < grid->Count(); ++i) {
    TTreeListNode* group = grid->GetNode(i);
    if (group == GroupOf(*grid, "Education")) continue;
    EXPECT_EQ(group->Expanded(), expanded[static_cast<std::size_t>(i)]) << grid->GetNodeString(group, 0);
  }
}

TEST_F(QuickFindTest, ClearingKeepsAMatchingFocusedRow) {
  Focus("https://n2.example/");
  grid->SetFilterText("cr\xE8me");
  grid->SetFilterText("");
  EXPECT_EQ(grid->FocusedNode(), DataNodeOf(*grid, "https://n2.example/"));
  EXPECT_EQ(table->CurrentUrl(), "https://n2.example/");
  EXPECT_EQ(grid->GetNodeString(GroupOf(*grid, "News"), 0), "Site Category : News ");
}

TEST_F(QuickFindTest, SitesAddedChangedAndDeletedWhileFiltered) {
  grid->SetFilterText("news");
  Focus("https://n1.example/");

  // Added through the record set (the site dialog): shown while it is the
  // focused row although it does not match, gone once the focus leaves.
  t().Append();
  SetSite(t(), {"Government", "https://new.example/", "Fresh"});
  t().Post();
  TTreeListNode* fresh = DataNodeOf(*grid, "https://new.example/");
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(grid->FocusedNode(), fresh);
  EXPECT_TRUE(grid->IsShownRow(fresh));
  EXPECT_EQ(grid->GetNodeString(GroupOf(*grid, "Government"), 0), "Site Category : Government (1 of 2)");
  recorder.Clear();
  Focus("https://n1.example/");
  EXPECT_FALSE(grid->IsShownRow(fresh));
  EXPECT_FALSE(grid->IsShownRow(GroupOf(*grid, "Government")));
  EXPECT_EQ(recorder.reset, 1);  // the row leaving moved shown positions
  EXPECT_EQ(Shown(), kNewsRows);

  // Changed through the record set so that it no longer matches: the
  // focused row stays while the focus does.
  t().Edit();
  t().FieldByName("sitetype").SetAsString("Government");
  t().Post();
  EXPECT_TRUE(grid->IsShownRow(grid->FocusedNode()));
  EXPECT_EQ(grid->GetNodeString(GroupOf(*grid, "Government"), 0), "Site Category : Government (1 of 3)");
  EXPECT_EQ(grid->GetNodeString(GroupOf(*grid, "News"), 0), "Site Category : News (1 of 1)");
  EXPECT_TRUE(FocusOnCurrentRecord(*grid, t()));

  // A text change of the focused row that keeps the shown rows is one
  // changed row for the view.
  recorder.Clear();
  t().Edit();
  t().FieldByName("sitename").SetAsString("Daily Paper II");
  EXPECT_EQ(recorder.reset, 0);
  EXPECT_GE(recorder.rowChanged, 1);
  t().Post();

  // Another process changes, adds and deletes sites; the grid reads the
  // table again.
  ASSERT_EQ(OtherProcessUpdate(dir.Dir(), "https://g1.example/", R"({"sitename": "Newsroom"})"), 0);
  ASSERT_EQ(OtherProcessInsert(dir.Dir(),
                               R"({"sitetype": "Regional", "siteurl": "https://r.example/", "sitename": "Local News"})"),
            0);
  ASSERT_EQ(OtherProcessInsert(dir.Dir(),
                               R"({"sitetype": "Regional", "siteurl": "https://q.example/", "sitename": "Quiet"})"),
            0);
  ASSERT_EQ(OtherProcessDelete(dir.Dir(), "https://h2.example/"), 0);
  recorder.Clear();
  grid->RefreshGroupList();
  EXPECT_EQ(recorder.reset, 1);
  EXPECT_TRUE(grid->IsShownRow(DataNodeOf(*grid, "https://g1.example/")));
  EXPECT_TRUE(grid->IsShownRow(DataNodeOf(*grid, "https://r.example/")));
  EXPECT_FALSE(grid->IsShownRow(DataNodeOf(*grid, "https://q.example/")));
  EXPECT_EQ(DataNodeOf(*grid, "https://h2.example/"), nullptr);
  EXPECT_FALSE(grid->IsShownRow(GroupOf(*grid, "Health")));
  EXPECT_EQ(grid->GetNodeString(GroupOf(*grid, "Regional"), 0), "Site Category : Regional (1 of 2)");

  // Deleted through the grid (Ctrl+Del): its group goes with it, and the
  // nearest shown site takes the focus (the last one: the one before),
  // not the table's next record, which does not match.
  Focus("https://news.science.example/");
  ASSERT_TRUE(grid->KeyDown(TGridKey::Delete, ssCtrl));
  EXPECT_EQ(DataNodeOf(*grid, "https://news.science.example/"), nullptr);
  EXPECT_EQ(GroupOf(*grid, "Science"), nullptr);
  EXPECT_EQ(grid->FocusedNode(), DataNodeOf(*grid, "https://r.example/"))
      << grid->GetNodeString(grid->FocusedNode(), 2) << " current " << table->CurrentUrl();
  EXPECT_TRUE(FocusOnCurrentRecord(*grid, t()));
  EXPECT_FALSE(grid->IsShownRow(DataNodeOf(*grid, "https://q.example/")));

  // Cleared, the tree holds the table's sites (the moved row stays at the
  // end of its new group until the next reload, as without a filter).
  grid->SetFilterText("");
  std::vector<std::string> lines = TreeLines(*grid), model = ModelLines(ReadSites(dir.Dir()));
  std::sort(lines.begin(), lines.end());
  std::sort(model.begin(), model.end());
  EXPECT_EQ(lines, model);
}

TEST_F(QuickFindTest, GroupingAndSortingAreKept) {
  grid->SetFilterText("news");
  grid->ColumnClick(grid->FindColumn("SiteName"), false);  // name, ascending
  EXPECT_EQ(Shown()[4], "G Site Category : News (2 of 2)");
  EXPECT_EQ(Shown()[5], "  Caf\xE9 Cr\xE8me|https://n2.example/");
  EXPECT_EQ(Shown()[6], "  Daily Paper|https://n1.example/");
  // The category dragged out: a flat list of the matches.
  grid->DragGroupColumnOut(grid->FindColumn("SiteCategory"));
  EXPECT_EQ(grid->ShownDataRowCount(), 5);
  EXPECT_EQ(grid->ShownChildCount(nullptr), 5);
  EXPECT_TRUE(grid->IsShownRow(grid->FocusedNode()));
  EXPECT_TRUE(FocusOnCurrentRecord(*grid, t()));
}

TEST_F(QuickFindTest, ExportsKeepEveryRowAndThePlainGroupTexts) {
  auto rows = [&](bool shown) {
    std::vector<std::string> lines;
    TGridRowSource source(*grid);
    auto visit = [&](const exports::IExportRow& row) { lines.push_back(row.Text(2)); };
    if (shown) {
      source.ForEachVisibleRow(visit);
    } else {
      source.ForEachRow(visit);
    }
    return lines;
  };
  for (int i = 0; i < grid->Count(); ++i) grid->GetNode(i)->Collapse(false);
  const auto all = rows(false);
  const auto shown = rows(true);
  EXPECT_EQ(all.size(), 8u + 6u);
  EXPECT_EQ(shown.size(), 6u);
  // No row is left out; the text export follows the groups' expansion,
  // and the filter opened them all.
  grid->SetFilterText("news");
  EXPECT_EQ(rows(false), all);
  EXPECT_EQ(rows(true), all);
  EXPECT_EQ(all[2], "Site Category : Education ");
  // Cleared: the groups collapsed again but the one of the focused match.
  grid->SetFilterText("");
  std::vector<std::string> expected = shown;
  expected.insert(expected.begin() + 2, "https://e1.example/");
  EXPECT_EQ(rows(true), expected);
}

// Typing, deleting and replacing letters gives the rows a fresh filter of
// the same text gives: the carried-over verdicts never go wrong.
TEST_F(QuickFindTest, KeystrokesAgreeWithAFreshSearch) {
  std::vector<TSite> sites = GeneratedSites(400);
  sites[7].name = "Br\xFBl\xE9" "e";
  sites[8].note = "BR\xDBL\xC9" "E today";
  TempDir other;
  CreateCatalogue(other.Dir());
  FillCatalogue(other.Dir(), sites);
  TSiteTable big(other.Dir(), "big");
  big.Table().Open();
  auto filtered = ProgramGrid(&big);
  auto expected = [&](const std::string& text) {
    std::set<std::string> urls;
    TFindNeedle needle(text);
    for (const TSite& s : sites) {
      if (needle.FoundIn(s.type) || needle.FoundIn(s.name) || needle.FoundIn(s.url) || needle.FoundIn(s.login) ||
          needle.FoundIn(s.note)) {
        urls.insert(s.url);
      }
    }
    return urls;
  };
  auto shown = [&] {
    std::set<std::string> urls;
    for (TTreeListNode* node = filtered->GetFirstNode(); node != nullptr; node = node->GetNext()) {
      if (!node->HasChildren() && filtered->RowMatchesFilter(node)) {
        urls.insert(static_cast<TDBGridNode*>(node)->KeyValue.ToString());
      }
    }
    return urls;
  };
  const std::vector<std::string> steps = {"s", "si", "sit", "site", "site0", "site00", "site0", "site",
                                          "ote", "note of", "note of site 1", "note of site 12", "1",
                                          "br\xDB", "BR\xFBl", "r", "", "user3", "user", "NAME 9"};
  std::mt19937 random(7);
  for (const std::string& text : steps) {
    filtered->SetFilterText(text);
    EXPECT_EQ(shown(), expected(text)) << text;
    if (!text.empty()) {
      // The groups count what they show.
      int sum = 0;
      for (int i = 0; i < filtered->Count(); ++i) sum += filtered->GroupShownCount(filtered->GetNode(i));
      EXPECT_EQ(sum, filtered->ShownDataRowCount()) << text;
    }
    // The keys move among the shown rows from a random one.
    if (filtered->VisibleRowCount() > 0) {
      int at = static_cast<int>(random() % static_cast<unsigned>(filtered->VisibleRowCount()));
      filtered->FocusRow(filtered->VisibleRow(at));
      EXPECT_TRUE(FocusOnCurrentRecord(*filtered, big.Table())) << text;
    }
  }
}

}  // namespace
}  // namespace grid
