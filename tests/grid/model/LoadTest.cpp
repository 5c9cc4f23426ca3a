// The load pass against real catalogue tables: the tree it builds, the
// record set it leaves as it found it, refresh with node reuse, the group
// search and the Null and letter-case groups.
#include <gtest/gtest.h>

#include "grid/model/GridTestSupport.h"

namespace grid {
namespace {

using namespace grid::testing;

class SampleCatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeSampleCatalogue(dir.Dir());
    table = std::make_unique<TSiteTable>(dir.Dir());
    table->Table().Open();
  }
  TempDir dir;
  std::unique_ptr<TSiteTable> table;
};

TEST_F(SampleCatalogueTest, LoadsEverySiteUnderItsCategoryInIndexOrder) {
  auto grid = ProgramGrid(table.get());
  std::vector<TSite> sites = ReadSites(dir.Dir());
  ASSERT_EQ(sites.size(), 66u);
  EXPECT_EQ(TreeLines(*grid), ModelLines(sites));
  EXPECT_EQ(grid->LoadedRecordCount(), 66);
  EXPECT_EQ(grid->Count(), 15);
  // Every group starts collapsed and stands for its first record.
  for (int i = 0; i < grid->Count(); ++i) {
    auto* group = static_cast<TDBGridNode*>(grid->GetNode(i));
    EXPECT_FALSE(group->Expanded());
    auto* first = static_cast<TDBGridNode*>(group->GetFirstChild());
    EXPECT_TRUE(SameNodeValue(group->KeyValue, first->KeyValue));
    EXPECT_EQ(group->RecordIndex, first->RecordIndex);
  }
  // The group row text: caption, " : ", the group, one blank.
  EXPECT_EQ(grid->GetNode(7)->Owner()->GetNodeString(grid->GetNode(7), 2), "Site Category : News ");
  // The preview text is captured, the rows keep their key.
  TDBGridNode* row = DataNodeOf(*grid, sites[0].url);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->PreviewText, sites[0].note);
  // At start the current record is the first in index order, shown by its
  // group's row.
  EXPECT_TRUE(table->Table().Bof());
  EXPECT_EQ(grid->FocusedNode(), GroupOf(*grid, sites[0].type));
  EXPECT_TRUE(FocusOnCurrentRecord(*grid, table->Table()));
}

TEST_F(SampleCatalogueTest, ReloadLeavesTheRecordSetWhereItWas) {
  auto grid = ProgramGrid(table.get());
  auto& t = table->Table();
  // At the first record with BOF set.
  std::string first = table->CurrentUrl();
  grid->ReLoadGroupList();
  EXPECT_TRUE(t.Bof());
  EXPECT_FALSE(t.Eof());
  EXPECT_EQ(table->CurrentUrl(), first);
  // In the middle.
  t.Locate("siteurl", dataset::Variant(ReadSites(dir.Dir())[30].url), 0);
  std::string middle = table->CurrentUrl();
  grid->ReLoadGroupList();
  EXPECT_FALSE(t.Bof());
  EXPECT_FALSE(t.Eof());
  EXPECT_EQ(table->CurrentUrl(), middle);
  // At EOF.
  t.Last();
  t.Next();
  std::string last = table->CurrentUrl();
  grid->RefreshGroupList();
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(table->CurrentUrl(), last);
}

TEST_F(SampleCatalogueTest, LoadCancelsAnEditInProgress) {
  auto grid = ProgramGrid(table.get());
  auto& t = table->Table();
  std::string url = table->CurrentUrl();
  std::string name = t.FieldByName("sitename").AsString();
  t.Edit();
  t.FieldByName("sitename").SetAsString("Changed but never posted");
  grid->ReLoadGroupList();
  EXPECT_EQ(t.State(), dataset::dsBrowse);
  EXPECT_EQ(t.FieldByName("sitename").AsString(), name);
  EXPECT_EQ(table->CurrentUrl(), url);
  EXPECT_EQ(TreeLines(*grid), ModelLines(ReadSites(dir.Dir())));
}

class SmallTableTest : public ::testing::Test {
 protected:
  void Make(const std::vector<TSite>& sites) {
    CreateCatalogue(dir.Dir());
    if (!sites.empty()) FillCatalogue(dir.Dir(), sites);
    table = std::make_unique<TSiteTable>(dir.Dir());
    table->Table().Open();
    grid = ProgramGrid(table.get());
  }
  TempDir dir;
  std::unique_ptr<TSiteTable> table;
  std::unique_ptr<TDBGrid> grid;
};

TEST_F(SmallTableTest, EmptyTableHasNoRowAtAll) {
  Make({});
  EXPECT_EQ(grid->Count(), 0);
  EXPECT_EQ(grid->FocusedNode(), nullptr);
  EXPECT_EQ(grid->LoadedRecordCount(), 0);
}

TEST_F(SmallTableTest, NullGroupComesFirstAndLetterCaseMakesTwoGroups) {
  Make({{"news", "https://c.example/", "C"},
        {"News", "https://b.example/", "B"},
        {"", "https://a.example/", "A"},
        {"Arts & Humanities", "https://d.example/", "D"}});
  EXPECT_EQ(TreeLines(*grid), (std::vector<std::string>{"G Site Category :  ", "  A|https://a.example/",
                                                        "G Site Category : Arts & Humanities ",
                                                        "  D|https://d.example/", "G Site Category : News ",
                                                        "  B|https://b.example/", "G Site Category : news ",
                                                        "  C|https://c.example/"}));
  EXPECT_TRUE(static_cast<TDBGridNode*>(grid->GetNode(0))->GroupValue.IsNull());
}

TEST_F(SmallTableTest, GroupSearchFindsOrGivesTheInsertionPlace) {
  Make({{"B", "https://1/"}, {"D", "https://2/"}, {"F", "https://3/"}});
  TTreeListNode* found = nullptr;
  EXPECT_TRUE(grid->FindGroupNode(grid->GetFirstNode(), dataset::Variant("D"), found, false, 0));
  EXPECT_EQ(found, grid->GetNode(1));
  EXPECT_FALSE(grid->FindGroupNode(grid->GetFirstNode(), dataset::Variant("C"), found, false, 0));
  EXPECT_EQ(found, grid->GetNode(1));
  EXPECT_FALSE(grid->FindGroupNode(grid->GetFirstNode(), dataset::Variant("Z"), found, false, 0));
  EXPECT_EQ(found, nullptr);
  // Null comes before every text; an unassigned value counts as smaller.
  EXPECT_FALSE(grid->FindGroupNode(grid->GetFirstNode(), dataset::Variant::Null(), found, false, 0));
  EXPECT_EQ(found, grid->GetNode(0));
  EXPECT_FALSE(grid->FindGroupNode(grid->GetFirstNode(), dataset::Variant(), found, false, 0));
  EXPECT_EQ(found, nullptr);
  EXPECT_FALSE(grid->FindGroupNode(nullptr, dataset::Variant("B"), found, false, 0));
}

TEST_F(SmallTableTest, RefreshReusesRowsKeepsExpansionAndAppendsNewOnes) {
  Make({{"News", "https://b.example/", "B"},
        {"News", "https://d.example/", "D"},
        {"Health", "https://a.example/", "A"},
        {"Science", "https://s.example/", "S"}});
  TTreeListNode* news = GroupOf(*grid, "News");
  news->Expand(false);
  TDBGridNode* b = DataNodeOf(*grid, "https://b.example/");
  TDBGridNode* d = DataNodeOf(*grid, "https://d.example/");
  {
    // Another record set changes the table: a new News site before the
    // others in index order, Science's only site moves to Health.
    TSiteTable other(dir.Dir(), "other");
    auto& t = other.Table();
    t.Open();
    AddSite(t, {"News", "https://a0.example/", "A0"});
    ASSERT_TRUE(t.Locate("siteurl", dataset::Variant("https://s.example/"), 0));
    t.Edit();
    t.FieldByName("sitetype").SetAsString("Health");
    t.Post();
  }
  grid->RefreshGroupList();
  EXPECT_EQ(GroupOf(*grid, "News"), news);
  EXPECT_TRUE(news->Expanded());
  EXPECT_EQ(DataNodeOf(*grid, "https://b.example/"), b);
  EXPECT_EQ(DataNodeOf(*grid, "https://d.example/"), d);
  EXPECT_EQ(GroupOf(*grid, "Science"), nullptr);
  // The new row and the moved row come last in their groups.
  EXPECT_EQ(TreeLines(*grid),
            (std::vector<std::string>{"G Site Category : Health ", "  A|https://a.example/", "  S|https://s.example/",
                                      "G Site Category : News ", "  B|https://b.example/", "  D|https://d.example/",
                                      "  A0|https://a0.example/"}));
  EXPECT_EQ(grid->LoadedRecordCount(), 5);
  // A full reload brings back index order and collapsed groups.
  grid->ReLoadGroupList();
  EXPECT_EQ(TreeLines(*grid), ModelLines(ReadSites(dir.Dir())));
  EXPECT_FALSE(GroupOf(*grid, "News")->Expanded());
}

TEST_F(SmallTableTest, ClosingTheTableEmptiesTheGridAndOpeningFillsIt) {
  Make({{"News", "https://b.example/", "B"}});
  table->Table().Close();
  EXPECT_EQ(grid->Count(), 0);
  EXPECT_EQ(grid->FocusedNode(), nullptr);
  table->Table().Open();
  EXPECT_EQ(TreeLines(*grid), (std::vector<std::string>{"G Site Category : News ", "  B|https://b.example/"}));
}

}  // namespace
}  // namespace grid
