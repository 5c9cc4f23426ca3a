// Header and group panel gestures with the mouse on the sample catalogue:
// sort clicks (Ctrl removes the sort), the category's header and its group
// header reversing the groups, sizing with the 20-pixel minimum and best fit,
// moving a header, a header dropped outside staying as it was, the category
// dragged out of the group panel and back, and a column that may not be
// grouped refused over the group panel with the delete cursor.
#include <gtest/gtest.h>

#include <algorithm>

#include "grid/qt/GridWidgetTestSupport.h"
#include "platform/qt/FontMetrics.h"

namespace grid::qt {
namespace {

using namespace grid::qt::testing;

const std::string kBbc = "https://www.bbc.com/news";

class HeaderGesturesTest : public GridWidgetTest {
 protected:
  void SetUp() override {
    Open();
    sites = ReadSites(dir.Dir());
  }
  // The group panel's header of a level, in the panel's coordinates.
  QRect GroupHeader(int level) {
    marrowick::platform::TQtFontMetrics metrics;
    TGridRect r = TGridGeometry(*core, metrics).GetGroupHeaderRect(level);
    return QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
  }
  QPoint InGrid(QWidget* w, QPoint p) { return w->mapTo(widget, p); }
  QPoint RowsMiddle() { return InGrid(Viewport(), Viewport()->rect().center()); }
  std::vector<std::string> Captions() {
    std::vector<std::string> captions;
    for (int column : core->DisplayColumns()) captions.push_back(core->GetHeaderText(column));
    return captions;
  }

  std::vector<TSite> sites;
};

TEST_F(HeaderGesturesTest, ClicksSortTheRowsAndCtrlRemovesTheSort) {
  ClickHeader("SiteName");
  EXPECT_EQ(core->FindColumn("SiteName")->Sorted(), csUp);
  EXPECT_EQ(TreeLines(*core), ModelLines(sites, {.nameSort = csUp}));
  ClickHeader("SiteName");
  EXPECT_EQ(core->FindColumn("SiteName")->Sorted(), csDown);
  std::vector<std::string> descending = ModelLines(sites, {.nameSort = csDown});
  EXPECT_EQ(TreeLines(*core), descending);
  ClickHeader("SiteName", Qt::ControlModifier);
  EXPECT_EQ(core->FindColumn("SiteName")->Sorted(), csNone);
  // The rows keep their order until the next reload.
  EXPECT_EQ(TreeLines(*core), descending);
  // A press released over another header is no click.
  QTest::mousePress(HeaderPort(), Qt::LeftButton, Qt::NoModifier, HeaderRect(Col("SiteName")).center());
  QTest::mouseRelease(HeaderPort(), Qt::LeftButton, Qt::NoModifier, HeaderRect(Col("SiteUrl")).center());
  EXPECT_EQ(core->FindColumn("SiteName")->Sorted(), csNone);
  EXPECT_TRUE(errors.empty());
}

TEST_F(HeaderGesturesTest, TheCategoryHeaderAndItsGroupHeaderReverseTheGroups) {
  ClickHeader("SiteCategory");
  EXPECT_EQ(core->FindColumn("SiteCategory")->Sorted(), csDown);
  EXPECT_EQ(TreeLines(*core), ModelLines(sites, {.groupsDescending = true}));
  Click(widget->GroupPanel(), GroupHeader(0).center());
  EXPECT_EQ(core->FindColumn("SiteCategory")->Sorted(), csUp);
  EXPECT_EQ(TreeLines(*core), ModelLines(sites));
  // Ctrl does not take the grouped column's order away.
  ClickHeader("SiteCategory", Qt::ControlModifier);
  EXPECT_EQ(core->FindColumn("SiteCategory")->Sorted(), csUp);
}

TEST_F(HeaderGesturesTest, SizingStopsAtTwentyPixelsAndADoubleClickFits) {
  const int name = Col("SiteName");
  QRect header = HeaderRect(name);
  // The edge shows the sizing cursor.
  QMouseEvent hover(QEvent::MouseMove, QPointF(header.right(), header.center().y()),
                    HeaderPort()->mapToGlobal(QPointF(header.right(), header.center().y())), Qt::NoButton,
                    Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(HeaderPort(), &hover);
  EXPECT_EQ(HeaderPort()->cursor().shape(), Qt::SplitHCursor);
  Drag(HeaderPort(), QPoint(header.right(), header.center().y()),
       {HeaderInGrid(QPoint(header.left() + 100, 5)), HeaderInGrid(QPoint(header.left() - 60, 5))});
  EXPECT_EQ(core->FindColumn("SiteName")->Width(), 20);
  EXPECT_EQ(widget->Header()->sectionSize(name), 20);
  // The band's other headers follow.
  EXPECT_EQ(widget->Header()->sectionViewportPosition(Col("SiteUrl")), HeaderRect(name).right() + 1);

  header = HeaderRect(name);
  DoubleClick(HeaderPort(), QPoint(header.right(), header.center().y()));
  marrowick::platform::TQtFontMetrics metrics;
  const int fit = core->BestFitWidth(core->FindColumn("SiteName"), metrics);
  EXPECT_GT(fit, 20);
  EXPECT_EQ(core->FindColumn("SiteName")->Width(), fit);

  // The first header holds the group indent besides its column's width.
  const int category = Col("SiteCategory");
  header = HeaderRect(category);
  EXPECT_EQ(header.width(), 184 + 16);
  Drag(HeaderPort(), QPoint(header.right(), header.center().y()), {HeaderInGrid(QPoint(header.left() + 150, 5))});
  EXPECT_EQ(core->FindColumn("SiteCategory")->Width(), 150 - 16 + 1);
  EXPECT_TRUE(errors.empty());
}

TEST_F(HeaderGesturesTest, AHeaderMovesWhereItIsDroppedAndStaysWhenDroppedOutside) {
  QRect url = HeaderRect(Col("SiteUrl"));
  QRect name = HeaderRect(Col("SiteName"));
  Drag(HeaderPort(), url.center(), {HeaderInGrid(QPoint(url.center().x() - 30, 5)), HeaderInGrid(name.topLeft() + QPoint(10, 5))});
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Site Category", "Site Url", "Site Name"}));
  // The cells moved with their column.
  EXPECT_EQ(core->GetNodeString(Row(kBbc), Col("SiteUrl")), kBbc);
  EXPECT_EQ(core->GetNodeString(Row(kBbc), Col("SiteName")), "BBC News");

  // Dragged onto the rows: the delete cursor, and nothing changes.
  name = HeaderRect(Col("SiteName"));
  const int width = core->FindColumn("SiteName")->Width();
  QTest::mousePress(HeaderPort(), Qt::LeftButton, Qt::NoModifier, name.center());
  QTest::mouseMove(HeaderPort(), name.center() + QPoint(-20, 0));
  EXPECT_EQ(HeaderPort()->cursor().shape(), Qt::ArrowCursor);
  QTest::mouseMove(HeaderPort(), HeaderPort()->mapFrom(widget, RowsMiddle()));
  EXPECT_EQ(HeaderPort()->cursor().shape(), Qt::ForbiddenCursor);
  QTest::mouseRelease(HeaderPort(), Qt::LeftButton, Qt::NoModifier, HeaderPort()->mapFrom(widget, RowsMiddle()));
  EXPECT_NE(HeaderPort()->cursor().shape(), Qt::ForbiddenCursor);
  EXPECT_TRUE(core->FindColumn("SiteName")->Visible());
  EXPECT_EQ(core->FindColumn("SiteName")->Width(), width);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Site Category", "Site Url", "Site Name"}));
  EXPECT_FALSE(widget->Header()->isSectionHidden(Col("SiteName")));
  EXPECT_TRUE(errors.empty());
}

TEST_F(HeaderGesturesTest, TheCategoryLeavesTheGroupPanelAndComesBack) {
  const int h = widget->HeaderRowHeight();
  EXPECT_EQ(widget->GroupPanel()->height(), h + 16);
  // A press moved less than 6 pixels is still a click-to-be.
  QPoint start = GroupHeader(0).center();
  Drag(widget->GroupPanel(), start, {InGrid(widget->GroupPanel(), start + QPoint(20, 0)), RowsMiddle()});
  EXPECT_EQ(core->GroupColumnCount(), 0);
  TTreeListColumn* category = core->FindColumn("SiteCategory");
  EXPECT_TRUE(category->Visible());
  EXPECT_EQ(category->Sorted(), csNone);
  // A flat list of the rows in the order they were shown.
  std::vector<std::string> flat;
  for (const std::string& line : ModelLines(sites)) {
    if (line.rfind("G ", 0) != 0) flat.push_back(line.substr(2));
  }
  EXPECT_EQ(TreeLines(*core), flat);
  EXPECT_EQ(widget->GroupPanel()->height(), h - h / 2 + 16);
  EXPECT_EQ(HeaderRect(Col("SiteCategory")).width(), 184);
  EXPECT_TRUE(FocusOnCurrentRecord(*core, t()));

  // Back from the header row onto the group panel: grouped, ascending, all
  // groups closed.
  QRect header = HeaderRect(Col("SiteCategory"));
  Drag(HeaderPort(), header.center(),
       {HeaderInGrid(header.center() + QPoint(30, 0)), InGrid(widget->GroupPanel(), QPoint(30, 10))});
  EXPECT_EQ(core->GroupColumnCount(), 1);
  EXPECT_EQ(category->Sorted(), csUp);
  EXPECT_EQ(TreeLines(*core), ModelLines(sites));
  for (int i = 0; i < core->Count(); ++i) EXPECT_FALSE(core->GetNode(i)->Expanded());
  EXPECT_EQ(widget->GroupPanel()->height(), h + 16);
  EXPECT_EQ(HeaderRect(Col("SiteCategory")).width(), 184 + 16);

  // From the group panel to the end of the header row (right of the last
  // header's middle): ungrouped and moved there.
  QRect url = HeaderRect(Col("SiteUrl"));
  ASSERT_LT(url.center().x() + 20, HeaderPort()->width());
  Drag(widget->GroupPanel(), GroupHeader(0).center(),
       {RowsMiddle(), HeaderInGrid(QPoint(url.center().x() + 20, 5))});
  EXPECT_EQ(core->GroupColumnCount(), 0);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Site Name", "Site Url", "Site Category"}));
  EXPECT_TRUE(errors.empty());
}

TEST_F(HeaderGesturesTest, AColumnThatMayNotBeGroupedIsRefusedOverTheGroupPanel) {
  QRect name = HeaderRect(Col("SiteName"));
  QPoint panel = InGrid(widget->GroupPanel(), QPoint(150, 10));
  QTest::mousePress(HeaderPort(), Qt::LeftButton, Qt::NoModifier, name.center());
  QTest::mouseMove(HeaderPort(), name.center() + QPoint(0, -10));
  QTest::mouseMove(HeaderPort(), HeaderPort()->mapFrom(widget, panel));
  EXPECT_EQ(HeaderPort()->cursor().shape(), Qt::ForbiddenCursor);
  QTest::mouseRelease(HeaderPort(), Qt::LeftButton, Qt::NoModifier, HeaderPort()->mapFrom(widget, panel));
  EXPECT_EQ(core->GroupColumnCount(), 1);
  EXPECT_EQ(core->FindColumn("SiteName")->GroupIndex(), -1);
  EXPECT_EQ(TreeLines(*core), ModelLines(sites));

  // The category itself may be dragged within the panel: nothing changes.
  QPoint start = GroupHeader(0).center();
  Drag(widget->GroupPanel(), start, {InGrid(widget->GroupPanel(), start + QPoint(40, 0))});
  EXPECT_EQ(core->GroupColumnCount(), 1);
  EXPECT_EQ(core->FindColumn("SiteCategory")->GroupIndex(), 0);
  EXPECT_TRUE(errors.empty());
}

TEST_F(HeaderGesturesTest, ABurstOfSizingIsStoredOnceAndColumnsShownOrHiddenFollowTheCore) {
  // Sizing sends a change per mouse move; the layout is stored once after
  // the burst has settled.
  QRect header = HeaderRect(Col("SiteName"));
  Drag(HeaderPort(), QPoint(header.right(), 5),
       {HeaderInGrid(QPoint(header.right() + 10, 5)), HeaderInGrid(QPoint(header.right() + 20, 5)),
        HeaderInGrid(QPoint(header.right() + 30, 5))});
  ASSERT_TRUE(WaitUntil([&] { return settings.writes > 0; }));
  EXPECT_EQ(std::count(settings.log.begin(), settings.log.end(), "write ShowGroupPanel=1"), 1);
  EXPECT_EQ(settings.Value("Software\\Tolvane\\Marrowick\\grid\\Columns\\SiteName", "Width"), "230");

  // The View menu shows a hidden column and hides the grouped one.
  EXPECT_TRUE(widget->Header()->isSectionHidden(Col("SiteLogin")));
  core->FindColumn("SiteLogin")->SetVisible(true);
  EXPECT_FALSE(widget->Header()->isSectionHidden(Col("SiteLogin")));
  EXPECT_EQ(HeaderRect(Col("SiteLogin")).width(), 119);
  core->FindColumn("SiteCategory")->SetVisible(false);
  EXPECT_TRUE(widget->Header()->isSectionHidden(Col("SiteCategory")));
  // Still grouped; the first shown header holds the indent now.
  EXPECT_EQ(core->GroupColumnCount(), 1);
  EXPECT_EQ(HeaderRect(Col("SiteName")).width(), 230 + 16);
  EXPECT_EQ(TreeLines(*core), ModelLines(sites));
  core->MakeNodeVisible(Row(kBbc));
  EXPECT_EQ(widget->CellRect(Row(kBbc), Col("SiteName")).left(), widget->RowsLeft() + 16);
  EXPECT_EQ(widget->CellRect(Row(kBbc), Col("SiteName")).width(), 230);
  ClickCell(Row(kBbc), Col("SiteLogin"));
  Type("me");
  Key(Qt::Key_Down);
  EXPECT_EQ(ReadSites(dir.Dir())[27].login, "me");
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace grid::qt
