// A BLOB header whose end-of-file position lies beyond the file: new blocks
// are refused instead of growing the file up to that end, and a value's
// length is held against the blocks that really exist before anything is
// allocated for it.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "BlobTestSupport.h"

namespace tessel {
namespace {

using testing::BlobTable;
using testing::ErrorOf;
using testing::Pattern;
using testing::ReadFileBytes;

constexpr int kHeaderEndOfFile = 13;

// Writes a damaged end-of-file position into the file's header and reads
// the header again, as an open of the damaged file would.
void DamageEndOfFile(BlobTable& bt, int32_t end) {
  std::vector<uint8_t> bytes(4);
  PutI32(bytes.data(), end);
  testing::PatchFileBytes(bt.BlobName(), kHeaderEndOfFile, bytes);
  bt.Blob().DropBlocks();
  bt.Blob().ReadBlobHeader();
}

TEST(BlobDamageTest, HeldBlocksCountTheFileAndTheNewBlocksOnlyInTheCache) {
  BlobTable bt(64);
  EXPECT_EQ(bt.Blob().HeldBlockCount(), 0);
  bt.Store(Pattern(3 * 46));  // three new blocks, none written yet
  EXPECT_EQ(ReadFileBytes(bt.BlobName()).size(), 512u);
  EXPECT_EQ(bt.Blob().HeldBlockCount(), 3);
  bt.Flush();
  bt.Blob().DropBlocks();
  EXPECT_EQ(bt.Blob().HeldBlockCount(), 3);

  // An end of file beyond the file does not add blocks; one below it cuts.
  DamageEndOfFile(bt, 512 + 1000 * 64);
  EXPECT_EQ(bt.Blob().HeldBlockCount(), 3);
  DamageEndOfFile(bt, 512 + 2 * 64);
  EXPECT_EQ(bt.Blob().HeldBlockCount(), 2);
}

TEST(BlobDamageTest, AnEndOfFileBeyondTheFileRefusesNewBlocksAndLeavesTheFile) {
  BlobTable bt(64);
  const auto [first, id] = bt.Store(Pattern(2 * 46));
  bt.Flush();
  const size_t length = ReadFileBytes(bt.BlobName()).size();
  ASSERT_EQ(length, 512u + 2 * 64);

  DamageEndOfFile(bt, 512 + 100000 * 64);
  auto e = ErrorOf([&] { bt.Store(Pattern(10)); });
  EXPECT_EQ(e.Code, ec::BlobBuffersCorrupt);
  EXPECT_EQ(e.Message, "BLOB block buffers corrupt in table 't'");
  bt.Blob().WriteBackBlocks();
  EXPECT_EQ(ReadFileBytes(bt.BlobName()).size(), length);
  // What the file holds still reads.
  EXPECT_EQ(bt.Load(first, id), Pattern(2 * 46));
  // Growing a value takes new blocks as well.
  EXPECT_EQ(ErrorOf([&] { bt.Store(Pattern(5 * 46), first, id); }).Code, ec::BlobBuffersCorrupt);
  bt.Blob().WriteBackBlocks();
  EXPECT_EQ(ReadFileBytes(bt.BlobName()).size(), length);

  // With the end of file set right again (what a repair does), new blocks
  // follow on directly.
  DamageEndOfFile(bt, static_cast<int32_t>(length));
  const auto [added, addedId] = bt.Store(Pattern(3 * 46, 5));
  EXPECT_EQ(added, static_cast<int32_t>(length));
  bt.Flush();
  bt.Blob().DropBlocks();
  EXPECT_EQ(bt.Load(added, addedId), Pattern(3 * 46, 5));
}

TEST(BlobDamageTest, NewBlocksFollowBlocksNotWrittenYetAndBlocksWrittenAndDropped) {
  BlobTable bt(64);
  // Twenty blocks taken one after another while none of them is written.
  const auto [first, id] = bt.Store(Pattern(20 * 46));
  // Written and dropped from the cache: the next block follows the file.
  bt.Flush();
  bt.Blob().DropBlocks();
  const auto [second, secondId] = bt.Store(Pattern(46, 3));
  EXPECT_EQ(second, 512 + 20 * 64);
  bt.Flush();
  bt.Blob().DropBlocks();
  EXPECT_EQ(bt.Load(first, id), Pattern(20 * 46));
  EXPECT_EQ(bt.Load(second, secondId), Pattern(46, 3));
}

TEST(BlobDamageTest, ALastBlockCutShortCountsAsABlockOfTheFile) {
  BlobTable bt(64);
  bt.Store(Pattern(2 * 46));
  bt.Flush();
  // The file ends halfway through its second block; the end of file lies at
  // the end of that block (where the structure check's repair puts it).
  std::filesystem::resize_file(bt.BlobName(), 512 + 64 + 32);
  DamageEndOfFile(bt, 512 + 2 * 64);
  EXPECT_EQ(bt.Blob().HeldBlockCount(), 2);
  const auto [first, id] = bt.Store(Pattern(46, 7));
  EXPECT_EQ(first, 512 + 2 * 64);
  bt.Flush();
  bt.Blob().DropBlocks();
  EXPECT_EQ(bt.Load(first, id), Pattern(46, 7));
}

TEST(BlobDamageTest, ALengthBeyondTheBlocksHeldIsRefusedBeforeTheChainIsWalked) {
  BlobTable bt(64);
  const auto [first, id] = bt.Store(Pattern(2 * 46));
  bt.Store(Pattern(46));  // a third block in the file
  bt.Flush();
  // The header claims room for far longer values than the file holds, the
  // first block claims such a value, and its chain leads back to itself: the
  // length is refused before the walk could find the loop.
  DamageEndOfFile(bt, 512 + 1000000 * 64);
  bt.PatchBlockI32(first, 14, 900000 * 46);
  bt.PatchBlockI32(first + 64, 4, first);
  auto e = ErrorOf([&] { bt.Load(first, id); });
  EXPECT_EQ(e.Code, ec::EndOfBlob);
  EXPECT_EQ(e.Message, "End of blob data in table 't' reached prematurely");

  // A length the three blocks held could carry is walked as before, and the
  // loop found; one beyond them is refused.
  bt.PatchBlockI32(first, 14, 3 * 46);
  EXPECT_EQ(ErrorOf([&] { bt.Load(first, id); }).Code, ec::BlobBuffersCorrupt);
  bt.PatchBlockI32(first, 14, 3 * 46 + 1);
  EXPECT_EQ(ErrorOf([&] { bt.Load(first, id); }).Code, ec::EndOfBlob);
  bt.PatchBlockI32(first + 64, 4, 0);
  bt.PatchBlockI32(first, 14, 2 * 46);
  EXPECT_EQ(bt.Load(first, id), Pattern(2 * 46));
}

}  // namespace
}  // namespace tessel
