#include "engine/cursor/BulkKeys.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>
#include <string_view>

#include "engine/base/Bytes.h"
#include "engine/storage/Formats.h"
#include "engine/storage/IndexBuild.h"
#include "engine/storage/IndexFile.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/Record.h"

namespace tessel {

namespace {

constexpr uint16_t kSystemKeyLength = 5;

size_t HashBytes(const uint8_t* p, size_t n) {
  return std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(p), n));
}

}  // namespace

// The keys of one index in insertion order, each without its trailing zero
// bytes (a string key is mostly padding), back to back, with their slots;
// for a unique index also an open-addressing hash set of their numbers.
struct TBulkKeys::TIndexKeys {
  TIndexKeys(const TKeyContext* context, int slotNumber, uint16_t keyLength)
      : ctx(context), slot(slotNumber), length(keyLength), scratch(keyLength, 0), other(keyLength, 0) {
    offsets.push_back(0);
  }

  size_t Count() const { return records.size(); }
  const uint8_t* Bytes(size_t i) const { return bytes.data() + offsets[i]; }
  size_t Size(size_t i) const { return offsets[i + 1] - offsets[i]; }
  bool Unique() const { return ctx != nullptr && ctx->Unique(); }

  // Key i whole (valid until the next call with the same buffer).
  const uint8_t* Expand(size_t i, std::vector<uint8_t>& out) const {
    const size_t n = Size(i);
    std::memcpy(out.data(), Bytes(i), n);
    std::memset(out.data() + n, 0, length - n);
    return out.data();
  }

  static size_t Trimmed(const uint8_t* key, size_t n) {
    while (n > 0 && key[n - 1] == 0) --n;
    return n;
  }

  void Append(const uint8_t* key, int32_t record) {
    const size_t n = Trimmed(key, length);
    bytes.insert(bytes.end(), key, key + n);
    offsets.push_back(bytes.size());
    records.push_back(record);
  }

  // Index order of keys a and b: by plain bytes (trailing zeros compare
  // like the missing bytes they stand for), or through the locale.
  bool Less(size_t a, size_t b) {
    if (ctx != nullptr && ctx->HasLocale()) return ctx->CompareKeys(Expand(a, scratch), Expand(b, other)) < 0;
    const size_t na = Size(a), nb = Size(b);
    int c = std::memcmp(Bytes(a), Bytes(b), std::min(na, nb));
    if (c == 0) c = na < nb ? -1 : (na > nb ? 1 : 0);
    if (ctx != nullptr && ctx->Descending()) c = -c;
    return c < 0;
  }

  // The hash set of a unique index: key numbers + 1 (0 marks a free place).
  bool Holds(const uint8_t* key) const {
    if (table.empty()) return false;
    const size_t n = Trimmed(key, length);
    const size_t mask = table.size() - 1;
    for (size_t at = HashBytes(key, n) & mask;; at = (at + 1) & mask) {
      const uint32_t entry = table[at];
      if (entry == 0) return false;
      const size_t i = entry - 1;
      if (Size(i) == n && std::memcmp(Bytes(i), key, n) == 0) return true;
    }
  }
  void Remember(size_t i) {
    if ((Count() + 1) * 2 > table.size()) {
      std::vector<uint32_t> old;
      old.swap(table);
      table.assign(std::max<size_t>(1024, old.size() * 2), 0);
      for (uint32_t entry : old)
        if (entry != 0) Place(entry - 1);
    }
    Place(i);
  }
  void Place(size_t i) {
    const size_t mask = table.size() - 1;
    size_t at = HashBytes(Bytes(i), Size(i)) & mask;
    while (table[at] != 0) at = (at + 1) & mask;
    table[at] = static_cast<uint32_t>(i + 1);
  }

  const TKeyContext* ctx;  // null for "Sys Deleted"
  int slot;
  uint16_t length;
  std::vector<uint8_t> bytes;
  std::vector<size_t> offsets;
  std::vector<int32_t> records;
  std::vector<uint32_t> table;
  std::vector<uint8_t> scratch, other;
};

TBulkKeys::TBulkKeys(std::vector<const TKeyContext*> indexes) {
  for (const TKeyContext* ctx : indexes)
    indexes_.push_back(std::make_unique<TIndexKeys>(ctx, ctx->Slot(), ctx->KeyLength()));
  indexes_.push_back(std::make_unique<TIndexKeys>(nullptr, kSysDeletedSlot, kSystemKeyLength));
}

TBulkKeys::~TBulkKeys() = default;

const TKeyContext* TBulkKeys::Duplicate(const uint8_t* row) const {
  for (const auto& index : indexes_) {
    if (!index->Unique()) continue;
    index->ctx->BuildKey(row, index->scratch.data());
    if (index->Holds(index->scratch.data())) return index->ctx;
  }
  return nullptr;
}

void TBulkKeys::Add(const uint8_t* row, int32_t slot) {
  // The "Sys Deleted" key of an active record: flag 0 and its identifier.
  uint8_t active[kSlotFieldsOffset] = {};
  std::memcpy(active + kSlotRecordIdOffset, row + kSlotRecordIdOffset, 4);
  for (const auto& index : indexes_) {
    if (index->ctx != nullptr) {
      index->ctx->BuildKey(row, index->scratch.data());
    } else {
      TKeyContext::BuildSystemKey(active, index->scratch.data());
    }
    index->Append(index->scratch.data(), slot);
    if (index->Unique()) index->Remember(index->Count() - 1);
  }
  ++count_;
}

void TBulkKeys::Build(TIndexFile& file) {
  for (auto& index : indexes_) {
    TIndexKeys& k = *index;
    std::vector<uint32_t> order(k.Count());
    std::iota(order.begin(), order.end(), 0u);
    // Ties (only a record identifier handed out twice could make them) keep
    // the order of insertion.
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return k.Less(a, b); });
    std::vector<uint32_t>().swap(k.table);
    TSortedKeys sorted;
    sorted.Count = static_cast<int64_t>(order.size());
    sorted.Key = [&](int64_t i) { return k.Expand(order[static_cast<size_t>(i)], k.scratch); };
    sorted.Record = [&](int64_t i) { return k.records[order[static_cast<size_t>(i)]]; };
    BuildIndexTree(file, k.slot, sorted);
    index.reset();
  }
  indexes_.clear();
  count_ = 0;
}

}  // namespace tessel
