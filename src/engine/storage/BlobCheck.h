// Verification of the BLOB file: the block chains of the values that the
// records name, and the free chain. In check-only mode nothing changes; in
// fixing mode the damage is cut off (changed blocks are written back with
// the table's next write-back).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

namespace tessel {

class TBlobFile;
struct TFieldDesc;

// Receives one line per damage found.
using TBlobCheckProgress = std::function<void(const std::string& message)>;

struct TBlobChainReport {
  bool Damaged = false;
  bool Fixed = false;
  int Blocks = 0;  // blocks walked
};

class TBlobChainCheck {
 public:
  TBlobChainCheck(TBlobFile& file, bool fix, TBlobCheckProgress progress);

  // Walks the chain of one value as a record's BLOB field names it. A first
  // block that is no block, or that carries another owner, is reported as an
  // invalid BLOB offset (fixing: firstBlock becomes 0); a next position that
  // names no block as an invalid intra-block pointer and a block reached
  // twice as a recursive one (fixing: the previous block's next becomes 0).
  // A block whose used count exceeds its data area is an invalid block
  // length, cut off the same way (the first block: firstBlock becomes 0).
  // A chain that ends before the value's length is an invalid intra-block
  // pointer too; when fixing, the first block's length is cut to the bytes
  // the chain holds, so that the value loads again.
  TBlobChainReport CheckChain(int32_t recordNumber, int32_t blobId, int32_t& firstBlock);
  // Checks every BLOB field of a record image that names a stored value; a
  // field whose first block was given up is cleared (null). Answers true when
  // the image changed.
  bool CheckRecord(int32_t recordNumber, uint8_t* image, const std::vector<TFieldDesc>& fields);

  // Every block position the checked chains hold.
  const std::unordered_set<int32_t>& UsedBlocks() const { return used_; }

 private:
  void Report(const char* what, int32_t recordNumber);

  TBlobFile& file_;
  bool fix_;
  TBlobCheckProgress progress_;
  std::unordered_set<int32_t> used_;
};

struct TFreeChainReport {
  bool Damaged = false;
  bool Fixed = false;
  int Blocks = 0;       // free blocks reached before any damage
  std::string Problem;  // the damage found, empty when none
};

// Walks the free chain from the header's free block. A position that names
// no block, a loop, or (with usedBlocks) a block that a value holds ends the
// walk as damage; fixing cuts the chain before it.
TFreeChainReport CheckFreeChain(TBlobFile& file, bool fix, const TBlobCheckProgress& progress = {},
                                const std::unordered_set<int32_t>* usedBlocks = nullptr);

}  // namespace tessel
