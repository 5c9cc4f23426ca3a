// The record writer of a cursor: new record images with their defaults, the
// constraint checks, and the changes an insert, an update and a delete make
// to the table (index entries, "Sys Deleted", the record slot, the active
// record count, the record's BLOBs).
//
// Each write comes in two steps. The first (PrepareInsert, PrepareModify)
// makes every check that can refuse the write and changes nothing; the
// second makes the changes. The cursor coordinates around them: the write
// lock, the record locks, the write-back, and placing itself again.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/storage/Formats.h"

namespace tessel {

class TBlobHandles;
class TBulkKeys;
class TDataCursor;
class TKeyContexts;

// The keys an update changes: for every index the write keeps in step, the
// record's key before and after.
struct TKeyChanges {
  std::vector<int> Indexes;
  std::vector<std::vector<uint8_t>> Before;
  std::vector<std::vector<uint8_t>> After;
};

class TRecordWriter {
 public:
  // Writes for cursor (its table, fields and field access; its record
  // fetches count as its reads) through its key contexts and BLOB buffers.
  TRecordWriter(TDataCursor& cursor, TKeyContexts& keys, TBlobHandles& blobs);
  ~TRecordWriter();
  TRecordWriter(const TRecordWriter&) = delete;
  TRecordWriter& operator=(const TRecordWriter&) = delete;

  // Zeros plus the fields' default values; a default that is no value of
  // its field raises EConvertError.
  void InitRecord(uint8_t* image) const;
  // Required fields not null (9732), values not below their minimum (9730)
  // nor above their maximum (9731), naming the field.
  void CheckConstraints(const uint8_t* image) const;
  bool HasConstraints() const { return hasConstraints_; }

  // The slot an insert will take, found without changing anything: the head
  // of the free chain when the table has a primary index and that slot is
  // deleted, else the next new slot. A fetch that gave up raises
  // TCursorRestart.
  int32_t PeekInsertSlot();
  // The checks of an insert: constraints, the new record identifier (the
  // last one plus 1, written into image), no unique key already present
  // (9729 naming the index).
  void PrepareInsert(uint8_t* image);
  // Inserts image (prepared) into slot: keys, "Sys Deleted", the slot
  // (reused when deleted), the active record count, its BLOBs. written
  // receives the record as the slot holds it.
  void Insert(const uint8_t* image, int32_t slot, uint8_t* written);

  // The checks of an update of current (the record as last read) to image:
  // constraints, the record identifier kept (written into image), no
  // changed unique key already present (9729). Answers the key changes.
  TKeyChanges PrepareModify(uint8_t* image, const uint8_t* current);
  // Moves the changed keys (8965 naming the index when an old key is
  // missing), takes image's fields into current, posts its BLOBs and writes
  // slot. Answers whether any key changed.
  bool Modify(const TKeyChanges& keys, const uint8_t* image, uint8_t* current, int32_t slot);

  // Deletes record (the slot's image as last read) from slot: its keys
  // (8965 when one is missing), "Sys Deleted" marked deleted, the active
  // record count, its BLOBs, the slot freed. current receives the slot as
  // freed.
  void Delete(const uint8_t* record, int32_t slot, uint8_t* current);

  // Bulk load (see TDataCursor::BeginBulkLoad): whether the table can take
  // one now: no record slots, every index empty, and the unique indexes
  // ordered by plain bytes (so that equal keys are equal bytes).
  bool CanBulkLoad() const;
  // From now on an insert keeps its keys in memory instead of the trees.
  void BeginBulk();
  bool Bulk() const { return bulk_ != nullptr; }
  // Lays down every tree from the kept keys; bulk mode ends also when that
  // fails.
  void EndBulk();

 private:
  // The indexes a write keeps in step: the primary index when the table has
  // one, then the secondary indexes in number order.
  std::vector<int> WrittenIndexes() const;

  TDataCursor& cursor_;
  TKeyContexts& keys_;
  TBlobHandles& blobs_;
  bool hasConstraints_ = false;
  bool hasDefaults_ = false;
  std::unique_ptr<TBulkKeys> bulk_;
};

}  // namespace tessel
