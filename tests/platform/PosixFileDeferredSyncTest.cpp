// Write-through handles whose writes are made durable by one flush at the
// end of a write-back: the writes land in the file at once (seen through
// another handle), a flush is owed until SyncDeferred, and the handle's
// locks are not disturbed by the second descriptor the deferred writes use.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "PosixFileTestSupport.h"
#include "platform/core/PosixFile.h"

namespace {

using platform::FileOpenOptions;
using platform::PosixFile;

using platformtest::LockSeenFrom;
using platformtest::ReadText;
using platformtest::TempDir;

FileOpenOptions WriteThrough(bool on = true) {
  FileOpenOptions o;
  o.Write = true;
  o.WriteThrough = on;
  return o;
}

TEST(PosixFileDeferredSync, DeferredWritesLandAtOnceAndOweOneFlush) {
  TempDir dir;
  PosixFile f;
  ASSERT_EQ(f.Create(dir / "t.dat", WriteThrough()), 0);
  ASSERT_TRUE(f.Lock(1000, 1));
  size_t done = 0;

  f.DeferSync(true);
  ASSERT_TRUE(f.SyncDeferring());
  EXPECT_FALSE(f.SyncPending());
  ASSERT_EQ(f.WriteAt(0, "abcdef", 6, done), 0);
  EXPECT_EQ(done, 6u);
  ASSERT_EQ(f.WriteAt(2, "XY", 2, done), 0);
  EXPECT_TRUE(f.SyncPending());
  EXPECT_EQ(ReadText(dir / "t.dat"), "abXYef");
  // A cut is owed the same flush.
  ASSERT_EQ(f.Truncate(5), 0);
  EXPECT_EQ(ReadText(dir / "t.dat"), "abXYe");

  f.DeferSync(false);
  EXPECT_TRUE(f.SyncPending());  // ending the deferral does not drop the debt
  ASSERT_EQ(f.SyncDeferred(), 0);
  EXPECT_FALSE(f.SyncPending());
  ASSERT_EQ(f.SyncDeferred(), 0);  // nothing owed: nothing to do

  // Writes outside a deferral are durable one by one and owe nothing.
  ASSERT_EQ(f.WriteAt(5, "!", 1, done), 0);
  EXPECT_FALSE(f.SyncPending());
  EXPECT_EQ(ReadText(dir / "t.dat"), "abXYe!");

  // The byte-range lock and the share lock stay with the handle.
  EXPECT_EQ(LockSeenFrom(dir / "t.dat", 1000), F_WRLCK);
  EXPECT_EQ(LockSeenFrom(dir / "t.dat", platform::kShareBytePosition), F_WRLCK);
  ASSERT_EQ(f.Close(), 0);
  EXPECT_EQ(LockSeenFrom(dir / "t.dat", platform::kShareBytePosition), F_UNLCK);
}

TEST(PosixFileDeferredSync, WithoutWriteThroughThereIsNothingToDefer) {
  TempDir dir;
  PosixFile f;
  ASSERT_EQ(f.Create(dir / "t.dat", WriteThrough(false)), 0);
  f.DeferSync(true);
  EXPECT_FALSE(f.SyncDeferring());
  size_t done = 0;
  ASSERT_EQ(f.WriteAt(0, "abc", 3, done), 0);
  EXPECT_FALSE(f.SyncPending());
  EXPECT_EQ(f.SyncDeferred(), 0);
  EXPECT_EQ(ReadText(dir / "t.dat"), "abc");
}

TEST(PosixFileDeferredSync, ReopeningForgetsTheDeferral) {
  TempDir dir;
  PosixFile f;
  ASSERT_EQ(f.Create(dir / "t.dat", WriteThrough()), 0);
  f.DeferSync(true);
  size_t done = 0;
  ASSERT_EQ(f.WriteAt(0, "abc", 3, done), 0);
  ASSERT_EQ(f.Close(), 0);
  EXPECT_EQ(f.SyncDeferred(), EBADF);
  ASSERT_EQ(f.Open(dir / "t.dat", WriteThrough()), 0);
  EXPECT_FALSE(f.SyncDeferring());
  EXPECT_FALSE(f.SyncPending());
  ASSERT_EQ(f.WriteAt(3, "d", 1, done), 0);
  EXPECT_FALSE(f.SyncPending());
  EXPECT_EQ(ReadText(dir / "t.dat"), "abcd");
}

}  // namespace
