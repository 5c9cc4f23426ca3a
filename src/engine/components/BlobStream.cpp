#include "engine/components/BlobStream.h"

#include <algorithm>
#include <limits>

#include "dataset/DataSetMessages.h"
#include "engine/base/TesselError.h"
#include "engine/components/TesselDataSet.h"

namespace tessel {

using namespace dataset;

namespace {
// The cursor's BLOB calls take 32-bit offsets and counts.
constexpr int64_t kMaxChunk = int64_t{1} << 30;
constexpr int64_t kMaxOffset = std::numeric_limits<uint32_t>::max();
}  // namespace

TTesselBlobStream::TTesselBlobStream(TTesselDataSet& dataSet, TBlobField& field, TBlobStreamMode mode)
    : dataSet_(dataSet), field_(field), fieldNo_(field.FieldNo()) {
  row_ = dataSet.StateRow();
  if (row_ == nullptr || dataSet.cursor_ == nullptr) return;
  if (!field.Modified()) {
    if (mode != bmRead) {
      if (field.ReadOnly()) DatabaseErrorFmt(msg::FieldReadOnly, {field.DisplayName()});
      const TDataSetState state = dataSet.State();
      if (state != dsEdit && state != dsInsert) DatabaseError(msg::NotEditing);
    }
    const uint16_t code =
        dataSet.cursor_->OpenBlob(fieldNo_, row_, mode == bmRead ? kBlobOpenRead : kBlobOpenReadWrite);
    if (code != ec::OK) dataSet.RaiseCode(code);
  }
  opened_ = true;
  if (mode == bmWrite) Truncate();
}

TTesselBlobStream::~TTesselBlobStream() {
  if (opened_) {
    if (modified_) field_.SetModified(true);
    if (!field_.Modified() && dataSet_.cursor_ != nullptr && dataSet_.cursor_->IsOpen()) {
      dataSet_.cursor_->CloseBlob(fieldNo_, row_);
    }
  }
  if (modified_) {
    try {
      dataSet_.DataEvent(deFieldChange, reinterpret_cast<intptr_t>(&field_));
    } catch (...) {
      ApplicationHandleException(std::current_exception());
    }
  }
}

int64_t TTesselBlobStream::Read(void* buffer, int64_t count) {
  if (!opened_ || count <= 0 || position_ < 0 || position_ > kMaxOffset) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t total = 0;
  while (count > 0) {
    const int64_t chunk = std::min(count, kMaxChunk);
    uint32_t read = 0;
    const uint16_t code = dataSet_.cursor_->ReadBlob(fieldNo_, row_, static_cast<uint32_t>(position_),
                                                     static_cast<uint32_t>(chunk), out + total, &read);
    if (code == ec::InvalidBlobOffset) return total;
    if (code != ec::OK && code != ec::EndOfBlob) dataSet_.RaiseCode(code);
    position_ += read;
    total += read;
    count -= read;
    if (code == ec::EndOfBlob || read < chunk) break;
  }
  return total;
}

int64_t TTesselBlobStream::Write(const void* buffer, int64_t count) {
  if (!opened_ || count <= 0) return 0;
  if (position_ < 0 || position_ + count > kMaxOffset) RaiseEngineError(ec::InvalidBlobLength, dataSet_.cursor_->TableName());
  const auto* in = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t chunk = std::min(count - done, kMaxChunk);
    const uint16_t code = dataSet_.cursor_->WriteBlob(fieldNo_, row_, static_cast<uint32_t>(position_ + done),
                                                      static_cast<uint32_t>(chunk), in + done);
    if (code != ec::OK) dataSet_.RaiseCode(code);
    done += chunk;
  }
  position_ += count;
  modified_ = true;
  return count;
}

int64_t TTesselBlobStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case soBeginning: position_ = offset; break;
    case soCurrent: position_ += offset; break;
    case soEnd: {
      uint32_t size = 0;
      if (opened_) {
        const uint16_t code = dataSet_.cursor_->BlobSize(fieldNo_, row_, &size);
        if (code != ec::OK) dataSet_.RaiseCode(code);
      }
      position_ = static_cast<int64_t>(size) + offset;
      break;
    }
  }
  return position_;
}

void TTesselBlobStream::Truncate() {
  if (!opened_) return;
  const int64_t length = std::clamp<int64_t>(position_, 0, kMaxOffset);
  const uint16_t code = dataSet_.cursor_->TruncateBlob(fieldNo_, row_, static_cast<uint32_t>(length));
  if (code != ec::OK) dataSet_.RaiseCode(code);
  modified_ = true;
}

}  // namespace tessel
