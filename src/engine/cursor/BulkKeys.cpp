#include "engine/cursor/BulkKeys.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

#include "engine/base/Bytes.h"
#include "engine/storage/Formats.h"
#include "engine/storage/IndexFile.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/KeyStore.h"
#include "engine/storage/Record.h"

namespace tessel {

namespace {

size_t HashBytes(const uint8_t* p, size_t n) {
  return std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(p), n));
}

}  // namespace

// The keys of one index in insertion order with their slots; for a unique
// index also an open-addressing hash set of their numbers.
struct TBulkKeys::TIndexKeys {
  TIndexKeys(const TKeyContext* context, int slotNumber, uint16_t keyLength)
      : ctx(context), slot(slotNumber), length(keyLength), keys(context, keyLength), scratch(keyLength, 0) {}

  size_t Count() const { return keys.Count(); }
  bool Unique() const { return ctx != nullptr && ctx->Unique(); }

  void Append(const uint8_t* key, int32_t record) { keys.Append(key, record); }

  // The hash set of a unique index: key numbers + 1 (0 marks a free place).
  bool Holds(const uint8_t* key) const {
    if (table.empty()) return false;
    const size_t n = TKeyStore::Trimmed(key, length);
    const size_t mask = table.size() - 1;
    for (size_t at = HashBytes(key, n) & mask;; at = (at + 1) & mask) {
      const uint32_t entry = table[at];
      if (entry == 0) return false;
      const size_t i = entry - 1;
      if (keys.Size(i) == n && std::memcmp(keys.Bytes(i), key, n) == 0) return true;
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
    size_t at = HashBytes(keys.Bytes(i), keys.Size(i)) & mask;
    while (table[at] != 0) at = (at + 1) & mask;
    table[at] = static_cast<uint32_t>(i + 1);
  }

  const TKeyContext* ctx;  // null for "Sys Deleted"
  int slot;
  uint16_t length;
  TKeyStore keys;
  std::vector<uint32_t> table;
  std::vector<uint8_t> scratch;
};

TBulkKeys::TBulkKeys(std::vector<const TKeyContext*> indexes) {
  for (const TKeyContext* ctx : indexes)
    indexes_.push_back(std::make_unique<TIndexKeys>(ctx, ctx->Slot(), ctx->KeyLength()));
  indexes_.push_back(std::make_unique<TIndexKeys>(nullptr, kSysDeletedSlot, kSysDeletedKeyLength));
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
    // Ties (only a record identifier handed out twice could make them) keep
    // the order of insertion.
    const std::vector<uint32_t> order = k.keys.SortedOrder();
    std::vector<uint32_t>().swap(k.table);
    k.keys.BuildTree(file, k.slot, order);
    index.reset();
  }
  indexes_.clear();
  count_ = 0;
}

}  // namespace tessel
