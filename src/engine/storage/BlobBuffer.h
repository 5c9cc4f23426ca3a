// One BLOB value being read or edited through a cursor: the value's bytes in
// memory, loaded from and stored back to its chain of blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessel {

class TDataTable;
class TReadContext;

class TBlobBuffer {
 public:
  // cursor may be nullptr (no change check before reading blocks).
  TBlobBuffer(TDataTable& table, TReadContext* cursor, int fieldNumber, int32_t recordNumber,
              int32_t firstBlock, int32_t blobId);

  TDataTable& Table() { return table_; }
  TReadContext* Cursor() const { return cursor_; }
  int FieldNumber() const { return fieldNumber_; }
  int32_t RecordNumber() const { return recordNumber_; }
  int32_t BlobId() const { return blobId_; }
  int32_t FirstBlock() const { return firstBlock_; }
  bool Modified() const { return modified_; }

  size_t Size() const { return data_.size(); }
  uint8_t* Data() { return data_.data(); }
  const uint8_t* Data() const { return data_.data(); }

  // Reads the value's chain into the buffer. The first block must carry the
  // buffer's identifier; a loop or a bad position raises "BLOB block buffers
  // corrupt", a chain that ends early "End of blob data ... reached
  // prematurely". When another user's change is noticed the load starts over.
  void Load();
  // Writes the buffer back as a chain under a new identifier (a size of 0
  // releases the value instead). The old blocks are reused in order, missing
  // ones allocated and the surplus freed.
  void Store();
  // Frees the value's chain (a first block with another owner is taken over
  // first); the buffer then names no block.
  void Release();
  // A new size: the bytes are kept as far as they reach, new ones are zero;
  // marks the buffer modified when the size changes.
  void SetSize(size_t newSize);
  // Marks the buffer as changed (its bytes were written).
  void MarkModified() { modified_ = true; }

 private:
  TDataTable& table_;
  TReadContext* cursor_;
  int fieldNumber_;
  int32_t recordNumber_;
  int32_t firstBlock_;
  int32_t blobId_;
  std::vector<uint8_t> data_;
  bool modified_ = false;
};

}  // namespace tessel
