// Change detection between two users of one table (two table objects with
// their own handles): the counters at the start of each file, what each
// changed counter invalidates, and the change check at a cache miss.
#include <gtest/gtest.h>

#include <filesystem>

#include "SharedTableSupport.h"
#include "engine/base/Bytes.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/IndexTree.h"
#include "engine/storage/Scramble.h"

namespace tessel {
namespace {

using testing::ErrorOf;
using testing::ForeignLockIn;
using testing::kReadersLength;
using testing::kReadersStart;
using testing::ReadFileBytes;
using testing::TLockingReader;

class ChangeDetectionTest : public testing::TwoHandlesTest {
 protected:
  // The other user posts a change the way a cursor does.
  void TheyRename(int32_t number, const std::string& name, bool forceIndex) {
    Post(*theirs_, number, name, forceIndex);
  }

  // A page of index 31 in my cache.
  void CacheAPage(TDataTable& t) {
    TPage* page = t.Index().AllocatePage(kSysDeletedSlot);
    t.Index().ReleasePage(page);
  }
};

TEST_F(ChangeDetectionTest, NothingChangedKeepsEveryCache) {
  OpenBoth();
  NameOf(*mine_, 1, 10);
  const int32_t counter = mine_->Data().Header.ChangeCounter;
  EXPECT_FALSE(mine_->DetectChanges());
  EXPECT_EQ(mine_->Data().CachedRecordCount(), 10u);
  EXPECT_EQ(mine_->Data().Header.ChangeCounter, counter);
  EXPECT_FALSE(mine_->BeginRead());
  mine_->EndRead();
}

TEST_F(ChangeDetectionTest, ForcedWriteBackAdvancesTheCountersByOne) {
  OpenBoth();
  const int32_t data = GetI32(ReadFileBytes(DataName()).data());
  const int32_t index = GetI32(ReadFileBytes(IndexName()).data());
  TheyRename(2, "x", true);
  EXPECT_EQ(GetI32(ReadFileBytes(DataName()).data()), data + 1);
  EXPECT_EQ(GetI32(ReadFileBytes(IndexName()).data()), index + 1);
  TheyRename(2, "y", false);
  EXPECT_EQ(GetI32(ReadFileBytes(DataName()).data()), data + 2);
  EXPECT_EQ(GetI32(ReadFileBytes(IndexName()).data()), index + 1);
}

TEST_F(ChangeDetectionTest, DataCounterDropsRecordsAndRereadsTheDataHeader) {
  OpenBoth();
  EXPECT_EQ(NameOf(*mine_, 2, 10), "r2");
  CacheAPage(*mine_);
  theirs_->BeginWrite();
  Rename(*theirs_, 2, "x");
  Insert(*theirs_, "r11");
  theirs_->FlushTable(false, true, false);
  theirs_->EndWrite();

  // Cached: no check, the old image.
  EXPECT_EQ(NameOf(*mine_, 2), "r2");
  EXPECT_TRUE(mine_->DetectChanges());
  EXPECT_EQ(mine_->Data().CachedRecordCount(), 0u);
  EXPECT_EQ(mine_->Data().Header.NextRecordNumber, 12);
  EXPECT_EQ(mine_->Data().Header.ChangeCounter, theirs_->Data().Header.ChangeCounter);
  // The index counter did not move: its pages stay.
  EXPECT_EQ(mine_->Index().CachedPageCount(kSysDeletedSlot), 1u);
  EXPECT_EQ(NameOf(*mine_, 2), "x");
  EXPECT_EQ(NameOf(*mine_, 11), "r11");
  EXPECT_FALSE(mine_->DetectChanges());
}

TEST_F(ChangeDetectionTest, IndexCounterDropsPagesAndRereadsBothHeaders) {
  OpenBoth();
  NameOf(*mine_, 1, 10);
  CacheAPage(*mine_);
  theirs_->BeginWrite();
  theirs_->Index().Header.ActiveRecordCount = 77;
  theirs_->Index().HeaderModified = true;
  Rename(*theirs_, 3, "z");
  theirs_->FlushTable(false, false, false);  // data header not forced, not modified
  theirs_->EndWrite();
  ASSERT_NE(GetI32(ReadFileBytes(IndexName()).data()), mine_->Index().Header.ChangeCounter);

  EXPECT_TRUE(mine_->DetectChanges());
  EXPECT_EQ(mine_->Index().CachedPageCount(kSysDeletedSlot), 0u);
  EXPECT_EQ(mine_->Index().Header.ActiveRecordCount, 77);
  EXPECT_EQ(mine_->Index().Header.EndOfFile, 4096);
  EXPECT_EQ(mine_->Data().CachedRecordCount(), 0u);
  EXPECT_EQ(NameOf(*mine_, 3), "z");
}

TEST_F(ChangeDetectionTest, EncryptedCountersAreDeciphered) {
  OpenBoth({.Encrypted = true});
  EXPECT_FALSE(mine_->DetectChanges());
  TheyRename(4, "e", true);
  EXPECT_TRUE(mine_->DetectChanges());
  EXPECT_EQ(mine_->Index().Header.ChangeCounter, theirs_->Index().Header.ChangeCounter);
  EXPECT_FALSE(mine_->DetectChanges());
  EXPECT_EQ(NameOf(*mine_, 4), "e");
  // The counter as stored: the header's first four bytes, scrambled.
  std::vector<uint8_t> counter = ReadFileBytes(IndexName());
  counter.resize(4);
  ScrambleData(counter.data(), 4);
  EXPECT_EQ(GetI32(counter.data()), mine_->Index().Header.ChangeCounter);
}

TEST_F(ChangeDetectionTest, BlobCounterRereadsTheBlobHeader) {
  OpenBoth({.Blob = true});
  NameOf(*mine_, 1, 10);
  theirs_->BeginWrite();
  theirs_->Blob().Header.EndOfFile = 1024;
  theirs_->Blob().HeaderModified = true;
  theirs_->FlushTable(false, false, false);
  theirs_->EndWrite();
  EXPECT_TRUE(mine_->DetectChanges());
  EXPECT_EQ(mine_->Blob().Header.EndOfFile, 1024);
  // Records stay: their counter did not move.
  EXPECT_EQ(mine_->Data().CachedRecordCount(), 10u);
}

TEST_F(ChangeDetectionTest, LocksReportTheChangesTheyFind) {
  OpenBoth();
  TheyRename(1, "a", false);
  EXPECT_TRUE(mine_->BeginWrite());
  mine_->EndWrite();
  TheyRename(1, "b", false);
  mine_->Settings.StrictChangeDetection = true;
  EXPECT_TRUE(mine_->LockRecord(1));
  mine_->UnlockRecord(1);
  TheyRename(1, "c", false);
  mine_->Settings.StrictChangeDetection = false;
  EXPECT_TRUE(mine_->LockRecord(1));
  EXPECT_TRUE(mine_->HoldsReadLock());
  mine_->EndRead();
  mine_->UnlockRecord(1);
  TheyRename(1, "d", false);
  mine_->Settings.LockRetryCount = 0;
  EXPECT_TRUE(mine_->LockAllRecords());
  mine_->UnlockAllRecords();
}

TEST_F(ChangeDetectionTest, MissAfterAChangeHandsBackNothingAndTheRetrySeesIt) {
  OpenBoth();
  EXPECT_EQ(NameOf(*mine_, 1), "r1");
  EXPECT_EQ(NameOf(*mine_, 2), "r2");
  TheyRename(2, "new", true);

  TLockingReader reader(*mine_);
  TRecord* r = mine_->Data().FetchRecord(1, &reader);  // cached: no check
  EXPECT_EQ(NameIn(r), "r1");
  mine_->Data().ReleaseRecord(r);
  EXPECT_EQ(reader.Misses, 0);
  EXPECT_EQ(mine_->Data().FetchRecord(3, &reader), nullptr);
  EXPECT_EQ(reader.Misses, 1);
  EXPECT_TRUE(mine_->HoldsReadLock());
  EXPECT_FALSE(mine_->Data().IsRecordCached(1));
  // The operation starts again under the read lock it now holds.
  r = mine_->Data().FetchRecord(2, &reader);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(NameIn(r), "new");
  mine_->Data().ReleaseRecord(r);
  mine_->EndRead();
}

TEST_F(ChangeDetectionTest, FailedChangeCheckLeavesNothingLocked) {
  OpenBoth();
  // The index file loses its header under the table's feet.
  std::filesystem::resize_file(IndexName(), 2);
  const auto failure = ErrorOf([&] { mine_->BeginRead(); });
  EXPECT_EQ(failure.Code, ec::ReadError);
  EXPECT_FALSE(mine_->HoldsReadLock());
  EXPECT_FALSE(ForeignLockIn(IndexName(), kReadersStart, kReadersLength + 1).Found());
  EXPECT_EQ(ErrorOf([&] { mine_->BeginWrite(); }).Code, ec::ReadError);
  EXPECT_FALSE(mine_->HoldsWriteLock());
  EXPECT_FALSE(ForeignLockIn(IndexName(), kReadersStart, kReadersLength + 1).Found());
  EXPECT_FALSE(ForeignLockIn(DataName(), testing::kWriteByte, 1).Found());
}

}  // namespace
}  // namespace tessel
