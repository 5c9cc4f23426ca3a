// The keys of a bulk load: for every index the load keeps in step (and
// "Sys Deleted"), the key of each inserted record and its slot, held in
// memory until the trees are laid down in one pass from the sorted keys.
// Unique keys are checked here instead of in the (still empty) trees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tessel {

class TIndexFile;
class TKeyContext;

class TBulkKeys {
 public:
  // indexes: the contexts of the indexes kept in step (those of unique
  // indexes must compare keys in plain byte order, so that equal keys are
  // equal bytes), without "Sys Deleted", which is always kept.
  explicit TBulkKeys(std::vector<const TKeyContext*> indexes);
  ~TBulkKeys();
  TBulkKeys(const TBulkKeys&) = delete;
  TBulkKeys& operator=(const TBulkKeys&) = delete;

  // The unique index that already holds the key row would have in it, or
  // null.
  const TKeyContext* Duplicate(const uint8_t* row) const;
  // Keeps row's keys (its record identifier in place) for slot.
  void Add(const uint8_t* row, int32_t slot);
  int64_t Count() const { return count_; }
  // Lays down the tree of every index from its keys in index order. Each
  // index must be empty. The keys are given up as each tree is done.
  void Build(TIndexFile& index);

 private:
  struct TIndexKeys;
  std::vector<std::unique_ptr<TIndexKeys>> indexes_;
  int64_t count_ = 0;
};

}  // namespace tessel
