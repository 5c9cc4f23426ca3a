// The repair of a table whose index file had to be laid down anew: without
// its index definitions the table works in the order of the system index
// "Sys Deleted", which is rebuilt here from every record slot.
#include <algorithm>
#include <vector>

#include "engine/storage/DataTable.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/IndexTree.h"
#include "engine/storage/KeyStore.h"

namespace tessel {

void TDataTable::RepairRecreatedIndex() {
  TIndexHeader& h = index_.Header;
  h.NoPrimaryIndex = 1;
  h.Indexes[0] = TIndexDesc{};
  // The tree is built from nothing, also when an earlier repair stopped
  // half-way: whatever that one left in the new file is abandoned.
  index_.DropPages();
  TIndexDesc& sys = h.Indexes[kSysDeletedSlot];
  sys.RootPage = 0;
  sys.FreePage = 0;
  h.EndOfFile = kPageSize;
  h.ActiveRecordCount = 0;
  index_.HeaderModified = true;

  const TKeyContext context(sys, kSysDeletedSlot, data_.Fields, locale_.get(), tableName_);
  std::vector<uint8_t> key(std::max<size_t>(context.KeyLength(), kSysDeletedKeyLength), 0);
  int32_t active = 0;
  const int32_t last = data_.PhysicalRecordCount();
  // The keys are sorted in memory and the tree laid down in one pass, in
  // long runs of pages; more keys than that holds go in one by one.
  const bool sorted = TKeyStore::BytesFor(last, context.KeyLength()) <= kSortedRebuildBytes;
  TKeyStore keys(nullptr, context.KeyLength());
  TIndexTree tree(index_, context);
  for (int32_t r = 1; r <= last; ++r) {
    TRecord* record = data_.FetchRecord(r, nullptr, data_.RecordsPerRead);
    const bool deleted = record->IsDeleted();
    TKeyContext::BuildSystemKey(record->Data(), key.data());
    data_.ReleaseRecord(record);
    if (sorted) {
      keys.Append(key.data(), r);
    } else {
      tree.InsertKey(key.data(), r);
    }
    if (!deleted) ++active;
  }
  if (sorted) keys.BuildTree(index_, kSysDeletedSlot, keys.SortedOrder());
  h.ActiveRecordCount = active;
  indexRecreated_ = false;
}

void TDataTable::CompleteRecreatedIndex() {
  if (!indexRecreated_) return;
  const bool lockedBefore = writeLocked_;
  BeginWrite();
  const bool locked = !lockedBefore && writeLocked_;
  try {
    // The write lock re-read a header another user changed: one whose
    // repair reached the file first leaves nothing to do.
    if (IsBareIndexHeader(index_.Header)) {
      RepairRecreatedIndex();
      if (!readOnly_) {
        FlushTable(false, false, true);
      } else if (index_.InMemory) {
        // A read-only table's index lives in a memory file of its own:
        // written there whole as well, so that whatever drops the page
        // cache (the structure check does) reads the tree back.
        index_.WriteBackPages();
        index_.WriteIndexHeader(true);
      }
    }
    indexRecreated_ = false;
  } catch (...) {
    if (locked) {
      try {
        EndWrite();
      } catch (...) {
      }
    }
    throw;
  }
  if (locked) EndWrite();
}

}  // namespace tessel
