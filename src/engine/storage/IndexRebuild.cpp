#include "engine/storage/IndexRebuild.h"

#include <algorithm>

#include "engine/base/TesselError.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/IndexTree.h"
#include "engine/storage/KeyStore.h"

namespace tessel {

namespace {

constexpr int kIdentifierSuffix = 4;

}  // namespace

std::vector<int> UsedIndexSlots(const TDataTable& table) {
  const TIndexHeader& h = table.Index().Header;
  std::vector<int> slots;
  if (h.NoPrimaryIndex == 0 && h.Indexes[0].FieldCount > 0) slots.push_back(0);
  for (int n = 1; n <= h.SecondaryCount && n <= kMaxSecondaryIndexes; ++n) slots.push_back(n);
  slots.push_back(kSysDeletedSlot);
  return slots;
}

bool IndexDefinitionSound(const TDataTable& table, int slot, std::string* problem) {
  auto fail = [&](const std::string& text) {
    if (problem != nullptr) *problem = text;
    return false;
  };
  if (slot < 0 || slot >= kIndexSlots) return fail("no such index slot");
  const TIndexDesc& desc = table.Index().Header.Indexes[static_cast<size_t>(slot)];
  if (slot == kSysDeletedSlot) {
    if (desc.KeyLength != kSysDeletedKeyLength) {
      return fail("key length " + std::to_string(desc.KeyLength) + ", expected 5");
    }
    return true;
  }
  if (desc.Compression > 3) return fail("compression mode " + std::to_string(desc.Compression));
  if (desc.FieldCount < 1 || desc.FieldCount > kMaxIndexFields) {
    return fail("key field count " + std::to_string(desc.FieldCount));
  }
  const std::vector<TFieldDesc>& fields = table.Data().Fields;
  int length = 0;
  for (int i = 0; i < desc.FieldCount; ++i) {
    const uint16_t number = desc.FieldNumbers[static_cast<size_t>(i)];
    if (number == 0 || number > fields.size()) {
      return fail("key field number " + std::to_string(number) + " names no field");
    }
    const TFieldDesc& field = fields[number - 1u];
    if (field.Type == ftBlob) return fail("key field '" + field.Name + "' is a BLOB field");
    length += field.PhysicalSize + 1;
  }
  if (length > kMaxKeyLength) return fail("key fields take " + std::to_string(length) + " bytes");
  const int expected = length + (desc.Unique != 0 ? 0 : kIdentifierSuffix);
  if (desc.KeyLength != expected) {
    return fail("key length " + std::to_string(desc.KeyLength) + ", the key fields give " +
                std::to_string(expected));
  }
  return true;
}

TIndexRebuildResult RebuildIndex(TDataTable& table, int slot) {
  if (table.IsReadOnly()) RaiseEngineError(ec::AccessDenied, table.TableName());
  if (!table.IsExclusive()) RaiseEngineError(ec::NeedExclusive, table.TableName());
  if (!IndexDefinitionSound(table, slot)) RaiseEngineError(ec::HeaderCorrupt, table.TableName());

  TIndexFile& index = table.Index();
  TDataFile& data = table.Data();
  // Holders of the old tree must not meet the new one: what other work
  // changed is written out first, then every cached page is forgotten.
  index.WriteBackPages();
  index.DropPages();
  TIndexDesc& desc = index.Header.Indexes[static_cast<size_t>(slot)];
  desc.RootPage = 0;
  desc.FreePage = 0;
  index.HeaderModified = true;

  const TKeyContext context(desc, slot, data.Fields, &table.Locale(), table.TableName());
  const bool system = slot == kSysDeletedSlot;
  return LayIndexDown(index, slot, context, data.PhysicalRecordCount(), false, [&](int32_t r, uint8_t* key) {
    TRecord* record = data.FetchRecord(r, nullptr, data.RecordsPerRead);
    const bool deleted = record->IsDeleted();
    if (system || !deleted) context.BuildKey(record->Data(), key);
    data.ReleaseRecord(record);
    return system || !deleted;
  });
}

TIndexRebuildResult LayIndexDown(TIndexFile& index, int slot, const TKeyContext& context, int32_t last,
                                 bool keepEqual, const std::function<bool(int32_t, uint8_t*)>& keyOf) {
  TIndexRebuildResult result;
  result.Slot = slot;
  std::vector<uint8_t> key(std::max<size_t>(context.KeyLength(), kSysDeletedKeyLength), 0);

  if (TKeyStore::BytesFor(last, context.KeyLength()) <= kSortedRebuildBytes) {
    // The keys sorted in memory, the tree laid down from them in one pass
    // and written in long runs of pages.
    TKeyStore keys(&context, context.KeyLength());
    for (int32_t r = 1; r <= last; ++r)
      if (keyOf(r, key.data())) keys.Append(key.data(), r);
    std::vector<uint32_t> order = keys.SortedOrder();
    if (!keepEqual) {
      // Of equal keys the one of the lowest record number stays (the sort
      // keeps them in record order).
      std::vector<uint32_t> kept;
      kept.reserve(order.size());
      for (uint32_t i : order) {
        if (!kept.empty() && keys.Compare(kept.back(), i) == 0) {
          result.LeftOut.push_back(keys.Record(i));
        } else {
          kept.push_back(i);
        }
      }
      std::sort(result.LeftOut.begin(), result.LeftOut.end());
      order.swap(kept);
    }
    keys.BuildTree(index, slot, order);
    result.KeysInserted = static_cast<int32_t>(order.size());
    return result;
  }

  // Too many keys to hold: key by key into the tree.
  TIndexTree tree(index, context);
  for (int32_t r = 1; r <= last; ++r) {
    if (!keyOf(r, key.data())) continue;
    if (!keepEqual && tree.KeyExists(key.data())) {
      result.LeftOut.push_back(r);
      continue;
    }
    tree.InsertKey(key.data(), r);
    ++result.KeysInserted;
  }
  return result;
}

std::vector<TIndexRebuildResult> RebuildAllIndexes(TDataTable& table) {
  std::vector<TIndexRebuildResult> results;
  for (int slot : UsedIndexSlots(table)) results.push_back(RebuildIndex(table, slot));
  return results;
}

}  // namespace tessel
