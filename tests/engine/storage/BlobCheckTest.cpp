// The chain check of table verification, on damaged BLOB files, in check-only
// and fixing mode; and the free chain check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BlobTestSupport.h"
#include "engine/storage/BlobCheck.h"

namespace tessel {
namespace {

using testing::BlobTable;
using testing::kNoteField;
using testing::Pattern;
using testing::ReadFileBytes;

class BlobCheckTest : public ::testing::Test {
 protected:
  BlobCheckTest() : bt_(64) {
    bt_.Store(Pattern(10 * 46));  // another value, so that the file has room for long chains
    std::tie(first_, id_) = bt_.Store(Pattern(3 * 46));
    bt_.Flush();
  }

  // Runs the check of one chain; answers the messages.
  std::vector<std::string> Check(bool fix, int32_t& firstBlock, TBlobChainReport* report = nullptr) {
    std::vector<std::string> messages;
    TBlobChainCheck check(bt_.Blob(), fix, [&](const std::string& m) { messages.push_back(m); });
    const TBlobChainReport r = check.CheckChain(7, id_, firstBlock);
    if (report != nullptr) *report = r;
    bt_.Flush();
    return messages;
  }

  // Runs the check in check-only mode and makes sure the file stays as it was.
  std::vector<std::string> CheckOnly() {
    const auto before = ReadFileBytes(bt_.BlobName());
    int32_t position = first_;
    auto messages = Check(false, position);
    EXPECT_EQ(position, first_);
    auto after = ReadFileBytes(bt_.BlobName());
    // The header write moves its change counter and flag; free block and
    // end of file stay, and so does every block.
    for (size_t i : {0, 1, 2, 3, 17}) after[i] = before[i];
    EXPECT_EQ(after, before);
    return messages;
  }

  int32_t second() const { return first_ + 64; }
  int32_t third() const { return first_ + 128; }

  BlobTable bt_;
  int32_t first_ = 0;
  int32_t id_ = 0;
};

TEST_F(BlobCheckTest, AHealthyChainReportsNothing) {
  int32_t position = first_;
  TBlobChainReport report;
  EXPECT_TRUE(Check(true, position, &report).empty());
  EXPECT_FALSE(report.Damaged);
  EXPECT_EQ(report.Blocks, 3);
  EXPECT_EQ(position, first_);
}

TEST_F(BlobCheckTest, ACutChain) {
  bt_.PatchBlockI32(second(), 4, bt_.Blob().Header.EndOfFile + 6400);
  EXPECT_EQ(CheckOnly(), (std::vector<std::string>{
                             "Invalid intra-block pointer in BLOB file for physical record # 7, error not fixed"}));

  int32_t position = first_;
  TBlobChainReport report;
  EXPECT_EQ(Check(true, position, &report),
            (std::vector<std::string>{"Invalid intra-block pointer in BLOB file for physical record # 7, error fixed"}));
  EXPECT_TRUE(report.Fixed);
  EXPECT_EQ(position, first_);
  // The chain ends at the second block, and the value is cut to what it holds.
  EXPECT_EQ(GetI32(bt_.FileBlock(second()).data() + 4), 0);
  EXPECT_EQ(GetI32(bt_.FileBlock(first_).data() + 14), 2 * 46);
  bt_.Blob().DropBlocks();
  EXPECT_EQ(bt_.Load(first_, id_), Pattern(2 * 46));
  EXPECT_TRUE(Check(false, position).empty());
}

TEST_F(BlobCheckTest, ALoopingChain) {
  bt_.PatchBlockI32(third(), 4, first_);
  EXPECT_EQ(CheckOnly(), (std::vector<std::string>{
                             "Recursive intra-block pointer in BLOB file for physical record # 7, error not fixed"}));

  int32_t position = first_;
  EXPECT_EQ(Check(true, position),
            (std::vector<std::string>{"Recursive intra-block pointer in BLOB file for physical record # 7, error fixed"}));
  EXPECT_EQ(GetI32(bt_.FileBlock(third()).data() + 4), 0);
  bt_.Blob().DropBlocks();
  EXPECT_EQ(bt_.Load(first_, id_), Pattern(3 * 46));
}

TEST_F(BlobCheckTest, AChainThatEndsBeforeItsLength) {
  bt_.PatchBlockI32(second(), 4, 0);
  EXPECT_EQ(CheckOnly(), (std::vector<std::string>{
                             "Invalid intra-block pointer in BLOB file for physical record # 7, error not fixed"}));
  int32_t position = first_;
  Check(true, position);
  bt_.Blob().DropBlocks();
  EXPECT_EQ(bt_.Load(first_, id_), Pattern(2 * 46));
}

// A block's used count may not exceed its data area (the block size less
// the 18 bytes of its header). Fixing cuts the chain before such a block,
// and the value to the bytes before it; a first block that claims too much
// leaves nothing sound, so the field is cleared.
TEST_F(BlobCheckTest, ABlockThatClaimsMoreBytesThanItHolds) {
  const std::string notFixed = "Invalid block length in BLOB file for physical record # 7, error not fixed";
  const std::string fixed = "Invalid block length in BLOB file for physical record # 7, error fixed";
  // The data area's size is the limit itself.
  bt_.PatchBlockU16(third(), 8, 46);
  EXPECT_TRUE(CheckOnly().empty());

  for (const uint16_t used : {uint16_t{47}, uint16_t{60000}}) {
    SCOPED_TRACE(used);
    bt_.PatchBlockU16(second(), 8, used);
    EXPECT_EQ(CheckOnly(), std::vector<std::string>{notFixed});
  }
  int32_t position = first_;
  TBlobChainReport report;
  EXPECT_EQ(Check(true, position, &report), std::vector<std::string>{fixed});
  EXPECT_TRUE(report.Fixed);
  EXPECT_EQ(report.Blocks, 1);
  EXPECT_EQ(position, first_);
  EXPECT_EQ(GetI32(bt_.FileBlock(first_).data() + 4), 0);
  EXPECT_EQ(GetI32(bt_.FileBlock(first_).data() + 14), 46);
  bt_.Blob().DropBlocks();
  EXPECT_EQ(bt_.Load(first_, id_), Pattern(46));
  EXPECT_TRUE(Check(false, position).empty());

  bt_.PatchBlockU16(first_, 8, 60000);
  position = first_;
  EXPECT_EQ(Check(false, position), std::vector<std::string>{notFixed});
  EXPECT_EQ(Check(true, position), std::vector<std::string>{fixed});
  EXPECT_EQ(position, 0);
}

TEST_F(BlobCheckTest, AFirstBlockOfAnotherOwnerOrNoBlockAtAll) {
  bt_.PatchBlockI32(first_, 10, id_ + 1);
  EXPECT_EQ(CheckOnly(), (std::vector<std::string>{
                             "Invalid BLOB offset in BLOB file for physical record # 7, error not fixed"}));

  // Fixing clears the field of the record.
  std::vector<uint8_t> image(static_cast<size_t>(bt_.RecordSize()), 0);
  const int offset = bt_.FieldDesc(kNoteField).RecordOffset;
  image[static_cast<size_t>(offset)] = 1;
  PutI32(image.data() + offset + 1, first_);
  PutI32(image.data() + offset + 5, id_);
  std::vector<std::string> messages;
  TBlobChainCheck check(bt_.Blob(), true, [&](const std::string& m) { messages.push_back(m); });
  EXPECT_TRUE(check.CheckRecord(7, image.data(), bt_.T().Data().Fields));
  EXPECT_EQ(messages,
            (std::vector<std::string>{"Invalid BLOB offset in BLOB file for physical record # 7, error fixed"}));
  EXPECT_EQ(image[static_cast<size_t>(offset)], 0);
  EXPECT_EQ(GetI32(image.data() + offset + 1), 0);
  EXPECT_EQ(GetI32(image.data() + offset + 5), 0);

  // A position that names no block.
  for (int32_t bad : {100, first_ + 3, bt_.Blob().Header.EndOfFile}) {
    int32_t position = bad;
    EXPECT_EQ(Check(false, position),
              (std::vector<std::string>{"Invalid BLOB offset in BLOB file for physical record # 7, error not fixed"}));
    EXPECT_EQ(position, bad);
    Check(true, position);
    EXPECT_EQ(position, 0);
  }
}

TEST_F(BlobCheckTest, TheFreeChain) {
  // Free the checked value: 3 blocks on the free chain.
  bt_.Store({}, first_, id_);
  bt_.Flush();
  TFreeChainReport report = CheckFreeChain(bt_.Blob(), false);
  EXPECT_FALSE(report.Damaged);
  EXPECT_EQ(report.Blocks, 3);

  // The last free block leads back to the head.
  bt_.PatchBlockI32(first_, 4, third());
  std::vector<std::string> messages;
  auto collect = [&](const std::string& m) { messages.push_back(m); };
  report = CheckFreeChain(bt_.Blob(), false, collect);
  EXPECT_TRUE(report.Damaged);
  EXPECT_EQ(report.Blocks, 3);
  EXPECT_EQ(messages, (std::vector<std::string>{"Recursive free block pointer in BLOB file, error not fixed"}));
  report = CheckFreeChain(bt_.Blob(), true);
  EXPECT_TRUE(report.Fixed);
  EXPECT_FALSE(CheckFreeChain(bt_.Blob(), false).Damaged);

  // A free block that a value holds.
  const std::unordered_set<int32_t> used{second()};
  report = CheckFreeChain(bt_.Blob(), true, {}, &used);
  EXPECT_EQ(report.Problem, "Free block in use");
  EXPECT_EQ(report.Blocks, 1);
  EXPECT_EQ(bt_.Blob().CachedBlock(third())->Next, 0);

  // A head that names no block.
  bt_.Blob().Header.FreeBlock = 100;
  report = CheckFreeChain(bt_.Blob(), true);
  EXPECT_EQ(report.Problem, "Invalid free block pointer");
  EXPECT_EQ(bt_.Blob().Header.FreeBlock, 0);
}

}  // namespace
}  // namespace tessel
