// A table whose index file was lost: the file is laid down anew at open and
// the repair rebuilds "Sys Deleted" from every record slot, so the table
// works in record-number order with all its active records.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "SharedTableSupport.h"
#include "engine/base/Bytes.h"
#include "engine/storage/IndexCheck.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/IndexTree.h"

namespace tessel {
namespace {

using testing::ReadFileBytes;

class RecreatedIndexTest : public testing::SharedTableTest {
 protected:
  void TearDown() override {
    if (table_ && table_->IsOpen()) table_->CloseFiles(false);
  }

  // A table of count records in which every seventh is deleted; its index
  // file is then removed.
  void CreateAndLoseTheIndex(int count) {
    CreateTable(count);
    {
      auto t = OpenTable(true);
      for (int32_t r = 7; r <= count; r += 7) {
        TRecord* record = t->Data().FetchRecord(r);
        t->Data().FreeSlot(record);
        t->Data().ReleaseRecord(record);
      }
      t->CloseFiles(true);
    }
    ASSERT_TRUE(std::filesystem::remove(IndexName()));
  }

  TKeyContext SysContext() {
    return TKeyContext(table_->Index().Header.Indexes[kSysDeletedSlot], kSysDeletedSlot,
                       table_->Data().Fields, &table_->Locale(), kName);
  }

  // The record numbers along "Sys Deleted", split by the deleted flag.
  void Walk(std::vector<int32_t>& active, std::vector<int32_t>& deleted) {
    const TKeyContext context = SysContext();
    TIndexTree tree(table_->Index(), context);
    for (TTreePosition at = tree.AtOrdinal(1); at.Valid(); at = tree.Next(at)) {
      int32_t record = 0;
      const std::vector<uint8_t> key = tree.KeyAt(at, &record);
      (key[0] == 0 ? active : deleted).push_back(record);
    }
  }

  std::unique_ptr<TDataTable> table_;
};

TEST_F(RecreatedIndexTest, SysDeletedIsRebuiltWithEveryActiveRecordInRecordNumberOrder) {
  constexpr int kCount = 5000;  // some 27 leaves: more than the page cache holds
  CreateAndLoseTheIndex(kCount);
  table_ = OpenTable(true);
  ASSERT_TRUE(table_->IndexFileRecreated());
  table_->ValidateHeaders();
  table_->RepairRecreatedIndex();
  EXPECT_FALSE(table_->IndexFileRecreated());

  const TIndexHeader& h = table_->Index().Header;
  EXPECT_EQ(h.NoPrimaryIndex, 1);
  EXPECT_EQ(h.Indexes[0].KeyLength, 0);
  EXPECT_EQ(h.SecondaryCount, 0);
  EXPECT_EQ(h.ActiveRecordCount, kCount - kCount / 7);

  std::vector<int32_t> active, deleted;
  Walk(active, deleted);
  std::vector<int32_t> expectedActive, expectedDeleted;
  for (int32_t r = 1; r <= kCount; ++r) (r % 7 == 0 ? expectedDeleted : expectedActive).push_back(r);
  EXPECT_EQ(active, expectedActive);
  EXPECT_EQ(deleted, expectedDeleted);
  EXPECT_LE(table_->Index().CachedPageCount(kSysDeletedSlot), 15u);

  // It stays so in the file.
  table_->FlushTable(false, false, true);
  table_->CloseFiles();
  table_ = OpenTable(true);
  EXPECT_FALSE(table_->IndexFileRecreated());
  EXPECT_EQ(table_->Index().Header.ActiveRecordCount, kCount - kCount / 7);
  const TKeyContext context = SysContext();
  const TIndexCheckResult check = CheckIndexTree(table_->Index(), context);
  EXPECT_TRUE(check.Ok()) << (check.Findings.empty() ? "" : check.Findings.front());
  EXPECT_EQ(check.EntryCount, kCount);
  active.clear();
  deleted.clear();
  Walk(active, deleted);
  EXPECT_EQ(active, expectedActive);
  EXPECT_EQ(deleted, expectedDeleted);
  // Header: no primary index, "Sys Deleted" rooted in the file.
  const std::vector<uint8_t> file = ReadFileBytes(IndexName());
  EXPECT_EQ(file[3978], 1);
  EXPECT_EQ(GetI32(file.data() + 3974), kCount - kCount / 7);
  const int32_t root = GetI32(file.data() + 14 + 31 * 120 + 86);
  EXPECT_EQ(root, table_->Index().Header.Indexes[kSysDeletedSlot].RootPage);
  EXPECT_GT(root, 0);
  EXPECT_EQ(file.size(), static_cast<size_t>(table_->Index().Header.EndOfFile));
}

TEST_F(RecreatedIndexTest, SharedTableRepairsUnderTheWriteLockAndOthersSeeIt) {
  CreateAndLoseTheIndex(40);
  table_ = OpenTable(false);
  ASSERT_TRUE(table_->IndexFileRecreated());
  table_->BeginWrite();
  table_->RepairRecreatedIndex();
  table_->FlushTable(false, true, true);
  table_->EndWrite();

  auto other = OpenTable(false);
  EXPECT_FALSE(other->IndexFileRecreated());
  EXPECT_EQ(other->Index().Header.ActiveRecordCount, 40 - 40 / 7);
  EXPECT_FALSE(other->DetectChanges());
  other->CloseFiles(false);
}

TEST_F(RecreatedIndexTest, RepairStartsFromNothingAgain) {
  CreateAndLoseTheIndex(30);
  table_ = OpenTable(true);
  // A first repair that got part of the way.
  {
    const TKeyContext context = SysContext();
    TIndexTree tree(table_->Index(), context);
    uint8_t key[5] = {0, 0x80, 0, 0, 1};
    tree.InsertKey(key, 1);
  }
  table_->RepairRecreatedIndex();
  std::vector<int32_t> active, deleted;
  Walk(active, deleted);
  EXPECT_EQ(active.size(), 30u - 4u);
  EXPECT_EQ(deleted.size(), 4u);
  EXPECT_EQ(table_->Index().Header.EndOfFile, 8192);
}

}  // namespace
}  // namespace tessel
