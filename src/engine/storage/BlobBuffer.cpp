#include "engine/storage/BlobBuffer.h"

#include <algorithm>
#include <unordered_set>

#include "engine/base/TesselError.h"
#include "engine/storage/BlobFile.h"
#include "engine/storage/DataTable.h"

namespace tessel {

namespace {

// Blocks needed for the bytes still to come (at least 1): the read-ahead count.
int BlocksFor(int64_t bytes, int capacity) {
  if (bytes <= 0 || capacity <= 0) return 1;
  return static_cast<int>(std::min<int64_t>((bytes + capacity - 1) / capacity, INT32_MAX));
}

}  // namespace

TBlobBuffer::TBlobBuffer(TDataTable& table, TReadContext* cursor, int fieldNumber, int32_t recordNumber,
                         int32_t firstBlock, int32_t blobId)
    : table_(table),
      cursor_(cursor),
      fieldNumber_(fieldNumber),
      recordNumber_(recordNumber),
      firstBlock_(firstBlock),
      blobId_(blobId) {}

void TBlobBuffer::SetSize(size_t newSize) {
  if (newSize == data_.size()) return;
  data_.resize(newSize, 0);
  modified_ = true;
}

void TBlobBuffer::Load() {
  TBlobFile& file = table_.Blob();
  const std::string& name = file.ErrorName();
  const int capacity = file.DataCapacity();
  // Set once a fetch saw another user's change. The pass that follows runs
  // under the read lock the fetch took, on a stable file: a chain that then
  // does not belong to the value (a block of another owner, a link into the
  // free chain, an early end) means the row was read before another user
  // changed or deleted the record, not that the file is corrupt.
  bool changed = false;
  auto recordChanged = [&] {
    data_.clear();
    RaiseEngineError(ec::RecordChanged, name);
  };
  for (;;) {
    data_.clear();
    if (firstBlock_ == 0) break;
    if (!file.IsBlockPosition(firstBlock_)) RaiseEngineError(ec::BlobBuffersCorrupt, name);
    TBlock* block = file.GetBlock(firstBlock_, cursor_);
    if (block == nullptr) {  // another user changed the file: start over
      changed = true;
      continue;
    }
    if (block->Owner != blobId_ || block->TotalLength < 0) {
      file.ReleaseBlock(block);
      if (changed) recordChanged();
      RaiseEngineError(ec::BlobBuffersCorrupt, name);
    }
    const int64_t size = block->TotalLength;
    // No chain in this file can hold more than its blocks' data areas.
    const int64_t blocksInFile = (int64_t{file.Header.EndOfFile} - kBlobHeaderSize) / file.BlockSize;
    // The header's end of file may itself be damaged: a value longer than one
    // block is held against the blocks that really exist, so that a damaged
    // length cannot make the load allocate far more than the file holds.
    if (size > blocksInFile * capacity || (size > capacity && size > file.HeldBlockCount() * capacity)) {
      file.ReleaseBlock(block);
      RaiseEngineError(ec::EndOfBlob, name);
    }
    data_.resize(static_cast<size_t>(size));

    int64_t read = 0;
    bool restart = false;
    std::unordered_set<int32_t> visited{firstBlock_};
    while (read < size) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(capacity, size - read));
      const size_t copied = block->ReadData(0, n, data_.data() + read);
      if (copied < n) break;
      read += static_cast<int64_t>(n);
      const int32_t next = block->Next;
      // The current block is let go before the next is fetched: nothing is
      // held while the change check may drop the cache.
      file.ReleaseBlock(block);
      block = nullptr;
      if (read == size || next == 0) break;
      if (!file.IsBlockPosition(next) || !visited.insert(next).second) {
        if (changed) recordChanged();
        RaiseEngineError(ec::BlobBuffersCorrupt, name);
      }
      block = file.GetBlock(next, cursor_, BlocksFor(size - read, capacity), true);
      if (block == nullptr) {
        restart = true;
        changed = true;
        break;
      }
      if (changed && block->Owner != blobId_) {
        file.ReleaseBlock(block);
        block = nullptr;
        recordChanged();
      }
    }
    if (block != nullptr) file.ReleaseBlock(block);
    if (restart) continue;
    if (read != size) {
      if (changed) recordChanged();
      data_.clear();
      RaiseEngineError(ec::EndOfBlob, name);
    }
    break;
  }
  modified_ = false;
}

void TBlobBuffer::Store() {
  if (data_.empty()) {
    Release();
    return;
  }
  TBlobFile& file = table_.Blob();
  const std::string& name = file.ErrorName();
  const int capacity = file.DataCapacity();
  if (data_.size() > static_cast<size_t>(INT32_MAX)) RaiseEngineError(ec::InvalidBlobLength, name);
  const int64_t size = static_cast<int64_t>(data_.size());

  // Fetches run under the write lock, where no other user's change can come
  // in between; a fetch that still asks for a restart would lose blocks.
  auto fetched = [&](TBlock* block) {
    if (block == nullptr) RaiseEngineError(ec::BlobBuffersCorrupt, name);
    return block;
  };

  const int32_t id = table_.Data().NextBlobId();
  int64_t oldLength = 0;
  TBlock* block;
  if (firstBlock_ != 0) {
    if (!file.IsBlockPosition(firstBlock_)) RaiseEngineError(ec::BlobBuffersCorrupt, name);
    block = fetched(file.GetBlock(firstBlock_, cursor_));
    oldLength = std::max(block->TotalLength, 0);
  } else {
    block = fetched(file.AllocateBlock(cursor_));
    firstBlock_ = block->Position;
  }
  blobId_ = id;
  block->Owner = id;
  block->TotalLength = static_cast<int32_t>(size);
  block->Modified = true;

  std::unordered_set<int32_t> chain{block->Position};
  int64_t written = 0;
  try {
    for (;;) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(capacity, size - written));
      block->WriteData(0, n, data_.data() + written);
      block->Used = static_cast<uint16_t>(n);
      written += static_cast<int64_t>(n);
      if (written == size) break;

      TBlock* next;
      if (block->Next != 0) {
        // The old chain goes on: its next block is reused.
        if (!file.IsBlockPosition(block->Next) || chain.count(block->Next) != 0)
          RaiseEngineError(ec::BlobBuffersCorrupt, name);
        next = fetched(file.GetBlock(block->Next, cursor_, BlocksFor(oldLength - written, capacity), true));
      } else {
        next = fetched(file.AllocateBlock(cursor_));
        if (chain.count(next->Position) != 0) {
          file.ReleaseBlock(next);
          RaiseEngineError(ec::BlobBuffersCorrupt, name);
        }
      }
      chain.insert(next->Position);
      block->Next = next->Position;
      next->Previous = block->Position;
      next->Owner = id;
      next->TotalLength = 0;
      next->Modified = true;
      file.ReleaseBlock(block);
      block = next;
    }

    // The old chain was longer: the rest is freed.
    if (block->Next != 0) {
      if (!file.IsBlockPosition(block->Next) || chain.count(block->Next) != 0)
        RaiseEngineError(ec::BlobBuffersCorrupt, name);
      TBlock* surplus = fetched(file.GetBlock(block->Next, cursor_, BlocksFor(oldLength - written, capacity), true));
      file.FreeChainFrom(cursor_, false, BlocksFor(oldLength - written, capacity), surplus, &chain);
      block->Next = 0;
      block->Modified = true;
    }
  } catch (...) {
    file.ReleaseBlock(block);
    throw;
  }
  file.ReleaseBlock(block);
  if (written != size) RaiseEngineError(ec::EndOfBlob, name);
  modified_ = false;
}

void TBlobBuffer::Release() {
  table_.Blob().FreeChain(cursor_, false, true, blobId_, firstBlock_);
  firstBlock_ = 0;
  blobId_ = 0;
  modified_ = false;
}

}  // namespace tessel
