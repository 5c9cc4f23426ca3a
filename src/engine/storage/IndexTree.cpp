#include "engine/storage/IndexTree.h"

#include <algorithm>
#include <cstring>

#include "engine/base/TesselError.h"

namespace tessel {

namespace {

// No real tree comes near this depth; a deeper descent means a page loop.
constexpr size_t kMaxTreeDepth = 64;

// The entry a node's search chose; a node whose search fell before its first
// entry descends (and is updated) through entry 1.
int Chosen(const TPage& node) { return std::max(node.Current, 1); }

}  // namespace

TTreeStats& TreeStats() {
  thread_local TTreeStats stats;
  return stats;
}

void TIndexTree::Corrupt() const { RaiseEngineError(ec::PageBuffersCorrupt, store_.TableName()); }

TPageRef TIndexTree::Fetch(int32_t position) {
  return TPageRef(store_, store_.GetPage(ctx_.Slot(), position));
}

TIndexTree::TPath TIndexTree::Descend(const uint8_t* key, TPageSearch kind, int32_t* before) {
  TPath path;
  path.push_back(Fetch(store_.Root(ctx_.Slot())));
  if (!path.back()->IsRoot()) Corrupt();
  while (!path.back()->IsLeaf()) {
    TPage& node = *path.back();
    node.Search(ctx_, key, kind, nullptr, before);
    if (path.size() >= kMaxTreeDepth) Corrupt();
    TPageRef child = Fetch(node.Value(Chosen(node)));
    if (child->IsRoot()) Corrupt();
    child->Parent = node.Position;
    path.push_back(std::move(child));
  }
  return path;
}

bool TIndexTree::KeyExists(const uint8_t* key) {
  if (store_.Root(ctx_.Slot()) == 0) return false;
  TPath path = Descend(key, TPageSearch::Exists);
  bool equal = false;
  path.back()->Search(ctx_, key, TPageSearch::Exists, &equal);
  return equal;
}

// ---------------------------------------------------------------- insert

void TIndexTree::InsertKey(const uint8_t* key, int32_t recordNumber) {
  const int index = ctx_.Slot();
  if (store_.Root(index) == 0) {
    TPageRef page(store_, store_.AllocatePage(index));
    page->PageType = ptRootLeaf;
    page->InsertEntry(1, key, recordNumber);
    page->Current = 1;
    page->Modified = true;
    store_.SetRoot(index, page->Position);
    ++TreeStats().RootsCreated;
    return;
  }

  TPath path = Descend(key, TPageSearch::Insert);
  TPage& leaf = *path.back();
  const int at = leaf.Search(ctx_, key, TPageSearch::Insert);

  // Every page a split would need is checked for before anything changes,
  // so a full index file refuses the key and leaves the tree intact.
  const int needed = PagesNeededForInsert(path, key, recordNumber, at);
  if (needed > 0 && !store_.CanAllocate(index, needed)) {
    RaiseEngineError(ec::TableFull, store_.TableName());
  }

  for (size_t level = 0; level + 1 < path.size(); ++level) {
    TPage& node = *path[level];
    const int entry = Chosen(node);
    node.SetSubCount(entry, node.SubCount(entry) + 1);
    node.Modified = true;
  }
  leaf.InsertEntry(at + 1, key, recordNumber);
  leaf.Current = at + 1;
  leaf.Modified = true;
  if (at == 0) PropagateFirstKey(path, path.size() - 1);

  for (size_t level = path.size() - 1; path[level]->Overflows(); --level) {
    if (Split(path, level)) break;
  }
}

int TIndexTree::PagesNeededForInsert(const TPath& path, const uint8_t* key, int32_t recordNumber,
                                     int at) {
  const TPage& leaf = *path.back();
  bool splits;
  if (leaf.IsCompressedLeaf()) {
    TPage probe = leaf;
    probe.InsertEntry(at + 1, key, recordNumber);
    splits = probe.Overflows();
  } else {
    splits = leaf.Count() + 1 > leaf.Capacity();
  }
  int needed = 0;
  for (size_t level = path.size() - 1; splits; --level) {
    ++needed;
    if (level == 0) {
      ++needed;  // the new root
      break;
    }
    const TPage& parent = *path[level - 1];
    splits = parent.Count() + 1 > parent.Capacity();
  }
  return needed;
}

// The first key of the page at level changed: its parent's entry takes it,
// and so on upward while the updated entry is its page's first.
void TIndexTree::PropagateFirstKey(TPath& path, size_t level) {
  for (; level > 0; --level) {
    TPage& child = *path[level];
    TPage& parent = *path[level - 1];
    const int entry = Chosen(parent);
    parent.SetKey(entry, child.Key(1));
    parent.Modified = true;
    ++TreeStats().FirstKeyUpdates;
    if (entry != 1) break;
  }
}

// Splits the overflowing page at level: its upper half moves to a new right
// neighbour. Returns true when the page was the root (a new root then holds
// both halves).
bool TIndexTree::Split(TPath& path, size_t level) {
  const int index = ctx_.Slot();
  TPage& page = *path[level];
  const bool wasRoot = page.IsRoot();
  const bool leaf = page.IsLeaf();

  TPageRef fresh(store_, store_.AllocatePage(index));
  page.PageType = leaf ? ptLeaf : ptInnerNode;
  fresh->PageType = page.PageType;
  page.MoveLastTo(*fresh, page.Count() / 2);
  fresh->Left = page.Position;
  fresh->Right = page.Right;
  if (page.Right != 0) {
    TPageRef right = Fetch(page.Right);
    right->Left = fresh->Position;
    right->Modified = true;
  }
  page.Right = fresh->Position;
  fresh->Parent = page.Parent;
  page.Modified = true;
  fresh->Modified = true;
  if (page.IsCompressedLeaf()) FitCompressedSplit(page, *fresh);
  ++(leaf ? TreeStats().LeafSplits : TreeStats().NodeSplits);

  if (wasRoot) {
    TPageRef root(store_, store_.AllocatePage(index));
    root->PageType = ptRootNode;
    root->InsertEntry(1, page.Key(1), page.Position, page.SubtreeTotal());
    root->InsertEntry(2, fresh->Key(1), fresh->Position, fresh->SubtreeTotal());
    root->Modified = true;
    store_.SetRoot(index, root->Position);
    page.Parent = root->Position;
    fresh->Parent = root->Position;
    ++TreeStats().RootSplits;
    return true;
  }
  if (level == 0) Corrupt();  // a page that is not the root has a parent
  TPage& parent = *path[level - 1];
  const int entry = Chosen(parent);
  parent.SetSubCount(entry, page.SubtreeTotal());
  parent.InsertEntry(entry + 1, fresh->Key(1), fresh->Position, fresh->SubtreeTotal());
  parent.Modified = true;
  return false;
}

// Halving a compressed leaf by entry count may leave one half too large:
// entries move across the boundary one by one until both fit.
void TIndexTree::FitCompressedSplit(TPage& page, TPage& fresh) {
  if (fresh.ByteSize > kPageEntryBytes) {
    while (fresh.ByteSize > kPageEntryBytes && fresh.Count() > 1) {
      fresh.MoveFirstTo(page, 1);
      ++TreeStats().CompressedSplitMoves;
    }
    if (page.ByteSize > kPageEntryBytes) Corrupt();
  }
  if (page.ByteSize > kPageEntryBytes) {
    while (page.ByteSize > kPageEntryBytes && page.Count() > 1) {
      page.MoveLastTo(fresh, 1);
      ++TreeStats().CompressedSplitMoves;
    }
    if (fresh.ByteSize > kPageEntryBytes) Corrupt();
  }
}

// ---------------------------------------------------------------- delete

void TIndexTree::DeleteKey(const uint8_t* key) {
  if (store_.Root(ctx_.Slot()) == 0) Corrupt();
  TPath path = Descend(key, TPageSearch::Exists);
  bool equal = false;
  const int at = path.back()->Search(ctx_, key, TPageSearch::Exists, &equal);
  if (!equal) Corrupt();

  for (size_t level = 0; level + 1 < path.size(); ++level) {
    TPage& node = *path[level];
    const int entry = Chosen(node);
    node.SetSubCount(entry, node.SubCount(entry) - 1);
    node.Modified = true;
  }
  RemoveEntry(path, path.size() - 1, at);
}

// Removes an entry from the page at level and restores the tree's shape:
// for leaves from the deleted key, for nodes from the entry of a page that
// was freed below.
void TIndexTree::RemoveEntry(TPath& path, size_t level, int entry) {
  TPage& page = *path[level];
  page.RemoveEntry(entry);
  page.Modified = true;
  page.Current = std::min(entry, page.Count());
  if (page.Count() > 0 && entry == 1) PropagateFirstKey(path, level);

  if (page.IsCompressedLeaf()) {
    // Compressed leaves are never merged; they go only when empty.
    if (page.Count() > 0) return;
    if (page.IsRoot()) {
      Free(page);
      store_.SetRoot(ctx_.Slot(), 0);
      ++TreeStats().RootLeavesFreed;
      return;
    }
    if (level == 0) Corrupt();
    Unlink(page);
    Free(page);
    ++TreeStats().EmptyLeavesFreed;
    RemoveEntry(path, level - 1, Chosen(*path[level - 1]));
    return;
  }

  if (page.IsRoot()) {
    if (page.IsLeaf()) {
      if (page.Count() == 0) {
        Free(page);
        store_.SetRoot(ctx_.Slot(), 0);
        ++TreeStats().RootLeavesFreed;
      }
    } else if (page.Count() == 1) {
      CollapseRoot(page);
    } else if (page.Count() == 0) {
      Free(page);
      store_.SetRoot(ctx_.Slot(), 0);
    }
    return;
  }
  if (level == 0) Corrupt();
  Rebalance(path, level);
}

// A node or uncompressed leaf that fell below half its capacity merges with
// a neighbour under the same parent or shares entries with it.
void TIndexTree::Rebalance(TPath& path, size_t level) {
  TPage& page = *path[level];
  TPage& parent = *path[level - 1];
  const int capacity = page.Capacity();
  if (page.Count() >= capacity / 2) return;
  const int entry = Chosen(parent);

  // A page that is its parent's only entry has no neighbour under that
  // parent to merge with (only possible with the largest keys, where a node
  // holds three entries). It stays as it is, or goes when it is empty.
  if (parent.Count() == 1) {
    if (page.Count() > 0) return;
    Unlink(page);
    Free(page);
    ++TreeStats().OnlyChildrenFreed;
    RemoveEntry(path, level - 1, entry);
    return;
  }

  // The left neighbour unless the page is its parent's first entry.
  const bool useLeft = entry > 1;
  const int neighbourEntry = useLeft ? entry - 1 : entry + 1;
  const int32_t neighbourPosition = useLeft ? page.Left : page.Right;
  if (neighbourPosition == 0 || neighbourEntry > parent.Count() ||
      parent.Value(neighbourEntry) != neighbourPosition) {
    Corrupt();
  }
  TPageRef neighbour = Fetch(neighbourPosition);
  if (neighbour->IsRoot() || neighbour->IsLeaf() != page.IsLeaf()) Corrupt();
  neighbour->Parent = parent.Position;
  neighbour->Modified = true;
  parent.Modified = true;
  TTreeStats& stats = TreeStats();
  const bool leaf = page.IsLeaf();

  if (page.Count() + neighbour->Count() < capacity) {
    if (useLeft) {
      page.MoveFirstTo(*neighbour, page.Count());
      parent.SetSubCount(neighbourEntry, neighbour->SubtreeTotal());
      ++(leaf ? stats.LeafMergesLeft : stats.NodeMergesLeft);
    } else {
      page.MoveLastTo(*neighbour, page.Count());
      parent.SetKey(neighbourEntry, neighbour->Key(1));
      parent.SetSubCount(neighbourEntry, neighbour->SubtreeTotal());
      ++(leaf ? stats.LeafMergesRight : stats.NodeMergesRight);
    }
    Unlink(page);
    Free(page);
    RemoveEntry(path, level - 1, entry);
    return;
  }

  const int total = page.Count() + neighbour->Count();
  if (useLeft) {
    // The left page keeps the first ceil(total / 2) entries.
    const int keep = (total + 1) / 2;
    if (neighbour->Count() > keep) {
      neighbour->MoveLastTo(page, neighbour->Count() - keep);
    } else {
      page.MoveFirstTo(*neighbour, keep - neighbour->Count());
    }
    parent.SetKey(entry, page.Key(1));
    parent.SetSubCount(entry, page.SubtreeTotal());
    parent.SetSubCount(neighbourEntry, neighbour->SubtreeTotal());
    ++(leaf ? stats.LeafRedistributionsLeft : stats.NodeRedistributionsLeft);
  } else {
    // This page keeps the first floor(total / 2) entries.
    const int keep = total / 2;
    if (page.Count() < keep) {
      neighbour->MoveFirstTo(page, keep - page.Count());
    } else {
      page.MoveLastTo(*neighbour, page.Count() - keep);
    }
    parent.SetKey(neighbourEntry, neighbour->Key(1));
    parent.SetSubCount(entry, page.SubtreeTotal());
    parent.SetSubCount(neighbourEntry, neighbour->SubtreeTotal());
    // A page that had run empty now starts with what was its neighbour's
    // first key; its own entry (and the path above it) must follow.
    if (std::memcmp(parent.Key(entry), page.Key(1), page.KeyLength) != 0) {
      PropagateFirstKey(path, level);
    }
    ++(leaf ? stats.LeafRedistributionsRight : stats.NodeRedistributionsRight);
  }
}

// The root node's only child becomes the root. With the largest keys a node
// may hold a single entry, so the new root can be such a node in turn: it
// collapses as well, and a root node never keeps just one entry.
void TIndexTree::CollapseRoot(TPage& root) {
  TPageRef child = Fetch(root.Value(1));
  if (child->IsRoot()) Corrupt();
  Free(root);
  store_.SetRoot(ctx_.Slot(), child->Position);
  child->PageType = child->IsLeaf() ? ptRootLeaf : ptRootNode;
  child->Parent = 0;
  child->Left = 0;
  child->Right = 0;
  child->Modified = true;
  ++TreeStats().RootCollapses;
  if (!child->IsLeaf() && child->Count() == 1) CollapseRoot(*child);
}

void TIndexTree::Unlink(const TPage& page) {
  if (page.Left != 0) {
    TPageRef left = Fetch(page.Left);
    left->Right = page.Right;
    left->Modified = true;
  }
  if (page.Right != 0) {
    TPageRef right = Fetch(page.Right);
    right->Left = page.Left;
    right->Modified = true;
  }
}

// ---------------------------------------------------------------- positions

int32_t TIndexTree::EntryCount() {
  const int32_t root = store_.Root(ctx_.Slot());
  if (root == 0) return 0;
  return Fetch(root)->SubtreeTotal();
}

TTreePosition TIndexTree::LowerBound(const uint8_t* key) {
  if (store_.Root(ctx_.Slot()) == 0) return {0, 0, 1};
  int32_t before = 0;
  TPath path = Descend(key, TPageSearch::Exists, &before);
  TPage& leaf = *path.back();
  const int at = leaf.Search(ctx_, key, TPageSearch::Exists, nullptr, &before);
  if (ctx_.CompareKeys(leaf.Key(at), key) >= 0) return {leaf.Position, at, before + 1};
  if (at < leaf.Count()) return {leaf.Position, at + 1, before + 2};
  return {leaf.Right, leaf.Right != 0 ? 1 : 0, before + 2};
}

TTreePosition TIndexTree::UpperBound(const uint8_t* key) {
  if (store_.Root(ctx_.Slot()) == 0) return {0, 0, 0};
  int32_t before = 0;
  TPath path = Descend(key, TPageSearch::Exists, &before);
  TPage& leaf = *path.back();
  const int at = leaf.Search(ctx_, key, TPageSearch::Exists, nullptr, &before);
  if (ctx_.CompareKeys(leaf.Key(at), key) <= 0) return {leaf.Position, at, before + 1};
  // Only the first entry of a leaf can lie above the key here.
  if (leaf.Left == 0) return {0, 0, before};
  TPageRef left = Fetch(leaf.Left);
  if (left->Count() == 0) Corrupt();
  return {left->Position, left->Count(), before};
}

TTreePosition TIndexTree::AtOrdinal(int32_t ordinal) {
  const int32_t root = store_.Root(ctx_.Slot());
  if (root == 0 || ordinal < 1) return {};
  TPageRef page = Fetch(root);
  if (ordinal > page->SubtreeTotal()) return {};
  int32_t remaining = ordinal;
  for (size_t depth = 0; !page->IsLeaf(); ++depth) {
    if (depth >= kMaxTreeDepth) Corrupt();
    int entry = 1;
    while (entry <= page->Count() && remaining > page->SubCount(entry)) {
      remaining -= page->SubCount(entry);
      ++entry;
    }
    if (entry > page->Count()) Corrupt();
    page = Fetch(page->Value(entry));
  }
  if (remaining > page->Count()) Corrupt();
  return {page->Position, remaining, ordinal};
}

// Two leaves met one after the other along the leaf chain must link to
// each other and begin with rising keys. A damaged chain fails here instead
// of leading a walk round in a circle: along a chain whose first keys rise,
// no page comes twice.
void TIndexTree::CheckNeighbours(const TPage& left, const TPage& right) const {
  if (left.Count() == 0 || right.Count() == 0 || !left.IsLeaf() || !right.IsLeaf() ||
      left.Right != right.Position || right.Left != left.Position ||
      ctx_.CompareKeys(left.Key(1), right.Key(1)) >= 0) {
    Corrupt();
  }
}

TTreePosition TIndexTree::Next(const TTreePosition& at) {
  if (!at.Valid()) return {};
  TPageRef page = Fetch(at.Page);
  if (at.Entry < page->Count()) return {at.Page, at.Entry + 1, at.Ordinal + 1};
  if (page->Right == 0) return {0, 0, at.Ordinal + 1};
  TPageRef right = Fetch(page->Right);
  CheckNeighbours(*page, *right);
  return {right->Position, 1, at.Ordinal + 1};
}

TTreePosition TIndexTree::Prior(const TTreePosition& at) {
  if (!at.Valid()) return {};
  if (at.Entry > 1) return {at.Page, at.Entry - 1, at.Ordinal - 1};
  TPageRef page = Fetch(at.Page);
  if (page->Left == 0) return {0, 0, 0};
  TPageRef left = Fetch(page->Left);
  CheckNeighbours(*left, *page);
  return {left->Position, left->Count(), at.Ordinal - 1};
}

std::vector<uint8_t> TIndexTree::KeyAt(const TTreePosition& at, int32_t* recordNumber) {
  TPageRef page = Fetch(at.Page);
  if (at.Entry < 1 || at.Entry > page->Count() || !page->IsLeaf()) Corrupt();
  if (recordNumber != nullptr) *recordNumber = page->Value(at.Entry);
  return std::vector<uint8_t>(page->Key(at.Entry), page->Key(at.Entry) + page->KeyLength);
}

}  // namespace tessel
