// One open table: its three files, their headers, the open count shared by
// every cursor on the table, the locale and the character order table.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/BlobFile.h"
#include "engine/storage/DataFile.h"
#include "engine/storage/IndexFile.h"
#include "engine/storage/TableLocale.h"
#include "engine/storage/TableStructure.h"

namespace tessel {

struct TOpenSettings {
  bool Exclusive = false;
  bool ReadOnly = false;
  bool InMemory = false;
  bool Temporary = false;
  bool WriteThrough = false;  // the session's ForceBufferFlush
  // A work table of the query processor: its caches grow instead of failing
  // when every holder is taken.
  bool WorkTable = false;
  // The session's lock settings: retries and the wait between them for
  // record and all-records locks, and whether every cursor read takes the
  // read lock (on) or only reads that miss the caches (off).
  int LockRetryCount = 15;
  uint32_t LockWaitTime = 100;  // milliseconds
  bool StrictChangeDetection = false;
};

class TDataTable {
 public:
  // directory is kept with a trailing '/' (empty for an in-memory table);
  // tableName is the name as given (it is the name messages carry). The
  // files of a disk table are those of files (the operating system's when
  // null); an in-memory table's live in the process's in-memory store.
  TDataTable(std::string directory, std::string tableName, std::shared_ptr<TFileSystem> files = nullptr);
  ~TDataTable();
  TDataTable(const TDataTable&) = delete;
  TDataTable& operator=(const TDataTable&) = delete;

  // A file name formed from a table name: trimmed, its extension replaced by
  // ext unless it already equals ext (ignoring case), directory in front.
  static std::string FormFileName(const std::string& directory, const std::string& tableName,
                                  const std::string& ext);
  std::string DataFileName() const;
  std::string IndexFileName() const;
  std::string BlobFileName() const;

  const std::string& TableName() const { return tableName_; }
  const std::string& Directory() const { return directory_; }
  TFileSystem& FileSystem() const { return *files_; }

  TOpenSettings Settings;
  bool IsExclusive() const { return Settings.Exclusive; }
  bool IsReadOnly() const { return readOnly_; }
  bool IndexFileRecreated() const { return indexRecreated_; }
  int OpenCount() const { return openCount_; }
  bool IsOpen() const { return openCount_ > 0; }

  // Opens the three files and reads their headers (later opens only count).
  void OpenFiles();
  // Counts one open down; at zero writes back (when flush), releases locks
  // and caches and closes index, BLOB and data file.
  void CloseFiles(bool flush = true);
  void DeleteFiles();
  void RenameFiles(const std::string& newName);

  // The header checks the first opening cursor makes (see
  // TDataFile::ValidateHeader for forStructureCheck).
  void ValidateHeaders(bool forStructureCheck = false);
  // The repair after a re-created index file: no primary index, slot 0
  // cleared, and "Sys Deleted" rebuilt by inserting the system key of every
  // slot from 1 to next record number - 1, counting the active ones into the
  // active record count. The table then works in the order of "Sys Deleted"
  // with every active record. On a shared table the caller holds the write
  // lock; the repaired pages and header reach the file with the next
  // FlushTable (forced index header) or when the table is closed.
  void RepairRecreatedIndex();
  // The repair as an opener makes it: nothing when the index file was not
  // re-created; else, under the write lock of a shared table (unless
  // another user completed the repair meanwhile), RepairRecreatedIndex and,
  // on a writable table, the index pages and then the header written and
  // flushed at once, so that the file is whole before the table is used.
  // A read-only table repairs its index in its memory file only.
  void CompleteRecreatedIndex();
  // Whether h is the header of a re-created index file and nothing more:
  // no index definitions, no primary-index flag, "Sys Deleted" empty.
  static bool IsBareIndexHeader(const TIndexHeader& h);

  // Checks a structure in place (fills sizes, offsets, key lengths).
  static void CheckStructure(TTableStructure& structure, bool allowNoPrimary,
                             const std::string& tableName);
  // Creates the files of a checked structure; the table stays open.
  void CreateFiles(const TTableStructure& structure);
  // Empties data, indexes and BLOBs and drops the caches.
  void EmptyTable();

  // --- multi-user locks (byte-range locks at fixed positions) ---
  //
  // Read lock: one random byte 2147483647 - n (n from 1 to 65534) in the
  // index file and, when open, in the BLOB file. Nothing to do (answers no
  // change) while this table holds the read or the write lock, or is
  // exclusive or read-only. Answers DetectChanges(). A lock that cannot be
  // had raises "General lock failure with table '%s'" and leaves nothing
  // locked.
  bool BeginRead();
  void EndRead();
  // Write lock: data byte 2147483647, then the 65535 bytes at 2147418112 of
  // the index file and of the BLOB file (when open), which cover every
  // reader's byte. A read lock this table holds is given up first (the write
  // lock excludes readers, this table's own byte included). Answers
  // DetectChanges().
  bool BeginWrite();
  void EndWrite();
  // Record lock: data byte 2147483646 - r, LockRetryCount retries
  // LockWaitTime ms apart, then "Record in table '%s' is in use by another
  // user" (also when this table already holds it: one lock per record and
  // table). With strict change detection off the read lock is taken first
  // and its change result answered; with it on the record lock runs
  // DetectChanges() itself once held. Nothing to do while exclusive,
  // read-only or holding the all-records lock.
  bool LockRecord(int32_t recordNumber);
  void UnlockRecord(int32_t recordNumber);
  bool IsRecordLocked(int32_t recordNumber) const;
  // All-records lock: the 100000001 bytes at 2047483645 of the data file.
  // Fails with "The table '%s' is already locked by another user" while any
  // record lock is held. Answers DetectChanges().
  bool LockAllRecords();
  void UnlockAllRecords();

  bool HoldsReadLock() const { return readLocked_; }
  bool HoldsWriteLock() const { return writeLocked_; }
  bool HoldsAllRecordsLock() const { return allRecordsLocked_; }
  int RecordLocksHeld() const { return recordLockCount_; }

  // The read and write locks retry 8192 times, 3 ms apart.
  static constexpr int kLockRetries = 8192;
  static constexpr uint32_t kLockRetryWait = 3;
  // TEST ONLY: shortens the retries of the read and write locks so that a
  // test of a lock that cannot be had does not wait 25 seconds. Tests put
  // back kLockRetries and kLockRetryWait when done.
  static void SetLockRetryLimitsForTests(int retries, uint32_t waitMilliseconds);

  // Compares the change counters of the files with the headers in memory;
  // re-reads what another user changed and drops the caches it invalidates.
  // Answers whether anything changed.
  bool DetectChanges();
  // Whether another user wrote to the table since this table last took in
  // changes: the change counters at the start of the files (index file,
  // data file, BLOB file when open, stopping at the first that differs)
  // against the headers in memory. It takes no lock and neither re-reads
  // nor drops anything, so a program may ask as often as it likes; a
  // counter read while a writer is at work may answer true early, never
  // falsely false once the writer is done. An exclusive table and a table
  // whose files are closed answer false.
  bool ChangedElsewhere();
  // How many times DetectChanges took in another user's changes since this
  // table object was made; a viewer that remembers it learns of changes
  // that one of its own reads took in before it asked ChangedElsewhere.
  uint64_t ChangesTakenIn() const { return changesTakenIn_; }

  // Writes back records, data header (when modified or forceData), field
  // descriptors, index pages, index header (when modified or forceIndex),
  // BLOB blocks and BLOB header (when modified or forceData); trims the
  // caches to their nominal capacities when asked.
  void FlushTable(bool trim, bool forceData, bool forceIndex);
  // Drops every cached record, page and block (modifications are lost),
  // optionally trims the caches and reads all headers again.
  void DropCaches(bool trim, bool rereadHeaders);

  // The table password in clear text (empty when not encrypted).
  std::string Password() const;
  bool IsEncrypted() const { return data_.Header.Encrypted != 0; }
  // The description in clear text.
  std::string Description() const;
  // Reads the password straight from a data file that is not open (on files,
  // the operating system's when null).
  static std::string ReadPasswordFromFile(const std::string& dataFileName, TFileSystem* files = nullptr);

  const TTableLocale& Locale() const { return *locale_; }
  const std::array<uint8_t, 256>& CharacterOrder() const { return charOrder_; }

  TDataFile& Data() { return data_; }
  TIndexFile& Index() { return index_; }
  TBlobFile& Blob() { return blob_; }
  const TDataFile& Data() const { return data_; }
  const TIndexFile& Index() const { return index_; }
  const TBlobFile& Blob() const { return blob_; }
  bool HasBlobFile() const { return blob_.IsOpen(); }

 private:
  void ApplySettings(TFileHandler& file, const std::string& name);
  // Creates the index file with a header of no indexes and marks it
  // re-created; inMemory lays it down in the memory file store instead.
  void LayDownIndexFile(bool inMemory);
  // FlushTable's writes, without the flush of a write-through table.
  void FlushTableFiles(bool trim, bool forceData, bool forceIndex);
  void BuildLocale();
  void CloseAll();
  // Releases every lock held, in the order all-records, record locks, read,
  // write; never raises.
  void ReleaseLocks();
  void SetRecordLockBit(int32_t recordNumber, bool held);

  std::string directory_;
  std::string tableName_;
  std::shared_ptr<TFileSystem> files_;
  TDataFile data_;
  TIndexFile index_;
  TBlobFile blob_;
  int openCount_ = 0;
  bool readOnly_ = false;
  bool indexRecreated_ = false;
  std::unique_ptr<TTableLocale> locale_;
  std::array<uint8_t, 256> charOrder_{};

  // Lock state.
  bool readLocked_ = false;
  bool writeLocked_ = false;
  bool allRecordsLocked_ = false;
  bool blobWriteLocked_ = false;
  int64_t indexReaderByte_ = 0;  // positions of this table's reader bytes
  int64_t blobReaderByte_ = 0;   // 0 when none
  std::vector<uint64_t> recordLockBits_;  // bit r: record r locked by this table
  int recordLockCount_ = 0;
  uint64_t changesTakenIn_ = 0;
};

}  // namespace tessel
