// The table's BLOB file: its header, the block cache (with read-ahead and
// coalesced write-back) and the block chains of BLOB values: allocating and
// freeing blocks, and releasing whole chains.
#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "engine/storage/BlobBlock.h"
#include "engine/storage/FileHandler.h"
#include "engine/storage/Formats.h"

namespace tessel {

class TDataTable;
class TReadContext;

// A new block may be placed only at a position below this.
constexpr int64_t kMaxBlobFilePosition = 2000000001;

class TBlobFile : public TFileHandler {
 public:
  explicit TBlobFile(TDataTable& table);
  ~TBlobFile() override;

  TDataTable& Table() { return table_; }

  // Closes the file and drops every cached block.
  void Close() override;

  TBlobHeader Header;
  bool HeaderModified = false;
  // Given by the table before the file is opened (the data header's size,
  // 0 taken as 512).
  uint32_t BlockSize = 512;
  // A work table of the query processor: when no holder can be recycled the
  // cache grows by 1024 holders instead of failing.
  bool GrowCacheWhenFull = false;

  void ReadBlobHeader();
  void WriteBlobHeader(bool force);
  int32_t ReadChangeCounter();
  void InitBlobHeader();
  // Cuts the file back to its header and drops every cached block.
  void EmptyBlobs();

  // --- blocks ---
  // Data bytes per block (B - 18).
  int DataCapacity() const { return static_cast<int>(BlockSize) - kBlockHeaderSize; }
  // True for the position of an existing block: at least 512, below the
  // end-of-file position and a whole number of blocks from 512.
  bool IsBlockPosition(int64_t position) const;
  // Most blocks one read brings in: 65535 / B (at least 1).
  int MaxReadAhead() const;
  // Blocks that exist in the file or, new and not written back yet, in the
  // cache: a damaged header may put its end-of-file position beyond them.
  int64_t HeldBlockCount();
  // The cache's nominal number of holders: min(131070 / B, 32767).
  int NominalCacheCapacity() const;
  int CacheCapacity() const { return NominalCacheCapacity() + extraCapacity_; }
  size_t CachedBlockCount() const { return sorted_.size(); }
  // The cached holder of position, nullptr when not cached (no MRU change).
  TBlock* CachedBlock(int32_t position) const;

  // The block at position with its in-use count incremented. Position 0, a
  // position that names no block, or a holder that does not carry the
  // position raise "BLOB block buffers corrupt". The end-of-file position
  // makes a new empty block (the end-of-file position grows by B; "The table
  // is full" once it would start at 2000000001 or beyond). An uncached block
  // is read together with up to readAheadCount - 1 following blocks when
  // readAhead is set. Before such a read the cursor's change check runs;
  // when it reports a change nullptr is returned and the caller restarts.
  TBlock* GetBlock(int32_t position, TReadContext* cursor = nullptr, int readAheadCount = 1,
                   bool readAhead = false);
  void ReleaseBlock(TBlock* block);
  // Takes the free chain's head (or a new block at the end), unlinks it and
  // clears its header fields and data. nullptr when the change check asks
  // for a restart.
  TBlock* AllocateBlock(TReadContext* cursor = nullptr);
  // Puts the block at the head of the free chain; only its next field changes.
  void FreeBlock(TBlock* block);

  // Frees the chain of one value and sets firstBlock to 0. The first block's
  // owner must be blobId; with forceOwner a differing owner is overwritten
  // instead. With checkOnly the chain is walked and checked but nothing
  // changes. A next position that names no block, or a block reached twice,
  // raises "BLOB block buffers corrupt".
  void FreeChain(TReadContext* cursor, bool checkOnly, bool forceOwner, int32_t blobId, int32_t& firstBlock);
  // Frees first (which the caller holds; it is released here) and every
  // block after it. blockCountHint is the number of blocks expected (read-
  // ahead). Positions in kept belong to the value that stays: reaching one
  // of them counts as a loop.
  void FreeChainFrom(TReadContext* cursor, bool checkOnly, int blockCountHint, TBlock* first,
                     const std::unordered_set<int32_t>* kept = nullptr);

  // Drops every cached block (changes not written are lost). No block may be
  // held while this runs.
  void DropBlocks();
  // Writes modified blocks that are not in use, in position order, one
  // write call per run of adjacent blocks.
  void WriteBackBlocks();
  // Cuts the cache back to its nominal capacity, giving up the holders with
  // the highest positions (modified or held ones stay).
  void TrimBlocks();
  // Reads the first blocks of the BLOBs the cursor will read next that are
  // not cached, one block each; they only take free room. Never raises.
  // Runs at a miss, under the read lock the miss took.
  void Prefetch(TReadContext* cursor);

 private:
  [[noreturn]] void RaiseCorrupt() const;
  // The file's length as whole blocks: a last block cut short still counts,
  // as it does for the structure check's end of file.
  int64_t BlockEndOfFile();
  // True for a block that starts in the file or lies in the cache.
  bool BlockInFileOrCache(int32_t position);
  TBlock* NewBlockAtEnd();
  // Reads count blocks from position on in one read and places them in the
  // cache (the first one is the block asked for).
  void ReadRun(int32_t position, int count);
  // A holder for position placed in the cache, room made as needed.
  TBlock* NewHolder(int32_t position);
  // Recycles the least recently used holder that is neither modified nor in
  // use; false when there is none.
  bool EvictOne();
  bool HasRoom();
  void WriteRun(const std::vector<TBlock*>& run);
  void Remove(TBlock* block);
  void Touch(TBlock* block);
  void Unlink(TBlock* block);
  size_t LowerBound(int32_t position) const;

  TDataTable& table_;
  TBlockStack pool_;
  std::vector<TBlock*> sorted_;  // cached holders by position
  TBlock* mruHead_ = nullptr;
  TBlock* mruTail_ = nullptr;
  int extraCapacity_ = 0;
};

}  // namespace tessel
