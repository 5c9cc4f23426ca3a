#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <set>
#include <vector>

#include "IndexTestSupport.h"
#include "engine/base/TesselError.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/IndexPage.h"
#include "engine/storage/Scramble.h"

namespace tessel {
namespace {

using indextest::Bytes;
using indextest::KeyOf;
using Image = std::array<uint8_t, kPageSize>;

TIndexDesc Desc(int keyLength, uint8_t compression, bool unique) {
  TIndexDesc d;
  d.KeyLength = static_cast<uint16_t>(keyLength);
  d.Compression = compression;
  d.Unique = unique ? 1 : 0;
  return d;
}

TPage MakePage(int keyLength, uint8_t compression, bool unique, uint8_t type) {
  TPage page;
  page.Setup(8192, 1, Desc(keyLength, compression, unique));
  page.PageType = type;
  return page;
}

void Add(TPage& page, const std::vector<uint8_t>& key, int32_t value, int32_t count = 0) {
  page.InsertEntry(page.Count() + 1, key.data(), value, count);
}

Image Encode(const TPage& page, bool encrypted = false) {
  Image image;
  EXPECT_TRUE(page.Encode(image.data(), encrypted));
  return image;
}

std::vector<uint8_t> At(const Image& image, size_t offset, size_t count) {
  return std::vector<uint8_t>(image.begin() + static_cast<std::ptrdiff_t>(offset),
                              image.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

const std::vector<uint8_t> kABCD = Bytes({'A', 'B', 'C', 'D', 0, 0});
const std::vector<uint8_t> kABCE = Bytes({'A', 'B', 'C', 'E', 0, 0});
const std::vector<uint8_t> kX = Bytes({'X', 0, 0, 0, 0, 0});

TEST(IndexPageTest, CapacitiesFollowTheKeyLength) {
  EXPECT_EQ(TPage::LeafCapacity(102), 37);
  EXPECT_EQ(TPage::NodeCapacity(102), 36);
  EXPECT_EQ(TPage::LeafCapacity(5), 371);
  EXPECT_EQ(TPage::NodeCapacity(1040), 3);

  TPage leaf = MakePage(102, 0, true, ptLeaf);
  std::vector<uint8_t> key(102, 0);
  for (int i = 0; i < 37; ++i) {
    key[1] = static_cast<uint8_t>(i);
    Add(leaf, key, i);
  }
  EXPECT_FALSE(leaf.Overflows());
  key[1] = 200;
  Add(leaf, key, 38);
  EXPECT_TRUE(leaf.Overflows());
}

TEST(IndexPageTest, NodeAndPlainLeafImagesAtFixedOffsets) {
  TPage node = MakePage(6, 3, true, ptRootNode);  // compression does not apply to nodes
  node.Left = 0x1000;
  node.Right = 0x3000;
  Add(node, kABCD, 0x2000, 7);
  Add(node, kX, 0x5000, 300);
  const Image n = Encode(node);
  EXPECT_EQ(At(n, 0, 13), Bytes({0, 2, 0, 0x00, 0x10, 0, 0, 0x00, 0x30, 0, 0, 0, 0}));
  EXPECT_EQ(At(n, 13, 14), Bytes({'A', 'B', 'C', 'D', 0, 0, 0x00, 0x20, 0, 0, 7, 0, 0, 0}));
  EXPECT_EQ(At(n, 27, 14), Bytes({'X', 0, 0, 0, 0, 0, 0x00, 0x50, 0, 0, 0x2C, 0x01, 0, 0}));
  EXPECT_EQ(At(n, 41, kPageSize - 41), std::vector<uint8_t>(kPageSize - 41, 0));

  TPage leaf = MakePage(6, 0, true, ptLeaf);
  Add(leaf, kABCD, 17);
  Add(leaf, kX, 0x01020304);
  const Image l = Encode(leaf);
  EXPECT_EQ(At(l, 0, 3), Bytes({2, 2, 0}));
  EXPECT_EQ(At(l, 13, 20), Bytes({'A', 'B', 'C', 'D', 0, 0, 17, 0, 0, 0,  //
                                  'X', 0,   0,   0,   0, 0, 4,  3, 2, 1}));
}

TEST(IndexPageTest, LeadingByteCompression) {
  TPage leaf = MakePage(6, 1, true, ptRootLeaf);
  Add(leaf, kABCD, 1);
  Add(leaf, kABCE, 2);
  Add(leaf, kX, 3);
  EXPECT_EQ(leaf.ByteSize, 12 + 9 + 12);
  const Image image = Encode(leaf);
  EXPECT_EQ(At(image, 0, 3), Bytes({3, 3, 0}));
  EXPECT_EQ(At(image, 11, 2), Bytes({33, 0}));
  EXPECT_EQ(At(image, 13, 33), Bytes({0, 0, 'A', 'B', 'C', 'D', 0, 0, 1, 0, 0, 0,  //
                                      3, 0, 'E', 0,   0,   2,   0, 0, 0,           //
                                      0, 0, 'X', 0,   0,   0,   0, 0, 3, 0, 0, 0}));
}

TEST(IndexPageTest, TrailingZeroCompression) {
  TPage leaf = MakePage(6, 2, true, ptLeaf);
  Add(leaf, kABCD, 1);
  Add(leaf, kABCE, 2);
  Add(leaf, kX, 3);
  EXPECT_EQ(leaf.ByteSize, 10 + 10 + 7);
  const Image image = Encode(leaf);
  EXPECT_EQ(At(image, 11, 2), Bytes({27, 0}));
  EXPECT_EQ(At(image, 13, 27), Bytes({2, 0, 'A', 'B', 'C', 'D', 1, 0, 0, 0,  //
                                      2, 0, 'A', 'B', 'C', 'E', 2, 0, 0, 0,  //
                                      5, 0, 'X', 3,   0,   0,   0}));

  // Non-unique: the zero run is counted in front of the identifier suffix,
  // whose zero bytes are kept.
  TPage multi = MakePage(10, 2, false, ptLeaf);
  Add(multi, Bytes({'A', 'B', 0, 0, 0, 0, 0x80, 0, 0, 0}), 9);
  Add(multi, Bytes({'A', 'B', 'C', 0, 0, 0, 0x80, 0, 0, 7}), 10);
  EXPECT_EQ(multi.ByteSize, 12 + 13);
  const Image m = Encode(multi);
  EXPECT_EQ(At(m, 13, 25), Bytes({4, 0, 'A', 'B', 0x80, 0,    0, 0, 9, 0,  0, 0,  //
                                  3, 0, 'A', 'B', 'C',  0x80, 0, 0, 7, 10, 0, 0, 0}));
}

TEST(IndexPageTest, BothCompressionsUniqueAndNonUnique) {
  TPage leaf = MakePage(6, 3, true, ptLeaf);
  Add(leaf, kABCD, 1);
  Add(leaf, kABCE, 2);
  Add(leaf, kX, 3);
  EXPECT_EQ(leaf.ByteSize, 10 + 7 + 7);
  const Image image = Encode(leaf);
  EXPECT_EQ(At(image, 13, 24), Bytes({0, 2, 'A', 'B', 'C', 'D', 1, 0, 0, 0,  //
                                      3, 2, 'E', 2,   0,   0,   0,           //
                                      0, 5, 'X', 3,   0,   0,   0}));

  TPage multi = MakePage(10, 3, false, ptLeaf);
  Add(multi, Bytes({'A', 'B', 0, 0, 0, 0, 0x80, 0, 0, 7}), 1);
  // Shares 9 bytes: fewer than 5 remain, so no trail and no separate suffix.
  Add(multi, Bytes({'A', 'B', 0, 0, 0, 0, 0x80, 0, 0, 9}), 2);
  // Shares 1 byte: middle 'C', zero run of 4 before the suffix.
  Add(multi, Bytes({'A', 'C', 0, 0, 0, 0, 0x80, 0, 0, 1}), 3);
  EXPECT_EQ(multi.Lead(2), 9);
  EXPECT_EQ(multi.Trail(2), 0);
  EXPECT_EQ(multi.ByteSize, 12 + 7 + 11);
  const Image m = Encode(multi);
  EXPECT_EQ(At(m, 13, 30), Bytes({0, 4, 'A', 'B',  0x80, 0, 0, 7, 1, 0, 0, 0,  //
                                  9, 0, 9,   2,    0,    0, 0,                 //
                                  1, 4, 'C', 0x80, 0,    0, 1, 3, 0, 0, 0}));
}

TEST(IndexPageTest, BothCompressionsLimitCountsTo255) {
  TPage leaf = MakePage(300, 3, true, ptLeaf);
  std::vector<uint8_t> a(300, 'k');
  std::vector<uint8_t> b = a;
  b[299] = 'm';
  Add(leaf, a, 1);
  Add(leaf, b, 2);
  std::vector<uint8_t> c(300, 0);
  c[0] = 'z';
  Add(leaf, c, 3);
  EXPECT_EQ(leaf.Lead(2), 255);
  EXPECT_EQ(leaf.Trail(3), 255);
  EXPECT_EQ(leaf.ByteSize, 306 + 51 + 51);
  const Image image = Encode(leaf);
  EXPECT_EQ(At(image, 13, 2), Bytes({0, 0}));
  EXPECT_EQ(At(image, 13 + 306, 2), Bytes({255, 0}));
  EXPECT_EQ(image[13 + 306 + 2 + 44], 'm');
  EXPECT_EQ(At(image, 13 + 306 + 51, 3), Bytes({0, 255, 'z'}));

  TPage decoded = MakePage(300, 3, true, ptLeaf);
  ASSERT_TRUE(decoded.Decode(image.data(), false));
  EXPECT_EQ(KeyOf(decoded, 2), b);
  EXPECT_EQ(KeyOf(decoded, 3), c);
}

// Random sorted keys with shared heads and zero tails, so that every count
// and both suffix forms occur.
std::vector<std::vector<uint8_t>> RandomKeys(int keyLength, bool unique, int count,
                                             std::mt19937& rng) {
  std::set<std::vector<uint8_t>> keys;
  while (static_cast<int>(keys.size()) < count) {
    std::vector<uint8_t> key(static_cast<size_t>(keyLength), 0);
    const int head = unique ? keyLength : keyLength - 4;
    const int filled = std::uniform_int_distribution<int>(0, head)(rng);
    for (int i = 0; i < filled; ++i)
      key[static_cast<size_t>(i)] = static_cast<uint8_t>('a' + rng() % 3);
    if (!unique) {
      // Mostly zero suffix bytes, so that zeros follow the zero run.
      for (int i = head; i < keyLength; ++i) {
        key[static_cast<size_t>(i)] = rng() % 2 == 0 ? 0 : static_cast<uint8_t>(rng());
      }
    }
    keys.insert(key);
  }
  return {keys.begin(), keys.end()};
}

void ExpectSamePage(const TPage& a, const TPage& b) {
  EXPECT_EQ(a.PageType, b.PageType);
  EXPECT_EQ(a.Left, b.Left);
  EXPECT_EQ(a.Right, b.Right);
  EXPECT_EQ(a.ByteSize, b.ByteSize);
  ASSERT_EQ(a.Count(), b.Count());
  for (int i = 1; i <= a.Count(); ++i) {
    EXPECT_EQ(KeyOf(a, i), KeyOf(b, i)) << i;
    EXPECT_EQ(a.Value(i), b.Value(i)) << i;
    EXPECT_EQ(a.Lead(i), b.Lead(i)) << i;
    EXPECT_EQ(a.Trail(i), b.Trail(i)) << i;
    if (!a.IsLeaf()) {
      EXPECT_EQ(a.SubCount(i), b.SubCount(i)) << i;
    }
  }
}

TEST(IndexPageTest, DecodeReversesEncodeInEveryModeAndWithScrambling) {
  std::mt19937 rng(7);
  for (int keyLength : {5, 9, 40, 300}) {
    for (uint8_t mode = 0; mode <= 3; ++mode) {
      for (bool unique : {true, false}) {
        for (bool node : {false, true}) {
          for (bool encrypted : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "key " << keyLength << " mode " << int(mode)
                                              << " unique " << unique << " node " << node);
            TPage page = MakePage(keyLength, mode, unique, node ? ptInnerNode : ptLeaf);
            page.Left = 4096;
            page.Right = 12288;
            const int limit = node ? TPage::NodeCapacity(keyLength) : 60;
            for (const auto& key : RandomKeys(keyLength, unique, limit, rng)) {
              Add(page, key, static_cast<int32_t>(rng()), static_cast<int32_t>(rng() % 1000));
              if (page.Overflows()) {
                page.RemoveEntry(page.Count());
                break;
              }
            }
            if (page.IsLeaf()) {
              for (int i = 1; i <= page.Count(); ++i) page.SetSubCount(i, 0);
            }
            const Image image = Encode(page, encrypted);
            TPage decoded = MakePage(keyLength, mode, unique, 0);
            ASSERT_TRUE(decoded.Decode(image.data(), encrypted));
            ExpectSamePage(page, decoded);
            EXPECT_EQ(Encode(decoded, encrypted), image);
          }
        }
      }
    }
  }
}

TEST(IndexPageTest, ScrambledImageIsThePlainImageScrambledAsOneUnit) {
  TPage leaf = MakePage(6, 1, true, ptLeaf);
  Add(leaf, kABCD, 1);
  Image plain = Encode(leaf);
  const Image scrambled = Encode(leaf, true);
  EXPECT_NE(plain, scrambled);
  ScrambleData(plain.data(), plain.size());
  EXPECT_EQ(plain, scrambled);
}

TEST(IndexPageTest, FreedPageIsWrittenWithoutEntries) {
  TPage leaf = MakePage(6, 0, true, ptLeaf);
  Add(leaf, kABCD, 1);
  leaf.Freed = true;
  leaf.Right = 20480;
  const Image image = Encode(leaf);
  EXPECT_EQ(At(image, 0, 13), Bytes({2, 0, 0, 0, 0, 0, 0, 0, 0x50, 0, 0, 0, 0}));
  EXPECT_EQ(At(image, 13, kPageSize - 13), std::vector<uint8_t>(kPageSize - 13, 0));
}

TEST(IndexPageTest, FirstEntryLeadIsIgnoredWhenBothCompressionsAreOn) {
  TPage leaf = MakePage(6, 3, true, ptLeaf);
  Add(leaf, kABCD, 1);
  Image image = Encode(leaf);
  image[13] = 4;  // a stale lead in the first entry
  TPage decoded = MakePage(6, 3, true, 0);
  ASSERT_TRUE(decoded.Decode(image.data(), false));
  EXPECT_EQ(KeyOf(decoded, 1), kABCD);
  EXPECT_EQ(decoded.Lead(1), 0);
}

TEST(IndexPageTest, DamagedImagesAreRejected) {
  TPage leaf = MakePage(6, 1, true, ptLeaf);
  Add(leaf, kABCD, 1);
  Add(leaf, kABCE, 2);
  const Image good = Encode(leaf);
  auto decodes = [](const Image& image, uint8_t mode) {
    TPage page = MakePage(6, mode, true, 0);
    return page.Decode(image.data(), false);
  };
  EXPECT_TRUE(decodes(good, 1));

  Image badType = good;
  badType[0] = 4;
  EXPECT_FALSE(decodes(badType, 1));

  Image firstLead = good;
  firstLead[13] = 2;  // the first entry has nothing to share with
  EXPECT_FALSE(decodes(firstLead, 1));

  Image longLead = good;
  longLead[25] = 7;  // more than the key length
  EXPECT_FALSE(decodes(longLead, 1));

  Image tooMany = good;
  tooMany[1] = 0xFF;
  tooMany[2] = 0x01;  // 511 entries run past the page
  EXPECT_FALSE(decodes(tooMany, 1));
  EXPECT_FALSE(decodes(tooMany, 0));

  TPage node = MakePage(6, 0, true, ptInnerNode);
  Add(node, kABCD, 4096, 1);
  Image nodeImage = Encode(node);
  PutU16(nodeImage.data() + 1, 292);  // 292 * 14 > 4083
  EXPECT_FALSE(decodes(nodeImage, 0));
}

TEST(IndexPageTest, CompressedLeafThatDoesNotFitIsNotWritten) {
  TPage leaf = MakePage(300, 1, true, ptLeaf);
  std::vector<uint8_t> key(300, 0);
  for (int i = 0; i < 14; ++i) {
    key[0] = static_cast<uint8_t>(i);
    Add(leaf, key, i);
  }
  EXPECT_EQ(leaf.ByteSize, 14 * 306);
  EXPECT_TRUE(leaf.Overflows());
  Image image;
  EXPECT_FALSE(leaf.Encode(image.data(), false));
}

class IndexPageSearchTest : public ::testing::Test {
 protected:
  IndexPageSearchTest() : ctx(Desc(6, 0, true), 1, {}, nullptr, "T") {}

  int Search(TPage& page, int firstByte, TPageSearch kind, bool* equal = nullptr,
             int32_t* before = nullptr) {
    const auto key = Bytes({firstByte, 0, 0, 0, 0, 0});
    return page.Search(ctx, key.data(), kind, equal, before);
  }

  TKeyContext ctx;
};

TEST_F(IndexPageSearchTest, SearchVariantsPlaceTheCurrentEntry) {
  TPage leaf = MakePage(6, 0, true, ptLeaf);
  for (int b : {10, 20, 30, 40}) Add(leaf, Bytes({b, 0, 0, 0, 0, 0}), b);
  bool equal = false;
  EXPECT_EQ(Search(leaf, 30, TPageSearch::Insert, &equal), 3);
  EXPECT_TRUE(equal);
  EXPECT_EQ(leaf.Current, 3);
  EXPECT_EQ(Search(leaf, 25, TPageSearch::Insert, &equal), 2);
  EXPECT_FALSE(equal);
  EXPECT_EQ(Search(leaf, 5, TPageSearch::Insert), 0);
  EXPECT_EQ(leaf.Current, 0);
  EXPECT_EQ(Search(leaf, 5, TPageSearch::Exists), 1);
  EXPECT_EQ(Search(leaf, 50, TPageSearch::Exists), 4);

  int32_t before = 100;
  Search(leaf, 35, TPageSearch::Exists, nullptr, &before);
  EXPECT_EQ(before, 102);

  TPage node = MakePage(6, 0, true, ptInnerNode);
  Add(node, Bytes({10, 0, 0, 0, 0, 0}), 4096, 5);
  Add(node, Bytes({20, 0, 0, 0, 0, 0}), 8192, 7);
  Add(node, Bytes({30, 0, 0, 0, 0, 0}), 12288, 11);
  before = 0;
  EXPECT_EQ(Search(node, 30, TPageSearch::Exists, nullptr, &before), 3);
  EXPECT_EQ(before, 12);
}

TEST_F(IndexPageSearchTest, EmptyPageIsCorrupt) {
  TPage leaf = MakePage(6, 0, true, ptLeaf);
  try {
    Search(leaf, 1, TPageSearch::Insert);
    FAIL() << "no error";
  } catch (const ETesselEngineError& e) {
    EXPECT_EQ(e.Code(), ec::PageBuffersCorrupt);
  }
}

}  // namespace
}  // namespace tessel
