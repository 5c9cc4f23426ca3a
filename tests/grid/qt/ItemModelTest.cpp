// The item model over the core's nodes, checked by Qt's model tester and
// against the core's tree after each change a person or another program
// makes: expanding, sorting, ungrouping and grouping again, moving a column,
// inserting and deleting through the grid, editing through the record set,
// and a record another process added, found by a reload. Between changes the
// view's expanded rows and current index must mirror the core, also while a
// quick find leaves only some rows shown.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>

#include "grid/qt/GridWidgetTestSupport.h"

namespace grid::qt {
namespace {

using namespace grid::qt::testing;

std::vector<std::string>* gWarnings = nullptr;

void CollectWarnings(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (gWarnings != nullptr && type != QtDebugMsg && type != QtInfoMsg) gWarnings->push_back(message.toStdString());
}

class ItemModelTest : public GridWidgetTest {
 protected:
  void SetUp() override {
    Open();
    gWarnings = &warnings;
    previous = qInstallMessageHandler(CollectWarnings);
    tester = std::make_unique<QAbstractItemModelTester>(widget->Model(),
                                                        QAbstractItemModelTester::FailureReportingMode::Warning);
  }
  void TearDown() override {
    tester.reset();
    qInstallMessageHandler(previous);
    gWarnings = nullptr;
    GridWidgetTest::TearDown();
  }

  // The model's rows under a parent are the core's nodes in order, the
  // view's expanded rows are the core's, and the current index is the
  // focused node.
  void ExpectMirrorsCore(const QModelIndex& parent = QModelIndex()) {
    TGridItemModel* model = widget->Model();
    TTreeListNode* parentNode = TGridItemModel::NodeOf(parent);
    const int count = core->ShownChildCount(parentNode);
    ASSERT_EQ(model->rowCount(parent), count);
    for (int row = 0; row < count; ++row) {
      QModelIndex index = model->index(row, 0, parent);
      TTreeListNode* node = core->ShownChild(parentNode, row);
      ASSERT_EQ(TGridItemModel::NodeOf(index), node);
      EXPECT_EQ(model->data(index).toString().toStdString(), core->GetNodeString(node, 0));
      if (node->HasChildren()) {
        EXPECT_EQ(widget->RowsView()->isExpanded(index), node->Expanded()) << core->GetNodeString(node, 0);
        ExpectMirrorsCore(index);
      }
    }
    if (parentNode == nullptr) {
      TTreeListNode* focused = core->FocusedNode();
      EXPECT_EQ(TGridItemModel::NodeOf(widget->RowsView()->currentIndex()),
                focused != nullptr && core->IsShownRow(focused) ? focused : nullptr);
      EXPECT_TRUE(warnings.empty()) << warnings.front();
    }
  }

  std::vector<std::string> warnings;
  QtMessageHandler previous = nullptr;
  std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(ItemModelTest, TheModelFollowsEveryChangeOfTheTree) {
  ExpectMirrorsCore();
  EXPECT_EQ(widget->Model()->columnCount(), 5);
  EXPECT_EQ(widget->Model()->headerData(1, Qt::Horizontal).toString(), "Site Name");

  Key(Qt::Key_Asterisk);
  Key(Qt::Key_Down);
  ExpectMirrorsCore();
  ClickHeader("SiteName");
  ExpectMirrorsCore();

  // Ungrouped and grouped again (each a reload of the tree).
  core->DragGroupColumnOut(core->FindColumn("SiteCategory"));
  widget->RowsView()->scrollToBottom();
  ExpectMirrorsCore();
  core->DropOnGroupPanel(core->FindColumn("SiteCategory"), 0);
  ExpectMirrorsCore();
  core->MakeNodeVisible(Row("https://www.bbc.com/news"));
  core->HeaderMoved(core->FindColumn("SiteUrl"), 0, 0, 0);
  EXPECT_EQ(widget->Model()->headerData(0, Qt::Horizontal).toString(), "Site Url");
  ExpectMirrorsCore();

  // Insert and delete through the grid, one row at a time.
  ClickCell(Row("https://www.bbc.com/news"), Col("SiteName"));
  Key(Qt::Key_Insert);
  ExpectMirrorsCore();
  Type("Inserted");
  Key(Qt::Key_Backtab, Qt::ShiftModifier);
  Key(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(core->FocusedColumn(), Col("SiteUrl"));
  Type("https://inserted.example/");
  Key(Qt::Key_Up);
  EXPECT_TRUE(errors.empty());
  ExpectMirrorsCore();
  core->FocusRow(Row("https://inserted.example/"));
  Key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(Row("https://inserted.example/"), nullptr);
  ExpectMirrorsCore();

  // A category changed through the record set moves the row to a new
  // group; the emptied group goes.
  t().Locate("siteurl", dataset::Variant("https://www.bbc.com/news"), 0);
  t().Edit();
  t().FieldByName("sitetype").SetAsString("Broadcasting");
  t().Post();
  ExpectMirrorsCore();
  EXPECT_NE(GroupOf(*core, "Broadcasting"), nullptr);

  // Another program adds a site; a reload finds it.
  ASSERT_EQ(OtherProcessInsert(dir.Dir(),
                               R"({"sitetype": "News", "siteurl": "https://elsewhere.example/", "sitename": "Else"})"),
            0);
  core->RefreshGroupList();
  EXPECT_NE(Row("https://elsewhere.example/"), nullptr);
  ExpectMirrorsCore();
  core->ReLoadGroupList();
  ExpectMirrorsCore();

  // The quick find leaves the matching rows and their groups.
  core->SetFilterText("guardian");
  ExpectMirrorsCore();
  ASSERT_EQ(widget->Model()->rowCount(), 1);
  QModelIndex news = widget->Model()->index(0, 0);
  EXPECT_EQ(TGridItemModel::NodeOf(news), GroupOf(*core, "News"));
  ASSERT_EQ(widget->Model()->rowCount(news), 1);
  EXPECT_EQ(TGridItemModel::NodeOf(widget->Model()->index(0, 0, news)), Row("https://www.theguardian.com/"));
  EXPECT_EQ(core->FocusedNode(), Row("https://www.theguardian.com/"));
  EXPECT_EQ(table->CurrentUrl(), "https://www.theguardian.com/");
  EXPECT_FALSE(widget->CellRect(Row("https://www.theguardian.com/"), Col("SiteName")).isEmpty());
  EXPECT_TRUE(widget->CellRect(Row("https://www.reuters.com/"), Col("SiteName")).isEmpty());
  Key(Qt::Key_Up);
  EXPECT_EQ(core->FocusedNode(), GroupOf(*core, "News"));
  core->SetFilterText("");
  ExpectMirrorsCore();
  EXPECT_EQ(widget->Model()->rowCount(), core->Count());
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace grid::qt
