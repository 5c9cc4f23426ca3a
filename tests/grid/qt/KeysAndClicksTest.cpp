// The grid's keys and row clicks as a person uses them on the sample
// catalogue: Insert in the middle of a group, Ctrl+Del answered Cancel and
// OK, Ctrl+C's text, + - * and the arrows on group rows, Tab through the
// columns, a page down that keeps the focused row in its place, and the
// expand button and double click of a group row.
#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QMenu>

#include "grid/qt/GridWidgetTestSupport.h"

namespace grid::qt {
namespace {

using namespace grid::qt::testing;

const std::string kBbc = "https://www.bbc.com/news";
const std::string kReuters = "https://www.reuters.com/";

class KeysAndClicksTest : public GridWidgetTest {
 protected:
  void SetUp() override { Open(); }
};

TEST_F(KeysAndClicksTest, InsertInTheMiddleOfAGroupStartsThereInItsCategory) {
  ClickCell(Row(kReuters), Col("SiteName"));
  const int at = Row(kReuters)->Index();
  Key(Qt::Key_Insert);
  EXPECT_EQ(t().State(), dataset::dsInsert);
  TTreeListNode* added = core->FocusedNode();
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->Parent(), GroupOf(*core, "News"));
  EXPECT_EQ(added->Index(), at);
  EXPECT_EQ(Row(kReuters)->Index(), at + 1);
  EXPECT_EQ(t().FieldByName("sitetype").AsString(), "News");
  // The editor is open on the new row's cell.
  ASSERT_NE(widget->Editor(), nullptr);
  EXPECT_EQ(widget->Editor()->geometry(), widget->CellRect(added, Col("SiteName")).adjusted(0, 0, -1, -1));
  Type("Newcomer");
  Key(Qt::Key_Tab);
  EXPECT_EQ(core->FocusedColumn(), Col("SiteUrl"));
  Type("https://newcomer.example/");
  Key(Qt::Key_Down);
  EXPECT_EQ(t().State(), dataset::dsBrowse);
  EXPECT_TRUE(errors.empty());
  std::vector<TSite> sites = ReadSites(dir.Dir());
  ASSERT_EQ(sites.size(), 67u);
  auto site = std::find_if(sites.begin(), sites.end(), [](const TSite& s) { return s.url == "https://newcomer.example/"; });
  ASSERT_NE(site, sites.end());
  EXPECT_EQ(site->type, "News");
  EXPECT_EQ(site->name, "Newcomer");
  ASSERT_NE(Row("https://newcomer.example/"), nullptr);
  EXPECT_EQ(Row("https://newcomer.example/")->Parent(), GroupOf(*core, "News"));
  EXPECT_TRUE(FocusOnCurrentRecord(*core, t()));
}

TEST_F(KeysAndClicksTest, CtrlDelAsksAndOnlyOkDeletes) {
  ClickCell(Row(kReuters), Col("SiteName"));
  boxes.answers = {false};
  Key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(boxes.questions, std::vector<std::string>{"Confirm: Delete record?"});
  EXPECT_EQ(ReadSites(dir.Dir()).size(), 66u);
  EXPECT_NE(Row(kReuters), nullptr);

  boxes.answers = {true};
  Key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(boxes.questions.size(), 2u);
  std::vector<TSite> sites = ReadSites(dir.Dir());
  EXPECT_EQ(sites.size(), 65u);
  EXPECT_TRUE(std::none_of(sites.begin(), sites.end(), [](const TSite& s) { return s.url == kReuters; }));
  EXPECT_EQ(Row(kReuters), nullptr);
  EXPECT_TRUE(FocusOnCurrentRecord(*core, t()));
  EXPECT_EQ(TreeLines(*core), ModelLines(sites));

  // A group row is never deleted, and nothing is asked.
  core->FocusRow(GroupOf(*core, "News"));
  Key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(boxes.questions.size(), 2u);
  EXPECT_EQ(ReadSites(dir.Dir()).size(), 65u);
  EXPECT_TRUE(errors.empty());
}

TEST_F(KeysAndClicksTest, CtrlCCopiesTheHeaderLineAndTheFocusedRow) {
  ClickCell(Row(kBbc), Col("SiteName"));
  Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard.text,
            "Site Category\tSite Name\tSite Url\t\r\r\n"
            "News\tBBC News\thttps://www.bbc.com/news\t\r\n");
  clipboard.text.clear();
  Key(Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_EQ(clipboard.sets, 2);
  EXPECT_EQ(clipboard.text,
            "Site Category\tSite Name\tSite Url\t\r\r\n"
            "News\tBBC News\thttps://www.bbc.com/news\t\r\n");
  // A group row's line is its text.
  Key(Qt::Key_Home, Qt::ControlModifier);
  Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard.text, "Site Category\tSite Name\tSite Url\t\r\r\nSite Category : Arts & Humanities \r\n");
}

TEST_F(KeysAndClicksTest, GroupRowsOpenAndCloseAndTheArrowsWalkTheRows) {
  // After opening, the row of the first record's group stands for it.
  TTreeListNode* news = GroupOf(*core, "News");
  ASSERT_EQ(core->FocusedNode(), news);
  EXPECT_EQ(table->CurrentUrl(), "https://apnews.com/");
  Key(Qt::Key_Plus);
  EXPECT_TRUE(news->Expanded());
  EXPECT_TRUE(widget->RowsView()->isExpanded(widget->Model()->IndexOf(news)));
  Key(Qt::Key_Minus);
  EXPECT_FALSE(news->Expanded());
  EXPECT_FALSE(widget->RowsView()->isExpanded(widget->Model()->IndexOf(news)));
  Key(Qt::Key_Asterisk);
  EXPECT_TRUE(news->Expanded());
  Key(Qt::Key_Left);
  EXPECT_FALSE(news->Expanded());
  Key(Qt::Key_Right);
  EXPECT_TRUE(news->Expanded());
  Key(Qt::Key_Down);
  Key(Qt::Key_Down);
  EXPECT_EQ(core->FocusedNode(), news->Items(1));
  EXPECT_EQ(table->CurrentUrl(), "https://www.aljazeera.com/");
  // On a data row + is typed into the cell.
  Key(Qt::Key_Plus);
  ASSERT_NE(widget->Editor(), nullptr);
  EXPECT_EQ(widget->Editor()->text(), "+");
  Key(Qt::Key_Escape);
  Key(Qt::Key_Escape);
  Key(Qt::Key_Escape);
  EXPECT_EQ(t().State(), dataset::dsBrowse);

  // Columns: End, Home, Tab past the last one to the next row and back.
  Key(Qt::Key_End);
  EXPECT_EQ(core->FocusedColumn(), Col("SiteUrl"));
  Key(Qt::Key_Home);
  EXPECT_EQ(core->FocusedColumn(), Col("SiteCategory"));
  Key(Qt::Key_Tab);
  Key(Qt::Key_Tab);
  EXPECT_EQ(core->FocusedColumn(), Col("SiteUrl"));
  Key(Qt::Key_Tab);
  EXPECT_EQ(core->FocusedNode(), news->Items(2));
  EXPECT_EQ(core->FocusedColumn(), Col("SiteCategory"));
  Key(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(core->FocusedNode(), news->Items(1));
  EXPECT_EQ(core->FocusedColumn(), Col("SiteUrl"));
  EXPECT_EQ(QApplication::focusWidget(), widget->RowsView());
  // Ctrl+End and Ctrl+Home: the last and the first shown row.
  Key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(core->FocusedNode(), core->LastVisibleNode());
  Key(Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(core->FocusedNode(), GroupOf(*core, "Arts & Humanities"));
  EXPECT_TRUE(FocusOnCurrentRecord(*core, t()));
  EXPECT_TRUE(errors.empty());
}

TEST_F(KeysAndClicksTest, APageDownKeepsTheFocusedRowInItsPlace) {
  for (int i = 0; i < core->Count(); ++i) core->GetNode(i)->Expand(false);
  Key(Qt::Key_Home, Qt::ControlModifier);
  Key(Qt::Key_Down);
  Key(Qt::Key_Down);
  const int page = core->PageRowCount();
  EXPECT_EQ(page, Viewport()->height() / widget->CellHeight());
  const int y = widget->CellRect(core->FocusedNode(), core->FocusedColumn()).top();
  Key(Qt::Key_PageDown);
  EXPECT_EQ(core->FocusedNode()->GetAbsoluteIndex(), 2 + page);
  EXPECT_EQ(widget->CellRect(core->FocusedNode(), core->FocusedColumn()).top(), y);
  Key(Qt::Key_PageUp);
  EXPECT_EQ(core->FocusedNode()->GetAbsoluteIndex(), 2);
  EXPECT_EQ(widget->CellRect(core->FocusedNode(), core->FocusedColumn()).top(), y);
  // The core knows the top row for its reloads.
  EXPECT_EQ(core->TopNode(), core->VisibleRow(0));
}

TEST_F(KeysAndClicksTest, TheExpandButtonAndADoubleClickToggleAGroupRow) {
  TTreeListNode* news = GroupOf(*core, "News");
  TTreeListNode* focused = core->FocusedNode();
  QRect button = widget->ExpandButtonRect(news);
  ASSERT_FALSE(button.isEmpty());
  Click(Viewport(), button.center());
  EXPECT_TRUE(news->Expanded());
  // The button leaves the focus where it was.
  EXPECT_EQ(core->FocusedNode(), focused);
  Click(Viewport(), button.center());
  EXPECT_FALSE(news->Expanded());

  // A click on the row focuses it: its first record becomes current.
  QPoint text = widget->CellRect(news, 0).center();
  Click(Viewport(), text);
  EXPECT_EQ(core->FocusedNode(), news);
  EXPECT_EQ(table->CurrentUrl(), "https://apnews.com/");
  DoubleClick(Viewport(), text);
  EXPECT_TRUE(news->Expanded());
  DoubleClick(Viewport(), text);
  EXPECT_FALSE(news->Expanded());
  EXPECT_EQ(widget->Editor(), nullptr);
  EXPECT_TRUE(errors.empty());
}

TEST_F(KeysAndClicksTest, ARightClickFocusesTheRowAndShowsThePopupMenu) {
  QMenu menu;
  menu.addAction("Edit Site");
  widget->SetPopupMenu(&menu);
  QPoint pos = CellPoint(Row(kReuters), Col("SiteName"));
  QTest::mousePress(Viewport(), Qt::RightButton, Qt::NoModifier, pos);
  QContextMenuEvent request(QContextMenuEvent::Mouse, pos, Viewport()->mapToGlobal(pos));
  QCoreApplication::sendEvent(Viewport(), &request);
  QTest::mouseRelease(Viewport(), Qt::RightButton, Qt::NoModifier, pos);
  EXPECT_EQ(core->FocusedNode(), Row(kReuters));
  EXPECT_EQ(table->CurrentUrl(), kReuters);
  EXPECT_TRUE(menu.isVisible());
  EXPECT_EQ(menu.pos(), Viewport()->mapToGlobal(pos));
  menu.close();
  EXPECT_EQ(widget->Editor(), nullptr);
}

}  // namespace
}  // namespace grid::qt
