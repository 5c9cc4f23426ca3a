// The B+-tree algorithms of one index over an abstract store of index pages:
// inserting and deleting keys (with page splits, merges, redistribution and
// root changes), key lookup and the ordinal positioning a cursor builds on.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/storage/IndexKey.h"
#include "engine/storage/IndexPage.h"

namespace tessel {

// The index file grows by whole pages and must stay below this size.
constexpr int32_t kIndexFileLimit = 2000000001;

// Where the pages of every index live: the index file with its page cache,
// or memory. Pages are handed out with their in-use count raised; the
// caller gives each one back with ReleasePage.
class TPageStore {
 public:
  virtual ~TPageStore() = default;

  // The table name for messages.
  virtual const std::string& TableName() const = 0;

  // The page of index at position, decoded, in-use count raised. A position
  // that holds no page of the index (0, not a multiple of 4096, beyond the
  // end of file, an undecodable image, a page at another position) raises
  // "Index page buffers corrupt in table '%s'".
  virtual TPage* GetPage(int index, int32_t position) = 0;
  // Lowers the in-use count; never raises.
  virtual void ReleasePage(TPage* page) = 0;
  // A cleared, modified page for index, in use: the head of the index's free
  // chain, else a new page at the end of file (which grows by 4096 and must
  // stay below 2000000001 bytes, else "The table '%s' is full and cannot
  // contain any more data").
  virtual TPage* AllocatePage(int index) = 0;
  // Puts a page (still held by the caller) at the head of the index's free
  // chain: its right link becomes the old head and it is marked freed.
  virtual void FreePage(int index, TPage* page) = 0;

  virtual int32_t Root(int index) const = 0;
  virtual void SetRoot(int index, int32_t position) = 0;
  virtual int32_t FreeHead(int index) const = 0;
  virtual int32_t EndOfFile() const = 0;
  // Whether count pages could be allocated for index now (free chain plus
  // room before the size limit). Lets an insert refuse a full file before
  // it changes any page.
  virtual bool CanAllocate(int index, int count) = 0;
};

// Holds one page of a store for a scope.
class TPageRef {
 public:
  TPageRef() = default;
  TPageRef(TPageStore& store, TPage* page) : store_(&store), page_(page) {}
  ~TPageRef() { Reset(); }
  TPageRef(TPageRef&& other) noexcept
      : store_(other.store_), page_(std::exchange(other.page_, nullptr)) {}
  TPageRef& operator=(TPageRef&& other) noexcept {
    if (this != &other) {
      Reset();
      store_ = other.store_;
      page_ = std::exchange(other.page_, nullptr);
    }
    return *this;
  }
  TPageRef(const TPageRef&) = delete;
  TPageRef& operator=(const TPageRef&) = delete;

  void Reset() {
    if (page_ != nullptr) store_->ReleasePage(std::exchange(page_, nullptr));
  }
  TPage* get() const { return page_; }
  TPage& operator*() const { return *page_; }
  TPage* operator->() const { return page_; }

 private:
  TPageStore* store_ = nullptr;
  TPage* page_ = nullptr;
};

// Counts of the structural changes the tree made (per thread), for tests
// and tools.
struct TTreeStats {
  uint64_t RootsCreated = 0;  // first key of an empty index
  uint64_t LeafSplits = 0;
  uint64_t NodeSplits = 0;
  uint64_t CompressedSplitMoves = 0;  // entries moved to make split compressed leaves fit
  uint64_t RootSplits = 0;            // a new root above a split root
  uint64_t FirstKeyUpdates = 0;       // node entries given a new first key
  uint64_t LeafMergesLeft = 0;
  uint64_t LeafMergesRight = 0;
  uint64_t NodeMergesLeft = 0;
  uint64_t NodeMergesRight = 0;
  uint64_t LeafRedistributionsLeft = 0;
  uint64_t LeafRedistributionsRight = 0;
  uint64_t NodeRedistributionsLeft = 0;
  uint64_t NodeRedistributionsRight = 0;
  uint64_t EmptyLeavesFreed = 0;   // compressed leaves that ran empty
  uint64_t OnlyChildrenFreed = 0;  // pages that ran empty as their parent's only entry
  uint64_t RootLeavesFreed = 0;    // last key of the index deleted
  uint64_t RootCollapses = 0;      // a root node left with one child
};
TTreeStats& TreeStats();

// A leaf entry of an index: its page position, its entry number in the page
// (1-based) and its ordinal (1-based rank in the whole index). Page 0 means
// no entry; the ordinal then tells where the search ended (0 before the
// first entry, entry count + 1 after the last).
struct TTreePosition {
  int32_t Page = 0;
  int Entry = 0;
  int32_t Ordinal = 0;
  bool Valid() const { return Page != 0; }
};

class TIndexTree {
 public:
  TIndexTree(TPageStore& store, const TKeyContext& context) : store_(store), ctx_(context) {}

  // Adds key with its record number. Duplicates of unique indexes are the
  // caller's to refuse.
  void InsertKey(const uint8_t* key, int32_t recordNumber);
  // Removes key; a key that is not there raises "Index page buffers corrupt
  // in table '%s'" before anything changes.
  void DeleteKey(const uint8_t* key);
  bool KeyExists(const uint8_t* key);

  // Leaf entries in the index.
  int32_t EntryCount();
  // The first entry whose key is not below key (none: ordinal count + 1).
  TTreePosition LowerBound(const uint8_t* key);
  // The last entry whose key is not above key (none: ordinal 0).
  TTreePosition UpperBound(const uint8_t* key);
  // The entry at ordinal (1-based); none when out of range.
  TTreePosition AtOrdinal(int32_t ordinal);
  // Entries whose key is below key.
  int32_t CountBelow(const uint8_t* key) { return LowerBound(key).Ordinal - 1; }
  // Neighbouring entries along the leaf level (none at either end).
  TTreePosition Next(const TTreePosition& at);
  TTreePosition Prior(const TTreePosition& at);
  // The key and record number of the entry at a valid position.
  std::vector<uint8_t> KeyAt(const TTreePosition& at, int32_t* recordNumber = nullptr);

 private:
  using TPath = std::vector<TPageRef>;
  TPageRef Fetch(int32_t position);
  [[noreturn]] void Corrupt() const;
  // Descends from the root to the leaf for key, each node's current entry
  // set by the search kind; before collects the ordinal count when given.
  TPath Descend(const uint8_t* key, TPageSearch kind, int32_t* before = nullptr);
  int PagesNeededForInsert(const TPath& path, const uint8_t* key, int32_t recordNumber, int at);
  void PropagateFirstKey(TPath& path, size_t level);
  bool Split(TPath& path, size_t level);
  void FitCompressedSplit(TPage& page, TPage& fresh);
  void RemoveEntry(TPath& path, size_t level, int entry);
  void Rebalance(TPath& path, size_t level);
  void CollapseRoot(TPage& root);
  void Unlink(const TPage& page);
  void CheckNeighbours(const TPage& left, const TPage& right) const;
  void Free(TPage& page) { store_.FreePage(ctx_.Slot(), &page); }

  TPageStore& store_;
  const TKeyContext& ctx_;
};

}  // namespace tessel
