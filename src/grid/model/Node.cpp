#include "grid/model/Node.h"

#include <algorithm>

#include "grid/model/GridTypes.h"
#include "grid/model/TreeList.h"

namespace grid {

namespace {
const std::string kEmptyString;
const TNodeVariantData kNoVariantData;

// Moves the entry at from to to, the entries between shifting by one.
template <class T>
void MoveEntry(std::vector<T>& list, int from, int to) {
  if (from == to || from < 0 || to < 0) return;
  std::size_t need = static_cast<std::size_t>(std::max(from, to)) + 1;
  if (list.size() < need) list.resize(need);
  auto base = list.begin();
  if (from < to) {
    std::rotate(base + from, base + from + 1, base + to + 1);
  } else {
    std::rotate(base + to, base + from, base + from + 1);
  }
}
}  // namespace

// ---- TTreeListNode

TTreeListNode::TTreeListNode(TCustomTreeList* owner) : owner_(owner) {
  if (owner == nullptr) throw ETreeListError(text::kInvalidOwner);
}

TTreeListNode::~TTreeListNode() {
  // The tree list destroys the children and unlinks the node before it
  // deletes it; a node deleted any other way would leave dangling links.
  for (TTreeListNode* child : children_) delete child;
}

TTreeListNode* TTreeListNode::Parent() const {
  return parent_ != nullptr && !parent_->isRoot_ ? parent_ : nullptr;
}

TTreeListNode* TTreeListNode::Items(int i) const {
  if (i < 0 || i >= Count()) return nullptr;
  return children_[static_cast<std::size_t>(i)];
}

void TTreeListNode::SetExpanded(bool value) {
  if (value && children_.empty()) return;
  if (expanded_ == value) return;
  owner_->ExpandedChanging(this);
  expanded_ = value;
  owner_->ExpandedChangedNow(this);
}

void TTreeListNode::Expand(bool recurse) {
  SetExpanded(true);
  if (!recurse) return;
  for (TTreeListNode* child : children_) child->Expand(true);
}

void TTreeListNode::Collapse(bool recurse) {
  if (recurse) {
    for (TTreeListNode* child : children_) child->Collapse(true);
  }
  SetExpanded(false);
}

int TTreeListNode::Level() const {
  int level = 0;
  for (const TTreeListNode* p = Parent(); p != nullptr; p = p->Parent()) ++level;
  return level;
}

void TTreeListNode::RenumberChildren() const {
  int i = 0;
  for (TTreeListNode* child : children_) child->index_ = i++;
  childIndexValid_ = true;
}

int TTreeListNode::Index() const {
  if (parent_ == nullptr) return 0;
  if (!parent_->childIndexValid_) parent_->RenumberChildren();
  return index_;
}

bool TTreeListNode::IsLast() const {
  return parent_ == nullptr || parent_->children_.back() == this;
}

bool TTreeListNode::Focused() const { return owner_->FocusedNode() == this; }

bool TTreeListNode::IsVisible() const {
  if (!owner_->IsShownRow(this)) return false;
  for (const TTreeListNode* p = Parent(); p != nullptr; p = p->Parent()) {
    if (!p->expanded_) return false;
  }
  return parent_ != nullptr;
}

int TTreeListNode::GetAbsoluteIndex() const {
  owner_->BuildVisibleRows();
  return absoluteStamp_ == owner_->visibleStamp_ ? absoluteIndex_ : -1;
}

bool TTreeListNode::HasAsParent(const TTreeListNode* node) const {
  if (node == nullptr) return false;
  for (const TTreeListNode* p = Parent(); p != nullptr; p = p->Parent()) {
    if (p == node) return true;
  }
  return false;
}

TTreeListNode* TTreeListNode::GetNextSibling() const {
  if (parent_ == nullptr) return nullptr;
  return parent_->Items(Index() + 1);
}

TTreeListNode* TTreeListNode::GetPrevSibling() const {
  if (parent_ == nullptr) return nullptr;
  return parent_->Items(Index() - 1);
}

TTreeListNode* TTreeListNode::GetNext() const {
  if (!children_.empty()) return children_.front();
  for (const TTreeListNode* n = this; n != nullptr && !n->isRoot_; n = n->parent_) {
    if (TTreeListNode* next = n->GetNextSibling()) return next;
  }
  return nullptr;
}

TTreeListNode* TTreeListNode::GetNextNode() const {
  if (expanded_ && !children_.empty()) return children_.front();
  for (const TTreeListNode* n = this; n != nullptr && !n->isRoot_; n = n->parent_) {
    if (TTreeListNode* next = n->GetNextSibling()) return next;
  }
  return nullptr;
}

TTreeListNode* TTreeListNode::GetPriorNode() const {
  TTreeListNode* prior = GetPrevSibling();
  if (prior == nullptr) return Parent();
  while (prior->expanded_ && !prior->children_.empty()) prior = prior->children_.back();
  return prior;
}

TTreeListNode* TTreeListNode::AddChild() { return owner_->InsertNodeAt(this, Count()); }

TTreeListNode* TTreeListNode::InsertChild(TTreeListNode* before) {
  if (before == nullptr || before->parent_ != this) return AddChild();
  return owner_->InsertNodeAt(this, before->Index());
}

// ---- TTreeListTextNode

const std::string& TTreeListTextNode::Strings(int index) const {
  if (index < 0 || index >= StringCount()) return kEmptyString;
  return strings_[static_cast<std::size_t>(index)];
}

void TTreeListTextNode::SetStrings(int index, std::string value) {
  if (index < 0) return;
  if (index >= StringCount()) {
    if (value.empty()) return;
    // One string per column: the list is sized once.
    if (strings_.capacity() == 0) strings_.reserve(static_cast<std::size_t>(std::max(Owner()->ColumnCount(), index + 1)));
    strings_.resize(static_cast<std::size_t>(index) + 1);
  }
  strings_[static_cast<std::size_t>(index)] = std::move(value);
}

std::string TTreeListTextNode::GetString(int columnIndex) const {
  return Owner()->GetNodeString(this, columnIndex);
}

void TTreeListTextNode::MoveColumnData(int from, int to) {
  if (strings_.empty()) return;
  MoveEntry(strings_, from, to);
}

// ---- TDBGridNode

const TNodeVariantData& TDBGridNode::GetVariantData(int index) const {
  if (index < 0 || index >= static_cast<int>(values_.size())) return kNoVariantData;
  return values_[static_cast<std::size_t>(index)];
}

void TDBGridNode::SetVariantData(int index, TNodeVariantData data) {
  if (index < 0) return;
  if (index >= static_cast<int>(values_.size())) {
    if (data.Flags == 0) return;
    values_.resize(static_cast<std::size_t>(index) + 1);
  }
  values_[static_cast<std::size_t>(index)] = std::move(data);
}

dataset::Variant TDBGridNode::GetValue(int columnIndex) const {
  return Owner()->GetNodeValue(this, columnIndex);
}

void TDBGridNode::MoveColumnData(int from, int to) {
  TDBTreeListControlNode::MoveColumnData(from, to);
  if (!values_.empty()) MoveEntry(values_, from, to);
}

// ---- Values

int CompareNodeValues(const dataset::Variant& a, const dataset::Variant& b) {
  return dataset::CompareVariants(a, b);
}

bool SameNodeValue(const dataset::Variant& a, const dataset::Variant& b) {
  // Keys are strings nearly always: compared here without the general
  // comparison's checks.
  if (a.IsString() && b.IsString()) return a.ToBytes() == b.ToBytes();
  try {
    return dataset::CompareVariants(a, b) == 0;
  } catch (const dataset::EVariantError&) {
    return false;
  }
}

}  // namespace grid
