#include "engine/storage/Record.h"

#include <algorithm>
#include <cstring>

#include "engine/base/Bytes.h"

namespace tessel {

namespace {

// The buffer size for a slot: record size rounded up to whole 510-byte steps,
// at least one step so that the slot's fixed part always fits.
size_t BufferSizeFor(int recordSize) {
  const size_t size = recordSize > 0 ? static_cast<size_t>(recordSize) : 0;
  const size_t steps = std::max<size_t>(1, (size + kRecordBufferStep - 1) / kRecordBufferStep);
  return steps * kRecordBufferStep;
}

}  // namespace

void TRecord::Reset(int32_t recordNumber, int recordSize) {
  RecordNumber = recordNumber;
  const size_t needed = BufferSizeFor(recordSize);
  if (Image.size() < needed) Image.resize(needed);
  std::fill(Image.begin(), Image.end(), uint8_t{0});
}

bool TRecord::IsDeleted() const { return Image[kSlotDeletedOffset] != 0; }

void TRecord::SetDeleted(bool deleted) { Image[kSlotDeletedOffset] = deleted ? 1 : 0; }

int32_t TRecord::NextFree() const { return IsDeleted() ? Link() : 0; }

int32_t TRecord::Link() const { return GetI32(Image.data() + kSlotLinkOffset); }

void TRecord::SetLink(int32_t link) { PutI32(Image.data() + kSlotLinkOffset, link); }

int32_t TRecord::RecordId() const { return GetI32(Image.data() + kSlotRecordIdOffset); }

void TRecord::SetRecordId(int32_t id) { PutI32(Image.data() + kSlotRecordIdOffset, id); }

bool TRecord::SameImage(const TRecord& other, int recordSize) const {
  if (IsDeleted() != other.IsDeleted()) return false;
  const size_t size = recordSize > 0 ? static_cast<size_t>(recordSize) : 0;
  // A holder too small for the record size cannot hold the same slot.
  if (Image.size() < size || other.Image.size() < size) return false;
  return std::memcmp(Image.data(), other.Image.data(), size) == 0;
}

void TRecord::CopyFrom(const TRecord& other, int recordSize) {
  if (&other == this) return;
  const size_t needed = BufferSizeFor(recordSize);
  if (Image.size() < needed) Image.resize(needed, 0);
  RecordNumber = other.RecordNumber;
  Modified = other.Modified;
  const size_t size = recordSize > 0 ? static_cast<size_t>(recordSize) : 0;
  const size_t count = std::min({size, Image.size(), other.Image.size()});
  std::memcpy(Image.data(), other.Image.data(), count);
}

void TRecord::CopyFields(const uint8_t* image, int recordSize) {
  if (recordSize <= kSlotFieldsOffset) return;
  const size_t needed = BufferSizeFor(recordSize);
  if (Image.size() < needed) Image.resize(needed, 0);
  std::memcpy(Image.data() + kSlotFieldsOffset, image + kSlotFieldsOffset,
              static_cast<size_t>(recordSize - kSlotFieldsOffset));
}

TRecordStack::TRecordStack(size_t initialCapacity) {
  free_.reserve(initialCapacity);
  owned_.reserve(initialCapacity);
}

TRecordStack::~TRecordStack() = default;

TRecord* TRecordStack::Take(int32_t recordNumber, int recordSize) {
  TRecord* record;
  if (free_.empty()) {
    owned_.push_back(std::make_unique<TRecord>());
    record = owned_.back().get();
  } else {
    record = free_.back();
    free_.pop_back();
  }
  record->Reset(recordNumber, recordSize);
  record->SetLink(recordNumber);
  record->Modified = false;
  record->InUse = 0;
  record->MruPrev = nullptr;
  record->MruNext = nullptr;
  record->Detached = false;
  return record;
}

void TRecordStack::Give(TRecord* record) {
  if (record == nullptr) return;
  record->MruPrev = nullptr;
  record->MruNext = nullptr;
  record->Detached = false;
  record->InUse = 0;
  record->Modified = false;
  free_.push_back(record);
}

}  // namespace tessel
