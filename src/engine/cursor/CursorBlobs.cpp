// The cursor's BLOB calls: its buffers (TBlobHandles) inside the cursor's
// operation frame, so that a change check while blocks are read repositions
// the cursor, and so that strict change detection takes the read lock.
#include "engine/base/TesselError.h"
#include "engine/cursor/CursorFrame.h"
#include "engine/cursor/DataCursor.h"
#include "engine/storage/BlobHandles.h"

namespace tessel {

uint16_t TDataCursor::OpenBlob(int fieldNumber, uint8_t* image, int mode) {
  CheckOpen();
  // A BLOB buffer filled for an insert belongs to a bulk load.
  const TBulkHold hold(*this);
  return TCursorFrame::Run(*this, [&] { return blobs_->OpenBlob(fieldNumber, image, mode); });
}

uint16_t TDataCursor::CloseBlob(int fieldNumber, uint8_t* image) {
  CheckOpen();
  return blobs_->CloseBlob(fieldNumber, image);
}

uint16_t TDataCursor::ReadBlob(int fieldNumber, const uint8_t* image, uint32_t offset, uint32_t count,
                               void* destination, uint32_t* bytesRead) {
  CheckOpen();
  const TBulkHold hold(*this);
  const TBlobReadResult result = TCursorFrame::Run(*this, [&] {
    return blobs_->ReadBlob(fieldNumber, image, offset, count, destination);
  });
  if (bytesRead != nullptr) *bytesRead = static_cast<uint32_t>(result.BytesRead);
  return result.Code;
}

uint16_t TDataCursor::WriteBlob(int fieldNumber, const uint8_t* image, uint32_t offset, uint32_t count,
                                const void* source) {
  CheckOpen();
  // The row is not changed by a write: its field holds the buffer's handle.
  return blobs_->WriteBlob(fieldNumber, const_cast<uint8_t*>(image), offset, count, source);
}

uint16_t TDataCursor::TruncateBlob(int fieldNumber, const uint8_t* image, uint32_t length) {
  CheckOpen();
  return blobs_->TruncateBlob(fieldNumber, const_cast<uint8_t*>(image), length);
}

uint16_t TDataCursor::BlobSize(int fieldNumber, const uint8_t* image, uint32_t* size) {
  CheckOpen();
  const TBlobSizeResult result = blobs_->BlobSize(fieldNumber, image);
  if (size != nullptr) *size = static_cast<uint32_t>(result.Size);
  return result.Code;
}

void TDataCursor::CloseAllBlobs() {
  if (blobs_) blobs_->CloseAll();
}

}  // namespace tessel
