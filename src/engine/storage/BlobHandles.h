// A cursor's open BLOB buffers and the cursor-level BLOB calls. While a
// buffer is open, its BLOB field in the row buffer holds the buffer's handle
// as a negative number instead of the first block position.
//
// The calls return an engine code (0 on success) and leave the error context
// filled for it, so that the caller can raise it as it is. Failures of the
// file or of the block chains themselves are raised.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/storage/BlobBuffer.h"

namespace tessel {

class TDataTable;
class TReadContext;
struct TFieldDesc;

// The result of ReadBlob: the code (0, or 8711 when the value ended before
// count bytes) and the bytes copied.
struct TBlobReadResult {
  uint16_t Code = 0;
  size_t BytesRead = 0;
};

struct TBlobSizeResult {
  uint16_t Code = 0;
  size_t Size = 0;
};

class TBlobHandles {
 public:
  static constexpr int kMaxOpenBlobs = 64;

  // cursor is the owning cursor's change check (may be nullptr).
  TBlobHandles(TDataTable& table, TReadContext* cursor);
  ~TBlobHandles();
  TBlobHandles(const TBlobHandles&) = delete;
  TBlobHandles& operator=(const TBlobHandles&) = delete;

  // Opens a buffer on the BLOB field of row (mode 1 read, 2 read-write; both
  // behave alike here): loads the value and puts the handle into the field.
  // Nothing happens when the field already holds a handle of this cursor.
  uint16_t OpenBlob(int fieldNumber, uint8_t* row, int mode = 2);
  // Discards the buffer; the field gets back the buffer's first block
  // position and identifier.
  uint16_t CloseBlob(int fieldNumber, uint8_t* row);
  // Copies count bytes from offset on. When the value ends before that, the
  // bytes up to its end are copied and the result says 8711.
  TBlobReadResult ReadBlob(int fieldNumber, const uint8_t* row, int64_t offset, int64_t count,
                           void* destination);
  // Copies count bytes to offset on, growing the value as needed.
  uint16_t WriteBlob(int fieldNumber, uint8_t* row, int64_t offset, int64_t count, const void* source);
  // Gives the value a new length (growing it with zero bytes).
  uint16_t TruncateBlob(int fieldNumber, uint8_t* row, int64_t newLength);
  TBlobSizeResult BlobSize(int fieldNumber, const uint8_t* row);

  // Writes the BLOBs of a row being posted into image (the slot image the
  // post writes): every modified buffer is stored (or released when empty)
  // in field order under a new identifier; all of them must belong to one
  // record number, else "BLOB block buffers corrupt". Then every open
  // buffer's field in image gets the buffer's first block position and
  // identifier. The buffers stay open.
  void PostBlobs(uint8_t* image);
  // Frees the chains of every BLOB field that image names by a stored
  // position (a deleted row's values) and clears those fields.
  void ReleaseRowBlobs(uint8_t* image);

  // The open buffer a handle names, nullptr when none.
  TBlobBuffer* Buffer(int32_t handle);
  const TBlobBuffer* Buffer(int32_t handle) const;
  bool IsHandle(int32_t value) const { return Buffer(value) != nullptr; }
  int OpenCount() const;
  // Discards every buffer (the cursor closes).
  void CloseAll();

 private:
  // The BLOB field's descriptor, or nullptr after setting the error context
  // for "Invalid blob field".
  const TFieldDesc* BlobField(int fieldNumber);
  // The buffer whose handle the field holds, or nullptr after setting the
  // error context for "Invalid blob handle".
  TBlobBuffer* HandleBuffer(const TFieldDesc& field, const uint8_t* row);
  uint16_t Fail(uint16_t code, const std::string& fieldName = {});
  void SetNullIndicator(const TFieldDesc& field, uint8_t* row, bool hasValue);

  TDataTable& table_;
  TReadContext* cursor_;
  std::array<std::unique_ptr<TBlobBuffer>, kMaxOpenBlobs> buffers_;  // handle -(i + 1)
};

}  // namespace tessel
