// One bit per physical record number: record 1 is bit 0 of the first 32-bit
// word. Storage is whole 32-bit words and grows in steps of 1024 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessel {

class TRecordsBitmap {
 public:
  TRecordsBitmap() = default;

  // The number of bits; new bits are 0. Resize(0) frees the storage.
  void Resize(int32_t bitCount);
  int32_t Size() const { return bits_; }
  // Bytes of storage currently held (a multiple of 1024, or 0).
  size_t Capacity() const { return words_.capacity() * 4; }

  // Record numbers are 1-based; numbers outside 1..Size() test false and are
  // ignored by Set/Clear.
  bool Test(int32_t recordNumber) const;
  void Set(int32_t recordNumber);
  void Clear(int32_t recordNumber);
  void ClearAll();
  void SetAll();

  int32_t Count() const;
  // Set bits below recordNumber (the ordinal of that record is this plus 1).
  int32_t CountBelow(int32_t recordNumber) const;

  // From recordNumber (exclusive), the k-th next (k > 0) or k-th previous
  // (k < 0) set bit. recordNumber may be 0 (before the first) or Size() + 1
  // (after the last). On success recordNumber becomes that bit, ordinal
  // moves by k and the answer is true. When the bits run out, recordNumber
  // and ordinal stay on the last set bit reached (ordinal counting the bits
  // passed) and the answer is false.
  bool Seek(int32_t& recordNumber, int32_t k, int32_t& ordinal) const;
  // First set bit at or above recordNumber, 0 when none.
  int32_t FirstAtOrAbove(int32_t recordNumber) const;
  // Last set bit at or below recordNumber, 0 when none.
  int32_t LastAtOrBelow(int32_t recordNumber) const;
  // The n-th set bit (1-based), 0 when there is none.
  int32_t NthSet(int32_t n) const;

  void CopyFrom(const TRecordsBitmap& other);
  // In place; the size stays this bitmap's size (missing bits of other count 0).
  void And(const TRecordsBitmap& other);
  void Or(const TRecordsBitmap& other);
  void Not();

 private:
  void TrimTail();
  int32_t bits_ = 0;
  std::vector<uint32_t> words_;
};

}  // namespace tessel
