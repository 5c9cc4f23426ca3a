// The lock protocol between processes: forked children open the same table,
// take locks or post changes, and report through pipes and exit codes. The
// processes keep step through pipes only.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "platform/core/Clock.h"
#include "SharedTableSupport.h"

namespace tessel {
namespace {

using testing::ErrorOf;
using testing::ForeignLockIn;
using testing::kReadersLength;
using testing::kReadersStart;
using testing::kWriteByte;
using testing::TLockingReader;

// A child process that runs a body and reports through a pipe; the parent
// tells it to go on through another.
class TChild {
 public:
  // body gets the child's side: Report(c) sends a byte, Await() waits for
  // one. Its return value is the exit code (an exception exits with 99).
  explicit TChild(const std::function<int(TChild&)>& body) {
    if (::pipe(toParent_) != 0 || ::pipe(toChild_) != 0) {
      ADD_FAILURE() << "pipe";
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(toParent_[0]);
      ::close(toChild_[1]);
      int code = 99;
      try {
        code = body(*this);
      } catch (...) {
      }
      ::_exit(code);
    }
    ::close(toParent_[1]);
    ::close(toChild_[0]);
  }
  ~TChild() {
    if (pid_ > 0 && !reaped_) {
      Tell('q');
      Wait();
    }
    ::close(toParent_[0]);
    ::close(toChild_[1]);
  }

  // Child side.
  void Report(char c) { (void)!::write(toParent_[1], &c, 1); }
  char Await() {
    char c = 0;
    return ::read(toChild_[0], &c, 1) == 1 ? c : 0;
  }

  // Parent side.
  char Heard() {
    char c = 0;
    return ::read(toParent_[0], &c, 1) == 1 ? c : 0;
  }
  void Tell(char c) { (void)!::write(toChild_[1], &c, 1); }
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  int toParent_[2] = {-1, -1};
  int toChild_[2] = {-1, -1};
  pid_t pid_ = -1;
  bool reaped_ = false;
};

class LocksMultiProcessTest : public testing::SharedTableTest {
 protected:
  void TearDown() override {
    TDataTable::SetLockRetryLimitsForTests(TDataTable::kLockRetries, TDataTable::kLockRetryWait);
  }
};

TEST_F(LocksMultiProcessTest, TwoReadersHoldTheirOwnBytesAndAWriterFails) {
  CreateTable(5, {.Blob = true});
  auto reader = [this](TChild& self) {
    auto t = OpenTable();
    t->BeginRead();
    self.Report('r');
    if (self.Await() != 'e') return 1;
    t->EndRead();
    t->CloseFiles();
    self.Report('e');
    return self.Await() == 'q' ? 0 : 2;
  };
  TChild first(reader);
  TChild second(reader);
  ASSERT_EQ(first.Heard(), 'r');
  ASSERT_EQ(second.Heard(), 'r');

  // Two reader bytes in each of the index and the BLOB file.
  for (const std::string& file : {IndexName(), BlobName()}) {
    const auto one = ForeignLockIn(file, kReadersStart, kReadersLength);
    ASSERT_TRUE(one.Found()) << file;
    EXPECT_EQ(one.Length, 1);
    const auto below = ForeignLockIn(file, kReadersStart, one.Start - kReadersStart);
    const auto above = ForeignLockIn(file, one.Start + 1, kWriteByte - one.Start - 1);
    EXPECT_NE(below.Found(), above.Found()) << file;
  }

  // The writer waits its retries out while they read, then fails.
  TDataTable::SetLockRetryLimitsForTests(20, 1);
  auto writer = OpenTable();
  const uint64_t start = platform::TickCount();
  const auto failure = ErrorOf([&] { writer->BeginWrite(); });
  EXPECT_EQ(failure.Code, ec::GeneralLockFailure);
  EXPECT_EQ(failure.Message, "General lock failure with table 't'");
  EXPECT_GE(platform::TickCount() - start, 20u);  // 20 waits of more than 1 ms
  EXPECT_FALSE(ForeignLockIn(DataName(), kWriteByte, 1).Found());

  // Once both readers have left, the write lock is had.
  first.Tell('e');
  second.Tell('e');
  EXPECT_EQ(first.Heard(), 'e');
  EXPECT_EQ(second.Heard(), 'e');
  EXPECT_FALSE(writer->BeginWrite());
  writer->EndWrite();
  writer->CloseFiles();
  first.Tell('q');
  second.Tell('q');
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);
}

TEST_F(LocksMultiProcessTest, RecordLockOfAnotherProcessFailsAtOnceWithNoRetries) {
  CreateTable(5);
  TChild holder([this](TChild& self) {
    auto t = OpenTable();
    t->LockRecord(3);
    t->EndRead();
    self.Report('l');
    if (self.Await() != 'u') return 1;
    t->UnlockRecord(3);
    self.Report('u');
    return self.Await() == 'q' ? 0 : 2;
  });
  ASSERT_EQ(holder.Heard(), 'l');

  auto t = OpenTable();
  t->Settings.LockRetryCount = 0;
  t->Settings.LockWaitTime = 60000;  // a retry would wait a minute
  const uint64_t start = platform::TickCount();
  const auto failure = ErrorOf([&] { t->LockRecord(3); });
  EXPECT_EQ(failure.Code, ec::RecordLocked);
  EXPECT_EQ(failure.Message, "Record in table 't' is in use by another user");
  EXPECT_LT(platform::TickCount() - start, 30000u);
  EXPECT_FALSE(t->HoldsReadLock());
  EXPECT_FALSE(t->LockRecord(4));
  t->EndRead();
  EXPECT_EQ(ErrorOf([&] { t->LockAllRecords(); }).Code, ec::TableLocked);
  t->UnlockRecord(4);

  holder.Tell('u');
  ASSERT_EQ(holder.Heard(), 'u');
  t->LockRecord(3);
  t->EndRead();
  t->UnlockRecord(3);
  t->CloseFiles();
  holder.Tell('q');
  EXPECT_EQ(holder.Wait(), 0);
}

TEST_F(LocksMultiProcessTest, ChangePostedByAnotherProcessIsNoticedAtTheNextMiss) {
  CreateTable(6);
  auto mine = OpenTable();
  EXPECT_EQ(NameOf(*mine, 2), "r2");
  EXPECT_EQ(NameOf(*mine, 5), "r5");
  const int32_t counter = mine->Data().Header.ChangeCounter;

  TChild poster([this](TChild& self) {
    auto t = OpenTable();
    t->BeginWrite();
    Rename(*t, 2, "posted");
    Insert(*t, "r7");
    t->FlushTable(false, true, true);
    t->EndWrite();
    t->CloseFiles();
    self.Report('p');
    return self.Await() == 'q' ? 0 : 1;
  });
  ASSERT_EQ(poster.Heard(), 'p');

  // A cache hit checks nothing.
  TLockingReader reader(*mine);
  TRecord* hit = mine->Data().FetchRecord(2, &reader);
  EXPECT_EQ(NameIn(hit), "r2");
  mine->Data().ReleaseRecord(hit);
  EXPECT_EQ(reader.Misses, 0);
  // The next miss takes the read lock, which finds the change.
  EXPECT_EQ(mine->Data().FetchRecord(4, &reader), nullptr);
  EXPECT_EQ(reader.Misses, 1);
  EXPECT_TRUE(mine->HoldsReadLock());
  EXPECT_EQ(mine->Data().CachedRecordCount(), 0u);
  EXPECT_EQ(mine->Data().Header.ChangeCounter, counter + 1);
  EXPECT_EQ(mine->Data().Header.NextRecordNumber, 8);
  // Started again, the operation sees the new state.
  EXPECT_EQ(NameOf(*mine, 2), "posted");
  EXPECT_EQ(NameOf(*mine, 7), "r7");
  mine->EndRead();
  mine->CloseFiles();
  poster.Tell('q');
  EXPECT_EQ(poster.Wait(), 0);
}

}  // namespace
}  // namespace tessel
