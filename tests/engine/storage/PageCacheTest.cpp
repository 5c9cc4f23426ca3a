// The index file as the B+-tree's page store: the page cache of each index,
// page allocation through the free chains, coalesced write-back of the pages
// of all indexes, scrambled pages, and the change check at a page miss.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "SharedTableSupport.h"
#include "engine/base/Bytes.h"
#include "engine/storage/IndexCheck.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/IndexTree.h"
#include "engine/storage/Scramble.h"

namespace tessel {
namespace {

using testing::ErrorOf;
using testing::ReadFileBytes;

constexpr int kPrimary = 0;
constexpr int kSys = kSysDeletedSlot;

class TChangeReporter : public TReadContext {
 public:
  bool BeforeCacheMiss() override {
    ++Misses;
    return ReportChange;
  }
  bool ReportChange = false;
  int Misses = 0;
};

class PageCacheTest : public testing::SharedTableTest {
 protected:
  void TearDown() override {
    if (table_ && table_->IsOpen()) table_->CloseFiles(false);
  }
  void Open(bool exclusive = true, bool encrypted = false) {
    CreateTable(0, {.Encrypted = encrypted});
    table_ = OpenTable(exclusive);
  }
  TIndexFile& Index() { return table_->Index(); }

  // The primary index's key (length 12) of a name.
  std::vector<uint8_t> KeyFor(const std::string& name) {
    std::vector<uint8_t> row(kSmallRow, 0);
    PutFieldValue(table_->Data().Fields[0], row.data(), reinterpret_cast<const uint8_t*>(name.c_str()),
                  table_->Locale());
    return Context().BuildKey(row.data());
  }
  const TKeyContext& Context() {
    if (!ctx_) {
      ctx_ = std::make_unique<TKeyContext>(Index().Header.Indexes[kPrimary], kPrimary,
                                           table_->Data().Fields, &table_->Locale(), kName);
    }
    return *ctx_;
  }

  // Allocates a page for index, gives it back, answers its position.
  int32_t NewPage(int index) {
    TPage* page = Index().AllocatePage(index);
    const int32_t position = page->Position;
    Index().ReleasePage(page);
    return position;
  }
  void Touch(int index, int32_t position) {
    TPage* page = Index().GetPage(index, position);
    page->Modified = true;
    Index().ReleasePage(page);
  }

  static constexpr int kSmallRow = testing::kSmallRecordSize;
  std::unique_ptr<TDataTable> table_;
  std::unique_ptr<TKeyContext> ctx_;
};

std::string Name(int i) { return "k" + std::to_string(10000 + i); }

TEST_F(PageCacheTest, TreeBuiltThroughTheCacheSurvivesWriteBackAndReopening) {
  Open();
  {
    TIndexTree tree(Index(), Context());
    // About 26 leaves of 226 entries: far more than the 15 cached pages.
    for (int i = 1; i <= 3000; ++i) {
      tree.InsertKey(KeyFor(Name(i)).data(), i);
      ASSERT_LE(Index().CachedPageCount(kPrimary), 15u);
    }
  }
  TIndexCheckResult before = CheckIndexTree(Index(), Context());
  EXPECT_TRUE(before.Ok());
  EXPECT_EQ(before.EntryCount, 3000);
  table_->FlushTable(false, false, true);
  table_->CloseFiles();
  ctx_.reset();

  table_ = OpenTable(true);
  TIndexCheckResult after = CheckIndexTree(Index(), Context());
  EXPECT_TRUE(after.Ok()) << (after.Findings.empty() ? "" : after.Findings.front());
  EXPECT_EQ(after.EntryCount, 3000);
  EXPECT_EQ(after.Pages, before.Pages);
  TIndexTree tree(Index(), Context());
  TTreePosition at = tree.AtOrdinal(1);
  for (int i = 1; i <= 3000; ++i, at = tree.Next(at)) {
    ASSERT_TRUE(at.Valid()) << i;
    int32_t record = 0;
    EXPECT_EQ(tree.KeyAt(at, &record), KeyFor(Name(i)));
    EXPECT_EQ(record, i);
  }
  EXPECT_FALSE(at.Valid());
}

TEST_F(PageCacheTest, WriteBackCoalescesAdjacentPagesOfAllIndexes) {
  Open();
  EXPECT_EQ(NewPage(kPrimary), 4096);
  EXPECT_EQ(NewPage(kSys), 8192);
  EXPECT_EQ(NewPage(kPrimary), 12288);
  EXPECT_EQ(NewPage(kPrimary), 16384);
  EXPECT_EQ(NewPage(kSys), 20480);
  EXPECT_EQ(Index().Header.EndOfFile, 24576);
  {
    TPage* leaf = Index().GetPage(kPrimary, 4096);
    leaf->PageType = ptRootLeaf;
    leaf->InsertEntry(1, KeyFor("abc").data(), 7);
    Index().ReleasePage(leaf);
  }
  uint64_t writes = Index().WriteCalls();
  Index().WriteBackPages();
  EXPECT_EQ(Index().WriteCalls() - writes, 1u);

  std::vector<uint8_t> file = ReadFileBytes(IndexName());
  ASSERT_EQ(file.size(), 24576u);
  // The leaf at 4096: type 3, one entry, no links, byte size 0, then the
  // key ("abc" with its null byte, zero-padded to 12) and record 7.
  EXPECT_EQ(file[4096], 3);
  EXPECT_EQ(GetU16(file.data() + 4096 + 1), 1);
  EXPECT_EQ(GetI32(file.data() + 4096 + 3), 0);
  EXPECT_EQ(GetI32(file.data() + 4096 + 7), 0);
  EXPECT_EQ(GetU16(file.data() + 4096 + 11), 0);
  const std::vector<uint8_t> key{1, 'a', 'b', 'c', 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 4096 + 13, file.begin() + 4096 + 25), key);
  EXPECT_EQ(GetI32(file.data() + 4096 + 25), 7);

  // Nothing modified: no write at all.
  writes = Index().WriteCalls();
  Index().WriteBackPages();
  EXPECT_EQ(Index().WriteCalls(), writes);

  // 4096 and 8192 are adjacent; 16384 stands alone.
  for (int32_t position : {16384, 4096}) Touch(kPrimary, position);
  Touch(kSys, 8192);
  Index().WriteBackPages();
  EXPECT_EQ(Index().WriteCalls() - writes, 2u);

  // A page in use is not written and splits its run.
  for (int32_t position : {12288, 16384}) Touch(kPrimary, position);
  Touch(kSys, 8192);
  TPage* held = Index().GetPage(kPrimary, 12288);
  writes = Index().WriteCalls();
  Index().WriteBackPages();
  EXPECT_EQ(Index().WriteCalls() - writes, 2u);
  EXPECT_TRUE(held->Modified);
  Index().ReleasePage(held);
}

TEST_F(PageCacheTest, FreedPagesAreWrittenEmptyAndReusedLastFreedFirst) {
  Open();
  {
    TPage* leaf = Index().AllocatePage(kPrimary);
    leaf->PageType = ptRootLeaf;
    leaf->InsertEntry(1, KeyFor("abc").data(), 7);
    Index().ReleasePage(leaf);
  }
  ASSERT_EQ(NewPage(kPrimary), 8192);
  table_->FlushTable(false, false, false);

  for (int32_t position : {4096, 8192}) {
    TPage* page = Index().GetPage(kPrimary, position);
    Index().FreePage(kPrimary, page);
    Index().ReleasePage(page);
  }
  EXPECT_EQ(Index().FreeHead(kPrimary), 8192);
  EXPECT_TRUE(Index().HeaderModified);
  table_->FlushTable(false, false, false);
  std::vector<uint8_t> file = ReadFileBytes(IndexName());
  // Entry count 0 and no entries; the right link chains the free pages.
  EXPECT_EQ(GetU16(file.data() + 4096 + 1), 0);
  EXPECT_EQ(GetI32(file.data() + 4096 + 7), 0);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 4096 + 13, file.begin() + 8192),
            std::vector<uint8_t>(4096 - 13, 0));
  EXPECT_EQ(GetU16(file.data() + 8192 + 1), 0);
  EXPECT_EQ(GetI32(file.data() + 8192 + 7), 4096);
  // The free page field of the primary descriptor (slot 0 at 14, field at 90).
  EXPECT_EQ(GetI32(file.data() + 14 + 90), 8192);

  // Taken from the file, last freed first; the chain is read from the pages.
  Index().DropPages();
  TPage* again = Index().AllocatePage(kPrimary);
  EXPECT_EQ(again->Position, 8192);
  EXPECT_EQ(again->Count(), 0);
  EXPECT_EQ(again->Right, 0);
  EXPECT_FALSE(again->Freed);
  EXPECT_TRUE(again->Modified);
  Index().ReleasePage(again);
  EXPECT_EQ(Index().FreeHead(kPrimary), 4096);
  EXPECT_EQ(NewPage(kPrimary), 4096);
  EXPECT_EQ(Index().FreeHead(kPrimary), 0);
  EXPECT_EQ(NewPage(kPrimary), 12288);
  EXPECT_EQ(Index().Header.EndOfFile, 16384);
}

TEST_F(PageCacheTest, NewPagesReachTheFileOnlyWhenWrittenBack) {
  Open();
  EXPECT_EQ(NewPage(kSys), 4096);
  EXPECT_EQ(ReadFileBytes(IndexName()).size(), 4096u);
  table_->FlushTable(false, false, false);
  const std::vector<uint8_t> file = ReadFileBytes(IndexName());
  EXPECT_EQ(file.size(), 8192u);
  EXPECT_EQ(GetI32(file.data() + 9), 8192);  // end of file in the header
}

TEST_F(PageCacheTest, FifteenPagesPerIndexAndPagesInUseAreNeverRecycled) {
  Open();
  for (int i = 0; i < 17; ++i) NewPage(kPrimary);
  for (int i = 0; i < 2; ++i) NewPage(kSys);  // 73728 and 77824
  table_->FlushTable(false, false, false);
  Index().DropPages();

  std::vector<TPage*> held;
  for (int i = 1; i <= 15; ++i) held.push_back(Index().GetPage(kPrimary, 4096 * i));
  const auto full = ErrorOf([&] { Index().GetPage(kPrimary, 4096 * 16); });
  EXPECT_EQ(full.Code, ec::PageBuffersCorrupt);
  EXPECT_EQ(full.Message, "Index page buffers corrupt in table 't'");
  // Each index has its own cache.
  Index().ReleasePage(Index().GetPage(kSys, 73728));
  for (TPage* page : held) Index().ReleasePage(page);

  // The least recently used page makes room.
  Index().ReleasePage(Index().GetPage(kPrimary, 4096));
  Index().ReleasePage(Index().GetPage(kPrimary, 4096 * 16));
  EXPECT_TRUE(Index().IsPageCached(kPrimary, 4096));
  EXPECT_FALSE(Index().IsPageCached(kPrimary, 8192));
  EXPECT_TRUE(Index().IsPageCached(kPrimary, 4096 * 16));
  EXPECT_EQ(Index().CachedPageCount(kPrimary), 15u);

  // With only modified pages left they are written back, in one run.
  for (int i = 1; i <= 16; ++i)
    if (i != 2) Touch(kPrimary, 4096 * i);
  const uint64_t writes = Index().WriteCalls();
  Index().ReleasePage(Index().GetPage(kPrimary, 4096 * 17));
  EXPECT_EQ(Index().WriteCalls() - writes, 2u);  // pages 1 and 3 to 16
  EXPECT_EQ(Index().CachedPageCount(kPrimary), 15u);
}

TEST_F(PageCacheTest, EncryptedPagesAreScrambledAsOneUnit) {
  Open(true, true);
  TPage* leaf = Index().AllocatePage(kPrimary);
  leaf->PageType = ptRootLeaf;
  leaf->InsertEntry(1, KeyFor("abc").data(), 7);
  Index().ReleasePage(leaf);
  Index().WriteBackPages();

  std::vector<uint8_t> file = ReadFileBytes(IndexName());
  ASSERT_EQ(file.size(), 8192u);
  EXPECT_EQ(file[4096], 3 ^ 0x99);  // type 3 under the first key byte
  std::vector<uint8_t> page(file.begin() + 4096, file.end());
  ScrambleData(page.data(), page.size());
  EXPECT_EQ(page[0], 3);
  EXPECT_EQ(GetU16(page.data() + 1), 1);
  EXPECT_EQ(page[14], 'a');
  EXPECT_EQ(GetI32(page.data() + 25), 7);

  Index().DropPages();
  TPage* back = Index().GetPage(kPrimary, 4096);
  EXPECT_EQ(back->Count(), 1);
  EXPECT_EQ(back->Value(1), 7);
  EXPECT_EQ(std::vector<uint8_t>(back->Key(1), back->Key(1) + 12), KeyFor("abc"));
  Index().ReleasePage(back);
}

TEST_F(PageCacheTest, ChangeCheckRunsAtAPageMiss) {
  Open(false);
  NewPage(kPrimary);
  NewPage(kPrimary);
  table_->FlushTable(false, false, true);
  Index().DropPages();

  TChangeReporter reporter;
  TPage* page = Index().GetPage(kPrimary, 4096, &reporter);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(reporter.Misses, 1);
  Index().ReleasePage(Index().GetPage(kPrimary, 4096, &reporter));
  EXPECT_EQ(reporter.Misses, 1);

  reporter.ReportChange = true;
  EXPECT_EQ(Index().GetPage(kPrimary, 8192, &reporter), nullptr);
  EXPECT_FALSE(Index().IsPageCached(kPrimary, 8192));
  // Through the page store interface a change is raised for the tree walk.
  Index().SetReadContext(&reporter);
  EXPECT_THROW(Index().GetPage(kPrimary, 8192), ETableChanged);
  Index().SetReadContext(nullptr);

  // A page still held when the caches are dropped stays valid for its user.
  Index().DropPages();
  EXPECT_FALSE(Index().IsPageCached(kPrimary, 4096));
  EXPECT_EQ(page->Position, 4096);
  TPage* fresh = Index().GetPage(kPrimary, 4096);
  EXPECT_NE(fresh, page);
  Index().ReleasePage(page);
  Index().ReleasePage(fresh);
}

TEST_F(PageCacheTest, PositionsThatHoldNoPageOfTheIndexAreRefused) {
  Open();
  NewPage(kPrimary);
  NewPage(kSys);
  for (int32_t position : {0, 4097, 12288, -4096}) {
    EXPECT_EQ(ErrorOf([&] { Index().GetPage(kPrimary, position); }).Code, ec::PageBuffersCorrupt)
        << position;
  }
  // Cached as a page of another index.
  EXPECT_EQ(ErrorOf([&] { Index().GetPage(kPrimary, 8192); }).Code, ec::PageBuffersCorrupt);
  EXPECT_EQ(ErrorOf([&] { Index().GetPage(32, 4096); }).Code, ec::PageBuffersCorrupt);
}

TEST_F(PageCacheTest, IndexFileStaysBelow2000000001Bytes) {
  Open();
  // A (sparse) file that long: the end of file must lie within the file.
  std::filesystem::resize_file(IndexName(), 488280 * 4096);
  Index().Header.EndOfFile = 488280 * 4096;  // 1999994880: one page still fits
  EXPECT_TRUE(Index().CanAllocate(kPrimary, 1));
  EXPECT_FALSE(Index().CanAllocate(kPrimary, 2));
  TPage* last = Index().AllocatePage(kPrimary);
  EXPECT_EQ(last->Position, 1999994880);
  EXPECT_EQ(Index().Header.EndOfFile, 1999998976);
  const auto full = ErrorOf([&] { Index().AllocatePage(kPrimary); });
  EXPECT_EQ(full.Code, ec::TableFull);
  EXPECT_EQ(full.Message, "The table 't' is full and cannot contain any more data");
  EXPECT_FALSE(Index().CanAllocate(kPrimary, 1));
  // A free page counts.
  Index().FreePage(kPrimary, last);
  Index().ReleasePage(last);
  EXPECT_TRUE(Index().CanAllocate(kPrimary, 1));
  EXPECT_FALSE(Index().CanAllocate(kPrimary, 2));
  Index().DropPages();
  Index().ReadIndexHeader();
}

}  // namespace
}  // namespace tessel
