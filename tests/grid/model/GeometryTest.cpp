// Geometry without drawing, with font metrics of fixed figures (lines 13
// pixels high): header row height, group panel and group headers, drops,
// header widths, best fit and preview texts.
#include <gtest/gtest.h>

#include "grid/model/GridGeometry.h"
#include "grid/model/GridTestSupport.h"

namespace grid {
namespace {

using namespace grid::testing;

class GeometryTest : public ::testing::Test {
 protected:
  marrowick::fakes::TFakeFontMetrics metrics;
  std::unique_ptr<TDBGrid> grid = ProgramGrid();
  TGridGeometry geometry{*grid, metrics};
};

TEST_F(GeometryTest, GroupPanelAndHeaders) {
  EXPECT_EQ(geometry.HeaderRowHeight(), 19);
  // One group column: one header at (8, 8)-(108, 27), no connector.
  EXPECT_EQ(geometry.GroupPanelHeight(), 35);
  EXPECT_EQ(geometry.GetGroupHeaderRect(0), (TGridRect{8, 8, 108, 27}));
  EXPECT_TRUE(geometry.GroupConnectors().empty());
  EXPECT_EQ(geometry.GroupPanelText(), "");
  EXPECT_EQ(geometry.GetGroupColumnAt(50, 20), 0);
  EXPECT_EQ(geometry.GetGroupColumnAt(110, 20), -1);
  // Dropping left of the header's middle goes before it, else after.
  EXPECT_EQ(geometry.GroupPanelInsertPosition(57), 0);
  EXPECT_EQ(geometry.GroupPanelInsertPosition(58), 1);
  EXPECT_EQ(geometry.DropArrowsPosition(1), (TGridPoint{107, 8 + 9 - 9}));
  // Two group columns: the second is half a header lower, with a connector.
  EXPECT_EQ(geometry.CalcGroupPanelHeight(2), 44);
  EXPECT_EQ(geometry.GetGroupHeaderRect(1), (TGridRect{112, 17, 212, 36}));
  // No group column: the hint, one blank first.
  grid->DragGroupColumnOut(grid->FindColumn("SiteCategory"));
  EXPECT_EQ(geometry.GroupPanelText(), " Drag a column header here to group by that column");
  EXPECT_EQ(geometry.GroupPanelHeight(), 19 - 9 + 16);
  grid->SetShowGroupPanel(false);
  EXPECT_EQ(geometry.GroupPanelHeight(), 0);
  metrics.LineHeight = 14;
  grid->Appearance().LookAndFeel = lfFlat;
  EXPECT_EQ(geometry.HeaderRowHeight(), 19);
}

TEST_F(GeometryTest, ConnectorsJoinConsecutiveGroupHeaders) {
  // Two group columns need a groupable second column.
  grid->FindColumn("SiteName")->SetDisableGrouping(false);
  ASSERT_TRUE(grid->AddGroupColumn(grid->FindColumn("SiteName")));
  auto lines = geometry.GroupConnectors();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], (std::vector<TGridPoint>{{58, 26}, {58, 29}, {113, 29}}));
}

TEST_F(GeometryTest, HeaderWidthsAndOrder) {
  EXPECT_EQ(grid->GetVisibleHeaderCount(), 3);
  EXPECT_EQ(grid->GetHeaderBoundsWidth(0), 200);  // 184 + 16 for the one group column
  EXPECT_EQ(grid->GetHeaderBoundsWidth(1), 200);
  EXPECT_EQ(grid->GetHeaderBoundsWidth(2), 363);
  EXPECT_EQ(grid->GetHeaderBoundsWidth(3), 0);
  EXPECT_EQ(grid->GetFocusedAbsoluteIndex(2), 2);
  EXPECT_EQ(grid->GetFocusedAbsoluteIndex(3), -1);
  EXPECT_EQ(grid->GetHeaderAbsoluteIndex(0, 0, 1), 1);
  EXPECT_EQ(grid->GetHeaderRowCount(0), 1);
  // Hiding the grouped column keeps the grouping; the indent moves on.
  grid->FindColumn("SiteCategory")->SetVisible(false);
  EXPECT_EQ(grid->GroupColumnCount(), 1);
  EXPECT_EQ(grid->GetHeaderBoundsWidth(1), 216);
  // Widths stop at 20.
  grid->FindColumn("SiteName")->SetWidth(3);
  EXPECT_EQ(grid->FindColumn("SiteName")->Width(), 20);
}

TEST_F(GeometryTest, BestFitMeasuresHeaderAndCells) {
  TempDir dir;
  CreateCatalogue(dir.Dir());
  FillCatalogue(dir.Dir(), {{"News", "https://a.example/", "A fairly long site name here"}});
  TSiteTable table(dir.Dir());
  table.Table().Open();
  auto g = ProgramGrid(&table);
  TTreeListColumn* name = g->FindColumn("SiteName");
  // 28 characters of 6 pixels plus 6, against the bold caption 9 * 7 + 18.
  EXPECT_EQ(g->BestFitWidth(name, metrics), 28 * 6 + 6);
  g->DoBestFitColumn(name, metrics);
  EXPECT_EQ(name->Width(), 174);
}

TEST_F(GeometryTest, PreviewTexts) {
  std::string notes(300, 'n');
  EXPECT_EQ(grid->GetPreviewString(notes), notes);
  grid->SetPreviewMaxLength(10);
  EXPECT_EQ(grid->GetPreviewString(notes), std::string(10, 'n') + "...");
  EXPECT_EQ(grid->GetPreviewString("short"), "short");
  // No preview lines while previews are off.
  auto* node = static_cast<TDBGridNode*>(grid->Add());
  node->PreviewText = "one two three four";
  EXPECT_EQ(geometry.PreviewLineCount(node, 200), 0);
  grid->SetOptions(grid->Options() | goPreview);
  grid->SetPreviewMaxLength(0);
  // 200 - 20 - 4 = 176 pixels: 29 characters a line.
  EXPECT_EQ(geometry.PreviewLineCount(node, 200), 1);
  node->PreviewText = std::string(20, 'a') + " " + std::string(20, 'b') + " " + std::string(20, 'c');
  EXPECT_EQ(geometry.PreviewLineCount(node, 200), 2);  // three lines, at most PreviewLines
  grid->SetPreviewLines(-1);
  EXPECT_EQ(geometry.PreviewLineCount(node, 200), 3);
}

}  // namespace
}  // namespace grid
