// The grid's nodes: one per group row or data row, in a tree owned by the
// tree list. A node is a group node exactly when it has children.
//
// Class chain, base first: TTreeListNode (tree links, expanded state,
// traversal) -> TTreeListTextNode (one display string per column position)
// -> TDBTreeListControlNode -> TDBGridNode (key value, group value, record
// ordinal, preview text and typed value records).
//
// Per-column data is addressed by the column's Index; when a column moves,
// the tree list moves every node's entry with it (MoveColumnData).
//
// Structure changes go through the owning tree list (AddChild, InsertChild,
// TCustomTreeList::DestroyNode ...), which keeps its observers, its focus and
// its lists of live nodes up to date.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "dataset/Variant.h"

namespace grid {

class TCustomTreeList;

// Misuse of the tree list (a node without an owner, a node of another
// tree list).
class ETreeListError : public std::runtime_error {
 public:
  explicit ETreeListError(const std::string& message) : std::runtime_error(message) {}
};

class TTreeListNode {
 public:
  // "Invalid Owner TTreeListNode" without an owner.
  explicit TTreeListNode(TCustomTreeList* owner);
  virtual ~TTreeListNode();
  TTreeListNode(const TTreeListNode&) = delete;
  TTreeListNode& operator=(const TTreeListNode&) = delete;

  TCustomTreeList* Owner() const { return owner_; }
  // None for a root node.
  TTreeListNode* Parent() const;
  int Count() const { return static_cast<int>(children_.size()); }
  // The child at position i; none outside 0..Count-1.
  TTreeListNode* Items(int i) const;
  TTreeListNode* GetFirstChild() const { return children_.empty() ? nullptr : children_.front(); }
  TTreeListNode* GetLastChild() const { return children_.empty() ? nullptr : children_.back(); }
  bool HasChildren() const { return !children_.empty(); }

  bool Expanded() const { return expanded_; }
  void SetExpanded(bool value);
  // Expands (with recurse, every descendant too).
  void Expand(bool recurse);
  void Collapse(bool recurse);

  // Number of ancestors: 0 for a root node.
  int Level() const;
  // Position among its siblings (the parent's children or the root list).
  int Index() const;
  bool IsLast() const;
  bool Focused() const;
  // Whether every ancestor is expanded and the quick find keeps the node,
  // so that it is a shown row.
  bool IsVisible() const;
  // Position among the shown rows (depth first over expanded nodes); -1
  // when the node is not shown.
  int GetAbsoluteIndex() const;
  bool HasAsParent(const TTreeListNode* node) const;

  // Depth-first pre-order successor whether or not nodes are expanded.
  TTreeListNode* GetNext() const;
  // The next / previous shown row.
  TTreeListNode* GetNextNode() const;
  TTreeListNode* GetPriorNode() const;
  // The next sibling, none for the last.
  TTreeListNode* GetNextSibling() const;
  TTreeListNode* GetPrevSibling() const;

  // Appends a child / inserts one before the given child.
  TTreeListNode* AddChild();
  TTreeListNode* InsertChild(TTreeListNode* before);

  // Set while the node is being destroyed.
  bool Deleting() const { return deleting_; }

  // For the host; not used by the grid.
  void* Data = nullptr;

 private:
  friend class TCustomTreeList;

  // The list this node lives in: the parent's children or the root list
  // (the tree list's hidden root node).
  const std::vector<TTreeListNode*>& Siblings() const { return parent_->children_; }
  void RenumberChildren() const;

  TCustomTreeList* owner_;
  TTreeListNode* parent_ = nullptr;  // the hidden root for a root node
  std::vector<TTreeListNode*> children_;
  bool expanded_ = false;
  bool deleting_ = false;
  bool isRoot_ = false;  // the tree list's hidden root
  mutable bool childIndexValid_ = true;
  mutable int index_ = 0;
  mutable int absoluteIndex_ = -1;
  mutable uint64_t absoluteStamp_ = 0;
  // Quick find (TreeListFilter.cpp): the filter generation the node was
  // last judged under (0: its texts changed since), whether its texts
  // matched, whether it is left out of the shown rows, and its position
  // among its parent's shown children.
  mutable uint32_t filterStamp_ = 0;
  mutable bool filterMatch_ = false;
  mutable bool filteredOut_ = false;
  mutable int shownIndex_ = 0;
};

class TTreeListTextNode : public TTreeListNode {
 public:
  using TTreeListNode::TTreeListNode;

  // The display string at a column position; empty past the end.
  const std::string& Strings(int index) const;
  void SetStrings(int index, std::string value);
  // The node's text of a cell as the tree list answers it (GetNodeString).
  std::string GetString(int columnIndex) const;
  int StringCount() const { return static_cast<int>(strings_.size()); }

 protected:
  friend class TCustomTreeList;
  // Moves the entry at position from to position to (the entries between
  // shift by one), growing the list as needed.
  virtual void MoveColumnData(int from, int to);

 private:
  std::vector<std::string> strings_;
};

class TDBTreeListControlNode : public TTreeListTextNode {
 public:
  using TTreeListTextNode::TTreeListTextNode;
};

// A typed copy of a field value beside a display string.
struct TNodeVariantData {
  enum : uint8_t { vdValue = 1, vdLookupKey = 2 };
  uint8_t Flags = 0;
  dataset::Variant Value = dataset::Variant::Null();
  dataset::Variant LookupKeyValue = dataset::Variant::Null();
};

class TDBGridNode : public TDBTreeListControlNode {
 public:
  using TDBTreeListControlNode::TDBTreeListControlNode;

  // The key field's value of the node's record (a group node: its first
  // child's after each load pass; Null for a record being inserted).
  dataset::Variant KeyValue = dataset::Variant::Null();
  // A group node: the group column's value that defines the group.
  dataset::Variant GroupValue = dataset::Variant::Null();
  // 0-based ordinal of the record in the load pass (a group node: its first
  // child's).
  int32_t RecordIndex = 0;
  // The preview field's text captured at load.
  std::string PreviewText;

  // The value record of a column position (Flags 0 and Null values when
  // there is none).
  const TNodeVariantData& GetVariantData(int index) const;
  void SetVariantData(int index, TNodeVariantData data);
  // The node's value of a cell (GetNodeValue of the grid).
  dataset::Variant GetValue(int columnIndex) const;
  // Deletes the node's record through the grid's record set (a data node of
  // a data-aware grid only); false when the record could not be reached.
  bool Delete();

 protected:
  void MoveColumnData(int from, int to) override;

 private:
  std::vector<TNodeVariantData> values_;
};

// Comparison of node values: Null first, strings byte by byte, numbers by
// value; EVariantError for values that cannot be ordered.
int CompareNodeValues(const dataset::Variant& a, const dataset::Variant& b);
// Equality of key values; a comparison that fails counts as different.
bool SameNodeValue(const dataset::Variant& a, const dataset::Variant& b);

}  // namespace grid
