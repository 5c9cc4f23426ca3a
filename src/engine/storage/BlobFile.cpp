#include "engine/storage/BlobFile.h"

#include <algorithm>
#include <cstring>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/ReadContext.h"
#include "engine/storage/Scramble.h"

namespace tessel {

namespace {

constexpr int kRecentLookups = 4;      // most recently used holders tried before the search
constexpr int kCacheGrowth = 1024;     // holders added at a time for a work table

}  // namespace

TBlobFile::TBlobFile(TDataTable& table) : table_(table) {}

TBlobFile::~TBlobFile() = default;

void TBlobFile::Close() {
  // Cached blocks mean nothing once the file is closed.
  DropBlocks();
  TFileHandler::Close();
}

// ---------------------------------------------------------------------------
// Header

void TBlobFile::ReadBlobHeader() {
  uint8_t image[kBlobHeaderSize];
  ReadAt(0, image, sizeof image);
  if (table_.IsEncrypted()) ScrambleData(image, sizeof image);
  Header = TBlobHeader::Decode(image);
  HeaderModified = false;
}

void TBlobFile::WriteBlobHeader(bool force) {
  if (!force && !HeaderModified) return;
  ++Header.ChangeCounter;
  Header.HeaderModifiedFlag = HeaderModified ? 1 : 0;
  uint8_t image[kBlobHeaderSize];
  Header.Encode(image);
  if (table_.IsEncrypted()) ScrambleData(image, sizeof image);
  WriteAt(0, image, sizeof image);
  HeaderModified = false;
}

int32_t TBlobFile::ReadChangeCounter() {
  uint8_t counter[4];
  ReadAt(0, counter, sizeof counter);
  if (table_.IsEncrypted()) ScrambleData(counter, sizeof counter);
  return GetI32(counter);
}

void TBlobFile::InitBlobHeader() {
  Header = TBlobHeader{};
  Header.Version = kFormatVersion;
  Header.FreeBlock = 0;
  Header.EndOfFile = kBlobHeaderSize;
  HeaderModified = true;
}

void TBlobFile::EmptyBlobs() {
  const uint8_t none = 0;
  Seek(kBlobHeaderSize);
  Write(&none, 0);
  // Cached blocks lie beyond the new end of the file now.
  DropBlocks();
  Header.EndOfFile = kBlobHeaderSize;
  Header.FreeBlock = 0;
  HeaderModified = true;
}

// ---------------------------------------------------------------------------
// Positions and capacities

void TBlobFile::RaiseCorrupt() const { RaiseEngineError(ec::BlobBuffersCorrupt, ErrorName()); }

bool TBlobFile::IsBlockPosition(int64_t position) const {
  if (BlockSize <= static_cast<uint32_t>(kBlockHeaderSize)) return false;
  return position >= kBlobHeaderSize && position < Header.EndOfFile &&
         (position - kBlobHeaderSize) % BlockSize == 0;
}

int TBlobFile::MaxReadAhead() const {
  return std::max<int>(1, static_cast<int>(65535 / std::max<uint32_t>(BlockSize, 1)));
}

int64_t TBlobFile::HeldBlockCount() {
  if (BlockSize <= static_cast<uint32_t>(kBlockHeaderSize)) return 0;
  // New blocks sit at the end of the file, so the highest cached holder
  // marks how far the cache reaches beyond the file.
  int64_t end = BlockEndOfFile();
  if (!sorted_.empty()) end = std::max<int64_t>(end, int64_t{sorted_.back()->Position} + BlockSize);
  end = std::min<int64_t>(end, Header.EndOfFile);
  return std::max<int64_t>(0, (end - kBlobHeaderSize) / BlockSize);
}

int64_t TBlobFile::BlockEndOfFile() {
  const int64_t body = std::max<int64_t>(0, FileLength() - kBlobHeaderSize);
  const int64_t size = std::max<uint32_t>(BlockSize, 1);
  return kBlobHeaderSize + (body + size - 1) / size * size;
}

bool TBlobFile::BlockInFileOrCache(int32_t position) {
  return CachedBlock(position) != nullptr || position < BlockEndOfFile();
}

int TBlobFile::NominalCacheCapacity() const {
  const uint32_t perBlock = std::max<uint32_t>(BlockSize, 1);
  return std::max<int>(1, static_cast<int>(std::min<uint32_t>(131070 / perBlock, 32767)));
}

// ---------------------------------------------------------------------------
// The cache: sorted list plus most-recently-used list

size_t TBlobFile::LowerBound(int32_t position) const {
  auto it = std::lower_bound(sorted_.begin(), sorted_.end(), position,
                             [](const TBlock* b, int32_t p) { return b->Position < p; });
  return static_cast<size_t>(it - sorted_.begin());
}

TBlock* TBlobFile::CachedBlock(int32_t position) const {
  int tried = 0;
  for (TBlock* b = mruHead_; b != nullptr && tried < kRecentLookups; b = b->MruNext, ++tried)
    if (b->Position == position) return b;
  const size_t i = LowerBound(position);
  if (i < sorted_.size() && sorted_[i]->Position == position) return sorted_[i];
  return nullptr;
}

void TBlobFile::Unlink(TBlock* block) {
  if (block->MruPrev != nullptr) block->MruPrev->MruNext = block->MruNext;
  else if (mruHead_ == block) mruHead_ = block->MruNext;
  if (block->MruNext != nullptr) block->MruNext->MruPrev = block->MruPrev;
  else if (mruTail_ == block) mruTail_ = block->MruPrev;
  block->MruPrev = nullptr;
  block->MruNext = nullptr;
}

void TBlobFile::Touch(TBlock* block) {
  if (mruHead_ == block) return;
  Unlink(block);
  block->MruNext = mruHead_;
  if (mruHead_ != nullptr) mruHead_->MruPrev = block;
  mruHead_ = block;
  if (mruTail_ == nullptr) mruTail_ = block;
}

void TBlobFile::Remove(TBlock* block) {
  const size_t i = LowerBound(block->Position);
  if (i < sorted_.size() && sorted_[i] == block) sorted_.erase(sorted_.begin() + static_cast<std::ptrdiff_t>(i));
  Unlink(block);
  pool_.Give(block);
}

bool TBlobFile::EvictOne() {
  for (TBlock* b = mruTail_; b != nullptr; b = b->MruPrev) {
    if (!b->Modified && b->InUse == 0) {
      Remove(b);
      return true;
    }
  }
  return false;
}

bool TBlobFile::HasRoom() {
  return sorted_.size() < static_cast<size_t>(CacheCapacity()) || EvictOne();
}

TBlock* TBlobFile::NewHolder(int32_t position) {
  if (!HasRoom()) {
    WriteBackBlocks();
    if (!EvictOne()) {
      if (!GrowCacheWhenFull) RaiseCorrupt();
      extraCapacity_ += kCacheGrowth;
    }
  }
  TBlock* block = pool_.Take(position, BlockSize);
  block->File = this;
  sorted_.insert(sorted_.begin() + static_cast<std::ptrdiff_t>(LowerBound(position)), block);
  Touch(block);
  return block;
}

// ---------------------------------------------------------------------------
// Fetching

TBlock* TBlobFile::GetBlock(int32_t position, TReadContext* cursor, int readAheadCount, bool readAhead) {
  if (position == 0) RaiseCorrupt();
  if (position == Header.EndOfFile) return NewBlockAtEnd();
  if (!IsBlockPosition(position)) RaiseCorrupt();

  TBlock* block = CachedBlock(position);
  if (block == nullptr) {
    if (cursor != nullptr && cursor->BeforeCacheMiss()) return nullptr;
    // The change check found nothing, so the header still holds.
    const int64_t blocksLeft = (int64_t{Header.EndOfFile} - position) / BlockSize;
    int64_t count = readAhead ? readAheadCount : 1;
    count = std::min<int64_t>({count, MaxReadAhead(), blocksLeft});
    ReadRun(position, static_cast<int>(std::max<int64_t>(count, 1)));
    block = CachedBlock(position);
    if (block == nullptr) RaiseCorrupt();
    if (block->Position == position && cursor != nullptr) {
      ++block->InUse;
      Prefetch(cursor);
      --block->InUse;
    }
  }
  if (block->Position != position) RaiseCorrupt();
  Touch(block);
  ++block->InUse;
  return block;
}

void TBlobFile::Prefetch(TReadContext* cursor) {
  const int limit = std::min(64, NominalCacheCapacity() / 4);
  if (limit < 2) return;
  int32_t plan[64];
  const int planned = std::min(cursor->PlanBlockPrefetch(plan, limit), limit);
  if (planned <= 0) return;
  const size_t size = BlockSize;
  const size_t capacity = size - kBlockHeaderSize;
  const bool encrypted = table_.IsEncrypted();
  std::vector<uint8_t> image(size);
  try {
    for (int i = 0; i < planned; ++i) {
      const int32_t position = plan[i];
      if (!IsBlockPosition(position) || CachedBlock(position) != nullptr) continue;
      if (ReadAt(position, image.data(), size, true) != size) continue;
      if (!HasRoom()) return;
      if (encrypted) {
        ScrambleData(image.data(), kBlockHeaderSize);
        ScrambleData(image.data() + kBlockHeaderSize, capacity);
      }
      TBlock* block = NewHolder(position);
      block->DecodeHeader(image.data());
      std::memcpy(block->Data.data(), image.data() + kBlockHeaderSize, capacity);
    }
  } catch (...) {
    // Read-ahead is a guess: a failure here is left to the read that needs the block.
  }
}

TBlock* TBlobFile::NewBlockAtEnd() {
  const int32_t position = Header.EndOfFile;
  const int64_t newEnd = int64_t{position} + BlockSize;
  // An end of file that is not a block position would place blocks that no
  // chain could name.
  if (position < kBlobHeaderSize || BlockSize <= static_cast<uint32_t>(kBlockHeaderSize) ||
      (int64_t{position} - kBlobHeaderSize) % BlockSize != 0)
    RaiseCorrupt();
  if (position >= kMaxBlobFilePosition || newEnd > INT32_MAX) RaiseEngineError(ec::TableFull, ErrorName());
  // The block below the end of file is in the file, or is a new block in the
  // cache that is not written yet. A damaged header whose end of file lies
  // beyond both would make the file grow up to it with the next write-back
  // (for an in-memory table, a buffer that large).
  if (position > kBlobHeaderSize && !BlockInFileOrCache(position - static_cast<int32_t>(BlockSize))) RaiseCorrupt();
  // A holder left at this position from before the file was cut back is stale.
  if (TBlock* stale = CachedBlock(position)) {
    if (stale->InUse > 0) RaiseCorrupt();
    Remove(stale);
  }
  TBlock* block = NewHolder(position);
  // The block reaches the file with the next write-back.
  block->Modified = true;
  ++block->InUse;
  Header.EndOfFile = static_cast<int32_t>(newEnd);
  HeaderModified = true;
  return block;
}

void TBlobFile::ReadRun(int32_t position, int count) {
  const size_t size = BlockSize;
  const size_t capacity = size - kBlockHeaderSize;
  std::vector<uint8_t> buffer(static_cast<size_t>(count) * size);
  // Blocks at the end may exist only in the cache so far (new blocks not yet
  // written back): a short read is fine as long as the block asked for is there.
  const size_t got = ReadAt(position, buffer.data(), buffer.size(), true);
  const size_t complete = got / size;
  if (complete == 0) RaiseEngineError(ec::ReadError, ErrorName());

  const bool encrypted = table_.IsEncrypted();
  // The block asked for is held while the rest of the run is placed, so
  // that making room cannot recycle it.
  TBlock* held = nullptr;
  try {
    for (size_t i = 0; i < complete; ++i) {
      const int32_t blockPosition = position + static_cast<int32_t>(i * size);
      uint8_t* image = buffer.data() + i * size;
      if (encrypted) {
        ScrambleData(image, kBlockHeaderSize);
        ScrambleData(image + kBlockHeaderSize, capacity);
      }
      TBlock* block = CachedBlock(blockPosition);
      if (block != nullptr) {
        // A holder with changes or a user keeps what it has.
        if (block->Modified || block->InUse > 0) continue;
      } else {
        // Read-ahead blocks only take free room; they never force a write-back.
        if (i > 0 && !HasRoom()) break;
        block = NewHolder(blockPosition);
      }
      block->DecodeHeader(image);
      std::memcpy(block->Data.data(), image + kBlockHeaderSize, capacity);
      if (i == 0) {
        held = block;
        ++held->InUse;
      }
    }
  } catch (...) {
    if (held != nullptr) --held->InUse;
    throw;
  }
  if (held != nullptr) --held->InUse;
}

void TBlobFile::ReleaseBlock(TBlock* block) {
  if (block != nullptr && block->InUse > 0) --block->InUse;
}

// ---------------------------------------------------------------------------
// Allocating and freeing

TBlock* TBlobFile::AllocateBlock(TReadContext* cursor) {
  const int32_t position = Header.FreeBlock != 0 ? Header.FreeBlock : Header.EndOfFile;
  TBlock* block = GetBlock(position, cursor);
  if (block == nullptr) return nullptr;
  // A free block that someone holds, or one whose next names itself, is a
  // broken free chain: handing it out would give one block to two values.
  if (block->InUse > 1 || (Header.FreeBlock != 0 && block->Next == position)) {
    ReleaseBlock(block);
    RaiseCorrupt();
  }
  if (Header.FreeBlock != 0) {
    Header.FreeBlock = block->Next;
    HeaderModified = true;
  }
  block->Clear();
  block->Modified = true;
  return block;
}

void TBlobFile::FreeBlock(TBlock* block) {
  block->Next = Header.FreeBlock;
  Header.FreeBlock = block->Position;
  HeaderModified = true;
  block->Modified = true;
}

void TBlobFile::FreeChain(TReadContext* cursor, bool checkOnly, bool forceOwner, int32_t blobId,
                          int32_t& firstBlock) {
  if (firstBlock == 0) return;
  if (!IsBlockPosition(firstBlock)) RaiseCorrupt();
  TBlock* first = GetBlock(firstBlock, cursor);
  // Freeing runs under the write lock, where no other user's change can
  // interrupt it; losing the cache here would lose changes.
  if (first == nullptr) RaiseCorrupt();
  if (first->Owner != blobId) {
    if (!forceOwner) {
      ReleaseBlock(first);
      RaiseCorrupt();
    }
    if (!checkOnly) {
      first->Owner = blobId;
      first->Modified = true;
    }
  }
  const int capacity = DataCapacity();
  const int64_t blocks = first->TotalLength > 0 ? (int64_t{first->TotalLength} + capacity - 1) / capacity : 1;
  FreeChainFrom(cursor, checkOnly, static_cast<int>(std::min<int64_t>(blocks, INT32_MAX)), first);
  if (!checkOnly) firstBlock = 0;
}

void TBlobFile::FreeChainFrom(TReadContext* cursor, bool checkOnly, int blockCountHint, TBlock* first,
                              const std::unordered_set<int32_t>* kept) {
  std::unordered_set<int32_t> visited;
  if (kept != nullptr) visited = *kept;
  int remaining = std::max(blockCountHint, 1);
  TBlock* block = first;
  for (;;) {
    // Reaching a block twice means the chain leads back into itself.
    if (!visited.insert(block->Position).second) {
      ReleaseBlock(block);
      RaiseCorrupt();
    }
    const int32_t next = block->Next;
    if (!checkOnly) FreeBlock(block);
    ReleaseBlock(block);
    if (next == 0) return;
    if (!IsBlockPosition(next)) RaiseCorrupt();
    remaining = std::max(remaining - 1, 1);
    block = GetBlock(next, cursor, remaining, true);
    if (block == nullptr) RaiseCorrupt();
  }
}

// ---------------------------------------------------------------------------
// Write-back, dropping and trimming

void TBlobFile::WriteBackBlocks() {
  if (BlockSize <= static_cast<uint32_t>(kBlockHeaderSize)) return;
  std::vector<TBlock*> run;
  for (TBlock* block : sorted_) {
    if (!block->Modified || block->InUse > 0) continue;
    if (!run.empty() && int64_t{run.back()->Position} + BlockSize != block->Position) {
      WriteRun(run);
      run.clear();
    }
    run.push_back(block);
  }
  if (!run.empty()) WriteRun(run);
}

void TBlobFile::WriteRun(const std::vector<TBlock*>& run) {
  const size_t size = BlockSize;
  const size_t capacity = size - kBlockHeaderSize;
  std::vector<uint8_t> buffer(run.size() * size);
  const bool encrypted = table_.IsEncrypted();
  for (size_t i = 0; i < run.size(); ++i) {
    uint8_t* image = buffer.data() + i * size;
    run[i]->EncodeHeader(image);
    std::memcpy(image + kBlockHeaderSize, run[i]->Data.data(), capacity);
  }
  std::vector<uint8_t> plainHeaders;
  if (encrypted) {
    plainHeaders.resize(run.size() * kBlockHeaderSize);
    for (size_t i = 0; i < run.size(); ++i) {
      uint8_t* image = buffer.data() + i * size;
      std::memcpy(plainHeaders.data() + i * kBlockHeaderSize, image, kBlockHeaderSize);
      ScrambleData(image, kBlockHeaderSize);
      ScrambleData(image + kBlockHeaderSize, capacity);
    }
  }
  WriteAt(run.front()->Position, buffer.data(), buffer.size());
  for (size_t i = 0; i < run.size(); ++i) {
    const uint8_t* header = encrypted ? plainHeaders.data() + i * kBlockHeaderSize : buffer.data() + i * size;
    std::memcpy(run[i]->HeaderImage.data(), header, kBlockHeaderSize);
    run[i]->Modified = false;
  }
}

void TBlobFile::DropBlocks() {
  for (TBlock* block : sorted_) pool_.Give(block);
  sorted_.clear();
  mruHead_ = nullptr;
  mruTail_ = nullptr;
}

void TBlobFile::TrimBlocks() {
  extraCapacity_ = 0;
  const size_t capacity = static_cast<size_t>(NominalCacheCapacity());
  for (size_t i = sorted_.size(); i > 0 && sorted_.size() > capacity; --i) {
    TBlock* block = sorted_[i - 1];
    if (block->Modified || block->InUse > 0) continue;
    sorted_.erase(sorted_.begin() + static_cast<std::ptrdiff_t>(i - 1));
    Unlink(block);
    pool_.Give(block);
  }
}

}  // namespace tessel
