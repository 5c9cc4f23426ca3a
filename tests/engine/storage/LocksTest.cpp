// The lock protocol within one process: two table objects on the same files
// hold separate handles, whose byte-range locks exclude each other as those
// of two programs do. Positions are checked from a third handle.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/core/Clock.h"
#include "SharedTableSupport.h"

namespace tessel {
namespace {

using testing::ErrorOf;
using testing::ForeignLockIn;
using testing::kAllRecordsLength;
using testing::kAllRecordsStart;
using testing::kReadersLength;
using testing::kReadersStart;
using testing::kRecordByteBase;
using testing::kWriteByte;

class LocksTest : public testing::SharedTableTest {
 protected:
  void SetUp() override { TDataTable::SetLockRetryLimitsForTests(3, 1); }
  void TearDown() override {
    TDataTable::SetLockRetryLimitsForTests(TDataTable::kLockRetries, TDataTable::kLockRetryWait);
  }

  // No lock of the protocol left in any file of the table.
  void ExpectNothingLocked() {
    EXPECT_FALSE(ForeignLockIn(DataName(), kAllRecordsStart, kWriteByte - kAllRecordsStart + 1).Found());
    EXPECT_FALSE(ForeignLockIn(IndexName(), kReadersStart, kReadersLength + 1).Found());
    if (std::filesystem::exists(BlobName())) {
      EXPECT_FALSE(ForeignLockIn(BlobName(), kReadersStart, kReadersLength + 1).Found());
    }
  }
};

TEST_F(LocksTest, ReadLockHoldsOneReaderByteInIndexAndBlobFile) {
  CreateTable(3, {.Blob = true});
  auto t = OpenTable();
  ASSERT_TRUE(t->HasBlobFile());
  EXPECT_FALSE(t->BeginRead());
  EXPECT_TRUE(t->HoldsReadLock());
  for (const std::string& file : {IndexName(), BlobName()}) {
    const auto lock = ForeignLockIn(file, kReadersStart, kReadersLength + 1);
    ASSERT_TRUE(lock.Found()) << file;
    EXPECT_EQ(lock.Length, 1);
    // 2147483647 - n with n from 1 to 65534.
    EXPECT_GE(lock.Start, 2147483647 - 65534);
    EXPECT_LE(lock.Start, 2147483646);
    // Only one byte.
    EXPECT_FALSE(ForeignLockIn(file, lock.Start + 1, 2147483647 - lock.Start).Found());
    EXPECT_FALSE(ForeignLockIn(file, kReadersStart, lock.Start - kReadersStart).Found());
  }
  EXPECT_FALSE(ForeignLockIn(DataName(), kWriteByte, 1).Found());
  // Held already: nothing more to do.
  EXPECT_FALSE(t->BeginRead());
  t->EndRead();
  EXPECT_FALSE(t->HoldsReadLock());
  ExpectNothingLocked();
  t->EndRead();  // not held: nothing to do
}

TEST_F(LocksTest, WriteLockCoversEveryReaderByte) {
  CreateTable(3, {.Blob = true});
  auto t = OpenTable();
  EXPECT_FALSE(t->BeginWrite());
  EXPECT_TRUE(t->HoldsWriteLock());
  const auto data = ForeignLockIn(DataName(), kAllRecordsStart, kWriteByte - kAllRecordsStart + 1);
  EXPECT_EQ(data.Start, kWriteByte);
  EXPECT_EQ(data.Length, 1);
  for (const std::string& file : {IndexName(), BlobName()}) {
    const auto lock = ForeignLockIn(file, 0, 2147483647);
    EXPECT_EQ(lock.Start, 2147418112) << file;
    EXPECT_EQ(lock.Length, 65535) << file;
  }
  // The read lock is implied while writing.
  EXPECT_FALSE(t->BeginRead());
  EXPECT_FALSE(t->HoldsReadLock());
  t->EndWrite();
  EXPECT_FALSE(t->HoldsWriteLock());
  ExpectNothingLocked();
}

TEST_F(LocksTest, ExclusiveAndReadOnlyTablesTakeNoLocks) {
  CreateTable(3);
  {
    auto t = OpenTable(true);
    EXPECT_FALSE(t->BeginRead());
    EXPECT_FALSE(t->BeginWrite());
    EXPECT_FALSE(t->LockRecord(2));
    EXPECT_FALSE(t->LockAllRecords());
    EXPECT_FALSE(t->HoldsReadLock() || t->HoldsWriteLock() || t->HoldsAllRecordsLock());
    EXPECT_EQ(t->RecordLocksHeld(), 0);
    ExpectNothingLocked();
    t->UnlockRecord(2);
    t->CloseFiles();
  }
  auto t = std::make_unique<TDataTable>(dir_.Dir(), kName);
  t->Settings.ReadOnly = true;
  t->OpenFiles();
  EXPECT_FALSE(t->BeginRead());
  EXPECT_FALSE(t->BeginWrite());
  EXPECT_FALSE(t->LockRecord(2));
  ExpectNothingLocked();
  t->CloseFiles();
}

TEST_F(LocksTest, WriterFailsWhileAReaderIsInsideAndLeavesNothingLocked) {
  CreateTable(3, {.Blob = true});
  auto reader = OpenTable();
  auto writer = OpenTable();
  reader->BeginRead();
  const auto failure = ErrorOf([&] { writer->BeginWrite(); });
  EXPECT_EQ(failure.Code, ec::GeneralLockFailure);
  EXPECT_EQ(failure.Message, "General lock failure with table 't'");
  EXPECT_FALSE(writer->HoldsWriteLock());
  // The data byte taken first was given back.
  EXPECT_FALSE(ForeignLockIn(DataName(), kWriteByte, 1).Found());

  reader->EndRead();
  EXPECT_FALSE(writer->BeginWrite());
  // Now readers wait for the writer.
  EXPECT_EQ(ErrorOf([&] { reader->BeginRead(); }).Code, ec::GeneralLockFailure);
  EXPECT_FALSE(reader->HoldsReadLock());
  // A second writer fails at the data byte.
  EXPECT_EQ(ErrorOf([&] { reader->BeginWrite(); }).Code, ec::GeneralLockFailure);
  writer->EndWrite();
  reader->BeginRead();
  reader->EndRead();
  ExpectNothingLocked();
}

TEST_F(LocksTest, TwoReadersHoldTheirOwnBytes) {
  CreateTable(3);
  auto a = OpenTable();
  auto b = OpenTable();
  a->BeginRead();
  b->BeginRead();
  const auto first = ForeignLockIn(IndexName(), kReadersStart, kReadersLength);
  ASSERT_TRUE(first.Found());
  EXPECT_EQ(first.Length, 1);
  // The other reader's byte lies below or above it.
  const auto below = ForeignLockIn(IndexName(), kReadersStart, first.Start - kReadersStart);
  const auto above = ForeignLockIn(IndexName(), first.Start + 1, kWriteByte - first.Start - 1);
  EXPECT_NE(below.Found(), above.Found());
  a->EndRead();
  b->EndRead();
  ExpectNothingLocked();
}

TEST_F(LocksTest, WriteLockGivesUpTheTablesOwnReadLock) {
  CreateTable(3);
  auto t = OpenTable();
  t->BeginRead();
  t->BeginWrite();
  EXPECT_FALSE(t->HoldsReadLock());
  EXPECT_TRUE(t->HoldsWriteLock());
  t->EndWrite();
  ExpectNothingLocked();
}

TEST_F(LocksTest, RecordLocksExcludeOtherHandlesAndThisTableItself) {
  CreateTable(9);
  auto a = OpenTable();
  auto b = OpenTable();
  for (TDataTable* t : {a.get(), b.get()}) {
    t->Settings.LockRetryCount = 0;
    t->Settings.LockWaitTime = 0;
  }
  EXPECT_FALSE(a->LockRecord(5));
  EXPECT_TRUE(a->IsRecordLocked(5));
  const auto lock = ForeignLockIn(DataName(), kAllRecordsStart, kWriteByte - kAllRecordsStart + 1);
  EXPECT_EQ(lock.Start, kRecordByteBase - 5);
  EXPECT_EQ(lock.Start, 2147483641);
  EXPECT_EQ(lock.Length, 1);

  const auto taken = ErrorOf([&] { b->LockRecord(5); });
  EXPECT_EQ(taken.Code, ec::RecordLocked);
  EXPECT_EQ(taken.Message, "Record in table 't' is in use by another user");
  // The read lock the failed call took is given back.
  EXPECT_FALSE(b->HoldsReadLock());
  EXPECT_EQ(ErrorOf([&] { a->LockRecord(5); }).Code, ec::RecordLocked);
  EXPECT_TRUE(a->IsRecordLocked(5));
  b->LockRecord(6);

  const auto notHeld = ErrorOf([&] { a->UnlockRecord(7); });
  EXPECT_EQ(notHeld.Code, ec::CannotUnlock);
  EXPECT_EQ(notHeld.Message, "Cannot unlock table or record in table 't'");
  a->UnlockRecord(5);
  EXPECT_FALSE(a->IsRecordLocked(5));
  b->LockRecord(5);
  EXPECT_EQ(b->RecordLocksHeld(), 2);
}

TEST_F(LocksTest, RecordLockRetriesLockRetryCountTimesLockWaitTimeApart) {
  CreateTable(3);
  auto a = OpenTable();
  auto b = OpenTable();
  a->LockRecord(2);
  b->Settings.LockRetryCount = 3;
  b->Settings.LockWaitTime = 20;
  const uint64_t start = platform::TickCount();
  EXPECT_EQ(ErrorOf([&] { b->LockRecord(2); }).Code, ec::RecordLocked);
  // Three waits of more than 20 ms each.
  EXPECT_GE(platform::TickCount() - start, 60u);
}

TEST_F(LocksTest, RecordLockTakesTheReadLockOnlyWithoutStrictChangeDetection) {
  CreateTable(3);
  auto t = OpenTable();
  auto writer = OpenTable();
  t->LockRecord(1);
  EXPECT_TRUE(t->HoldsReadLock());
  EXPECT_EQ(ErrorOf([&] { writer->BeginWrite(); }).Code, ec::GeneralLockFailure);
  t->EndRead();
  t->UnlockRecord(1);

  t->Settings.StrictChangeDetection = true;
  t->LockRecord(1);
  EXPECT_FALSE(t->HoldsReadLock());
  writer->BeginWrite();
  writer->EndWrite();
}

TEST_F(LocksTest, AllRecordsLockAgainstRecordLocks) {
  CreateTable(3);
  auto a = OpenTable();
  auto b = OpenTable();
  for (TDataTable* t : {a.get(), b.get()}) t->Settings.LockRetryCount = 0;
  a->LockRecord(3);
  const auto refused = ErrorOf([&] { b->LockAllRecords(); });
  EXPECT_EQ(refused.Code, ec::TableLocked);
  EXPECT_EQ(refused.Message, "The table 't' is already locked by another user");
  // Its own record locks lie inside the range too.
  EXPECT_EQ(ErrorOf([&] { a->LockAllRecords(); }).Code, ec::TableLocked);
  a->UnlockRecord(3);

  b->LockAllRecords();
  EXPECT_TRUE(b->HoldsAllRecordsLock());
  const auto lock = ForeignLockIn(DataName(), 0, kWriteByte);
  EXPECT_EQ(lock.Start, 2047483645);
  EXPECT_EQ(lock.Length, 100000001);
  // Every record lock position is covered, the first and the last.
  EXPECT_EQ(ErrorOf([&] { a->LockRecord(1); }).Code, ec::RecordLocked);
  EXPECT_EQ(ErrorOf([&] { a->LockRecord(100000001); }).Code, ec::RecordLocked);
  // While held, record locks of this table are not needed.
  EXPECT_FALSE(b->LockRecord(2));
  EXPECT_EQ(b->RecordLocksHeld(), 0);
  b->UnlockAllRecords();
  EXPECT_EQ(ErrorOf([&] { b->UnlockAllRecords(); }).Code, ec::CannotUnlock);
  a->LockRecord(1);
}

TEST_F(LocksTest, ClosingReleasesEveryLock) {
  CreateTable(12, {.Blob = true});
  auto a = OpenTable();
  a->LockRecord(2);
  a->LockRecord(11);
  ASSERT_TRUE(a->HoldsReadLock());
  a->CloseFiles();
  EXPECT_FALSE(a->HoldsReadLock());
  EXPECT_EQ(a->RecordLocksHeld(), 0);
  ExpectNothingLocked();

  a->OpenFiles();
  a->LockAllRecords();
  a->BeginWrite();
  a->CloseFiles();
  ExpectNothingLocked();
  auto b = OpenTable();
  b->Settings.LockRetryCount = 0;
  b->BeginWrite();
  b->EndWrite();
  b->LockRecord(11);
}

}  // namespace
}  // namespace tessel
