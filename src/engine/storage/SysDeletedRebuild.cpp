// The repair of a table whose index file had to be laid down anew: without
// its index definitions the table works in the order of the system index
// "Sys Deleted", which is rebuilt here from every record slot.
#include <vector>

#include "engine/storage/DataTable.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/IndexRebuild.h"

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
  int32_t active = 0;
  LayIndexDown(index_, kSysDeletedSlot, context, data_.PhysicalRecordCount(), true, [&](int32_t r, uint8_t* key) {
    TRecord* record = data_.FetchRecord(r, nullptr, data_.RecordsPerRead);
    if (!record->IsDeleted()) ++active;
    TKeyContext::BuildSystemKey(record->Data(), key);
    data_.ReleaseRecord(record);
    return true;
  });
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
