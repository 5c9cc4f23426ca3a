#include "engine/storage/BlobHandles.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/Record.h"

namespace tessel {

namespace {

// A BLOB field's area in a row: null indicator, first block position, identifier.
constexpr int kPositionOffset = 1;
constexpr int kIdentifierOffset = 5;
constexpr int64_t kMaxBlobLength = INT32_MAX;

int32_t HandleOf(size_t index) { return -static_cast<int32_t>(index + 1); }

int32_t StoredPosition(const TFieldDesc& field, const uint8_t* row) {
  return GetI32(row + field.RecordOffset + kPositionOffset);
}

}  // namespace

TBlobHandles::TBlobHandles(TDataTable& table, TReadContext* cursor) : table_(table), cursor_(cursor) {}

TBlobHandles::~TBlobHandles() = default;

TBlobBuffer* TBlobHandles::Buffer(int32_t handle) {
  if (handle >= 0 || handle < -kMaxOpenBlobs) return nullptr;
  return buffers_[static_cast<size_t>(-handle - 1)].get();
}

const TBlobBuffer* TBlobHandles::Buffer(int32_t handle) const {
  return const_cast<TBlobHandles*>(this)->Buffer(handle);
}

int TBlobHandles::OpenCount() const {
  return static_cast<int>(std::count_if(buffers_.begin(), buffers_.end(), [](const auto& b) { return b != nullptr; }));
}

void TBlobHandles::CloseAll() {
  for (auto& buffer : buffers_) buffer.reset();
}

uint16_t TBlobHandles::Fail(uint16_t code, const std::string& fieldName) {
  ErrorContext::Set(code, table_.TableName(), fieldName);
  return code;
}

const TFieldDesc* TBlobHandles::BlobField(int fieldNumber) {
  const std::vector<TFieldDesc>& fields = table_.Data().Fields;
  if (fieldNumber < 1 || static_cast<size_t>(fieldNumber) > fields.size()) {
    Fail(ec::InvalidBlobField, std::to_string(fieldNumber));
    return nullptr;
  }
  const TFieldDesc& field = fields[static_cast<size_t>(fieldNumber - 1)];
  if (field.Type != ftBlob) {
    Fail(ec::InvalidBlobField, field.Name);
    return nullptr;
  }
  return &field;
}

TBlobBuffer* TBlobHandles::HandleBuffer(const TFieldDesc& field, const uint8_t* row) {
  TBlobBuffer* buffer = Buffer(StoredPosition(field, row));
  if (buffer == nullptr) Fail(ec::InvalidBlobHandle);
  return buffer;
}

void TBlobHandles::SetNullIndicator(const TFieldDesc& field, uint8_t* row, bool hasValue) {
  row[field.RecordOffset] = hasValue ? 1 : 0;
}

uint16_t TBlobHandles::OpenBlob(int fieldNumber, uint8_t* row, int mode) {
  (void)mode;  // reading and writing go through the same buffer
  const TFieldDesc* field = BlobField(fieldNumber);
  if (field == nullptr) return ec::InvalidBlobField;
  const int32_t position = StoredPosition(*field, row);
  if (position < 0) return IsHandle(position) ? ec::OK : Fail(ec::InvalidBlobOffset);

  auto free = std::find(buffers_.begin(), buffers_.end(), nullptr);
  if (free == buffers_.end()) return Fail(ec::TooManyBlobs);
  const int32_t blobId = GetI32(row + field->RecordOffset + kIdentifierOffset);
  // An active row carries its own record number in its link.
  const int32_t recordNumber = GetI32(row + kSlotLinkOffset);
  auto buffer = std::make_unique<TBlobBuffer>(table_, cursor_, fieldNumber, recordNumber, position, blobId);
  if (position != 0) buffer->Load();

  const size_t index = static_cast<size_t>(free - buffers_.begin());
  PutI32(row + field->RecordOffset + kPositionOffset, HandleOf(index));
  SetNullIndicator(*field, row, buffer->Size() > 0);
  *free = std::move(buffer);
  return ec::OK;
}

uint16_t TBlobHandles::CloseBlob(int fieldNumber, uint8_t* row) {
  const TFieldDesc* field = BlobField(fieldNumber);
  if (field == nullptr) return ec::InvalidBlobField;
  const int32_t handle = StoredPosition(*field, row);
  TBlobBuffer* buffer = HandleBuffer(*field, row);
  if (buffer == nullptr) return ec::InvalidBlobHandle;
  PutI32(row + field->RecordOffset + kPositionOffset, buffer->FirstBlock());
  PutI32(row + field->RecordOffset + kIdentifierOffset, buffer->BlobId());
  SetNullIndicator(*field, row, buffer->FirstBlock() != 0);
  buffers_[static_cast<size_t>(-handle - 1)].reset();
  return ec::OK;
}

TBlobReadResult TBlobHandles::ReadBlob(int fieldNumber, const uint8_t* row, int64_t offset, int64_t count,
                                       void* destination) {
  TBlobReadResult result;
  const TFieldDesc* field = BlobField(fieldNumber);
  if (field == nullptr) {
    result.Code = ec::InvalidBlobField;
    return result;
  }
  TBlobBuffer* buffer = HandleBuffer(*field, row);
  if (buffer == nullptr) {
    result.Code = ec::InvalidBlobHandle;
    return result;
  }
  if (offset < 0 || count < 0) {
    result.Code = Fail(ec::InvalidBlobOffset);
    return result;
  }
  const int64_t size = static_cast<int64_t>(buffer->Size());
  int64_t n = count;
  if (offset > size || count > size - offset) {
    n = std::max<int64_t>(size - offset, 0);
    result.Code = Fail(ec::EndOfBlob);
  }
  if (n > 0) std::memcpy(destination, buffer->Data() + offset, static_cast<size_t>(n));
  result.BytesRead = static_cast<size_t>(n);
  return result;
}

uint16_t TBlobHandles::WriteBlob(int fieldNumber, uint8_t* row, int64_t offset, int64_t count,
                                 const void* source) {
  const TFieldDesc* field = BlobField(fieldNumber);
  if (field == nullptr) return ec::InvalidBlobField;
  TBlobBuffer* buffer = HandleBuffer(*field, row);
  if (buffer == nullptr) return ec::InvalidBlobHandle;
  if (offset < 0 || count < 0) return Fail(ec::InvalidBlobOffset);
  // The first block keeps the length as a 32-bit number.
  if (offset > kMaxBlobLength || count > kMaxBlobLength - offset) return Fail(ec::InvalidBlobLength);
  if (count == 0) return ec::OK;
  const size_t end = static_cast<size_t>(offset + count);
  if (end > buffer->Size()) buffer->SetSize(end);
  std::memcpy(buffer->Data() + offset, source, static_cast<size_t>(count));
  // Bytes overwritten inside the old length are a change as well.
  buffer->MarkModified();
  SetNullIndicator(*field, row, buffer->Size() > 0);
  return ec::OK;
}

uint16_t TBlobHandles::TruncateBlob(int fieldNumber, uint8_t* row, int64_t newLength) {
  const TFieldDesc* field = BlobField(fieldNumber);
  if (field == nullptr) return ec::InvalidBlobField;
  TBlobBuffer* buffer = HandleBuffer(*field, row);
  if (buffer == nullptr) return ec::InvalidBlobHandle;
  if (newLength < 0) return Fail(ec::InvalidBlobOffset);
  if (newLength > kMaxBlobLength) return Fail(ec::InvalidBlobLength);
  buffer->SetSize(static_cast<size_t>(newLength));
  SetNullIndicator(*field, row, buffer->Size() > 0);
  return ec::OK;
}

TBlobSizeResult TBlobHandles::BlobSize(int fieldNumber, const uint8_t* row) {
  TBlobSizeResult result;
  const TFieldDesc* field = BlobField(fieldNumber);
  if (field == nullptr) {
    result.Code = ec::InvalidBlobField;
    return result;
  }
  TBlobBuffer* buffer = HandleBuffer(*field, row);
  if (buffer == nullptr) {
    result.Code = ec::InvalidBlobHandle;
    return result;
  }
  result.Size = buffer->Size();
  return result;
}

void TBlobHandles::PostBlobs(uint8_t* image) {
  std::vector<std::pair<int32_t, TBlobBuffer*>> open;
  for (size_t i = 0; i < buffers_.size(); ++i)
    if (buffers_[i] != nullptr) open.emplace_back(HandleOf(i), buffers_[i].get());
  std::stable_sort(open.begin(), open.end(),
                   [](const auto& a, const auto& b) { return a.second->FieldNumber() < b.second->FieldNumber(); });

  // Every buffer written to must belong to the same row.
  const TBlobBuffer* firstModified = nullptr;
  for (const auto& [handle, buffer] : open) {
    if (!buffer->Modified()) continue;
    if (firstModified == nullptr) firstModified = buffer;
    else if (buffer->RecordNumber() != firstModified->RecordNumber())
      RaiseEngineError(ec::BlobBuffersCorrupt, table_.TableName());
  }

  for (const auto& [handle, buffer] : open) {
    if (!buffer->Modified()) continue;
    if (buffer->Size() == 0) buffer->Release();
    else buffer->Store();
  }

  const std::vector<TFieldDesc>& fields = table_.Data().Fields;
  for (const auto& [handle, buffer] : open) {
    const TFieldDesc& field = fields[static_cast<size_t>(buffer->FieldNumber() - 1)];
    // A field that names another open buffer of this cursor is that buffer's.
    const int32_t current = StoredPosition(field, image);
    if (current < 0 && current != handle && IsHandle(current)) continue;
    PutI32(image + field.RecordOffset + kPositionOffset, buffer->FirstBlock());
    PutI32(image + field.RecordOffset + kIdentifierOffset, buffer->BlobId());
    SetNullIndicator(field, image, buffer->FirstBlock() != 0);
  }
}

void TBlobHandles::ReleaseRowBlobs(uint8_t* image) {
  for (const TFieldDesc& field : table_.Data().Fields) {
    if (field.Type != ftBlob) continue;
    int32_t position = StoredPosition(field, image);
    if (position < 0) {
      TBlobBuffer* buffer = Buffer(position);
      if (buffer == nullptr) continue;
      buffer->SetSize(0);
      buffer->Release();
      continue;
    }
    if (position == 0) continue;
    const int32_t blobId = GetI32(image + field.RecordOffset + kIdentifierOffset);
    table_.Blob().FreeChain(cursor_, false, true, blobId, position);
    PutI32(image + field.RecordOffset + kPositionOffset, 0);
    PutI32(image + field.RecordOffset + kIdentifierOffset, 0);
    SetNullIndicator(field, image, false);
  }
}

}  // namespace tessel
