// The grid's layout in the settings store: what is written and in which
// order, what a restart brings back, which stored values are ignored, and
// the saving of a burst of user changes once.
#include <gtest/gtest.h>

#include "grid/model/GridTestSupport.h"

namespace grid {
namespace {

using namespace grid::testing;
using marrowick::fakes::TMemorySettingsState;
using marrowick::fakes::TMemorySettingsStore;

const std::string kKey = "Software\\Tolvane\\Marrowick\\grid";
const std::string kColumns = kKey + "\\Columns\\";

class LayoutTest : public ::testing::Test {
 protected:
  std::unique_ptr<TDBGrid> Grid() { return ProgramGrid(nullptr, TMemorySettingsStore::Factory(state)); }
  std::vector<std::string> Names(const TDBGrid& g) {
    std::vector<std::string> names;
    for (int i = 0; i < g.ColumnCount(); ++i) names.push_back(g.Columns(i)->Name());
    return names;
  }
  TMemorySettingsState state;
};

TEST_F(LayoutTest, FirstStartReadsNothingAndTheFirstSaveWritesEveryValueInOrder) {
  {
    auto g = Grid();
    EXPECT_EQ(state.writes, 0);
    EXPECT_TRUE(state.keys.empty());
    EXPECT_FALSE(g->LayoutModified());
  }
  EXPECT_EQ(state.Value(kKey, "ShowGroupPanel"), "1");
  EXPECT_EQ(state.Value(kKey, "ShowNewItemRow"), "0");
  EXPECT_EQ(state.Value(kKey, "HeaderPanelRowCount"), "1");
  EXPECT_EQ(state.Value(kKey + "\\Band\\Band0", "ID"), "0");
  EXPECT_EQ(state.Value(kKey + "\\Band\\Band0", "Width"), "747");
  EXPECT_EQ(state.Value(kColumns + "SiteCategory", "GroupIndex"), "0");
  EXPECT_EQ(state.Value(kColumns + "SiteCategory", "Sorted"), "2");
  EXPECT_EQ(state.Value(kColumns + "SiteCategory", "SortedOrder"), "0");
  EXPECT_EQ(state.Value(kColumns + "SiteUrl", "Width"), "363");
  EXPECT_EQ(state.Value(kColumns + "SiteUrl", "ColIndex"), "2");
  EXPECT_EQ(state.Value(kColumns + "SiteLogin", "Visible"), "0");
  EXPECT_EQ(state.Value(kColumns + "SiteLogin", "ColIndex"), "-1");
  EXPECT_EQ(state.Value(kColumns + "SitePassword", "Index"), "4");
  // The grid values, the band, then each column's values in their order.
  std::vector<std::string> siteName;
  bool in = false;
  for (const std::string& entry : state.log) {
    if (entry.rfind("open ", 0) == 0) in = entry.find("SiteName") != std::string::npos;
    if (in && entry.rfind("write ", 0) == 0) siteName.push_back(entry.substr(6, entry.find('=') - 6));
  }
  EXPECT_EQ(siteName, (std::vector<std::string>{"BandIndex", "RowIndex", "ColIndex", "Visible", "Index",
                                                 "GroupIndex", "Width", "Sorted", "SortedOrder", "StoredRowIndex"}));
  // The start only probed for the key, without creating it.
  EXPECT_EQ(state.log[0], "open \\Software\\Tolvane\\Marrowick\\grid");
  EXPECT_EQ(state.log[1], "open \\Software\\Tolvane\\Marrowick\\grid create");
  EXPECT_EQ(state.log[2], "write ShowGroupPanel=1");
}

TEST_F(LayoutTest, UserChangesSurviveARestart) {
  {
    auto g = Grid();
    g->FindColumn("SiteLogin")->SetVisible(false);
    g->FindColumn("SiteName")->SetVisible(true);
    g->FindColumn("SiteName")->SetWidth(250);
    g->FindColumn("SiteLogin")->SetVisible(true);
    g->FindColumn("SiteLogin")->SetVisible(false);
    // The URL header dragged in front of the name.
    g->HeaderMoved(g->FindColumn("SiteUrl"), 0, 1, 0);
    g->ColumnClick(g->FindColumn("SiteName"), false);
    g->ColumnClick(g->FindColumn("SiteName"), false);
    EXPECT_EQ(Names(*g), (std::vector<std::string>{"SiteCategory", "SiteUrl", "SiteName", "SiteLogin", "SitePassword"}));
  }
  auto g = Grid();
  EXPECT_FALSE(g->FindColumn("SiteLogin")->Visible());
  EXPECT_EQ(g->FindColumn("SiteName")->Width(), 250);
  EXPECT_EQ(Names(*g), (std::vector<std::string>{"SiteCategory", "SiteUrl", "SiteName", "SiteLogin", "SitePassword"}));
  EXPECT_EQ(g->FindColumn("SiteName")->Sorted(), csDown);
  EXPECT_EQ(g->GetSortedColumn(), g->FindColumn("SiteName"));
  EXPECT_FALSE(g->LayoutModified());
}

TEST_F(LayoutTest, UngroupedCategoryStartsUngroupedVisibleAndUnsorted) {
  {
    auto g = Grid();
    g->FindColumn("SiteCategory")->SetVisible(false);
    g->DragGroupColumnOut(g->FindColumn("SiteCategory"));
  }
  EXPECT_EQ(state.Value(kColumns + "SiteCategory", "GroupIndex"), "-1");
  EXPECT_EQ(state.Value(kColumns + "SiteCategory", "Sorted"), "0");
  EXPECT_EQ(state.Value(kColumns + "SiteCategory", "Visible"), "1");
  auto g = Grid();
  EXPECT_EQ(g->GroupColumnCount(), 0);
  EXPECT_TRUE(g->FindColumn("SiteCategory")->Visible());
  EXPECT_EQ(g->FindColumn("SiteCategory")->Sorted(), csNone);
}

TEST_F(LayoutTest, HiddenUngroupedColumnStaysHidden) {
  {
    auto g = Grid();
    g->DragGroupColumnOut(g->FindColumn("SiteCategory"));
    g->FindColumn("SiteCategory")->SetVisible(false);
  }
  auto g = Grid();
  EXPECT_FALSE(g->FindColumn("SiteCategory")->Visible());
}

TEST_F(LayoutTest, BadStoredValuesLeaveTheDesignValues) {
  { auto g = Grid(); }
  state.SetValue(kColumns + "SiteName", "Width", "abc");
  state.SetValue(kColumns + "SiteUrl", "Width", "5");
  state.SetValue(kColumns + "SiteName", "Sorted", "7");
  state.SetValue(kColumns + "SiteUrl", "GroupIndex", "0");  // may not be grouped
  state.SetValue(kColumns + "SiteLogin", "Visible", "");
  state.SetValue(kColumns + "SiteName", "RowIndex", "3");
  state.SetValue(kColumns + "SiteName", "BandIndex", "9");
  state.SetValue(kKey, "ShowGrid", "x");
  auto g = Grid();
  EXPECT_EQ(g->FindColumn("SiteName")->Width(), 200);
  EXPECT_EQ(g->FindColumn("SiteUrl")->Width(), 20);
  EXPECT_EQ(g->FindColumn("SiteName")->Sorted(), csNone);
  EXPECT_EQ(g->FindColumn("SiteUrl")->GroupIndex(), -1);
  EXPECT_EQ(g->GroupColumnCount(), 1);
  EXPECT_FALSE(g->FindColumn("SiteLogin")->Visible());
  EXPECT_EQ(g->FindColumn("SiteName")->RowIndex(), 0);
  EXPECT_EQ(g->FindColumn("SiteName")->BandIndex(), 0);
  EXPECT_TRUE(g->Switches().ShowGrid);
}

TEST_F(LayoutTest, TiedOrNegativeStoredPositionsGiveWayToTheDesignOrder) {
  { auto g = Grid(); }
  state.SetValue(kColumns + "SitePassword", "Index", "0");
  state.SetValue(kColumns + "SiteCategory", "Index", "4");
  state.SetValue(kColumns + "SiteName", "Index", "2");
  state.SetValue(kColumns + "SiteUrl", "Index", "2");
  state.SetValue(kColumns + "SiteLogin", "Index", "-3");
  auto g = Grid();
  // Name and URL tie: both take their design positions 1 and 2; login's
  // negative value gives its design position 3.
  EXPECT_EQ(Names(*g), (std::vector<std::string>{"SitePassword", "SiteName", "SiteUrl", "SiteLogin", "SiteCategory"}));
}

TEST_F(LayoutTest, ABurstOfChangesIsStoredOnce) {
  struct TWatch : IGridObserver {
    int modified = 0;
    void LayoutModified() override { ++modified; }
  } watch;
  auto g = Grid();
  g->AddObserver(&watch);
  EXPECT_FALSE(g->SaveLayoutIfModified());
  EXPECT_EQ(state.writes, 0);
  g->FindColumn("SiteName")->SetWidth(210);
  g->FindColumn("SiteName")->SetWidth(220);
  g->FindColumn("SiteLogin")->SetVisible(true);
  EXPECT_TRUE(g->LayoutModified());
  EXPECT_EQ(watch.modified, 3);
  EXPECT_TRUE(g->SaveLayoutIfModified());
  int writes = state.writes;
  EXPECT_EQ(state.Value(kColumns + "SiteName", "Width"), "220");
  EXPECT_FALSE(g->SaveLayoutIfModified());
  EXPECT_EQ(state.writes, writes);
  // Something that is not the layout (a width set to what it is) does not
  // count.
  g->FindColumn("SiteName")->SetWidth(220);
  EXPECT_FALSE(g->LayoutModified());
  g->RemoveObserver(&watch);
}

TEST_F(LayoutTest, TheLayoutLoadsBeforeTheTableAndTheSortAppliesWhenItOpens) {
  TempDir dir;
  CreateCatalogue(dir.Dir());
  std::vector<TSite> sites = {{"News", "https://a.example/", "Zed"}, {"News", "https://b.example/", "Abe"}};
  FillCatalogue(dir.Dir(), sites);
  {
    auto g = Grid();
    g->ColumnClick(g->FindColumn("SiteName"), false);
    g->ColumnClick(g->FindColumn("SiteCategory"), false);
  }
  TSiteTable table(dir.Dir());
  auto g = ProgramGrid(&table, TMemorySettingsStore::Factory(state));
  table.Table().Open();
  EXPECT_EQ(TreeLines(*g), ModelLines(sites, {.groupsDescending = true, .nameSort = csUp}));
}

}  // namespace
}  // namespace grid
