#include "engine/storage/IndexBuild.h"

#include <vector>

#include "engine/base/TesselError.h"
#include "engine/storage/IndexFile.h"
#include "engine/storage/IndexPage.h"

namespace tessel {

namespace {

// A finished page of one level, as its parent's entry will describe it.
struct TChild {
  std::vector<uint8_t> Key;  // its first key
  int32_t Position = 0;
  int32_t Count = 0;  // leaf entries below it
};

// Lays down one level of the tree from its entries in order, answering its
// pages; a level of one page is the root.
class TLevelBuilder {
 public:
  TLevelBuilder(TIndexFile& index, int slot, bool leaf) : index_(index), slot_(slot), leaf_(leaf) {}
  ~TLevelBuilder() {
    // Pages still held after a failure go back unchanged (the tree is
    // abandoned with them).
    if (page_ != nullptr) index_.ReleasePage(page_);
    if (previous_ != nullptr) index_.ReleasePage(previous_);
  }
  TLevelBuilder(const TLevelBuilder&) = delete;
  TLevelBuilder& operator=(const TLevelBuilder&) = delete;

  // entryCount entries, their key, value and subtree count by number.
  template <typename KeyAt, typename ValueAt, typename CountAt>
  std::vector<TChild> Build(int64_t entryCount, KeyAt keyAt, ValueAt valueAt, CountAt countAt) {
    const uint16_t keyLength = index_.Header.Indexes[static_cast<size_t>(slot_)].KeyLength;
    const bool compressed = leaf_ && index_.Header.Indexes[static_cast<size_t>(slot_)].Compression != 0;
    const int64_t capacity = leaf_ ? TPage::LeafCapacity(keyLength) : TPage::NodeCapacity(keyLength);
    if (capacity < 1) Corrupt();
    // Uncompressed pages share the entries evenly: every page at least half
    // full, as the merge rules of a later delete expect.
    const int64_t pages = (entryCount + capacity - 1) / capacity;
    const int64_t base = pages > 0 ? entryCount / pages : 0;
    const int64_t extra = pages > 0 ? entryCount % pages : 0;
    int64_t quota = 0;
    for (int64_t i = 0; i < entryCount; ++i) {
      if (page_ == nullptr || (!compressed && page_->Count() >= quota)) {
        quota = base + (static_cast<int64_t>(children_.size()) < extra ? 1 : 0);
        StartPage();
      }
      page_->InsertEntry(page_->Count() + 1, keyAt(i), valueAt(i), countAt(i));
      if (compressed && page_->Overflows()) {
        page_->RemoveEntry(page_->Count());
        if (page_->Count() == 0) Corrupt();
        StartPage();
        page_->InsertEntry(1, keyAt(i), valueAt(i), countAt(i));
        if (page_->Overflows()) Corrupt();
      }
    }
    if (page_ != nullptr) {
      if (children_.size() == 1) page_->PageType = leaf_ ? ptRootLeaf : ptRootNode;
      FinishPage();
    }
    if (previous_ != nullptr) {
      index_.ReleasePage(previous_);
      previous_ = nullptr;
    }
    if (page_ != nullptr) {
      index_.ReleasePage(page_);
      page_ = nullptr;
    }
    return std::move(children_);
  }

 private:
  [[noreturn]] void Corrupt() const { RaiseEngineError(ec::PageBuffersCorrupt, index_.TableName()); }

  // The page being filled is done: its parent entry is noted, and it waits
  // (held) for the next page's position as its right link.
  void FinishPage() {
    TChild& child = children_.back();
    child.Key.assign(page_->Key(1), page_->Key(1) + page_->KeyLength);
    child.Count = page_->SubtreeTotal();
    page_->Modified = true;
  }

  void StartPage() {
    if (page_ != nullptr) {
      FinishPage();
      if (previous_ != nullptr) index_.ReleasePage(previous_);
      previous_ = page_;
      page_ = nullptr;
    }
    page_ = index_.AllocatePage(slot_);
    page_->PageType = leaf_ ? ptLeaf : ptInnerNode;
    if (previous_ != nullptr) {
      page_->Left = previous_->Position;
      previous_->Right = page_->Position;
      previous_->Modified = true;
    }
    children_.push_back(TChild{{}, page_->Position, 0});
  }

  TIndexFile& index_;
  int slot_;
  bool leaf_;
  TPage* page_ = nullptr;      // being filled
  TPage* previous_ = nullptr;  // finished, left neighbour of page_
  std::vector<TChild> children_;
};

}  // namespace

void BuildIndexTree(TIndexFile& index, int slot, const TSortedKeys& keys) {
  if (index.Root(slot) != 0) RaiseEngineError(ec::PageBuffersCorrupt, index.TableName());
  if (keys.Count <= 0) return;
  std::vector<TChild> level = TLevelBuilder(index, slot, true)
                                  .Build(
                                      keys.Count, [&](int64_t i) { return keys.Key(i); },
                                      [&](int64_t i) { return keys.Record(i); }, [](int64_t) { return 0; });
  while (level.size() > 1) {
    const std::vector<TChild> children = std::move(level);
    level = TLevelBuilder(index, slot, false)
                .Build(
                    static_cast<int64_t>(children.size()),
                    [&](int64_t i) { return children[static_cast<size_t>(i)].Key.data(); },
                    [&](int64_t i) { return children[static_cast<size_t>(i)].Position; },
                    [&](int64_t i) { return children[static_cast<size_t>(i)].Count; });
  }
  index.SetRoot(slot, level.front().Position);
}

}  // namespace tessel
