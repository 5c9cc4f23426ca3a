// In-memory holders of record slot images and their pool.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace tessel {

// Slot layout: deleted flag, link, record identifier, then the field areas.
constexpr int kSlotDeletedOffset = 0;
constexpr int kSlotLinkOffset = 1;
constexpr int kSlotRecordIdOffset = 5;
constexpr int kSlotFieldsOffset = 9;
constexpr int kRecordBufferStep = 510;

class TRecord {
 public:
  TRecord() = default;

  int32_t RecordNumber = 0;
  std::vector<uint8_t> Image;  // at least record size bytes, grown in steps of 510
  bool Modified = false;
  int InUse = 0;
  TRecord* MruPrev = nullptr;  // most-recently-used list of the owning data file
  TRecord* MruNext = nullptr;
  // Dropped from the cache while in use: goes back to the pool when its
  // last user releases it.
  bool Detached = false;

  int32_t CacheKey() const { return RecordNumber; }

  // Makes room for size bytes (in steps of 510) and zeroes the image.
  void Reset(int32_t recordNumber, int recordSize);
  uint8_t* Data() { return Image.data(); }
  const uint8_t* Data() const { return Image.data(); }

  bool IsDeleted() const;
  void SetDeleted(bool deleted);
  int32_t NextFree() const;  // link of a deleted slot, 0 for an active one
  int32_t Link() const;
  void SetLink(int32_t link);
  int32_t RecordId() const;
  void SetRecordId(int32_t id);
  // True when the deleted flags and all recordSize bytes are equal.
  bool SameImage(const TRecord& other, int recordSize) const;
  // Copies record number, modified flag and min(record sizes) bytes.
  void CopyFrom(const TRecord& other, int recordSize);
  // Copies the field bytes (9 to the end), leaving flag, link and identifier.
  void CopyFields(const uint8_t* image, int recordSize);
};

// A pool of free holders. A holder taken from it is cleared: image zeroed,
// link set to its record number, modified flag and in-use count cleared.
// The pool owns every holder it hands out (they are freed with the pool,
// wherever they are at that time); Give takes back only its own holders.
class TRecordStack {
 public:
  explicit TRecordStack(size_t initialCapacity = 4095);
  ~TRecordStack();
  TRecordStack(const TRecordStack&) = delete;
  TRecordStack& operator=(const TRecordStack&) = delete;

  TRecord* Take(int32_t recordNumber, int recordSize);
  void Give(TRecord* record);
  size_t FreeCount() const { return free_.size(); }

 private:
  std::vector<TRecord*> free_;
  std::vector<std::unique_ptr<TRecord>> owned_;
};

}  // namespace tessel
