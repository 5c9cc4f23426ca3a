// The node tree on its own: links, positions, traversal, shown rows,
// destruction, per-column data that follows its column, and the
// notifications an observer sees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "grid/model/DBGrid.h"

namespace grid {
namespace {

struct TRecorder : IGridObserver {
  std::vector<std::string> log;
  void TreeAboutToBeReset() override { log.push_back("about-reset"); }
  void TreeReset() override { log.push_back("reset"); }
  void RowsAboutToBeInserted(TTreeListNode* p, int f, int l) override { log.push_back(Say("about-insert", p, f, l)); }
  void RowsInserted(TTreeListNode* p, int f, int l) override { log.push_back(Say("insert", p, f, l)); }
  void RowsAboutToBeRemoved(TTreeListNode* p, int f, int l) override { log.push_back(Say("about-remove", p, f, l)); }
  void RowsRemoved(TTreeListNode* p, int f, int l) override { log.push_back(Say("remove", p, f, l)); }
  void ExpandedChanged(TTreeListNode* n) override { log.push_back(n->Expanded() ? "expand" : "collapse"); }
  void FocusChanged(TTreeListNode* n, int) override { log.push_back(n ? "focus" : "focus none"); }
  static std::string Say(const char* what, TTreeListNode* p, int f, int l) {
    return std::string(what) + (p ? " child " : " root ") + std::to_string(f) + "-" + std::to_string(l);
  }
};

class NodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"A", "B", "C"}) grid.CreateColumn<TDBGridColumn>().SetName(name);
  }
  TDBGrid grid;
};

TEST(NodeOwnerTest, NodeWithoutOwnerIsRefused) {
  try {
    TTreeListNode node(nullptr);
    ADD_FAILURE() << "made a node without an owner";
  } catch (const ETreeListError& e) {
    EXPECT_STREQ(e.what(), "Invalid Owner TTreeListNode");
  }
}

TEST_F(NodeTest, LinksPositionsAndTraversal) {
  TTreeListNode* g1 = grid.Add();
  TTreeListNode* g2 = grid.Add();
  TTreeListNode* a = g1->AddChild();
  TTreeListNode* c = g1->AddChild();
  TTreeListNode* b = g1->InsertChild(c);
  TTreeListNode* d = g2->AddChild();
  TTreeListNode* g0 = grid.Insert(g1);

  EXPECT_EQ(grid.Count(), 3);
  EXPECT_EQ(grid.GetNode(0), g0);
  EXPECT_EQ(g1->Index(), 1);
  EXPECT_EQ(b->Index(), 1);
  EXPECT_EQ(c->Index(), 2);
  EXPECT_TRUE(c->IsLast());
  EXPECT_EQ(b->Level(), 1);
  EXPECT_EQ(g1->Level(), 0);
  EXPECT_EQ(g1->Parent(), nullptr);
  EXPECT_EQ(b->Parent(), g1);
  EXPECT_TRUE(b->HasAsParent(g1));
  EXPECT_FALSE(g1->HasAsParent(b));
  EXPECT_EQ(g1->Items(3), nullptr);
  EXPECT_EQ(g1->Items(-1), nullptr);

  // Pre-order whether or not expanded.
  std::vector<TTreeListNode*> order;
  for (TTreeListNode* n = grid.GetFirstNode(); n != nullptr; n = n->GetNext()) order.push_back(n);
  EXPECT_EQ(order, (std::vector<TTreeListNode*>{g0, g1, a, b, c, g2, d}));

  // Shown rows follow expansion only.
  EXPECT_EQ(grid.VisibleRowCount(), 3);
  EXPECT_EQ(g1->GetNextNode(), g2);
  EXPECT_EQ(a->GetAbsoluteIndex(), -1);
  g1->Expand(false);
  EXPECT_EQ(grid.VisibleRowCount(), 6);
  EXPECT_EQ(g1->GetNextNode(), a);
  EXPECT_EQ(c->GetNextNode(), g2);
  EXPECT_EQ(g2->GetPriorNode(), c);
  EXPECT_EQ(a->GetPriorNode(), g1);
  EXPECT_EQ(c->GetAbsoluteIndex(), 4);
  EXPECT_EQ(g2->GetAbsoluteIndex(), 5);
  EXPECT_EQ(grid.VisibleRow(5), g2);
  EXPECT_EQ(grid.LastVisibleNode(), g2);
}

TEST_F(NodeTest, DestroyingTheLastChildCollapsesTheParent) {
  TTreeListNode* g = grid.Add();
  TTreeListNode* a = g->AddChild();
  TTreeListNode* b = g->AddChild();
  g->Expand(false);
  grid.SetFocusedNode(b, 0, false);
  grid.DestroyNode(b);
  EXPECT_EQ(grid.FocusedNode(), nullptr);
  EXPECT_TRUE(g->Expanded());
  grid.DestroyNode(a);
  EXPECT_FALSE(g->HasChildren());
  EXPECT_FALSE(g->Expanded());
  // A childless node cannot be expanded.
  g->Expand(false);
  EXPECT_FALSE(g->Expanded());
  EXPECT_FALSE(grid.IsLiveNode(a));
}

TEST_F(NodeTest, StringsGrowOnDemandAndFollowTheirColumn) {
  auto* n = static_cast<TDBGridNode*>(grid.Add());
  EXPECT_EQ(n->Strings(7), "");
  n->SetStrings(0, "a");
  n->SetStrings(2, "c");
  TNodeVariantData data;
  data.Flags = TNodeVariantData::vdValue;
  data.Value = dataset::Variant(42);
  n->SetVariantData(2, data);
  EXPECT_EQ(n->GetVariantData(1).Flags, 0);
  EXPECT_TRUE(n->GetVariantData(1).Value.IsNull());

  // Column C moves to the front: its text and value move with it.
  grid.FindColumn("C")->SetIndex(0);
  EXPECT_EQ(grid.Columns(0)->Name(), "C");
  EXPECT_EQ(n->Strings(0), "c");
  EXPECT_EQ(n->Strings(1), "a");
  EXPECT_EQ(n->GetVariantData(0).Value.ToInteger(), 42);
  // A value record answers the cell's value; a plain string otherwise.
  EXPECT_EQ(n->GetValue(0).ToInteger(), 42);
  EXPECT_EQ(n->GetValue(1).ToString(), "a");
}

TEST_F(NodeTest, ObserversSeeEachChangeOrOneResetPerBracket) {
  TRecorder rec;
  grid.AddObserver(&rec);
  TTreeListNode* g = grid.Add();
  TTreeListNode* a = g->AddChild();
  g->Expand(false);
  grid.DestroyNode(a);
  EXPECT_EQ(rec.log, (std::vector<std::string>{"about-insert root 0-0", "insert root 0-0",
                                                "about-insert child 0-0", "insert child 0-0", "expand",
                                                "about-remove child 0-0", "remove child 0-0"}));
  rec.log.clear();
  grid.BeginUpdate();
  grid.Add();
  grid.Add()->AddChild();
  grid.ClearNodes();
  EXPECT_EQ(rec.log, (std::vector<std::string>{"about-reset"}));
  grid.EndUpdate();
  EXPECT_EQ(rec.log, (std::vector<std::string>{"about-reset", "reset", "focus none"}));
  grid.RemoveObserver(&rec);
}

}  // namespace
}  // namespace grid
