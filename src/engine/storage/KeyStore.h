// The keys of one index held in memory until its tree is laid down from them
// in one pass, as a bulk load and an index rebuild do: each key without its
// trailing zero bytes (a string key is mostly padding), back to back, with
// the record it stands for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessel {

class TIndexFile;
class TKeyContext;

// The most memory a rebuild holds keys in to sort them; a table with more
// keys than that is rebuilt key by key.
inline constexpr uint64_t kSortedRebuildBytes = uint64_t{256} << 20;

class TKeyStore {
 public:
  // context compares the keys in index order; without one they compare as
  // plain bytes (the order of "Sys Deleted").
  TKeyStore(const TKeyContext* context, uint16_t keyLength);

  void Append(const uint8_t* key, int32_t record);
  size_t Count() const { return records_.size(); }
  // Bytes a store of count keys of this length holds at most.
  static uint64_t BytesFor(int64_t count, uint16_t keyLength);

  // Key i without its trailing zero bytes.
  const uint8_t* Bytes(size_t i) const { return bytes_.data() + offsets_[i]; }
  size_t Size(size_t i) const { return offsets_[i + 1] - offsets_[i]; }
  int32_t Record(size_t i) const { return records_[i]; }
  // Key i whole, in out (KeyLength bytes; valid until out is used again).
  const uint8_t* Expand(size_t i, std::vector<uint8_t>& out) const;
  static size_t Trimmed(const uint8_t* key, size_t n);

  // Key a against key b in index order: -1, 0 or 1.
  int Compare(size_t a, size_t b);
  // The key numbers in index order; equal keys keep the order they were
  // appended in.
  std::vector<uint32_t> SortedOrder();
  // Lays the empty tree of index slot down from the keys numbered in order
  // (index order, no two equal where the index is unique).
  void BuildTree(TIndexFile& file, int slot, const std::vector<uint32_t>& order);

 private:
  const TKeyContext* ctx_;
  uint16_t length_;
  std::vector<uint8_t> bytes_;
  std::vector<size_t> offsets_;
  std::vector<int32_t> records_;
  std::vector<uint8_t> scratch_, other_;
};

}  // namespace tessel
