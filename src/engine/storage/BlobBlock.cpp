#include "engine/storage/BlobBlock.h"

#include <algorithm>
#include <cstring>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/storage/FileHandler.h"

namespace tessel {

void TBlock::RaiseInvalidLength() const {
  RaiseEngineError(ec::InvalidBlobLength, File != nullptr ? File->ErrorName() : std::string());
}

size_t TBlock::ReadData(size_t offset, size_t count, void* destination) const {
  if (offset > Capacity() || count > Capacity() - offset) RaiseInvalidLength();
  // Used never counts beyond the data area, whatever the file held.
  const size_t used = std::min<size_t>(Used, Capacity());
  if (offset >= used) return 0;
  const size_t n = std::min(count, used - offset);
  if (n > 0) std::memcpy(destination, Data.data() + offset, n);
  return n;
}

void TBlock::WriteData(size_t offset, size_t count, const void* source) {
  if (offset > Capacity() || count > Capacity() - offset) RaiseInvalidLength();
  if (count > 0) std::memcpy(Data.data() + offset, source, count);
  Modified = true;
}

void TBlock::Clear() {
  HeaderImage.fill(0);
  Previous = 0;
  Next = 0;
  Used = 0;
  Owner = 0;
  TotalLength = 0;
  std::fill(Data.begin(), Data.end(), uint8_t{0});
}

void TBlock::DecodeHeader(const uint8_t* image) {
  std::memcpy(HeaderImage.data(), image, kBlockHeaderSize);
  Previous = GetI32(image + kBlockPreviousOffset);
  Next = GetI32(image + kBlockNextOffset);
  Used = GetU16(image + kBlockUsedOffset);
  Owner = GetI32(image + kBlockOwnerOffset);
  TotalLength = GetI32(image + kBlockTotalLengthOffset);
}

void TBlock::EncodeHeader(uint8_t* image) const {
  PutI32(image + kBlockPreviousOffset, Previous);
  PutI32(image + kBlockNextOffset, Next);
  PutU16(image + kBlockUsedOffset, Used);
  PutI32(image + kBlockOwnerOffset, Owner);
  PutI32(image + kBlockTotalLengthOffset, TotalLength);
}

TBlockStack::TBlockStack(size_t initialCapacity) {
  free_.reserve(initialCapacity);
  owned_.reserve(initialCapacity);
}

TBlockStack::~TBlockStack() = default;

TBlock* TBlockStack::Take(int32_t position, uint32_t blockSize) {
  TBlock* block;
  if (free_.empty()) {
    owned_.push_back(std::make_unique<TBlock>());
    block = owned_.back().get();
  } else {
    block = free_.back();
    free_.pop_back();
  }
  const size_t capacity = blockSize > static_cast<uint32_t>(kBlockHeaderSize) ? blockSize - kBlockHeaderSize : 0;
  block->Data.resize(capacity);
  block->Clear();
  block->Position = position;
  block->Modified = false;
  block->InUse = 0;
  block->MruPrev = nullptr;
  block->MruNext = nullptr;
  return block;
}

void TBlockStack::Give(TBlock* block) {
  if (block == nullptr) return;
  block->MruPrev = nullptr;
  block->MruNext = nullptr;
  block->InUse = 0;
  block->Modified = false;
  free_.push_back(block);
}

}  // namespace tessel
