// The record slots of the data file: the record cache (most recently used
// holders first, then a list sorted by record number), read-ahead runs,
// choosing and freeing slots, and writing modified slots back in runs of
// consecutive record numbers.
#include <algorithm>
#include <cstring>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/storage/DataFile.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/ReadContext.h"
#include "engine/storage/Scramble.h"

namespace tessel {

namespace {
// A work table of the query processor grows its cache by this many holders
// instead of failing when every holder is taken.
constexpr int kWorkTableGrowth = 1024;
}  // namespace

TRecord* TDataFile::FetchRecord(int32_t recordNumber, TReadContext* context, int readAhead,
                                unsigned flags) {
  if (recordNumber <= 0 || recordNumber > Header.NextRecordNumber ||
      (recordNumber == Header.NextRecordNumber && context != nullptr && (flags & kFetchNewSlot) == 0)) {
    RaiseEngineError(ec::RecordBuffersCorrupt, Table().TableName());
  }

  if (recordNumber == Header.NextRecordNumber) {
    // A new slot at the end. It exists only in the cache until it is
    // written back; it is marked modified so that the file grows to match
    // the header's next record number.
    const int64_t next = Header.NextRecordNumber;
    if (next + 1 > kMaxRecordNumber || next * RecordSize() >= kMaxFileBytes) {
      RaiseEngineError(ec::TableFull, Table().TableName());
    }
    if (TRecord* stale = cache_.Peek(recordNumber)) {
      // Left from a slot the header no longer counts: it cannot be used.
      if (stale->InUse > 0) RaiseEngineError(ec::RecordBuffersCorrupt, Table().TableName());
      Discard(stale);
    }
    TRecord* record = TakeHolder(recordNumber, true);
    record->Modified = true;
    ++record->InUse;
    ++Header.NextRecordNumber;
    HeaderModified = true;
    return record;
  }

  TRecord* record = cache_.Find(recordNumber);
  if (record == nullptr) {
    if (context != nullptr && context->BeforeCacheMiss()) return nullptr;
    // The change check found nothing, so the header still counts this slot.
    int32_t first = recordNumber;
    int count = 1;
    PlanRun(recordNumber, context, readAhead, first, count);
    ReadRun(recordNumber, first, count);
    record = cache_.Find(recordNumber);
    if (record != nullptr && record->RecordNumber == recordNumber && context != nullptr) {
      ++record->InUse;
      Prefetch(recordNumber, context, first, count);
      --record->InUse;
    }
  }
  if (record == nullptr || record->RecordNumber != recordNumber) {
    RaiseEngineError(ec::RecordBuffersCorrupt, Table().TableName());
  }
  ++record->InUse;
  return record;
}

void TDataFile::Prefetch(int32_t recordNumber, TReadContext* context, int32_t first, int count) {
  // At most a quarter of the cache, so that a prefetch never pushes out
  // what the cursor is working on.
  const int limit = std::min(64, std::max(RecordCacheCapacity, 1) / 4);
  if (limit < 2) return;
  int32_t plan[64];
  const int planned = std::min(context->PlanRecordPrefetch(recordNumber, plan, limit), limit);
  std::vector<int32_t> wanted;
  for (int i = 0; i < planned; ++i) {
    const int32_t n = plan[i];
    if (n < 1 || n >= Header.NextRecordNumber || (n >= first && n < first + count) || cache_.Peek(n) != nullptr)
      continue;
    wanted.push_back(n);
  }
  if (wanted.empty()) return;
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  const size_t size = static_cast<size_t>(RecordSize());
  std::vector<uint8_t> buffer;
  try {
    for (size_t i = 0; i < wanted.size();) {
      size_t j = i + 1;
      while (j < wanted.size() && wanted[j] == wanted[j - 1] + 1) ++j;
      const int run = static_cast<int>(j - i);
      buffer.resize(static_cast<size_t>(run) * size);
      const size_t got = ReadAt(SlotPosition(wanted[i]), buffer.data(), buffer.size(), true);
      const int complete = static_cast<int>(got / size);
      for (int k = 0; k < complete; ++k) {
        const int32_t number = wanted[i] + k;
        if (cache_.Peek(number) != nullptr) continue;
        if (PlaceSlot(number, buffer.data() + static_cast<size_t>(k) * size, false) == nullptr) return;
      }
      i = j;
    }
  } catch (...) {
    // Read-ahead is a guess: a failure here is left to the read that needs the slot.
    return;
  }
  // The BLOBs of those records, under the same read lock: otherwise the
  // first BLOB read of the walk would take the lock again.
  if (Table().HasBlobFile()) Table().Blob().Prefetch(context);
}

TRecord* TDataFile::PlaceSlot(int32_t number, uint8_t* image, bool mayWriteBack) {
  const size_t size = static_cast<size_t>(RecordSize());
  if (Table().IsEncrypted()) ScrambleData(image, size);
  // An active slot always links to itself, whatever the file holds.
  if (image[kSlotDeletedOffset] == 0) PutI32(image + kSlotLinkOffset, number);
  TRecord* record = cache_.Peek(number);
  if (record != nullptr) {
    // A holder with changes or a user keeps what it has.
    if (!record->Modified && record->InUse == 0) std::memcpy(record->Data(), image, size);
    return record;
  }
  record = TakeHolder(number, mayWriteBack);
  if (record != nullptr) std::memcpy(record->Data(), image, size);
  return record;
}

void TDataFile::ReleaseRecord(TRecord* record) {
  if (record == nullptr) return;
  if (record->InUse > 0) --record->InUse;
  if (record->Detached && record->InUse == 0) pool_.Give(record);
}

void TDataFile::PlanRun(int32_t recordNumber, TReadContext* context, int readAhead, int32_t& first,
                        int& count) {
  first = recordNumber;
  count = 1;
  const int limit = std::min(readAhead, std::max(RecordsPerRead, 1));
  if (limit <= 1) return;
  const bool backward = context != nullptr && context->ReadingBackward();
  const int32_t last = PhysicalRecordCount();

  int wanted = 0;
  if (context != nullptr) {
    // The numbers the cursor visits next: the run covers as many of them as
    // follow each other in its direction.
    std::vector<int32_t> plan(static_cast<size_t>(limit));
    const int planned = std::min(context->PlanRecordRun(recordNumber, plan.data(), limit), limit);
    if (planned > 0) {
      const int step = backward ? -1 : 1;
      wanted = 1;
      while (wanted < planned && plan[static_cast<size_t>(wanted)] == recordNumber + step * wanted) ++wanted;
    }
  }
  if (wanted == 0) wanted = limit;  // no plan: the neighbouring slots

  if (backward) {
    count = static_cast<int>(std::min<int64_t>(wanted, recordNumber));
    first = recordNumber - count + 1;
  } else {
    count = static_cast<int>(std::min<int64_t>(wanted, int64_t{last} - recordNumber + 1));
    count = std::max(count, 1);
  }
}

void TDataFile::ReadRun(int32_t wanted, int32_t first, int count) {
  const int recordSize = RecordSize();
  if (recordSize <= 0 || count <= 0) RaiseEngineError(ec::RecordBuffersCorrupt, Table().TableName());
  const size_t size = static_cast<size_t>(recordSize);
  std::vector<uint8_t> buffer(static_cast<size_t>(count) * size);
  const size_t got = ReadAt(SlotPosition(first), buffer.data(), buffer.size(), true);
  const int complete = static_cast<int>(got / size);
  if (complete < count) {
    // A shared table must find every slot of the run in the file, except
    // slots made in the cache and not yet written back. The slot asked for
    // must always have been read.
    bool acceptable = wanted < first + complete;
    if (acceptable && !Table().IsExclusive()) {
      for (int32_t n = first + complete; n < first + count && acceptable; ++n)
        acceptable = cache_.Peek(n) != nullptr;
    }
    if (!acceptable) RaiseEngineError(ec::ReadError, Table().TableName());
  }

  auto place = [&](int32_t number, bool mayWriteBack) -> TRecord* {
    return PlaceSlot(number, buffer.data() + static_cast<size_t>(number - first) * size, mayWriteBack);
  };

  // The slot asked for is placed first and held while the rest of the run is
  // placed, so that making room cannot recycle it. The other slots only take
  // free room; they never force a write-back.
  TRecord* held = place(wanted, true);
  ++held->InUse;
  try {
    for (int32_t number = first; number < first + complete; ++number) {
      if (number == wanted) continue;
      if (place(number, false) == nullptr) break;
    }
  } catch (...) {
    --held->InUse;
    throw;
  }
  --held->InUse;
}

TRecord* TDataFile::TakeHolder(int32_t recordNumber, bool mayWriteBack) {
  const int capacity = std::max(RecordCacheCapacity, 1);
  if (cache_.Size() >= static_cast<size_t>(capacity)) {
    TRecord* victim = cache_.Victim();
    if (victim == nullptr) {
      if (!mayWriteBack) return nullptr;
      const bool workTable = Table().Settings.WorkTable;
      if (!workTable) {
        WriteBackRecords();
        victim = cache_.Victim();
      }
      if (victim == nullptr) {
        if (!workTable) RaiseEngineError(ec::RecordBuffersCorrupt, Table().TableName());
        RecordCacheCapacity = capacity + kWorkTableGrowth;
      }
    }
    if (victim != nullptr) Discard(victim);
  }
  TRecord* record = pool_.Take(recordNumber, RecordSize());
  cache_.Insert(record);
  return record;
}

void TDataFile::Discard(TRecord* record) {
  cache_.Remove(record);
  if (record->InUse > 0) {
    record->Detached = true;
  } else {
    pool_.Give(record);
  }
}

TRecord* TDataFile::AllocateSlot(TReadContext* context) {
  TRecord* record = nullptr;
  const int32_t firstFree = Header.FirstFreeRecord;
  if (firstFree != 0 && HasPrimaryIndex()) {
    // Reuse the last deleted slot. A chain head that is no slot, or a slot
    // that is not deleted, is a broken chain: filling it would overwrite a
    // live record, so the chain is given up and the row appended instead.
    if (firstFree > 0 && firstFree < Header.NextRecordNumber) {
      record = FetchRecord(firstFree, context);
      if (record == nullptr) return nullptr;
      if (!record->IsDeleted()) {
        ReleaseRecord(record);
        record = nullptr;
      }
    }
  }
  if (record == nullptr) record = FetchRecord(Header.NextRecordNumber, context, 1, kFetchNewSlot);

  const int32_t newFirstFree = record->IsDeleted() ? record->Link() : 0;
  if (newFirstFree != Header.FirstFreeRecord) {
    Header.FirstFreeRecord = newFirstFree;
    HeaderModified = true;
  }
  return record;
}

void TDataFile::FreeSlot(TRecord* record) {
  const bool primary = HasPrimaryIndex();
  // The slot already heading the chain stays there; linking it again would
  // point it at itself and hand it out twice.
  if (record->IsDeleted() && primary && Header.FirstFreeRecord == record->RecordNumber) return;

  record->SetDeleted(true);
  record->SetLink(primary && Header.FirstFreeRecord != 0 ? Header.FirstFreeRecord : 0);
  record->Modified = true;
  Header.FirstFreeRecord = record->RecordNumber;
  HeaderModified = true;
}

void TDataFile::InitImage(TRecord* record, bool newIdentifier) {
  std::fill(record->Image.begin(), record->Image.end(), uint8_t{0});
  record->SetLink(record->RecordNumber);
  if (newIdentifier) record->SetRecordId(NextAutoIncValue());
  record->Modified = true;
}

void TDataFile::WriteBackRecords() {
  if (RecordSize() <= 0) return;
  std::vector<TRecord*> run;
  // Copied: nothing may change the cache while the runs are written, but the
  // list must not be walked while a write could fail half-way either.
  const std::vector<TRecord*> sorted = cache_.Sorted();
  for (TRecord* record : sorted) {
    if (!record->Modified || record->InUse > 0) continue;
    if (!run.empty() && run.back()->RecordNumber + 1 != record->RecordNumber) {
      WriteRun(run);
      run.clear();
    }
    run.push_back(record);
  }
  if (!run.empty()) WriteRun(run);
}

void TDataFile::WriteRun(const std::vector<TRecord*>& run) {
  const size_t size = static_cast<size_t>(RecordSize());
  std::vector<uint8_t> buffer(run.size() * size);
  const bool encrypted = Table().IsEncrypted();
  for (size_t i = 0; i < run.size(); ++i) {
    uint8_t* image = buffer.data() + i * size;
    std::memcpy(image, run[i]->Data(), size);
    if (encrypted) ScrambleData(image, size);
  }
  WriteAt(SlotPosition(run.front()->RecordNumber), buffer.data(), buffer.size());
  for (TRecord* record : run) record->Modified = false;
}

void TDataFile::TrimRecords() {
  RecordCacheCapacity = nominalCapacity_;
  const size_t capacity = static_cast<size_t>(RecordCacheCapacity);
  // From the highest record number down; holders with changes or users stay.
  std::vector<TRecord*> sorted = cache_.Sorted();
  for (auto it = sorted.rbegin(); it != sorted.rend() && cache_.Size() > capacity; ++it) {
    TRecord* record = *it;
    if (!record->Modified && record->InUse == 0) Discard(record);
  }
}

void TDataFile::DropRecords() {
  for (TRecord* record : cache_.TakeAll()) {
    if (record->InUse > 0) {
      record->Detached = true;
    } else {
      pool_.Give(record);
    }
  }
}

bool TDataFile::HasPrimaryIndex() { return Table().Index().Header.NoPrimaryIndex == 0; }

}  // namespace tessel
