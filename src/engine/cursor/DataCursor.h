// The engine cursor: one reader/writer of one table. It holds the current
// index, the position (an ordinal with BOF/EOF crack flags), the current
// record image and the change counters it last saw, and coordinates the
// parts that stand on their own: the result set (key range, filters and
// their bitmaps), the key contexts and key searches of its indexes, and the
// record writer with its checks. All file work goes through the shared
// TDataTable.
//
// Contract for results:
// - Navigation reads return an engine code (tessel::ec): 0, 8705 (BOF),
//   8706 (EOF), 8709 (no current record), 8710 (record not found). These are
//   returned, never raised.
// - Everything else that fails raises ETesselEngineError with the table name
//   (and field/index name where it applies) as context.
// - Record buffers handed in or out are RecordSize() bytes laid out as a
//   record slot: deleted flag, link, record identifier, then the fields.
// - Field numbers are 1-based.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/cursor/RecordBitmap.h"
#include "engine/cursor/ResultSet.h"
#include "engine/storage/Formats.h"
#include "engine/storage/IndexTree.h"
#include "engine/storage/ReadContext.h"

namespace tessel {

class TDataDirectory;
class TDataSession;
class TDataTable;
class TFilter;
class TBlobHandles;
class TKeyContext;
class TKeyContexts;
class TKeySearch;
class TRecordWriter;

// Open modes of a BLOB buffer.
constexpr int kBlobOpenRead = 1;
constexpr int kBlobOpenReadWrite = 2;

// No ordering index selected (physical order).
constexpr uint8_t kNoIndex = 255;

// One index of the table as the record set's index definitions need it.
struct TCursorIndexInfo {
  int Number = 0;                  // 0 primary, 1-30 secondary
  std::string Name;                // empty for the primary index
  std::vector<uint16_t> FieldNumbers;
  bool Primary = false;
  bool Unique = false;
  bool Descending = false;
  bool CaseInsensitive = false;
};

class TDataCursor final : public TReadContext {
 public:
  explicit TDataCursor(TDataDirectory& directory);
  ~TDataCursor() override;  // closes (errors of the release are swallowed)
  TDataCursor(const TDataCursor&) = delete;
  TDataCursor& operator=(const TDataCursor&) = delete;

  // ---- state set before Open; each raises 10031 while the cursor is open ----
  // Trimmed, cut to 255 characters, extension forced to ".DAT" unless it
  // already has it (any case).
  void SetTableName(const std::string& name);
  void SetExclusive(bool on);
  void SetReadOnly(bool on);
  void SetInMemory(bool on);
  // Asked when the table is encrypted and the session holds no fitting
  // password; answers whether to look again. Not a property: may be set any time.
  void SetPasswordRequest(std::function<bool()> request);
  // Chooses the index the cursor stands on when it opens, instead of index
  // 0: called once the table's indexes are known (after the password
  // check), it answers an index name as SelectIndex takes it; an unknown
  // name raises 10022 and, like any exception of the chooser, fails the
  // open. The cursor then goes straight to the first record of that index,
  // with no detour through the record order of index 0. Not a property: may
  // be set any time, and is used by every later Open.
  void SetOpenIndexChooser(std::function<std::string(TDataCursor&)> chooser);

  const std::string& TableName() const { return tableName_; }
  bool Exclusive() const { return exclusive_; }
  bool ReadOnly() const { return readOnly_; }  // also true when the files are read-only
  bool InMemory() const { return inMemory_; }
  bool FilesReadOnly() const { return filesReadOnly_; }
  bool IsOpen() const { return open_; }
  TDataDirectory& Directory() const { return directory_; }
  TDataSession& Session() const;
  TDataTable* Table() const { return table_; }

  // ---- open / close ----
  // Acquires the table through the directory (11013 on an exclusive
  // conflict), checks the password (10498), copies descriptors, rebuilds
  // "Sys Deleted" after a re-created index file, selects index 0 and goes to
  // the first record. Already open: nothing. A failure leaves it closed.
  // Every operation hands the session's LockRetryCount, LockWaitTime and
  // StrictChangeDetection on to the shared table before it locks anything.
  void Open();
  // Drops filters, BLOB buffers, bitmaps, buffers and the table reference
  // (the release may raise). Closed: nothing.
  void Close();

  // ---- table description ----
  uint16_t FieldCount() const { return static_cast<uint16_t>(fields_.size()); }
  uint16_t RecordSize() const { return recordSize_; }
  const std::vector<TFieldDesc>& Fields() const { return fields_; }
  const TFieldDesc& Field(int fieldNumber) const;  // raises 9985 when out of range
  int FieldNumber(const std::string& name) const;  // case-insensitive, 0 when unknown
  bool HasPrimaryIndex() const;
  // The primary index (when there is one) and the secondary indexes, in
  // index-number order.
  std::vector<TCursorIndexInfo> Indexes() const;
  // The index for a ";"-separated field-name list: descending indexes never
  // chosen; first an exact field-list match, then one whose field list begins
  // with the given list. caseInsensitive, when given, must match too.
  // nullopt when none.
  std::optional<TCursorIndexInfo> FindIndexForFields(const std::string& fieldNames,
                                                     std::optional<bool> caseInsensitive = {}) const;

  // ---- index selection ----
  // Name compared case-insensitively ("" = primary). Unknown: 10022 (range
  // cancelled, previous index kept). Takes the read lock.
  void SelectIndex(const std::string& indexName);
  // By number (0..secondary count); kNoIndex selects physical order.
  void SelectIndexNumber(uint8_t number);
  uint8_t CurrentIndexNumber() const { return indexNumber_; }
  const std::string& CurrentIndexName() const { return indexName_; }
  std::vector<uint16_t> CurrentIndexFields() const;
  uint16_t KeyLength() const;
  bool IndexUnique() const;
  bool IndexDescending() const;
  bool IndexCaseInsensitive() const;
  bool PhysicalOrder() const;  // no ordering index
  bool BitmapMode() const { return results_.BitmapMode(); }

  // ---- navigation ----
  void GotoFirst();  // BOF crack (empty: BOF and EOF)
  void GotoLast();   // EOF crack
  // buffer may be null; receives the record image, or zeros at an end.
  uint16_t GetNext(uint8_t* buffer);
  uint16_t GetPrior(uint8_t* buffer);
  // lock: the edit's record lock is taken first and kept (until ModifyRecord
  // with unlock, or UnlockRecord). The record under the lock must equal the
  // one this cursor last read, else 8708 and nothing stays locked; a lock
  // held elsewhere raises 10258.
  uint16_t GetCurrent(uint8_t* buffer, bool lock = false);
  void MoveBy(int32_t count);
  void GotoRecordNumber(int32_t number);
  int32_t RecordNumber() const;  // 0 when there is no current record
  int32_t RecordCount() const;   // no lock, no change detection
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  // The physical record number of the current record (0 when none).
  int32_t PhysicalRecordNumber() const;

  // ---- bookmarks ----
  uint16_t BookmarkSize() const;
  void GetBookmark(uint8_t* destination) const;  // zeros when there is no entry
  std::vector<uint8_t> Bookmark() const;
  // loose: always true, returns to a crack the cursor stood on; strict: true
  // only when the position found has exactly this bookmark.
  bool GotoBookmark(const uint8_t* bookmark, bool loose);
  int CompareBookmarks(const uint8_t* a, const uint8_t* b) const;  // -1, 0, 1

  // ---- key searches and ranges ----
  // source: a record image (readyMade false) or a ready-made key of
  // KeyLength() bytes. fieldCount 0 = all index fields. partialLength: length
  // of a partial last string field (0 = none). nearest: accept the first
  // greater entry. buffer (may be null) receives the record image read.
  bool FindKey(const uint8_t* source, bool readyMade = false, int fieldCount = 0,
               int partialLength = 0, bool nearest = false, uint8_t* buffer = nullptr);
  // Search key with fillers as FindKey builds it (for tests and the record set).
  std::vector<uint8_t> BuildSearchKey(const uint8_t* source, bool readyMade, int fieldCount,
                                      int partialLength, bool high) const;
  // Index mode only (physical order: nothing). A null source leaves that
  // end open (start all 0x00, end all 0xFF).
  void SetRange(const uint8_t* startSource, int startFieldCount, const uint8_t* endSource,
                int endFieldCount, bool readyMade = false);
  void CancelRange();
  void ResetRange() { CancelRange(); }
  bool RangeActive() const { return results_.RangeActive(); }

  // ---- change detection and re-reading ----
  // Read lock + change check; on a change: Reposition + loose GotoBookmark.
  // Answers whether a change was seen. Pair with EndRead.
  bool SyncRead();
  void EndRead();
  // True when the table's change counters differ from the remembered ones
  // (remembers the new ones). Never true when exclusive or files read-only.
  bool CountersChanged();
  // Recomputes range ordinals and, in bitmap mode, the bitmaps.
  void Reposition();
  // Always re-computes positions and re-reads the current record.
  void Refresh();

  // ---- other cursors ----
  // A new open cursor on the same table with the same index, range, filters
  // and record. Raises on failure (nothing left behind).
  std::unique_ptr<TDataCursor> Clone();
  // Exact search for the other cursor's current record in this index:
  // 0 or 8710.
  uint16_t GotoSameRecord(TDataCursor& other);

  // ---- record images and fields ----
  void BlankRecord(uint8_t* buffer) const;  // RecordSize() zero bytes
  // Zeros plus the fields' default values (conversion errors raise).
  void InitRecord(uint8_t* buffer);
  // Is-null answer; destination (may be null) is zero-filled to the field's
  // size (4 for a BLOB) and receives the value in slot encoding.
  bool GetFieldValue(int fieldNumber, const uint8_t* image, uint8_t* destination) const;
  // value null = null; storing rules of the slot encodings.
  void PutFieldValue(int fieldNumber, uint8_t* image, const uint8_t* value) const;
  // The current record image as last read (RecordSize() bytes).
  const uint8_t* CurrentRecord() const;

  // ---- writes (each raises on failure; refusals change nothing) ----
  // Releases a record lock of this cursor: slot, or 0 for the current one (10242).
  void UnlockRecord(int32_t slot = 0);
  // 9732, 9730, 9731 naming the field.
  void CheckConstraints(const uint8_t* image);
  // 11013, 9732/9730/9731, 9729, 10258, 10249, 9479, 8965, file codes.
  void InsertRecord(uint8_t* image, bool reposition = true);
  // 11013, 8708, 9732/9730/9731, 9729, 8965, 8963, file codes. A failure keeps
  // the edit's record lock; unlock releases it after success.
  void ModifyRecord(uint8_t* image, bool unlock = true, bool reposition = true);
  // 11013, 8708, 10258, 8965, 8963, file codes.
  void DeleteRecord(bool reposition = true);

  // ---- bulk load ----
  // On a cursor open exclusively and writable, on a table with no record
  // slots (so every index is empty) whose unique indexes order keys by plain
  // bytes: the inserts that follow append their slots and BLOBs and keep
  // their keys in memory, checking unique keys there, and the index trees
  // are laid down in one pass from the sorted keys when the bulk load ends,
  // in sequential page runs. Answers false, changing nothing, when the table
  // does not qualify (the inserts then go on one by one) or a bulk load is
  // already on. While it is on, an insert does not place the cursor on the
  // new record, and RecordCount and the position stay as they were.
  bool BeginBulkLoad();
  // Builds the index trees and places the cursor before the first record.
  // Any operation of the cursor other than an insert or a BLOB buffer's
  // work ends the bulk load first, and Close does. A failure to build
  // (reading or writing pages) raises; bulk mode is over all the same, and
  // an index it could not complete stays empty for a structure check to
  // find and its repair to rebuild: the records are in their slots.
  void EndBulkLoad();
  bool BulkLoading() const;

  // ---- BLOBs (return codes; file-layer failures raise) ----
  // mode kBlobOpenRead or kBlobOpenReadWrite. Codes 10753 (not a BLOB field),
  // 9998 (foreign negative value), 9494 (more than 64 buffers).
  uint16_t OpenBlob(int fieldNumber, uint8_t* image, int mode = kBlobOpenRead);
  // Detaches the buffer; the field gets its stored reference back. 10753, 10030.
  uint16_t CloseBlob(int fieldNumber, uint8_t* image);
  // Reads up to count bytes at offset; 8711 when the read ran past the end
  // (bytesRead then holds what was copied).
  uint16_t ReadBlob(int fieldNumber, const uint8_t* image, uint32_t offset, uint32_t count,
                    void* destination, uint32_t* bytesRead);
  uint16_t WriteBlob(int fieldNumber, const uint8_t* image, uint32_t offset, uint32_t count,
                     const void* source);
  uint16_t TruncateBlob(int fieldNumber, const uint8_t* image, uint32_t length);
  uint16_t BlobSize(int fieldNumber, const uint8_t* image, uint32_t* size);
  // Detaches every BLOB buffer of this cursor.
  void CloseAllBlobs();

  // ---- filters ----
  // Attaches a filter (inactive), owned by the cursor; answers its handle.
  // 9482 beyond 256 filters.
  TFilter* AddFilter(std::unique_ptr<TFilter> filter);
  // Each raises 10050 for a filter not attached to this cursor. Activation
  // evaluates the filter over the table and switches to bitmap mode. The
  // cursor stays on its record when that is still in the record set (else
  // on the next one), as after a loose GotoBookmark.
  void ActivateFilter(TFilter* filter);
  void DeactivateFilter(TFilter* filter);
  void DropFilter(TFilter* filter);
  void DropAllFilters();
  bool Filtered() const;  // some filter active

  // ---- TReadContext (used by the table's caches) ----
  bool BeforeCacheMiss() override;
  int PlanRecordRun(int32_t first, int32_t* out, int max) override;
  bool ReadingBackward() const override { return backward_; }
  int PlanRecordPrefetch(int32_t first, int32_t* out, int max) override;
  int PlanBlockPrefetch(int32_t* out, int max) override;

  // Range ordinals and the ordinal of the position (for tests and tools).
  int32_t RangeFirst() const { return results_.RangeFirst(); }
  int32_t RangeLast() const { return results_.RangeLast(); }
  int32_t Ordinal() const { return ordinal_; }

 private:
  friend class TCursorFrame;
  friend class TBulkHold;

  // --- DataCursor.cpp ---
  void CheckClosed() const;
  void CheckOpen() const;
  [[noreturn]] void Raise(uint16_t code, const std::string& field = {},
                          const std::string& index = {}) const;
  void ApplySessionSettings();
  void CloseQuietly();
  void ResetState();
  const TKeyContext& KeyContext(int number);
  TIndexTree Tree(int number);
  TIndexTree CurrentTree() { return Tree(indexNumber_); }
  // Key search in the current (ordering) index.
  TKeySearch Search();
  void LoadIndex(uint8_t number);
  // The number of the index of this name (case-insensitive, "" = primary);
  // raises 10022 when there is none.
  uint8_t IndexNumberOf(const std::string& indexName) const;
  void UpdateMode();
  void RememberCounters();
  void ChangeSeen();  // Reposition + loose return to the saved bookmark
  bool BlobFieldNonEmpty(const TFieldDesc& field, const uint8_t* image) const;

  // --- CursorNavigation.cpp ---
  bool Empty() const { return bof_ && eof_; }
  void SetEmpty();
  void SetEntry(const TTreePosition& p);
  void TakeEntry(TIndexEntry&& entry);
  bool InResult(int32_t recordNumber) const { return results_.Contains(recordNumber); }
  // Index mode with a key range: the result is the range's part of the index.
  bool Ranged() const { return results_.RangeActive() && !PhysicalOrder(); }
  // Whether the cursor stands where the last GetNext/GetPrior step stopped.
  bool AtStepEnd() const;
  // Whether a GetNext/GetPrior step starts where the previous one stopped,
  // in the same direction.
  bool ContinuesWalk(bool forward) const;
  // Reads the record a GetNext/GetPrior step arrived at, counting the step
  // (continuing: see ContinuesWalk) and noting where it stopped.
  void ReadStepRecord(bool forward, bool continuing);
  // The records after the current one in the direction of travel, while
  // the cursor walks record by record (read-ahead plans).
  int UpcomingRecords(int32_t* out, int max);
  bool StepIndex(bool forward);
  bool StepPhysical(bool forward);
  bool Step(bool forward);
  bool FirstOfSet();   // on the first record of the record set; false when empty
  bool LastOfSet();    // on the last record of the record set; false when empty
  bool SettleForward();  // from an entry, forward to one in the result (index mode)
  void ReadAtPosition();
  void FetchImage(int32_t recordNumber, uint8_t* destination);
  uint16_t CopyOut(uint16_t code, uint8_t* buffer) const;
  void GotoFirstInternal();
  void GotoLastInternal();
  void MakePhysicalCurrent(int32_t recordNumber);
  // Exact: onto the entry whose first compareLength bytes equal key;
  // nearest: onto the first entry not below it (past the end: the last
  // record), answering whether those bytes are equal.
  bool SearchKey(const std::vector<uint8_t>& key, size_t compareLength, bool exact);
  void RecomputeRangeOrdinals();
  void BuildBitmaps(bool reevaluateFilters);
  void BuildAllRecordsBitmap();
  void EvaluateFilter(TFilter& filter);
  void Refind(const uint8_t* image);

  // --- CursorBookmarks.cpp ---
  bool GotoBookmarkInternal(const std::vector<uint8_t>& bookmark, bool loose);

  // --- CursorWrite.cpp ---
  void BeginUpdate();
  void EndUpdateQuietly();
  void LockSlot(int32_t slot);
  void UnlockSlotQuietly(int32_t slot);
  void CheckReadOnly() const;
  void UpdateBitsForRecord(int32_t slot, const uint8_t* image, bool present);
  void FlushAfterWrite(bool forceData, bool forceIndex);
  void RepositionAfterWrite(const uint8_t* image, bool keyWasFound);

  TDataDirectory& directory_;
  TDataTable* table_ = nullptr;
  std::string tableName_;
  std::function<bool()> passwordRequest_;
  std::function<std::string(TDataCursor&)> openIndexChooser_;
  bool open_ = false;
  bool exclusive_ = false;
  bool readOnly_ = false;
  bool requestedReadOnly_ = false;
  bool filesReadOnly_ = false;
  bool inMemory_ = false;
  uint16_t recordSize_ = 0;
  std::vector<TFieldDesc> fields_;
  int32_t counters_[3] = {0, 0, 0};
  std::vector<uint8_t> current_;
  std::vector<uint8_t> saved_;

  uint8_t indexNumber_ = kNoIndex;
  std::string indexName_;
  std::unique_ptr<TKeyContexts> keys_;
  TTreePosition pos_;            // index mode: the current leaf entry
  std::vector<uint8_t> key_;     // index mode: the key of that entry
  int32_t physical_ = 0;         // record number at the position
  int32_t ordinal_ = 0;
  bool bof_ = false;
  bool eof_ = false;
  bool backward_ = false;
  // Record-by-record walking: how many GetNext/GetPrior calls in a row went
  // on from where the previous one stopped, and where that was.
  int sequentialSteps_ = 0;
  bool stepForward_ = true;
  TTreePosition stepEnd_;
  int32_t stepEndPhysical_ = 0;
  bool walking_ = false;  // inside a step's read of its record

  TResultSet results_;

  std::unique_ptr<TBlobHandles> blobs_;
  std::unique_ptr<TRecordWriter> writer_;
  int32_t editLock_ = 0;  // slot whose record lock an edit holds (0: none)
  int frameDepth_ = 0;    // nesting of operation frames
  int bulkHold_ = 0;      // operations that keep a bulk load going
  bool inMissCheck_ = false;
  bool writing_ = false;        // inside a write (write lock held)
  bool changePending_ = false;  // a fetch saw another user's change
  const TRecordsBitmap* scanBits_ = nullptr;  // records a filter evaluation walks
};

}  // namespace tessel
