// The table's data file: header, field descriptors and record slots.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/FileHandler.h"
#include "engine/storage/Formats.h"
#include "engine/storage/HolderCache.h"
#include "engine/storage/Record.h"
#include "engine/storage/TableStructure.h"

namespace tessel {

class TDataTable;
class TReadContext;

constexpr int32_t kMaxRecordNumber = 100000000;   // next record number + 1 may not exceed this
constexpr int64_t kMaxFileBytes = 2000000001;     // files must stay below this

class TDataFile : public TFileHandler {
 public:
  explicit TDataFile(TDataTable& table);
  ~TDataFile() override;

  TDataTable& Table() { return table_; }

  // Closing also forgets the cache sizing: the next header read sizes the
  // record cache afresh.
  void Close() override;

  // --- header and descriptors ---
  TDataHeader Header;          // the header as in the file (password/description as stored)
  bool HeaderModified = false;
  // One 768-byte image per field, as written (deciphered in memory).
  std::vector<std::array<uint8_t, kFieldDescSize>> DescImages;
  std::vector<TFieldDesc> Fields;  // decoded from DescImages
  bool DescsModified = false;
  int RecordsPerRead = 1;          // 65535 / record size (1 when the size is 0)
  // The record cache's current capacity in holders. It starts at the nominal
  // capacity; a work table grows it when every holder is taken, and a trim
  // brings it back.
  int RecordCacheCapacity = 0;
  // min(131070 / record size, 32767).
  int NominalRecordCapacity() const { return nominalCapacity_; }

  void ReadHeader();
  // Writes the header when modified or forced: counter + 1, stamp, clears the flag.
  void WriteHeader(bool force);
  void ReadFieldDescs();
  void WriteFieldDescs();
  // The checks the first opening cursor makes (version, offsets, sizes, the
  // BLOB field count, length). forStructureCheck lets pass what the
  // structure check reports and its repair mends: a file longer or shorter
  // than its header counts, and a BLOB field count that differs from the
  // descriptors.
  void ValidateHeader(bool forStructureCheck = false);
  // The number of BLOB fields among the field descriptors.
  uint16_t DescribedBlobFields() const;
  int32_t NextAutoIncValue();
  int32_t NextBlobId();
  int64_t DataStart() const { return kDataHeaderSize + int64_t{kFieldDescSize} * Header.FieldCount; }
  int RecordSize() const { return Header.RecordSize; }
  int64_t SlotPosition(int32_t recordNumber) const {
    return DataStart() + int64_t{recordNumber - 1} * Header.RecordSize;
  }
  // Reads the change counter at position 0 straight from the file.
  int32_t ReadChangeCounter();

  // --- table creation and header changes ---
  void InitStructure(const TTableStructure& structure);
  void SetHeaderInfo(const std::string& password, const std::string& description,
                     uint16_t userMinor, uint16_t userMajor, int32_t lastAutoIncValue);
  void RedefineField(int fieldNumber, const TFieldDesc& attributes);
  void EmptyData();

  // --- record slots ---
  //
  // FetchRecord hands back the holder of slot recordNumber with its in-use
  // count raised; the caller gives it back with ReleaseRecord. Asking for the
  // next record number creates a new, empty slot (in the cache only; the
  // file grows when it is written back). A cursor (a call with a read
  // context) makes one only through AllocateSlot (kFetchNewSlot): a cursor
  // that follows an index entry to the slot past the last has met a damaged
  // index, and a slot made there would be written back as a record that
  // nobody inserted.
  //
  // A slot that is not cached is read from the file. Before that read, when
  // a read context is given, its BeforeCacheMiss() runs (with strict change
  // detection off the cursor takes the read lock there, which checks the
  // change counters). If it reports that another user changed the table,
  // FetchRecord answers nullptr: the caches have been dropped, no holder is
  // in use for this call, and the caller restarts its operation from its
  // saved position. Without a context FetchRecord never answers nullptr.
  //
  // readAhead asks for up to that many slots per read (capped at
  // RecordsPerRead): the consecutive record numbers the context plans to
  // visit next in its direction (PlanRecordRun), or else the neighbouring
  // slots in that direction. Reading forward the run starts at the record,
  // reading backward (ReadingBackward()) it ends at it. A run is read with
  // one read call; a short read is accepted while the table is open
  // exclusively, otherwise it raises "Error reading from table '%s'" unless
  // the slots not read are cached anyway.
  static constexpr unsigned kFetchNewSlot = 1;
  TRecord* FetchRecord(int32_t recordNumber, TReadContext* context = nullptr, int readAhead = 1,
                       unsigned flags = 0);
  void ReleaseRecord(TRecord* record);
  // The slot an insert fills: the head of the free chain when the table has
  // a primary index, else a new slot. nullptr only as FetchRecord answers it.
  TRecord* AllocateSlot(TReadContext* context = nullptr);
  void FreeSlot(TRecord* record);
  void InitImage(TRecord* record, bool newIdentifier);
  int32_t PhysicalRecordCount() const { return Header.NextRecordNumber - 1; }
  // Bytes of the file beyond the slots the header counts (negative when
  // the file is shorter).
  int64_t UncountedBytes() { return FileLength() - SlotPosition(Header.NextRecordNumber); }
  // Writes every modified holder that is not in use, in runs of consecutive
  // record numbers, one write call per run, and clears their modified flags.
  // A failed write leaves the holders of that run and later ones modified.
  void WriteBackRecords();
  // Cuts the cache back to its nominal capacity, returning the holders with
  // the highest record numbers (neither modified nor in use) to the pool.
  void TrimRecords();
  // Drops every cached holder (modifications are lost). Holders still in use
  // leave the cache and return to the pool when released.
  void DropRecords();
  // Cached holders, for tests and tools.
  size_t CachedRecordCount() const { return cache_.Size(); }
  bool IsRecordCached(int32_t recordNumber) const { return cache_.Peek(recordNumber) != nullptr; }
  // The cached image of a slot (no change to the recently-used order), or
  // nullptr.
  const uint8_t* PeekRecordImage(int32_t recordNumber) const {
    const TRecord* r = cache_.Peek(recordNumber);
    return r != nullptr ? r->Data() : nullptr;
  }

 private:
  // Read-ahead count and record cache capacity from the record size.
  void SizeCaches();
  // Stores password and description as the header keeps them: the password
  // cut to 15 and the description to 50 characters, both scrambled with the
  // text pair when the table is encrypted; no password otherwise.
  void SetStoredTexts(const std::string& password, const std::string& description);
  // The first slot and length of the run to read for a miss on recordNumber.
  void PlanRun(int32_t recordNumber, TReadContext* context, int readAhead, int32_t& first,
               int& count);
  // Reads the run and places its slots in the cache (see FetchRecord).
  void ReadRun(int32_t wanted, int32_t first, int count);
  // Reads the slots the context will visit next that are not cached, in
  // runs of consecutive numbers; they only take free room. Never raises.
  void Prefetch(int32_t recordNumber, TReadContext* context, int32_t first, int count);
  // Puts a slot image read from the file into the cache (see ReadRun).
  TRecord* PlaceSlot(int32_t number, uint8_t* image, bool mayWriteBack);
  // A cleared holder for recordNumber, inserted into the cache. Makes room
  // first when the cache is full: recycles the least recently used holder
  // that is neither modified nor in use; with mayWriteBack, writes back the
  // modified holders when there is none (a work table grows instead), and
  // raises "Data record buffers corrupt" when there is still none. Without
  // mayWriteBack answers nullptr when no room is free.
  TRecord* TakeHolder(int32_t recordNumber, bool mayWriteBack);
  bool HasPrimaryIndex();
  // Writes consecutive slots in one call and clears their modified flags.
  void WriteRun(const std::vector<TRecord*>& run);
  // Takes a holder out of the cache: back to the pool, or detached while in use.
  void Discard(TRecord* record);

  TDataTable& table_;
  TRecordStack pool_;
  THolderCache<TRecord> cache_{4};
  int nominalCapacity_ = 32767;
  int sizedFor_ = -1;  // record size the caches were sized for
};

}  // namespace tessel
