// In-memory holders of BLOB file blocks and their pool.
//
// Block layout (block size B bytes, little-endian):
//   0  i32 previous      previous block of the same value, 0 in the first
//   4  i32 next          next block of the value (or of the free chain), 0 at the end
//   8  u16 used          data bytes used in this block (at most B - 18)
//   10 i32 owner         BLOB identifier of the value the block belongs to
//   14 i32 total length  the value's length in its first block, 0 elsewhere
//   18 data              B - 18 bytes
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tessel {

class TFileHandler;

constexpr int kBlockHeaderSize = 18;
constexpr int kBlockPreviousOffset = 0;
constexpr int kBlockNextOffset = 4;
constexpr int kBlockUsedOffset = 8;
constexpr int kBlockOwnerOffset = 10;
constexpr int kBlockTotalLengthOffset = 14;
constexpr int kBlockDataOffset = 18;

class TBlock {
 public:
  TBlock() = default;

  int32_t Position = 0;
  // The 18 header bytes as last read from (or written to) the file.
  std::array<uint8_t, kBlockHeaderSize> HeaderImage{};
  // Working copies of the header fields.
  int32_t Previous = 0;
  int32_t Next = 0;
  uint16_t Used = 0;
  int32_t Owner = 0;
  int32_t TotalLength = 0;
  std::vector<uint8_t> Data;  // B - 18 bytes
  bool Modified = false;
  int InUse = 0;
  TBlock* MruPrev = nullptr;  // most-recently-used list of the owning BLOB file
  TBlock* MruNext = nullptr;
  // The file whose table name messages carry.
  const TFileHandler* File = nullptr;

  size_t Capacity() const { return Data.size(); }

  // Copies up to count bytes from offset on, as far as the used bytes reach,
  // into destination; answers the bytes copied. A range beyond the block's
  // data area raises "Invalid blob length".
  size_t ReadData(size_t offset, size_t count, void* destination) const;
  // Copies count bytes to offset on and marks the block modified. A range
  // beyond the data area raises "Invalid blob length". Used is not changed.
  void WriteData(size_t offset, size_t count, const void* source);

  // Clears header image, working fields and data.
  void Clear();
  // Takes the working fields from an 18-byte header image (kept as read).
  void DecodeHeader(const uint8_t* image);
  // Writes the working fields as an 18-byte header image.
  void EncodeHeader(uint8_t* image) const;

 private:
  [[noreturn]] void RaiseInvalidLength() const;
};

// A pool of free block holders. A holder taken from it is cleared and sized
// for the block size; the pool owns every holder it hands out.
class TBlockStack {
 public:
  explicit TBlockStack(size_t initialCapacity = 4095);
  ~TBlockStack();
  TBlockStack(const TBlockStack&) = delete;
  TBlockStack& operator=(const TBlockStack&) = delete;

  TBlock* Take(int32_t position, uint32_t blockSize);
  void Give(TBlock* block);
  size_t FreeCount() const { return free_.size(); }

 private:
  std::vector<TBlock*> free_;
  std::vector<std::unique_ptr<TBlock>> owned_;
};

}  // namespace tessel
