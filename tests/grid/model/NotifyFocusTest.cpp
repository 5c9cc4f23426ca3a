// The grid following its record set: edits, inserts and deletes made
// through the record set (as the program's dialog does) and through the
// grid (cell editor, Insert, Ctrl+Del), by another record set and by
// another process; after each step the tree, the focus and the current
// record are checked.
#include <gtest/gtest.h>

#include "dataset/DataSetMessages.h"
#include "grid/model/GridTestSupport.h"

namespace grid {
namespace {

using namespace grid::testing;
using dataset::Variant;

class NotifyFocusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sites = {{"News", "https://n1.example/", "N1"},    {"News", "https://n2.example/", "N2"},
             {"News", "https://n3.example/", "N3"},    {"Health", "https://h1.example/", "H1"},
             {"Health", "https://h2.example/", "H2"},  {"Science", "https://s1.example/", "S1"},
             {"Education", "https://e1.example/", "E1"}};
    CreateCatalogue(dir.Dir());
    FillCatalogue(dir.Dir(), sites);
    table = std::make_unique<TSiteTable>(dir.Dir());
    t().Open();
    grid = ProgramGrid(table.get());
    grid->SetMessageBoxes(&boxes);
    grid->SetClipboard(&clipboard);
  }
  tessel::TTesselTable& t() { return table->Table(); }
  void ExpectInSync() {
    EXPECT_EQ(TreeLines(*grid), ModelLines(ReadSites(dir.Dir())));
    EXPECT_TRUE(FocusOnCurrentRecord(*grid, t()));
  }
  void Focus(const std::string& url) {
    TDBGridNode* node = DataNodeOf(*grid, url);
    ASSERT_NE(node, nullptr) << url;
    grid->FocusRow(node);
  }

  std::vector<TSite> sites;
  TempDir dir;
  std::unique_ptr<TSiteTable> table;
  std::unique_ptr<TDBGrid> grid;
  marrowick::fakes::TFakeMessageBoxes boxes;
  marrowick::fakes::TFakeClipboard clipboard;
};

TEST_F(NotifyFocusTest, FocusingARowMovesTheRecordSetAndAGroupRowMeansItsFirstRecord) {
  Focus("https://n2.example/");
  EXPECT_EQ(table->CurrentUrl(), "https://n2.example/");
  EXPECT_TRUE(GroupOf(*grid, "News")->Expanded());
  ExpectInSync();
  // A collapsed group row: the group's first record becomes current.
  grid->FocusRow(GroupOf(*grid, "Health"));
  EXPECT_EQ(table->CurrentUrl(), "https://h1.example/");
  EXPECT_FALSE(GroupOf(*grid, "Health")->Expanded());
  ExpectInSync();
  // Keys walk the shown rows.
  grid->KeyDown(TGridKey::Down);
  EXPECT_EQ(grid->FocusedNode(), GroupOf(*grid, "News"));
  grid->KeyDown(TGridKey::Right);  // expands the group
  grid->KeyDown(TGridKey::Down);
  EXPECT_EQ(table->CurrentUrl(), "https://n1.example/");
  ExpectInSync();
  grid->KeyDown(TGridKey::End, ssCtrl);
  EXPECT_EQ(table->CurrentUrl(), "https://s1.example/");
  ExpectInSync();
  // The record set moved by the program: the focus follows.
  t().First();
  ExpectInSync();
  t().Next();
  // The first record of its group: the group row stands for it.
  EXPECT_EQ(grid->FocusedNode(), GroupOf(*grid, "Health"));
  t().Next();
  EXPECT_EQ(grid->FocusedNode(), DataNodeOf(*grid, "https://h2.example/"));
  ExpectInSync();
  t().Last();
  ExpectInSync();
}

TEST_F(NotifyFocusTest, CategoryChangedThroughTheRecordSetMovesTheRow) {
  Focus("https://s1.example/");
  t().Edit();
  t().FieldByName("sitetype").SetAsString("News");
  // Field changes refresh the focused row in place.
  EXPECT_EQ(DataNodeOf(*grid, "https://s1.example/")->Strings(0), "News");
  t().Post();
  TDBGridNode* row = DataNodeOf(*grid, "https://s1.example/");
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->Parent(), GroupOf(*grid, "News"));
  EXPECT_TRUE(row->IsLast());
  EXPECT_TRUE(row->IsVisible());
  EXPECT_EQ(GroupOf(*grid, "Science"), nullptr);
  EXPECT_EQ(grid->FocusedNode(), row);
  EXPECT_TRUE(FocusOnCurrentRecord(*grid, t()));
  // A new category makes a new group in its place.
  t().Edit();
  t().FieldByName("sitetype").SetAsString("Government");
  t().Post();
  EXPECT_EQ(DataNodeOf(*grid, "https://s1.example/")->Parent(), GroupOf(*grid, "Government"));
  ExpectInSync();
}

TEST_F(NotifyFocusTest, SiteAddedThroughTheRecordSetFirstJoinsTheFocusedGroup) {
  Focus("https://n2.example/");
  t().Append();
  TTreeListNode* added = grid->FocusedNode();
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added, grid->EditedNode());
  EXPECT_EQ(added->Parent(), GroupOf(*grid, "News"));
  EXPECT_TRUE(added->IsLast());
  // The new record starts in the focused row's category.
  EXPECT_EQ(t().FieldByName("sitetype").AsString(), "News");
  t().FieldByName("sitetype").SetAsString("Health");
  t().FieldByName("siteurl").SetAsString("https://h0.example/");
  t().FieldByName("sitename").SetAsString("H0");
  t().Post();
  TDBGridNode* row = DataNodeOf(*grid, "https://h0.example/");
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->Parent(), GroupOf(*grid, "Health"));
  EXPECT_EQ(grid->FocusedNode(), row);
  EXPECT_TRUE(FocusOnCurrentRecord(*grid, t()));
  EXPECT_EQ(grid->LoadedRecordCount(), 8);
  grid->ReLoadGroupList();
  ExpectInSync();
}

TEST_F(NotifyFocusTest, SiteDeletedThroughTheRecordSetLeavesAtOnce) {
  Focus("https://n2.example/");
  t().Delete();
  EXPECT_EQ(DataNodeOf(*grid, "https://n2.example/"), nullptr);
  ExpectInSync();
  // The last site of a group: the group goes too.
  Focus("https://s1.example/");
  t().Delete();
  EXPECT_EQ(GroupOf(*grid, "Science"), nullptr);
  ExpectInSync();
  // Down to an empty table.
  while (!t().IsEmpty()) t().Delete();
  EXPECT_EQ(grid->Count(), 0);
  EXPECT_EQ(grid->FocusedNode(), nullptr);
}

TEST_F(NotifyFocusTest, InsertKeyMakesARowAboveInTheFocusedGroup) {
  Focus("https://n2.example/");
  ASSERT_TRUE(grid->KeyDown(TGridKey::Insert));
  TTreeListNode* added = grid->FocusedNode();
  EXPECT_EQ(t().State(), dataset::dsInsert);
  EXPECT_EQ(added->Parent(), GroupOf(*grid, "News"));
  EXPECT_EQ(added->GetNextSibling(), DataNodeOf(*grid, "https://n2.example/"));
  EXPECT_EQ(t().FieldByName("sitetype").AsString(), "News");
  EXPECT_TRUE(grid->EditorOpen());
  // Type the URL into its cell, the name into its own, and move away.
  grid->SetFocusedColumn(grid->FindColumn("SiteUrl")->Index());
  ASSERT_TRUE(grid->ShowEditor());
  ASSERT_TRUE(grid->SetEditorText("https://n15.example/"));
  grid->KeyDown(TGridKey::Tab, ssShift);
  ASSERT_TRUE(grid->ShowEditor());
  ASSERT_TRUE(grid->SetEditorText("N15"));
  grid->KeyDown(TGridKey::Down);
  EXPECT_EQ(t().State(), dataset::dsBrowse);
  EXPECT_EQ(ReadSites(dir.Dir()).size(), 8u);
  TDBGridNode* row = DataNodeOf(*grid, "https://n15.example/");
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->Strings(grid->FindColumn("SiteName")->Index()), "N15");
  EXPECT_EQ(row->Parent(), GroupOf(*grid, "News"));
  EXPECT_TRUE(FocusOnCurrentRecord(*grid, t()));
}

TEST_F(NotifyFocusTest, UpOnAnUntouchedAppendedRecordCancelsIt) {
  Focus("https://s1.example/");
  t().Append();
  EXPECT_EQ(grid->LoadedRecordCount(), 7);
  grid->KeyDown(TGridKey::Up);
  EXPECT_EQ(t().State(), dataset::dsBrowse);
  EXPECT_EQ(grid->LoadedRecordCount(), 7);
  ExpectInSync();
}

TEST_F(NotifyFocusTest, CtrlDelAsksAndDeletesOnlyTheFocusedRowsRecord) {
  grid->FocusRow(GroupOf(*grid, "News"));
  EXPECT_FALSE(grid->KeyDown(TGridKey::Delete, ssCtrl));  // a group row
  EXPECT_TRUE(boxes.questions.empty());
  Focus("https://n3.example/");
  boxes.answers = {false};
  EXPECT_FALSE(grid->KeyDown(TGridKey::Delete, ssCtrl));
  EXPECT_EQ(boxes.questions, (std::vector<std::string>{"Confirm: Delete record?"}));
  EXPECT_EQ(ReadSites(dir.Dir()).size(), 7u);
  EXPECT_TRUE(grid->KeyDown(TGridKey::Delete, ssCtrl));
  EXPECT_EQ(DataNodeOf(*grid, "https://n3.example/"), nullptr);
  EXPECT_EQ(ReadSites(dir.Dir()).size(), 6u);
  ExpectInSync();
}

TEST_F(NotifyFocusTest, CellEditPostsWhenTheFocusLeavesTheRow) {
  Focus("https://h1.example/");
  grid->SetFocusedColumn(grid->FindColumn("SiteName")->Index());
  ASSERT_TRUE(grid->KeyDown(TGridKey::F2));
  EXPECT_EQ(grid->EditorText(), "H1");
  ASSERT_TRUE(grid->SetEditorText("Health One"));
  EXPECT_EQ(t().State(), dataset::dsEdit);
  grid->KeyDown(TGridKey::Enter);  // the text goes to the field, editing goes on
  grid->HideEditor();
  EXPECT_EQ(t().FieldByName("sitename").AsString(), "Health One");
  EXPECT_EQ(t().State(), dataset::dsEdit);
  grid->KeyDown(TGridKey::Down);
  EXPECT_EQ(t().State(), dataset::dsBrowse);
  EXPECT_EQ(table->CurrentUrl(), "https://h2.example/");
  ExpectInSync();
  // Esc with the editor open throws the typing away.
  ASSERT_TRUE(grid->ShowEditor());
  ASSERT_TRUE(grid->SetEditorText("typed"));
  grid->KeyDown(TGridKey::Escape);
  EXPECT_FALSE(grid->EditorOpen());
  EXPECT_EQ(t().FieldByName("sitename").AsString(), "H2");
  // Esc again resets the record set's edit.
  grid->KeyDown(TGridKey::Escape);
  grid->KeyDown(TGridKey::Escape);
  EXPECT_EQ(t().State(), dataset::dsBrowse);
  ExpectInSync();
}

TEST_F(NotifyFocusTest, FailedPostKeepsTheFocusWhereItWas) {
  Focus("https://h1.example/");
  grid->SetFocusedColumn(grid->FindColumn("SiteUrl")->Index());
  ASSERT_TRUE(grid->ShowEditor());
  ASSERT_TRUE(grid->SetEditorText("https://h2.example/"));  // the other site's URL
  TTreeListNode* before = grid->FocusedNode();
  EXPECT_ANY_THROW(grid->KeyDown(TGridKey::Down));
  EXPECT_EQ(grid->FocusedNode(), before);
  EXPECT_EQ(t().State(), dataset::dsEdit);
  t().Cancel();
  ExpectInSync();
}

TEST_F(NotifyFocusTest, ClipboardHoldsTheHeaderAndTheFocusedLine) {
  Focus("https://h1.example/");
  ASSERT_TRUE(grid->KeyDown(TGridKey::C, ssCtrl));
  EXPECT_EQ(clipboard.text,
            "Site Category\tSite Name\tSite Url\t\r\r\nHealth\tH1\thttps://h1.example/\t\r\n");
  grid->FocusRow(GroupOf(*grid, "News"));
  ASSERT_TRUE(grid->KeyDown(TGridKey::Insert, ssCtrl));
  EXPECT_EQ(clipboard.text, "Site Category\tSite Name\tSite Url\t\r\r\nSite Category : News \r\n");
}

TEST_F(NotifyFocusTest, RowDeletedByAnotherProcessIsRemovedWhenFocused) {
  GroupOf(*grid, "News")->Expand(false);
  Focus("https://h2.example/");
  ASSERT_EQ(OtherProcessDelete(dir.Dir(), "https://n2.example/"), 0);
  Focus("https://n2.example/");
  // The row went, the record set did not move to another record.
  EXPECT_EQ(DataNodeOf(*grid, "https://n2.example/"), nullptr);
  EXPECT_EQ(table->CurrentUrl(), "https://h2.example/");
  ExpectInSync();
}

TEST_F(NotifyFocusTest, CtrlDelOnARowDeletedElsewhereDeletesNothingElse) {
  Focus("https://n1.example/");
  ASSERT_EQ(OtherProcessDelete(dir.Dir(), "https://n3.example/"), 0);
  TDBGridNode* gone = DataNodeOf(*grid, "https://n3.example/");
  ASSERT_NE(gone, nullptr);
  grid->FocusRow(gone);
  if (DataNodeOf(*grid, "https://n3.example/") != nullptr) {
    try {
      grid->KeyDown(TGridKey::Delete, ssCtrl);
    } catch (const std::exception&) {
    }
  }
  std::vector<TSite> left = ReadSites(dir.Dir());
  EXPECT_EQ(left.size(), 6u);
  EXPECT_EQ(DataNodeOf(*grid, "https://n3.example/"), nullptr);
  ExpectInSync();
}

TEST_F(NotifyFocusTest, WithoutAKeyFieldNothingIsLoadedOrFollowed) {
  grid->SetKeyField("nosuchfield");
  grid->ReLoadGroupList();
  EXPECT_EQ(grid->Count(), 0);
  t().Next();
  EXPECT_EQ(grid->FocusedNode(), nullptr);
}

}  // namespace
}  // namespace grid

namespace grid {
namespace {

using namespace grid::testing;

TEST_F(NotifyFocusTest, ChangesAtBofRefreshTheWholeTreeAndUnknownCurrentRecordsAreRead) {
  {
    TSiteTable other(dir.Dir(), "other");
    other.Table().Open();
    AddSite(other.Table(), {"Personal", "https://p1.example/", "P1"});
    AddSite(other.Table(), {"Regional", "https://zz.example/", "ZZ"});
  }
  // First leaves the record set at BOF: the full refresh with reuse runs.
  Focus("https://n1.example/");
  TDBGridNode* kept = DataNodeOf(*grid, "https://n1.example/");
  t().First();
  EXPECT_NE(GroupOf(*grid, "Personal"), nullptr);
  EXPECT_EQ(DataNodeOf(*grid, "https://n1.example/"), kept);
  ExpectInSync();
  // A record another program added meanwhile becomes current: its row is
  // read in rather than leaving the focus on another record.
  {
    TSiteTable other(dir.Dir(), "other");
    other.Table().Open();
    AddSite(other.Table(), {"Science", "https://s0.example/", "S0"});
  }
  Focus("https://n3.example/");
  t().Refresh();
  ASSERT_TRUE(t().Locate("siteurl", Variant("https://s0.example/"), 0));
  EXPECT_TRUE(FocusOnCurrentRecord(*grid, t()));
  EXPECT_NE(DataNodeOf(*grid, "https://s0.example/"), nullptr);
}

}  // namespace
}  // namespace grid
