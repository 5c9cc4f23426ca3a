// The cheap question a viewer asks once a second, "has another user written
// to this table": the counters at the start of the files against the
// headers in memory, with no lock and nothing re-read, and the count of
// other users' changes the table's own reads took in meanwhile.
#include <gtest/gtest.h>

#include "SharedTableSupport.h"

namespace tessel {
namespace {

using ChangedElsewhereTest = testing::TwoHandlesTest;

TEST_F(ChangedElsewhereTest, AnotherUsersWriteIsSeenWithoutTouchingLocksOrCaches) {
  OpenBoth();
  EXPECT_FALSE(mine_->ChangedElsewhere());
  EXPECT_EQ(NameOf(*mine_, 3, 10), "r3");
  const size_t cached = mine_->Data().CachedRecordCount();
  const int32_t counter = mine_->Data().Header.ChangeCounter;

  // Only the data counter moves (no key changed).
  Post(*theirs_, 3, "x", false);
  EXPECT_TRUE(mine_->ChangedElsewhere());
  // Asking again still says so: nothing was taken in.
  EXPECT_TRUE(mine_->ChangedElsewhere());
  EXPECT_EQ(mine_->Data().CachedRecordCount(), cached);
  EXPECT_EQ(mine_->Data().Header.ChangeCounter, counter);
  EXPECT_FALSE(mine_->HoldsReadLock());
  EXPECT_FALSE(testing::ForeignLockIn(IndexName(), testing::kReadersStart, testing::kReadersLength).Found());
  EXPECT_EQ(mine_->ChangesTakenIn(), 0u);

  // The read lock takes the change in; the question is answered and the
  // count tells a viewer that a change went by.
  EXPECT_TRUE(mine_->BeginRead());
  mine_->EndRead();
  EXPECT_FALSE(mine_->ChangedElsewhere());
  EXPECT_EQ(mine_->ChangesTakenIn(), 1u);
  EXPECT_EQ(NameOf(*mine_, 3), "x");

  // The index counter alone moving is seen as well.
  Post(*theirs_, 4, "y", true);
  EXPECT_TRUE(mine_->ChangedElsewhere());
  EXPECT_TRUE(mine_->DetectChanges());
  EXPECT_EQ(mine_->ChangesTakenIn(), 2u);
}

TEST_F(ChangedElsewhereTest, OwnWritesAndExclusiveTablesNeverCount) {
  OpenBoth();
  Post(*mine_, 2, "mine", true);
  EXPECT_FALSE(mine_->ChangedElsewhere());
  EXPECT_EQ(mine_->ChangesTakenIn(), 0u);
  // The other user learns of it, the writer does not.
  EXPECT_TRUE(theirs_->ChangedElsewhere());

  // A write lock taken after another user's change takes it in and counts it.
  Post(*theirs_, 5, "theirs", false);
  Post(*mine_, 6, "mine again", false);
  EXPECT_EQ(mine_->ChangesTakenIn(), 1u);
  EXPECT_FALSE(mine_->ChangedElsewhere());

  mine_->CloseFiles(false);
  theirs_->CloseFiles(false);
  EXPECT_FALSE(mine_->ChangedElsewhere());  // closed
  mine_ = OpenTable(true);
  EXPECT_FALSE(mine_->ChangedElsewhere());
}

TEST_F(ChangedElsewhereTest, BlobCounterAndScrambledCountersAreRead) {
  OpenBoth({.Primary = true, .Encrypted = true, .Blob = true});
  EXPECT_FALSE(mine_->ChangedElsewhere());
  // Another user writes only its BLOB header.
  theirs_->BeginWrite();
  theirs_->Blob().HeaderModified = true;
  theirs_->FlushTable(false, false, false);
  theirs_->EndWrite();
  EXPECT_TRUE(mine_->ChangedElsewhere());
  EXPECT_TRUE(mine_->DetectChanges());
  EXPECT_FALSE(mine_->ChangedElsewhere());
}

}  // namespace
}  // namespace tessel
