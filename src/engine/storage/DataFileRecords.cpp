// The record slots of the data file: fetching slots into the record cache
// (with read-ahead), choosing and freeing slots, and writing modified slots
// back in runs.
#include <algorithm>
#include <cstring>

#include "engine/components/TesselError.h"
#include "engine/storage/Bytes.h"
#include "engine/storage/DataFile.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/Scramble.h"

namespace tessel {

TRecord* TDataFile::FetchRecord(int32_t recordNumber, TDataCursor* /*cursor*/, int readAhead,
                                unsigned /*flags*/) {
  if (recordNumber <= 0 || recordNumber > Header.NextRecordNumber) {
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
    auto stale = cache_.find(recordNumber);
    if (stale != cache_.end()) {
      if (stale->second->InUse > 0) RaiseEngineError(ec::RecordBuffersCorrupt, Table().TableName());
      pool_.Give(stale->second);
      cache_.erase(stale);
    }
    TRecord* record = NewHolder(recordNumber);
    record->Modified = true;
    ++record->InUse;
    ++Header.NextRecordNumber;
    HeaderModified = true;
    return record;
  }

  auto it = cache_.find(recordNumber);
  if (it == cache_.end()) {
    const int64_t slotsLeft = int64_t{Header.NextRecordNumber} - recordNumber;
    int64_t count = std::min<int64_t>({readAhead, std::max(RecordsPerRead, 1), slotsLeft});
    if (count < 1) count = 1;
    ReadSlots(recordNumber, static_cast<int>(count), Table().IsExclusive());
    it = cache_.find(recordNumber);
    if (it == cache_.end()) RaiseEngineError(ec::RecordBuffersCorrupt, Table().TableName());
  }
  TRecord* record = it->second;
  if (record->RecordNumber != recordNumber) {
    RaiseEngineError(ec::RecordBuffersCorrupt, Table().TableName());
  }
  ++record->InUse;
  return record;
}

void TDataFile::ReleaseRecord(TRecord* record) {
  if (record != nullptr && record->InUse > 0) --record->InUse;
}

TRecord* TDataFile::AllocateSlot(TDataCursor* cursor) {
  TRecord* record = nullptr;
  const int32_t firstFree = Header.FirstFreeRecord;
  if (firstFree != 0 && HasPrimaryIndex()) {
    // Reuse the last deleted slot. A chain head that is no slot, or a slot
    // that is not deleted, is a broken chain: filling it would overwrite a
    // live record, so the chain is given up and the row appended instead.
    if (firstFree > 0 && firstFree < Header.NextRecordNumber) {
      record = FetchRecord(firstFree, cursor);
      if (!record->IsDeleted()) {
        ReleaseRecord(record);
        record = nullptr;
      }
    }
  }
  if (record == nullptr) record = FetchRecord(Header.NextRecordNumber, cursor);

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
  for (const auto& [number, record] : cache_) {
    if (!record->Modified || record->InUse > 0) continue;
    if (!run.empty() && run.back()->RecordNumber + 1 != number) {
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

void TDataFile::DropRecords() {
  for (const auto& [number, record] : cache_) pool_.Give(record);
  cache_.clear();
}

void TDataFile::ReadSlots(int32_t first, int count, bool allowShort) {
  const int recordSize = RecordSize();
  if (recordSize <= 0 || count <= 0) RaiseEngineError(ec::RecordBuffersCorrupt, Table().TableName());
  const size_t size = static_cast<size_t>(recordSize);
  std::vector<uint8_t> buffer(static_cast<size_t>(count) * size);
  const size_t got = ReadAt(SlotPosition(first), buffer.data(), buffer.size(), allowShort);
  const size_t complete = got / size;
  if (complete == 0) RaiseEngineError(ec::ReadError, Table().TableName());

  const bool encrypted = Table().IsEncrypted();
  // The first slot is the one asked for: it is held while the rest of the
  // run is placed so that making room cannot recycle it.
  TRecord* held = nullptr;
  try {
    for (size_t i = 0; i < complete; ++i) {
      const int32_t number = first + static_cast<int32_t>(i);
      uint8_t* image = buffer.data() + i * size;
      if (encrypted) ScrambleData(image, size);
      // An active slot always links to itself, whatever the file holds.
      if (image[kSlotDeletedOffset] == 0) PutI32(image + kSlotLinkOffset, number);

      TRecord* record;
      auto it = cache_.find(number);
      if (it != cache_.end()) {
        record = it->second;
        // A holder with changes or a user keeps what it has.
        if (record->Modified || record->InUse > 0) continue;
      } else {
        // Read-ahead slots only take free room; they never force a write-back.
        if (i > 0 && !HasRoom()) break;
        record = NewHolder(number);
      }
      std::memcpy(record->Data(), image, size);
      if (i == 0) {
        held = record;
        ++held->InUse;
      }
    }
  } catch (...) {
    if (held != nullptr) --held->InUse;
    throw;
  }
  if (held != nullptr) --held->InUse;
}

TRecord* TDataFile::NewHolder(int32_t recordNumber) {
  if (!HasRoom()) {
    WriteBackRecords();
    if (!EvictOne()) RaiseEngineError(ec::RecordBuffersCorrupt, Table().TableName());
  }
  TRecord* record = pool_.Take(recordNumber, RecordSize());
  cache_.emplace(recordNumber, record);
  return record;
}

bool TDataFile::HasPrimaryIndex() { return Table().Index().Header.NoPrimaryIndex == 0; }

bool TDataFile::EvictOne() {
  for (auto it = cache_.begin(); it != cache_.end(); ++it) {
    TRecord* record = it->second;
    if (!record->Modified && record->InUse == 0) {
      pool_.Give(record);
      cache_.erase(it);
      return true;
    }
  }
  return false;
}

bool TDataFile::HasRoom() {
  const size_t capacity = static_cast<size_t>(std::max(RecordCacheCapacity, 1));
  return cache_.size() < capacity || EvictOne();
}

}  // namespace tessel
