// BLOB values as chains: loading, storing over an old chain (reuse, surplus,
// allocation), identifiers, releasing, and the refusals of damaged chains.
#include <gtest/gtest.h>

#include <vector>

#include "BlobTestSupport.h"

namespace tessel {
namespace {

using testing::BlobTable;
using testing::ErrorOf;
using testing::FakeReadContext;
using testing::Pattern;

int32_t FileI32(BlobTable& bt, int32_t position, int offset) { return GetI32(bt.FileBlock(position).data() + offset); }

TEST(BlobBufferTest, ValuesRoundTripAtBlockBoundaries) {
  for (uint32_t blockSize : {64u, 512u}) {
    BlobTable bt(blockSize);
    const size_t c = static_cast<size_t>(bt.C());
    for (size_t size : {size_t{1}, c - 1, c, c + 1, 2 * c, 2 * c + 1, 7 * c + 5, size_t{5000}}) {
      const auto value = Pattern(size, static_cast<uint8_t>(size));
      const auto [first, id] = bt.Store(value);
      bt.Flush();
      bt.Blob().DropBlocks();
      EXPECT_EQ(bt.Load(first, id), value) << "block size " << blockSize << ", " << size << " bytes";
    }
  }
}

TEST(BlobBufferTest, ShrinkingKeepsTheFirstBlockAndFreesTheRest) {
  BlobTable bt(512);
  auto [first, id] = bt.Store(Pattern(1000));  // blocks 512, 1024, 1536
  ASSERT_EQ(first, 512);
  std::tie(first, id) = bt.Store(Pattern(10, 9), first, id);
  bt.Flush();
  EXPECT_EQ(first, 512);
  EXPECT_EQ(id, 2);

  EXPECT_EQ(FileI32(bt, 512, 4), 0);     // next
  EXPECT_EQ(GetU16(bt.FileBlock(512).data() + 8), 10);
  EXPECT_EQ(FileI32(bt, 512, 10), 2);    // owner
  EXPECT_EQ(FileI32(bt, 512, 14), 10);   // total length
  // Freed in chain order, so the last block heads the free chain.
  EXPECT_EQ(bt.Blob().Header.FreeBlock, 1536);
  EXPECT_EQ(FileI32(bt, 1536, 4), 1024);
  EXPECT_EQ(FileI32(bt, 1024, 4), 0);
  EXPECT_EQ(bt.Blob().Header.EndOfFile, 2048);
  EXPECT_EQ(bt.Load(first, id), Pattern(10, 9));

  // Growing again reuses the first block and takes the free blocks.
  const auto big = Pattern(1200, 3);
  std::tie(first, id) = bt.Store(big, first, id);
  bt.Flush();
  EXPECT_EQ(first, 512);
  EXPECT_EQ(FileI32(bt, 512, 4), 1536);
  EXPECT_EQ(FileI32(bt, 1536, 0), 512);   // previous
  EXPECT_EQ(FileI32(bt, 1536, 4), 1024);
  EXPECT_EQ(FileI32(bt, 1536, 10), id);
  EXPECT_EQ(FileI32(bt, 1536, 14), 0);
  EXPECT_EQ(bt.Blob().Header.FreeBlock, 0);
  EXPECT_EQ(bt.Blob().Header.EndOfFile, 2048);
  bt.Blob().DropBlocks();
  EXPECT_EQ(bt.Load(first, id), big);
}

TEST(BlobBufferTest, ARewriteReusesTheOldBlocksInOrder) {
  BlobTable bt(64);
  auto [first, id] = bt.Store(Pattern(3 * 46));  // 512, 576, 640
  bt.Store(Pattern(10));                            // 704: the next new block is 768
  std::tie(first, id) = bt.Store(Pattern(5 * 46, 2), first, id);
  bt.Flush();
  EXPECT_EQ(FileI32(bt, 512, 4), 576);
  EXPECT_EQ(FileI32(bt, 576, 4), 640);
  EXPECT_EQ(FileI32(bt, 640, 4), 768);
  EXPECT_EQ(FileI32(bt, 768, 4), 832);
  EXPECT_EQ(FileI32(bt, 832, 4), 0);
  EXPECT_EQ(FileI32(bt, 832, 0), 768);
  EXPECT_EQ(bt.Load(first, id), Pattern(5 * 46, 2));
}

TEST(BlobBufferTest, EveryStoreTakesANewIdentifierWhichWraps) {
  BlobTable bt(64);
  auto [first, id] = bt.Store(Pattern(5));
  EXPECT_EQ(id, 1);
  std::tie(first, id) = bt.Store(Pattern(5), first, id);
  EXPECT_EQ(id, 2);
  EXPECT_EQ(bt.T().Data().Header.LastBlobId, 2);
  bt.T().Data().Header.LastBlobId = 2147483647;
  std::tie(first, id) = bt.Store(Pattern(5), first, id);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(bt.Load(first, 1), Pattern(5));
  // The old identifier no longer opens the value.
  EXPECT_EQ(ErrorOf([&] { bt.Load(first, 2); }).Code, ec::BlobBuffersCorrupt);
}

TEST(BlobBufferTest, AFirstBlockOfAnotherOwnerRefusesToLoad) {
  BlobTable bt(64);
  const auto [first, id] = bt.Store(Pattern(100));
  bt.Flush();
  const auto e = ErrorOf([&] { bt.Load(first, id + 1); });
  EXPECT_EQ(e.Code, ec::BlobBuffersCorrupt);
  EXPECT_EQ(e.Message, "BLOB block buffers corrupt in table 't'");
}

TEST(BlobBufferTest, DamagedChainsAreRefusedAndNeverLoopForever) {
  BlobTable bt(64);
  bt.Store(Pattern(20 * 46));  // room in the file for long lengths
  const auto [first, id] = bt.Store(Pattern(3 * 46));
  bt.Flush();
  const int32_t second = first + 64;
  const int32_t third = first + 128;

  // The third block leads back to the first; the length asks for more.
  bt.PatchBlockI32(first, 14, 10 * 46);
  bt.PatchBlockI32(third, 4, first);
  EXPECT_EQ(ErrorOf([&] { bt.Load(first, id); }).Code, ec::BlobBuffersCorrupt);
  // A block that names itself.
  bt.PatchBlockI32(second, 4, second);
  EXPECT_EQ(ErrorOf([&] { bt.Load(first, id); }).Code, ec::BlobBuffersCorrupt);
  // Beyond the end of the file, below the first block, between blocks.
  for (int32_t bad : {bt.Blob().Header.EndOfFile + 64, 448, second + 1}) {
    bt.PatchBlockI32(second, 4, bad);
    EXPECT_EQ(ErrorOf([&] { bt.Load(first, id); }).Code, ec::BlobBuffersCorrupt) << bad;
  }
  // Releasing a looping chain stops as well.
  bt.PatchBlockI32(second, 4, first);
  int32_t position = first;
  EXPECT_EQ(ErrorOf([&] { bt.Blob().FreeChain(nullptr, false, true, id, position); }).Code,
            ec::BlobBuffersCorrupt);
}

TEST(BlobBufferTest, AChainThatEndsEarlyIsReported) {
  BlobTable bt(64);
  const auto [first, id] = bt.Store(Pattern(2 * 46));
  bt.Store(Pattern(2 * 46));
  bt.Flush();
  bt.PatchBlockI32(first, 14, 3 * 46);
  auto e = ErrorOf([&] { bt.Load(first, id); });
  EXPECT_EQ(e.Code, ec::EndOfBlob);
  EXPECT_EQ(e.Message, "End of blob data in table 't' reached prematurely");
  // A length no chain in the file could hold.
  bt.PatchBlockI32(first, 14, 2000000000);
  EXPECT_EQ(ErrorOf([&] { bt.Load(first, id); }).Code, ec::EndOfBlob);
  bt.PatchBlockI32(first, 14, -1);
  EXPECT_EQ(ErrorOf([&] { bt.Load(first, id); }).Code, ec::BlobBuffersCorrupt);
}

TEST(BlobBufferTest, ALoadStartsOverWhenAnotherUserChangedTheFile) {
  BlobTable bt(64);
  const auto value = Pattern(5 * 46);
  const auto [first, id] = bt.Store(value);
  bt.Flush();
  bt.Blob().DropBlocks();

  // The change check on the second miss reports a change and drops the cache.
  FakeReadContext cursor;
  cursor.OnMiss = [&] {
    if (cursor.Misses != 2) return false;
    bt.Blob().DropBlocks();
    return true;
  };
  EXPECT_EQ(bt.Load(first, id, &cursor), value);
  EXPECT_EQ(cursor.Misses, 4);
}

TEST(BlobBufferTest, ReleaseFreesTheWholeChainAndTakesOverAForeignFirstBlock) {
  BlobTable bt(64);
  const auto [first, id] = bt.Store(Pattern(3 * 46));
  bt.Flush();
  TBlobBuffer buffer(bt.T(), nullptr, testing::kNoteField, 1, first, id + 5);
  // Without force the owner must match.
  int32_t position = first;
  EXPECT_EQ(ErrorOf([&] { bt.Blob().FreeChain(nullptr, false, false, id + 5, position); }).Code,
            ec::BlobBuffersCorrupt);
  EXPECT_EQ(position, first);

  // Check only: walked, nothing changes.
  bt.Blob().FreeChain(nullptr, true, false, id, position);
  EXPECT_EQ(position, first);
  EXPECT_EQ(bt.Blob().Header.FreeBlock, 0);

  buffer.Release();
  EXPECT_EQ(buffer.FirstBlock(), 0);
  bt.Flush();
  EXPECT_EQ(bt.Blob().Header.FreeBlock, first + 128);
  EXPECT_EQ(FileI32(bt, first + 128, 4), first + 64);
  EXPECT_EQ(FileI32(bt, first + 64, 4), first);
  EXPECT_EQ(FileI32(bt, first, 4), 0);
  EXPECT_EQ(FileI32(bt, first, 10), id + 5);  // the forced owner
}

}  // namespace
}  // namespace tessel
