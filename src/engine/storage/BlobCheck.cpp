#include "engine/storage/BlobCheck.h"

#include <algorithm>

#include "engine/base/Bytes.h"
#include "engine/storage/BlobFile.h"
#include "engine/storage/Formats.h"

namespace tessel {

namespace {

constexpr const char* kInvalidOffset = "Invalid BLOB offset";
constexpr const char* kInvalidPointer = "Invalid intra-block pointer";
constexpr const char* kRecursivePointer = "Recursive intra-block pointer";
constexpr const char* kInvalidLength = "Invalid block length";

constexpr int kPositionOffset = 1;
constexpr int kIdentifierOffset = 5;

std::string Outcome(bool fix) { return fix ? "error fixed" : "error not fixed"; }

int BlocksFor(int64_t bytes, int capacity) {
  if (bytes <= 0 || capacity <= 0) return 1;
  return static_cast<int>(std::min<int64_t>((bytes + capacity - 1) / capacity, INT32_MAX));
}

}  // namespace

TBlobChainCheck::TBlobChainCheck(TBlobFile& file, bool fix, TBlobCheckProgress progress)
    : file_(file), fix_(fix), progress_(std::move(progress)) {}

void TBlobChainCheck::Report(const char* what, int32_t recordNumber) {
  if (!progress_) return;
  progress_(std::string(what) + " in BLOB file for physical record # " + std::to_string(recordNumber) + ", " +
            Outcome(fix_));
}

TBlobChainReport TBlobChainCheck::CheckChain(int32_t recordNumber, int32_t blobId, int32_t& firstBlock) {
  TBlobChainReport report;
  if (firstBlock == 0) return report;

  auto damage = [&](const char* what) {
    report.Damaged = true;
    report.Fixed = fix_;
    Report(what, recordNumber);
  };

  if (!file_.IsBlockPosition(firstBlock)) {
    damage(kInvalidOffset);
    if (fix_) firstBlock = 0;
    return report;
  }
  const int capacity = file_.DataCapacity();
  TBlock* block = file_.GetBlock(firstBlock);
  if (block->Owner != blobId || block->TotalLength < 0) {
    file_.ReleaseBlock(block);
    damage(kInvalidOffset);
    if (fix_) firstBlock = 0;
    return report;
  }
  // A block claiming more bytes than its data area holds: nothing of the
  // value before it is sound.
  if (block->Used > capacity) {
    file_.ReleaseBlock(block);
    damage(kInvalidLength);
    if (fix_) firstBlock = 0;
    return report;
  }

  TBlock* first = block;  // held for the whole walk: its length may be cut
  const int64_t total = first->TotalLength;
  // The bytes a load gets out of the chain, counted the way the load counts.
  int64_t loadable = 0;
  bool loading = total > 0;
  std::unordered_set<int32_t> visited{firstBlock};
  bool chainCut = false;  // a damage found on the way cuts the chain there

  try {
    for (;;) {
      ++report.Blocks;
      used_.insert(block->Position);
      if (loading) {
        const int64_t n = std::min<int64_t>(capacity, total - loadable);
        const int64_t copied = std::min<int64_t>(n, block->Used);
        loadable += copied;
        if (copied < n || loadable == total) loading = false;
      }
      const int32_t next = block->Next;
      if (next == 0) break;
      const bool valid = file_.IsBlockPosition(next);
      if (!valid || visited.count(next) != 0) {
        damage(valid ? kRecursivePointer : kInvalidPointer);
        chainCut = true;
        if (fix_) {
          block->Next = 0;
          block->Modified = true;
        }
        break;
      }
      visited.insert(next);
      TBlock* following = file_.GetBlock(next, nullptr, BlocksFor(total - loadable, capacity), true);
      if (following->Used > capacity) {
        file_.ReleaseBlock(following);
        damage(kInvalidLength);
        chainCut = true;
        if (fix_) {
          block->Next = 0;
          block->Modified = true;
        }
        break;
      }
      if (block != first) file_.ReleaseBlock(block);
      block = following;
    }
  } catch (...) {
    if (block != first) file_.ReleaseBlock(block);
    file_.ReleaseBlock(first);
    throw;
  }
  if (block != first) file_.ReleaseBlock(block);

  if (loadable < total) {
    // The chain ends before the value does.
    if (!chainCut) damage(kInvalidPointer);
    if (fix_) {
      first->TotalLength = static_cast<int32_t>(loadable);
      first->Modified = true;
    }
  }
  file_.ReleaseBlock(first);
  return report;
}

bool TBlobChainCheck::CheckRecord(int32_t recordNumber, uint8_t* image, const std::vector<TFieldDesc>& fields) {
  bool changed = false;
  for (const TFieldDesc& field : fields) {
    if (field.Type != ftBlob) continue;
    uint8_t* area = image + field.RecordOffset;
    int32_t position = GetI32(area + kPositionOffset);
    // A negative value is a buffer being edited, not a stored value.
    if (position <= 0) continue;
    CheckChain(recordNumber, GetI32(area + kIdentifierOffset), position);
    if (position == 0) {
      area[0] = 0;
      PutI32(area + kPositionOffset, 0);
      PutI32(area + kIdentifierOffset, 0);
      changed = true;
    }
  }
  return changed;
}

TFreeChainReport CheckFreeChain(TBlobFile& file, bool fix, const TBlobCheckProgress& progress,
                                const std::unordered_set<int32_t>* usedBlocks) {
  TFreeChainReport report;
  std::unordered_set<int32_t> visited;
  TBlock* previous = nullptr;
  int32_t position = file.Header.FreeBlock;
  try {
    while (position != 0) {
      if (!file.IsBlockPosition(position)) report.Problem = "Invalid free block pointer";
      else if (visited.count(position) != 0) report.Problem = "Recursive free block pointer";
      else if (usedBlocks != nullptr && usedBlocks->count(position) != 0) report.Problem = "Free block in use";
      if (!report.Problem.empty()) break;
      visited.insert(position);
      TBlock* block = file.GetBlock(position);
      ++report.Blocks;
      file.ReleaseBlock(previous);
      previous = block;
      position = block->Next;
    }
    if (!report.Problem.empty()) {
      report.Damaged = true;
      report.Fixed = fix;
      if (fix) {
        if (previous != nullptr) {
          previous->Next = 0;
          previous->Modified = true;
        } else {
          file.Header.FreeBlock = 0;
          file.HeaderModified = true;
        }
      }
      if (progress) progress(report.Problem + " in BLOB file, " + Outcome(fix));
    }
  } catch (...) {
    file.ReleaseBlock(previous);
    throw;
  }
  file.ReleaseBlock(previous);
  return report;
}

}  // namespace tessel
