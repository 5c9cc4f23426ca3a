// Laying an empty index's B+-tree down in one pass from keys that are
// already in index order, as a bulk load and a rebuild can: the leaves are
// filled left to right, then each level of nodes above them, until one page
// is left, the root. The pages are taken from the index file in allocation
// order (on a fresh file, one sequential run per level), so the write-back
// writes them in long runs instead of the scattered page writes of
// key-by-key inserts.
#pragma once

#include <cstdint>
#include <functional>

namespace tessel {

class TIndexFile;

// The i-th key (0-based, in index order) and the record number it stands for.
struct TSortedKeys {
  int64_t Count = 0;
  std::function<const uint8_t*(int64_t)> Key;
  std::function<int32_t(int64_t)> Record;
};

// Builds the tree of index slot from keys (in index order, none equal where
// the index is unique: the caller has made sure). The index must be empty
// (root 0); it raises "Index page buffers corrupt in table '%s'" otherwise.
// Uncompressed pages of a level share its entries evenly (each at least half
// full, as a later delete expects); compressed leaves are filled up to their
// 4083 entry bytes. The pages reach the file with the next write-back.
void BuildIndexTree(TIndexFile& index, int slot, const TSortedKeys& keys);

}  // namespace tessel
