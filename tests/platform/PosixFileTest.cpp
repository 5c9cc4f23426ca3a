#include "platform/core/PosixFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "PosixFileTestSupport.h"

namespace {

using platform::FileOpenOptions;
using platform::PosixFile;

using platformtest::LockSeenFrom;
using platformtest::ReadText;
using platformtest::TempDir;
using platformtest::WriteText;

FileOpenOptions Shared(bool write = true) {
  FileOpenOptions o;
  o.Write = write;
  return o;
}

FileOpenOptions Exclusive() {
  FileOpenOptions o;
  o.Write = true;
  o.Exclusive = true;
  return o;
}

TEST(PosixFileNames, FindsTheOneEntryThatDiffersOnlyInCase) {
  TempDir dir;
  WriteText(dir / "linksdata.DAT", "data");
  std::string resolved;
  ASSERT_EQ(platform::ResolveFileName(dir / "linksdata.dat", resolved), 0);
  EXPECT_EQ(resolved, dir / "linksdata.DAT");

  PosixFile file;
  ASSERT_EQ(file.Open(dir / "LinksData.dat", Shared()), 0);
  EXPECT_EQ(file.Path(), dir / "linksdata.DAT");
  char buf[4];
  size_t done = 0;
  ASSERT_EQ(file.ReadAt(0, buf, 4, done), 0);
  EXPECT_EQ(std::string(buf, done), "data");
}

TEST(PosixFileNames, ExactNameWinsAndTwoCandidatesAreAmbiguous) {
  TempDir dir;
  WriteText(dir / "linksdata.DAT", "upper");
  WriteText(dir / "LINKSDATA.dat", "lower");
  std::string resolved;
  ASSERT_EQ(platform::ResolveFileName(dir / "linksdata.DAT", resolved), 0);
  EXPECT_EQ(resolved, dir / "linksdata.DAT");
  EXPECT_EQ(platform::ResolveFileName(dir / "linksdata.dat", resolved), platform::kErrAmbiguousName);
  PosixFile file;
  EXPECT_EQ(file.Open(dir / "linksdata.dat", Shared()), platform::kErrAmbiguousName);
  EXPECT_EQ(file.Create(dir / "linksdata.dat", Shared()), platform::kErrAmbiguousName);
}

TEST(PosixFileNames, MissingFileOrDirectoryIsNotFoundAndOpenNeverCreates) {
  TempDir dir;
  std::string resolved;
  EXPECT_EQ(platform::ResolveFileName(dir / "none.dat", resolved), ENOENT);
  EXPECT_EQ(platform::ResolveFileName(dir / "nodir/none.dat", resolved), ENOENT);
  PosixFile file;
  EXPECT_EQ(file.Open(dir / "none.dat", Shared()), ENOENT);
  EXPECT_FALSE(std::filesystem::exists(dir / "none.dat"));
  EXPECT_NE(file.Open(dir.path(), Shared(false)), 0);  // a directory is no file
}

TEST(PosixFileCreate, NewFileGetsExactNameAndCaseVariantIsTruncatedInPlace) {
  TempDir dir;
  WriteText(dir / "T.DAT", "old content");
  PosixFile file;
  ASSERT_EQ(file.Create(dir / "t.dat", Shared()), 0);
  EXPECT_EQ(file.Path(), dir / "T.DAT");
  file.Close();
  EXPECT_EQ(ReadText(dir / "T.DAT"), "");
  EXPECT_FALSE(std::filesystem::exists(dir / "t.dat"));

  ASSERT_EQ(file.Create(dir / "New.Idx", Shared()), 0);
  EXPECT_EQ(file.Path(), dir / "New.Idx");
}

TEST(PosixFileShare, ShareByteSitsAt2147483648WithTheOpenMode) {
  TempDir dir;
  WriteText(dir / "a.dat", "x");
  {
    PosixFile shared;
    ASSERT_EQ(shared.Open(dir / "a.dat", Shared()), 0);
    EXPECT_EQ(LockSeenFrom(dir / "a.dat", 2147483648LL, 1), F_RDLCK);
    EXPECT_EQ(LockSeenFrom(dir / "a.dat", 2147483647LL, 1), F_UNLCK);
    EXPECT_EQ(LockSeenFrom(dir / "a.dat", 2147483649LL, 1), F_UNLCK);
  }
  EXPECT_EQ(LockSeenFrom(dir / "a.dat", 2147483648LL, 1), F_UNLCK);  // released on close
  PosixFile exclusive;
  ASSERT_EQ(exclusive.Open(dir / "a.dat", Exclusive()), 0);
  EXPECT_EQ(LockSeenFrom(dir / "a.dat", 2147483648LL, 1), F_WRLCK);
}

TEST(PosixFileLocks, RefusesEmptyRangesAndTheShareByte) {
  TempDir dir;
  WriteText(dir / "a.dat", "");
  PosixFile a;
  ASSERT_EQ(a.Open(dir / "a.dat", Shared()), 0);
  EXPECT_FALSE(a.Lock(100, 0));  // a zero length would lock to infinity
  EXPECT_FALSE(a.Lock(-1, 1));
  EXPECT_FALSE(a.Lock(2147483648LL, 1));
  EXPECT_FALSE(a.Lock(2147483640LL, 9));
  EXPECT_TRUE(a.Lock(2147483647LL, 1));
  // The share lock is still the read lock it was.
  EXPECT_EQ(LockSeenFrom(dir / "a.dat", 2147483648LL, 1), F_RDLCK);
}

TEST(PosixFileOptions, WriteThroughOpensWithDataSync) {
  TempDir dir;
  WriteText(dir / "a.dat", "");
  FileOpenOptions o = Shared();
  PosixFile plain;
  ASSERT_EQ(plain.Open(dir / "a.dat", o), 0);
  EXPECT_EQ(::fcntl(plain.Descriptor(), F_GETFL) & O_DSYNC, 0);
  o.WriteThrough = true;
  PosixFile synced;
  ASSERT_EQ(synced.Open(dir / "a.dat", o), 0);
  EXPECT_EQ(::fcntl(synced.Descriptor(), F_GETFL) & O_DSYNC, O_DSYNC);
  PosixFile created;
  ASSERT_EQ(created.Create(dir / "b.dat", o), 0);
  EXPECT_EQ(::fcntl(created.Descriptor(), F_GETFL) & O_DSYNC, O_DSYNC);
}

TEST(PosixFileOptions, DeleteOnCloseRemovesTheNameOnlyWhenNoOtherHandleIsOpen) {
  TempDir dir;
  WriteText(dir / "tmp.dat", "t");
  FileOpenOptions temp = Shared();
  temp.DeleteOnClose = true;
  {
    PosixFile t, other;
    ASSERT_EQ(t.Open(dir / "tmp.dat", temp), 0);
    ASSERT_EQ(other.Open(dir / "tmp.dat", Shared(false)), 0);
    t.Close();
    EXPECT_TRUE(std::filesystem::exists(dir / "tmp.dat"));
  }
  PosixFile t;
  ASSERT_EQ(t.Open(dir / "TMP.dat", temp), 0);
  t.Close();
  EXPECT_FALSE(std::filesystem::exists(dir / "tmp.dat"));
}

TEST(PosixFileOps, DeleteAndRenameRespectOpenHandlesAndExistingTargets) {
  TempDir dir;
  WriteText(dir / "a.dat", "a");
  WriteText(dir / "b.dat", "b");
  {
    PosixFile open;
    ASSERT_EQ(open.Open(dir / "a.dat", Shared(false)), 0);
    EXPECT_EQ(platform::DeleteFile(dir / "A.DAT"), platform::kErrSharingViolation);
    EXPECT_EQ(platform::RenameFile(dir / "a.dat", dir / "c.dat"), platform::kErrSharingViolation);
  }
  EXPECT_EQ(platform::RenameFile(dir / "a.dat", dir / "B.DAT"), EEXIST);
  EXPECT_EQ(ReadText(dir / "b.dat"), "b");
  ASSERT_EQ(platform::RenameFile(dir / "a.dat", dir / "A.DAT"), 0);  // only the case changes
  EXPECT_EQ(ReadText(dir / "A.DAT"), "a");
  ASSERT_EQ(platform::DeleteFile(dir / "a.dat"), 0);
  EXPECT_FALSE(platform::FileExists(dir / "A.DAT"));
  EXPECT_EQ(platform::DeleteFile(dir / "a.dat"), ENOENT);
}

TEST(PosixFileOps, CanonicalPathResolvesDotsAndLinks) {
  TempDir dir;
  std::filesystem::create_directory(dir / "sub");
  std::filesystem::create_directory_symlink(dir / "sub", dir / "link");
  std::string canonical;
  ASSERT_EQ(platform::CanonicalPath(dir / "link/../sub/.", canonical), 0);
  std::string expected;
  ASSERT_EQ(platform::CanonicalPath(dir / "sub", expected), 0);
  EXPECT_EQ(canonical, expected);
  EXPECT_EQ(platform::CanonicalPath(dir / "missing", canonical), ENOENT);
}

}  // namespace
