// Narrowing a catalogue's files to their owner: which files are changed
// (the user's own, readable or writable by others), which are left alone
// (already private, someone else's, missing), and the answer that tells the
// program whether to say so.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/core/OwnerOnlyFiles.h"

namespace marrowick::platform {
namespace {

class OwnerOnlyFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("owner-only-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Make(const std::string& name, mode_t mode) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path) << "data";
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    return path;
  }
  static mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
  }

  std::filesystem::path dir_;
};

TEST_F(OwnerOnlyFilesTest, FilesOthersCouldReadBecomeTheOwnersAlone) {
  const std::string shared = Make("a", 0644);
  EXPECT_TRUE(NarrowToOwner(shared));
  EXPECT_EQ(ModeOf(shared), 0600u);
  // Already private: nothing to do, and nothing to tell.
  EXPECT_FALSE(NarrowToOwner(shared));

  // Any right of the group or of others counts; the owner's own bits stay.
  const std::string groupWritable = Make("b", 0620);
  EXPECT_TRUE(NarrowToOwner(groupWritable));
  EXPECT_EQ(ModeOf(groupWritable), 0600u);
  const std::string readOnly = Make("c", 0444);
  EXPECT_TRUE(NarrowToOwner(readOnly));
  EXPECT_EQ(ModeOf(readOnly), 0400u);  // a catalogue made read-only stays so

  EXPECT_FALSE(NarrowToOwner((dir_ / "missing").string()));
  EXPECT_FALSE(NarrowToOwner(dir_.string()));  // directories are not touched
}

TEST_F(OwnerOnlyFilesTest, AnotherUsersFileIsLeftAlone) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
  const std::string theirs = Make("theirs", 0644);
  ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(NarrowToOwner(theirs));
  EXPECT_EQ(ModeOf(theirs), 0644u);
}

TEST_F(OwnerOnlyFilesTest, ATablesThreeFilesAreFoundWithoutRegardToCase) {
  const std::string dat = Make("linksdata.DAT", 0644);
  const std::string idx = Make("linksdata.idx", 0600);
  const std::string blb = Make("LinksData.Blb", 0664);
  const std::string other = Make("linksdata.txt", 0644);

  EXPECT_TRUE(NarrowTableToOwner((dir_ / "linksdata.dat").string()));
  EXPECT_EQ(ModeOf(dat), 0600u);
  EXPECT_EQ(ModeOf(idx), 0600u);
  EXPECT_EQ(ModeOf(blb), 0600u);
  EXPECT_EQ(ModeOf(other), 0644u);
  // Told once: the next start finds nothing to change.
  EXPECT_FALSE(NarrowTableToOwner((dir_ / "linksdata.dat").string()));

  // A table with its BLOB file missing still has its other files narrowed.
  std::filesystem::remove(blb);
  ASSERT_EQ(::chmod(idx.c_str(), 0640), 0);
  EXPECT_TRUE(NarrowTableToOwner((dir_ / "linksdata.dat").string()));
  EXPECT_EQ(ModeOf(idx), 0600u);
  EXPECT_FALSE(NarrowTableToOwner((dir_ / "nothing.dat").string()));
}

}  // namespace
}  // namespace marrowick::platform
