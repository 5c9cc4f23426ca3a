// The grid as the exports read it: headers in display and text order with
// their widths, fonts and field types; rows in tree order (collapsed groups
// included) and as shown; the appearance; the record set left as it was.
#include <gtest/gtest.h>

#include "grid/model/GridRowSource.h"
#include "grid/model/GridTestSupport.h"

namespace grid {
namespace {

using namespace grid::testing;

class RowSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateCatalogue(dir.Dir());
    FillCatalogue(dir.Dir(), {{"News", "https://n1.example/", "N1"},
                              {"News", "https://n2.example/", ""},
                              {"Health", "https://h1.example/", "H1", "me"}});
    table = std::make_unique<TSiteTable>(dir.Dir());
    table->Table().Open();
    grid = ProgramGrid(table.get());
  }
  std::vector<std::string> Rows(bool shownOnly) {
    std::vector<std::string> rows;
    auto visit = [&](const exports::IExportRow& row) {
      std::string line = std::to_string(row.Level()) + (row.IsGroup() ? "G " : "D ");
      for (int c = 0; c < 3; ++c) line += row.Text(c) + "|";
      rows.push_back(line);
    };
    TGridRowSource source(*grid);
    if (shownOnly) {
      source.ForEachVisibleRow(visit);
    } else {
      source.ForEachRow(visit);
    }
    return rows;
  }
  TempDir dir;
  std::unique_ptr<TSiteTable> table;
  std::unique_ptr<TDBGrid> grid;
};

TEST_F(RowSourceTest, HeadersInDisplayOrder) {
  grid->HeaderMoved(grid->FindColumn("SiteUrl"), 0, 0, 0);
  TGridRowSource source(*grid);
  auto headers = source.VisibleHeaders();
  ASSERT_EQ(headers.size(), 3u);
  EXPECT_EQ(headers[0].Text, "Site Url");
  EXPECT_EQ(headers[0].ColumnIndex, 0);
  EXPECT_EQ(headers[0].Width, 363 + 16);
  EXPECT_EQ(headers[1].Text, "Site Category");
  EXPECT_EQ(headers[1].Width, 184);
  EXPECT_TRUE(headers[1].HasField);
  EXPECT_EQ(headers[1].FieldType, dataset::ftString);
  EXPECT_EQ(headers[2].Font.Name, "MS Sans Serif");
  EXPECT_FALSE(headers[2].Font.Bold());
  auto text = source.TextOrderHeaders();
  ASSERT_EQ(text.size(), 3u);
  EXPECT_EQ(text[2].Text, "Site Name");
  EXPECT_EQ(source.GroupColumnCount(), 1);
}

TEST_F(RowSourceTest, RowsInTreeOrderAndAsShown) {
  GroupOf(*grid, "News")->Expand(false);
  EXPECT_EQ(Rows(false), (std::vector<std::string>{
                             "0G Site Category : Health |Site Category : Health |Site Category : Health |",
                             "1D Health|H1|https://h1.example/|",
                             "0G Site Category : News |Site Category : News |Site Category : News |",
                             "1D News|N1|https://n1.example/|", "1D News||https://n2.example/|"}));
  EXPECT_EQ(Rows(true), (std::vector<std::string>{
                            "0G Site Category : Health |Site Category : Health |Site Category : Health |",
                            "0G Site Category : News |Site Category : News |Site Category : News |",
                            "1D News|N1|https://n1.example/|", "1D News||https://n2.example/|"}));
  // Values: a group row its group value, a data row its text.
  TGridRowSource source(*grid);
  std::vector<std::string> values;
  source.ForEachRow([&](const exports::IExportRow& row) { values.push_back(row.Value(1).ToString()); });
  EXPECT_EQ(values, (std::vector<std::string>{"Health", "H1", "News", "N1", ""}));
}

TEST_F(RowSourceTest, AppearanceResolvesTheNoneColours) {
  TGridRowSource source(*grid);
  const exports::TExportAppearance& a = source.Appearance();
  EXPECT_EQ(a.Name, "DBGrid1");
  EXPECT_TRUE(a.HeaderFont.Bold());
  EXPECT_EQ(a.GroupNodeTextColor, 0x80000008u);
  EXPECT_EQ(a.GridLineColor, 0x80000010u);
  EXPECT_EQ(a.GroupNodeColor, 0x8000000Fu);
  EXPECT_EQ(a.RowFooterColor, 0x80000016u);
  EXPECT_FALSE(a.ShowBands);
  EXPECT_EQ(a.BandPanelHeight, 0);
  ASSERT_EQ(a.Bands.size(), 1u);
  EXPECT_EQ(a.Bands[0].HeaderCellCount, 3);
}

TEST_F(RowSourceTest, ExportLeavesTheRecordSetAndTheTopRowAsTheyWere) {
  auto& t = table->Table();
  ASSERT_TRUE(t.Locate("siteurl", dataset::Variant("https://n1.example/"), 0));
  grid->SetTopNode(GroupOf(*grid, "News"));
  TGridRowSource source(*grid);
  source.BeginExport();
  EXPECT_TRUE(t.ControlsDisabled());
  t.First();
  source.EndExport();
  EXPECT_FALSE(t.ControlsDisabled());
  EXPECT_EQ(table->CurrentUrl(), "https://n1.example/");
  EXPECT_EQ(grid->TopNode(), GroupOf(*grid, "News"));
  EXPECT_TRUE(FocusOnCurrentRecord(*grid, t));
}

}  // namespace
}  // namespace grid
