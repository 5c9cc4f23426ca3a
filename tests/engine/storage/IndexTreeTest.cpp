#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "IndexTestSupport.h"
#include "engine/base/TesselError.h"
#include "engine/storage/IndexCheck.h"
#include "engine/storage/IndexTree.h"
#include "support/MemoryPageStore.h"

namespace tessel {
namespace {

using indextest::KeyOf;
using indextest::MakeIndex;
using indextest::ReadPage;
using indextest::TTestFields;
using indextest::TTestRow;

constexpr int kIndex = 1;

std::string Name(int i) {
  char text[16];
  std::snprintf(text, sizeof text, "k%04d", i);
  return text;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& line : lines) all += line + "\n";
  return all;
}

class IndexTreeTest : public ::testing::Test {
 protected:
  // One string field of the given declared size; siteurl is 100.
  void Build(int declaredSize, bool unique, uint8_t compression, bool descending = false) {
    field = fields.Add(ftString, static_cast<uint8_t>(declaredSize + 1));
    desc = MakeIndex(fields, {field}, unique, compression, descending);
    store.Header().Indexes[kIndex] = desc;
    ctx = std::make_unique<TKeyContext>(desc, kIndex, fields.Fields, nullptr, "T");
    tree = std::make_unique<TIndexTree>(store, *ctx);
  }
  std::vector<uint8_t> Key(const std::string& text) {
    return ctx->BuildKey(TTestRow(fields).Str(field, text).data());
  }
  void Insert(const std::string& text, int32_t record) {
    tree->InsertKey(Key(text).data(), record);
  }
  void Insert(int i) { Insert(Name(i), i); }
  void Delete(const std::string& text) {
    const auto key = Key(text);
    ASSERT_TRUE(tree->KeyExists(key.data())) << text;
    tree->DeleteKey(key.data());
  }
  void Delete(int i) { Delete(Name(i)); }
  TPage Page(int32_t position) { return ReadPage(store, kIndex, position); }
  int32_t Root() { return store.Root(kIndex); }
  std::string TextOf(const TPage& page, int entry) {
    return std::string(reinterpret_cast<const char*>(page.Key(entry)) + 1);
  }
  void ExpectValid() {
    const TIndexCheckResult result = CheckIndexTree(store, *ctx);
    EXPECT_TRUE(result.Ok()) << Join(result.Findings);
    EXPECT_EQ(result.EntryCount, tree->EntryCount());
    const auto chain = CheckFreeChain(store, kIndex, &result.Pages);
    EXPECT_TRUE(chain.empty()) << Join(chain);
    EXPECT_EQ(store.PagesInUse(), 0u);
    EXPECT_EQ(store.EncodeFailures(), 0u);
  }

  TMemoryPageStore store{"T"};
  TTestFields fields;
  int field = 0;
  TIndexDesc desc;
  std::unique_ptr<TKeyContext> ctx;
  std::unique_ptr<TIndexTree> tree;
};

TEST_F(IndexTreeTest, ThirtyEighthEntrySplitsTheLeafNineteenNineteen) {
  Build(100, true, 0);
  ASSERT_EQ(desc.KeyLength, 102);
  for (int i = 0; i < 37; ++i) Insert(i);
  EXPECT_EQ(Root(), 4096);
  EXPECT_EQ(Page(4096).PageType, ptRootLeaf);
  EXPECT_EQ(Page(4096).Count(), 37);

  Insert(37);
  // The new right page was allocated first, then the new root.
  EXPECT_EQ(Root(), 12288);
  EXPECT_EQ(store.EndOfFile(), 16384);
  const TPage root = Page(12288);
  EXPECT_EQ(root.PageType, ptRootNode);
  ASSERT_EQ(root.Count(), 2);
  EXPECT_EQ(root.Value(1), 4096);
  EXPECT_EQ(root.SubCount(1), 19);
  EXPECT_EQ(TextOf(root, 1), Name(0));
  EXPECT_EQ(root.Value(2), 8192);
  EXPECT_EQ(root.SubCount(2), 19);
  EXPECT_EQ(TextOf(root, 2), Name(19));

  const TPage lower = Page(4096);
  const TPage upper = Page(8192);
  EXPECT_EQ(lower.PageType, ptLeaf);
  EXPECT_EQ(upper.PageType, ptLeaf);
  EXPECT_EQ(lower.Count(), 19);
  EXPECT_EQ(upper.Count(), 19);
  EXPECT_EQ(TextOf(lower, 19), Name(18));
  EXPECT_EQ(TextOf(upper, 1), Name(19));
  EXPECT_EQ(upper.Value(19), 37);
  EXPECT_EQ(lower.Left, 0);
  EXPECT_EQ(lower.Right, 8192);
  EXPECT_EQ(upper.Left, 4096);
  EXPECT_EQ(upper.Right, 0);
  ExpectValid();
}

TEST_F(IndexTreeTest, KeyBelowEveryKeyBecomesFirstKeyOnTheLeftmostPath) {
  Build(250, true, 0);  // 15 entries per page
  for (int i = 1000; i < 1400; ++i) Insert(i);
  ASSERT_EQ(CheckIndexTree(store, *ctx).Levels, 3);

  Insert("a", 1);
  std::vector<int32_t> leftmost;
  for (int32_t at = Root();;) {
    const TPage page = Page(at);
    EXPECT_EQ(TextOf(page, 1), "a") << "page " << at;
    leftmost.push_back(at);
    if (page.IsLeaf()) break;
    at = page.Value(1);
  }
  EXPECT_EQ(leftmost.size(), 3u);
  EXPECT_EQ(tree->AtOrdinal(1).Page, leftmost.back());
  ExpectValid();
}

TEST_F(IndexTreeTest, DeletingTheOnlyKeyFreesThePageForReuse) {
  Build(100, true, 0);
  Insert(1);
  ASSERT_EQ(Root(), 4096);
  Delete(1);
  EXPECT_EQ(Root(), 0);
  EXPECT_EQ(store.FreeHead(kIndex), 4096);
  EXPECT_EQ(GetU16(store.Image(4096) + 1), 0);  // written without entries
  EXPECT_EQ(tree->EntryCount(), 0);
  ExpectValid();

  Insert(2);
  EXPECT_EQ(Root(), 4096);
  EXPECT_EQ(store.FreeHead(kIndex), 0);
  EXPECT_EQ(store.EndOfFile(), 8192);
  ExpectValid();
}

// Two leaves of 19 under a root: 4096 (k0000-k0018), 8192 (k0019-k0037).
class IndexTreeRebalanceTest : public IndexTreeTest {
 protected:
  void SetUp() override {
    Build(100, true, 0);
    for (int i = 0; i < 38; ++i) Insert(i * 10);
    ASSERT_EQ(Root(), 12288);
  }
};

TEST_F(IndexTreeRebalanceTest, LastChildMergesIntoItsLeftNeighbourAndTheRootCollapses) {
  Delete(370);
  EXPECT_EQ(Page(8192).Count(), 18);  // half the capacity of 37 is still enough
  Delete(360);
  EXPECT_EQ(Root(), 4096);
  const TPage merged = Page(4096);
  EXPECT_EQ(merged.PageType, ptRootLeaf);
  EXPECT_EQ(merged.Count(), 36);
  EXPECT_EQ(TextOf(merged, 36), Name(350));
  EXPECT_EQ(merged.Left, 0);
  EXPECT_EQ(merged.Right, 0);
  // Freed in order: the emptied leaf, then the old root.
  EXPECT_EQ(store.FreeHead(kIndex), 12288);
  EXPECT_EQ(GetI32(store.Image(12288) + 7), 8192);
  EXPECT_EQ(GetI32(store.Image(8192) + 7), 0);
  ExpectValid();
}

TEST_F(IndexTreeRebalanceTest, FirstChildMergesIntoItsRightNeighbour) {
  Delete(0);
  Delete(10);
  EXPECT_EQ(Root(), 8192);
  const TPage merged = Page(8192);
  EXPECT_EQ(merged.PageType, ptRootLeaf);
  EXPECT_EQ(merged.Count(), 36);
  EXPECT_EQ(TextOf(merged, 1), Name(20));
  EXPECT_EQ(store.FreeHead(kIndex), 12288);
  EXPECT_EQ(GetI32(store.Image(12288) + 7), 4096);
  ExpectValid();
}

TEST_F(IndexTreeRebalanceTest, RedistributionWithTheLeftNeighbourLeavesItTheLargerHalf) {
  for (int i : {1, 2, 3, 4, 5, 6, 7, 8, 9, 11}) Insert(i);  // into the left leaf: 29 entries
  Delete(370);
  Delete(360);  // 17 + 29 = 46: the left keeps 23, the right gets 23
  const TPage root = Page(12288);
  const TPage left = Page(4096);
  const TPage right = Page(8192);
  EXPECT_EQ(left.Count(), 23);
  EXPECT_EQ(right.Count(), 23);
  EXPECT_EQ(root.SubCount(1), 23);
  EXPECT_EQ(root.SubCount(2), 23);
  // The combined order is 0, 1..11, 20, 30, ...: the 24th entry is 130.
  EXPECT_EQ(TextOf(right, 1), Name(130));
  EXPECT_EQ(TextOf(root, 2), Name(130));
  ExpectValid();
}

TEST_F(IndexTreeRebalanceTest, RedistributionWithTheRightNeighbourKeepsTheSmallerHalf) {
  for (int i : {1, 2, 3, 4, 5, 6, 7, 8, 9, 11}) Insert(300 + i);  // into the right leaf: 29
  Delete(0);
  Delete(10);  // 17 + 29 = 46: this page keeps 23
  const TPage root = Page(12288);
  const TPage left = Page(4096);
  const TPage right = Page(8192);
  EXPECT_EQ(left.Count(), 23);
  EXPECT_EQ(right.Count(), 23);
  EXPECT_EQ(TextOf(left, 1), Name(20));
  EXPECT_EQ(TextOf(root, 1), Name(20));
  // 20..180 are 17 entries, then six of the right page: 190, 200, ..., 240.
  EXPECT_EQ(TextOf(right, 1), Name(250));
  EXPECT_EQ(TextOf(root, 2), Name(250));
  ExpectValid();
}

TEST_F(IndexTreeTest, CompressedLeafIsNeverMergedAndGoesWhenEmpty) {
  Build(100, true, 2);
  int count = 0;
  while (CheckIndexTree(store, *ctx).PageCount < 3) Insert(count++);
  ASSERT_EQ(Root(), 12288);
  const int inRight = Page(8192).Count();
  ASSERT_GT(inRight, 100);
  // Down to one entry: an uncompressed leaf would have merged long ago.
  for (int i = count - 1; i > count - inRight; --i) Delete(i);
  EXPECT_EQ(Page(8192).Count(), 1);
  EXPECT_EQ(Page(12288).Count(), 2);
  ExpectValid();

  const uint64_t freedBefore = TreeStats().EmptyLeavesFreed;
  Delete(count - inRight);
  EXPECT_EQ(TreeStats().EmptyLeavesFreed, freedBefore + 1);
  EXPECT_EQ(Root(), 4096);
  EXPECT_EQ(Page(4096).PageType, ptRootLeaf);
  EXPECT_EQ(store.FreeHead(kIndex), 12288);
  EXPECT_EQ(GetI32(store.Image(12288) + 7), 8192);
  ExpectValid();
}

// Trailing-zero compression with 252-byte keys: "a.." keys take 10 bytes,
// keys of 250 characters 257.
class IndexTreeCompressedSplitTest : public IndexTreeTest {
 protected:
  void SetUp() override { Build(250, true, 2); }
  void Tiny(char letter, int i) { Insert(std::string(1, letter) + Name(i).substr(3), i); }
  void Long(char letter, int i) {
    Insert(std::string(1, letter) + Name(i) + std::string(244, 'x'), 1000 + i);
  }
};

TEST_F(IndexTreeCompressedSplitTest, TooLargeUpperHalfGivesItsFirstEntriesBack) {
  for (int i = 10; i < 26; ++i) Tiny('a', i);
  for (int i = 0; i < 15; ++i) Long('b', i);
  ASSERT_EQ(Page(4096).ByteSize, 16 * 10 + 15 * 257);
  const uint64_t moves = TreeStats().CompressedSplitMoves;
  Long('b', 15);  // 32 entries: the upper 16 are all long, 4112 bytes
  EXPECT_EQ(TreeStats().CompressedSplitMoves, moves + 1);
  const TPage old = Page(4096);
  const TPage fresh = Page(8192);
  EXPECT_EQ(old.Count(), 17);
  EXPECT_EQ(fresh.Count(), 15);
  EXPECT_EQ(old.ByteSize, 16 * 10 + 257);
  EXPECT_EQ(fresh.ByteSize, 15 * 257);
  EXPECT_EQ(TextOf(Page(12288), 2), TextOf(fresh, 1));
  ExpectValid();
}

TEST_F(IndexTreeCompressedSplitTest, TooLargeLowerHalfHandsItsLastEntriesOver) {
  for (int i = 0; i < 15; ++i) Long('a', i);
  for (int i = 10; i < 26; ++i) Tiny('b', i);
  const uint64_t moves = TreeStats().CompressedSplitMoves;
  Long('a', 15);  // the lower 16 are all long
  EXPECT_EQ(TreeStats().CompressedSplitMoves, moves + 1);
  const TPage old = Page(4096);
  const TPage fresh = Page(8192);
  EXPECT_EQ(old.Count(), 15);
  EXPECT_EQ(fresh.Count(), 17);
  EXPECT_EQ(old.ByteSize, 15 * 257);
  EXPECT_EQ(fresh.ByteSize, 257 + 16 * 10);
  ExpectValid();
}

TEST_F(IndexTreeTest, AbsentKeyIsRefusedWithoutChanges) {
  Build(100, false, 3);
  for (int i = 0; i < 50; ++i) Insert(i);
  std::map<int32_t, std::vector<uint8_t>> before;
  for (int32_t at = 4096; at < store.EndOfFile(); at += kPageSize) {
    before[at].assign(store.Image(at), store.Image(at) + kPageSize);
  }
  const auto missing = Key("zzz");
  EXPECT_FALSE(tree->KeyExists(missing.data()));
  try {
    tree->DeleteKey(missing.data());
    FAIL() << "no error";
  } catch (const ETesselEngineError& e) {
    EXPECT_EQ(e.Code(), ec::PageBuffersCorrupt);
    EXPECT_NE(std::string(e.what()).find("'T'"), std::string::npos);
  }
  for (const auto& [at, image] : before) {
    EXPECT_EQ(std::vector<uint8_t>(store.Image(at), store.Image(at) + kPageSize), image) << at;
  }
  ExpectValid();
}

TEST_F(IndexTreeTest, FullIndexFileRefusesTheKeyBeforeChangingTheTree) {
  Build(100, true, 0);
  // Room for two more pages below the size limit.
  store.Header().EndOfFile = 1999990784;
  for (int i = 0; i < 37; ++i) Insert(i);
  ASSERT_EQ(Root(), 1999990784);
  const std::vector<uint8_t> rootImage(store.Image(Root()), store.Image(Root()) + kPageSize);
  // The 38th key needs a new leaf and a new root; only one page fits.
  try {
    Insert(37);
    FAIL() << "no error";
  } catch (const ETesselEngineError& e) {
    EXPECT_EQ(e.Code(), ec::TableFull);
  }
  EXPECT_EQ(std::vector<uint8_t>(store.Image(Root()), store.Image(Root()) + kPageSize), rootImage);
  EXPECT_EQ(store.EndOfFile(), 1999994880);
  EXPECT_EQ(tree->EntryCount(), 37);
  ExpectValid();

  // A page that no split needs still goes in.
  Delete(5);
  Insert(37);
  EXPECT_EQ(tree->EntryCount(), 37);

  // The size limit itself is enforced by the allocation.
  store.Header().EndOfFile = 1999998976;
  try {
    TPageRef page(store, store.AllocatePage(kIndex));
    FAIL() << "allocated beyond the limit";
  } catch (const ETesselEngineError& e) {
    EXPECT_EQ(e.Code(), ec::TableFull);
  }
}

TEST_F(IndexTreeTest, PositionsAndOrdinalsAcrossLeaves) {
  Build(100, true, 0);
  for (int i = 1; i <= 100; ++i) Insert(i * 10);  // several leaves
  ASSERT_GT(CheckIndexTree(store, *ctx).PageCount, 3);
  EXPECT_EQ(tree->EntryCount(), 100);

  auto text = [&](const TTreePosition& at) {
    int32_t record = 0;
    const auto key = tree->KeyAt(at, &record);
    EXPECT_EQ(Name(record), std::string(reinterpret_cast<const char*>(key.data()) + 1));
    return Name(record);
  };
  for (int k = 1; k <= 100; ++k) {
    const TTreePosition at = tree->AtOrdinal(k);
    ASSERT_TRUE(at.Valid());
    EXPECT_EQ(at.Ordinal, k);
    EXPECT_EQ(text(at), Name(k * 10));
    const TTreePosition lower = tree->LowerBound(Key(Name(k * 10 - 5)).data());
    EXPECT_EQ(lower.Ordinal, k);
    EXPECT_EQ(lower.Page, at.Page);
    EXPECT_EQ(lower.Entry, at.Entry);
    EXPECT_EQ(tree->LowerBound(Key(Name(k * 10)).data()).Ordinal, k);
    EXPECT_EQ(tree->UpperBound(Key(Name(k * 10 + 5)).data()).Ordinal, k);
    EXPECT_EQ(tree->UpperBound(Key(Name(k * 10)).data()).Ordinal, k);
    EXPECT_EQ(tree->CountBelow(Key(Name(k * 10)).data()), k - 1);
  }
  EXPECT_FALSE(tree->AtOrdinal(0).Valid());
  EXPECT_FALSE(tree->AtOrdinal(101).Valid());
  const TTreePosition after = tree->LowerBound(Key("zzz").data());
  EXPECT_FALSE(after.Valid());
  EXPECT_EQ(after.Ordinal, 101);
  const TTreePosition before = tree->UpperBound(Key("a").data());
  EXPECT_FALSE(before.Valid());
  EXPECT_EQ(before.Ordinal, 0);

  // Walking the leaf level both ways meets every entry in order.
  int k = 0;
  for (TTreePosition at = tree->AtOrdinal(1); at.Valid(); at = tree->Next(at)) {
    ++k;
    EXPECT_EQ(at.Ordinal, k);
    EXPECT_EQ(text(at), Name(k * 10));
  }
  EXPECT_EQ(k, 100);
  for (TTreePosition at = tree->AtOrdinal(100); at.Valid(); at = tree->Prior(at)) {
    EXPECT_EQ(text(at), Name(k * 10));
    --k;
  }
  EXPECT_EQ(k, 0);
}

TEST_F(IndexTreeTest, DescendingIndexRunsBackwards) {
  Build(20, true, 1, true);
  for (int i = 1; i <= 300; ++i) Insert(i);
  int32_t record = 0;
  tree->KeyAt(tree->AtOrdinal(1), &record);
  EXPECT_EQ(record, 300);
  EXPECT_EQ(tree->LowerBound(Key(Name(150)).data()).Ordinal, 151);
  ExpectValid();
}

TEST_F(IndexTreeTest, SystemIndexOrdersByDeletedFlagThenIdentifier) {
  Build(10, true, 0);
  TIndexDesc sys = store.Header().Indexes[kSysDeletedSlot];
  const TKeyContext sysCtx(sys, kSysDeletedSlot, fields.Fields, nullptr, "T");
  TIndexTree sysTree(store, sysCtx);
  uint8_t key[5];
  for (int id = 1; id <= 500; ++id) {
    const TTestRow row = TTestRow(fields).Id(id).Deleted(id % 3 == 0);
    TKeyContext::BuildSystemKey(row.data(), key);
    sysTree.InsertKey(key, id);
  }
  // The 334 active slots first, then the deleted ones from the smallest id.
  int32_t record = 0;
  sysTree.KeyAt(sysTree.AtOrdinal(335), &record);
  EXPECT_EQ(record, 3);
  sysTree.KeyAt(sysTree.AtOrdinal(334), &record);
  EXPECT_EQ(record, 500);
  const TIndexCheckResult result = CheckIndexTree(store, sysCtx);
  EXPECT_TRUE(result.Ok()) << Join(result.Findings);
  EXPECT_EQ(result.EntryCount, 500);
}

class IndexCheckTest : public IndexTreeTest {
 protected:
  void SetUp() override {
    Build(100, true, 0);
    for (int i = 0; i < 38; ++i) Insert(i);  // root 12288 over 4096 and 8192
    ASSERT_TRUE(CheckIndexTree(store, *ctx).Ok());
  }
  std::vector<std::string> Findings() { return CheckIndexTree(store, *ctx).Findings; }
};

TEST_F(IndexCheckTest, ReportsSubtreeCountsKeysAndLinks) {
  PutI32(store.Image(12288) + 13 + 102 + 4, 18);  // root entry 1 subtree count
  auto findings = Findings();
  ASSERT_EQ(findings.size(), 1u) << Join(findings);
  EXPECT_NE(findings[0].find("subtree count 18"), std::string::npos);

  PutI32(store.Image(12288) + 13 + 102 + 4, 19);
  store.Image(12288)[13 + 110 + 5] = 'x';  // root entry 2 key
  findings = Findings();
  ASSERT_EQ(findings.size(), 1u) << Join(findings);
  EXPECT_NE(findings[0].find("first key"), std::string::npos);

  store.Image(12288)[13 + 110 + 5] = '9';
  PutI32(store.Image(8192) + 3, 0);  // the right leaf loses its left link
  findings = Findings();
  ASSERT_EQ(findings.size(), 1u) << Join(findings);
  EXPECT_NE(findings[0].find("left link"), std::string::npos);
}

TEST_F(IndexCheckTest, ReportsOrderTypesAndUnreadablePages) {
  // Swap the keys of the first two entries of the right leaf.
  uint8_t* image = store.Image(8192);
  std::swap_ranges(image + 13, image + 13 + 102, image + 13 + 106);
  auto findings = Findings();
  EXPECT_FALSE(findings.empty());
  std::swap_ranges(image + 13, image + 13 + 102, image + 13 + 106);

  image[0] = ptRootLeaf;
  findings = Findings();
  ASSERT_EQ(findings.size(), 1u) << Join(findings);
  EXPECT_NE(findings[0].find("below the root"), std::string::npos);
  image[0] = ptLeaf;

  PutU16(image + 1, 60000);  // cannot be decoded
  findings = Findings();
  EXPECT_FALSE(findings.empty());
  EXPECT_NE(Join(findings).find("cannot be read"), std::string::npos);
  PutU16(image + 1, 19);

  PutI32(store.Image(12288) + 13 + 110 + 102, 12288);  // a child that is the root itself
  findings = Findings();
  EXPECT_NE(Join(findings).find("reached twice"), std::string::npos);
}

TEST_F(IndexCheckTest, ReportsFreeChainLoops) {
  for (int i = 0; i < 38; ++i) Delete(i);
  ASSERT_EQ(Root(), 0);
  ASSERT_TRUE(CheckFreeChain(store, kIndex).empty());
  const int32_t head = store.FreeHead(kIndex);
  PutI32(store.Image(head) + 7, head);
  const auto findings = CheckFreeChain(store, kIndex);
  ASSERT_EQ(findings.size(), 1u) << Join(findings);
  EXPECT_NE(findings[0].find("loops"), std::string::npos);
}

}  // namespace
}  // namespace tessel
