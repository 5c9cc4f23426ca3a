// Grouping and sorting on a real table: the sort state machine driven by
// header clicks, ties broken by URL, byte order, reversing the groups,
// ungrouping and grouping again by drag and drop, the refusals, and one
// reload per grouping bracket.
#include <gtest/gtest.h>

#include "grid/model/GridTestSupport.h"

namespace grid {
namespace {

using namespace grid::testing;

class GroupingSortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sites = {{"News", "https://n3.example/", "Zeta"},   {"News", "https://n1.example/", "alpha"},
             {"News", "https://n2.example/", "Mid"},    {"Health", "https://h2.example/", "Same"},
             {"Health", "https://h1.example/", "Same"}, {"Health", "https://h3.example/", "Other"},
             {"Science", "https://s1.example/", "Sci"}};
    CreateCatalogue(dir.Dir());
    FillCatalogue(dir.Dir(), sites);
    table = std::make_unique<TSiteTable>(dir.Dir());
    table->Table().Open();
    grid = ProgramGrid(table.get());
    category = grid->FindColumn("SiteCategory");
    name = grid->FindColumn("SiteName");
  }
  std::vector<TSite> sites;
  TempDir dir;
  std::unique_ptr<TSiteTable> table;
  std::unique_ptr<TDBGrid> grid;
  TTreeListColumn* category = nullptr;
  TTreeListColumn* name = nullptr;
};

TEST_F(GroupingSortTest, OnlyTheCategoryShowsASortStateAtStart) {
  EXPECT_EQ(category->Sorted(), csUp);
  EXPECT_EQ(category->GroupIndex(), 0);
  for (int i = 1; i < grid->ColumnCount(); ++i) EXPECT_EQ(grid->Columns(i)->Sorted(), csNone);
  EXPECT_EQ(grid->GetSortedColumn(), nullptr);
  EXPECT_EQ(TreeLines(*grid), ModelLines(sites));
}

TEST_F(GroupingSortTest, HeaderClicksCycleTheNameSortAndCtrlRemovesIt) {
  grid->ColumnClick(name, false);
  EXPECT_EQ(name->Sorted(), csUp);
  // Upper-case Z sorts before lower-case a; equal names go by URL.
  EXPECT_EQ(TreeLines(*grid), ModelLines(sites, {.nameSort = csUp}));
  grid->ColumnClick(name, false);
  EXPECT_EQ(name->Sorted(), csDown);
  EXPECT_EQ(TreeLines(*grid), ModelLines(sites, {.nameSort = csDown}));
  grid->ColumnClick(name, false);
  EXPECT_EQ(TreeLines(*grid), ModelLines(sites, {.nameSort = csUp}));
  // Ctrl-click: no sort, the rows stay as they are until a full reload.
  grid->ColumnClick(name, true);
  EXPECT_EQ(name->Sorted(), csNone);
  EXPECT_EQ(TreeLines(*grid), ModelLines(sites, {.nameSort = csUp}));
  grid->ReLoadGroupList();
  EXPECT_EQ(TreeLines(*grid), ModelLines(sites));
}

TEST_F(GroupingSortTest, SortSurvivesReloadsAndOnlyOneColumnSorts) {
  grid->ColumnClick(name, false);
  grid->ColumnClick(grid->FindColumn("SiteUrl"), false);
  EXPECT_EQ(name->Sorted(), csNone);
  EXPECT_EQ(grid->GetSortedColumn(), grid->FindColumn("SiteUrl"));
  grid->ColumnClick(name, false);
  grid->ColumnClick(name, false);
  grid->ReLoadGroupList();
  EXPECT_EQ(TreeLines(*grid), ModelLines(sites, {.nameSort = csDown}));
}

TEST_F(GroupingSortTest, CategoryClicksReverseTheGroupsOnly) {
  grid->ColumnClick(name, false);
  grid->ColumnClick(category, false);
  EXPECT_EQ(category->Sorted(), csDown);
  EXPECT_EQ(name->Sorted(), csUp);
  EXPECT_EQ(TreeLines(*grid), ModelLines(sites, {.groupsDescending = true, .nameSort = csUp}));
  // The group panel's header does the same.
  grid->GroupHeaderClick(0);
  EXPECT_EQ(category->Sorted(), csUp);
  EXPECT_EQ(TreeLines(*grid), ModelLines(sites, {.nameSort = csUp}));
  // A reload keeps the groups in the column's direction.
  grid->ColumnClick(category, false);
  grid->ReLoadGroupList();
  EXPECT_EQ(TreeLines(*grid), ModelLines(sites, {.groupsDescending = true, .nameSort = csUp}));
  // Ctrl on the grouped column leaves its direction.
  grid->ColumnClick(category, true);
  EXPECT_EQ(category->Sorted(), csDown);
  EXPECT_EQ(TreeLines(*grid), ModelLines(sites, {.groupsDescending = true, .nameSort = csUp}));
}

TEST_F(GroupingSortTest, UngroupingKeepsTheShownOrderAndGroupingAgainStartsCollapsed) {
  grid->ColumnClick(category, false);
  GroupOf(*grid, "News")->Expand(false);
  std::vector<std::string> shown;
  for (const std::string& line : TreeLines(*grid)) {
    if (line[0] == ' ') shown.push_back(line.substr(2));
  }
  grid->DragGroupColumnOut(category);
  EXPECT_EQ(grid->GroupColumnCount(), 0);
  EXPECT_TRUE(category->Visible());
  EXPECT_EQ(category->Sorted(), csNone);
  EXPECT_EQ(TreeLines(*grid), shown);
  EXPECT_TRUE(FocusOnCurrentRecord(*grid, table->Table()));
  // With a sort column the flat list is sorted by it.
  grid->ColumnClick(name, false);
  EXPECT_EQ(TreeLines(*grid), ModelLines(sites, {.grouped = false, .nameSort = csUp}));

  ASSERT_TRUE(grid->CanDropOnGroupPanel(category));
  grid->DropOnGroupPanel(category, 0);
  EXPECT_EQ(category->GroupIndex(), 0);
  EXPECT_EQ(category->Sorted(), csUp);
  EXPECT_EQ(TreeLines(*grid), ModelLines(sites, {.nameSort = csUp}));
  // Collapsed but for the group that shows the current record's row.
  TTreeListNode* focused = grid->FocusedNode();
  for (int i = 0; i < grid->Count(); ++i) {
    if (grid->GetNode(i) != focused->Parent()) {
      EXPECT_FALSE(grid->GetNode(i)->Expanded());
    }
  }
  EXPECT_TRUE(FocusOnCurrentRecord(*grid, table->Table()));
}

TEST_F(GroupingSortTest, ColumnsThatMayNotGroupAreRefused) {
  std::vector<std::string> before = TreeLines(*grid);
  EXPECT_FALSE(grid->CanDropOnGroupPanel(name));
  grid->DropOnGroupPanel(name, 0);
  EXPECT_EQ(name->GroupIndex(), -1);
  EXPECT_EQ(TreeLines(*grid), before);
  // The only visible column cannot be grouped.
  grid->DragGroupColumnOut(category);
  for (int i = 1; i < grid->ColumnCount(); ++i) grid->Columns(i)->SetVisible(false);
  EXPECT_FALSE(grid->CanAddGroupColumn(category));
  grid->DropOnGroupPanel(category, 0);
  EXPECT_EQ(category->GroupIndex(), -1);
}

TEST_F(GroupingSortTest, OneReloadPerGroupingBracket) {
  struct TCounter : IGridObserver {
    int resets = 0;
    void TreeReset() override { ++resets; }
  } counter;
  grid->AddObserver(&counter);
  grid->BeginGrouping();
  grid->SetGroupIndex(category, -1);
  grid->SetGroupIndex(category, 0);
  grid->SetGroupIndex(category, -1);
  // Nothing is read or regrouped until the bracket closes.
  EXPECT_EQ(grid->Count(), 3);
  EXPECT_EQ(counter.resets, 0);
  grid->EndGrouping();
  EXPECT_EQ(counter.resets, 1);
  EXPECT_EQ(TreeLines(*grid), ModelLines(sites, {.grouped = false}));
  grid->RemoveObserver(&counter);
}

TEST(SortTieTest, RowsEqualInEveryRespectKeepTheRecordSetsOrder) {
  TDBGrid grid;
  grid.CreateColumn<TDBGridColumn>().SetName("A");
  for (int i = 0; i < 6; ++i) {
    auto* n = static_cast<TDBGridNode*>(grid.Add());
    n->SetStrings(0, i % 2 == 0 ? "x" : "y");
    n->RecordIndex = 5 - i;
  }
  grid.DoSortColumn(0, 0, false);
  std::vector<int> order;
  for (int i = 0; i < grid.Count(); ++i) order.push_back(static_cast<TDBGridNode*>(grid.GetNode(i))->RecordIndex);
  EXPECT_EQ(order, (std::vector<int>{1, 3, 5, 0, 2, 4}));
  grid.DoSortColumn(0, 0, true);
  order.clear();
  for (int i = 0; i < grid.Count(); ++i) order.push_back(static_cast<TDBGridNode*>(grid.GetNode(i))->RecordIndex);
  EXPECT_EQ(order, (std::vector<int>{0, 2, 4, 1, 3, 5}));
}

}  // namespace
}  // namespace grid
