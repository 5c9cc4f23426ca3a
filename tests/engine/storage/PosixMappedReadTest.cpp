// Reads of a handle that has mapped its file: what other handles write shows
// at once, the file grows under the mapping and past it, and a handle that
// cuts its own file reads no further than the cut.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/FileSystem.h"
#include "engine/storage/TableTestSupport.h"

namespace tessel::testing {
namespace {

class PosixMappedRead : public ::testing::Test {
 protected:
  std::unique_ptr<TFile> Open(bool write) {
    TFileOpenOptions options;
    options.Write = write;
    std::unique_ptr<TFile> file;
    EXPECT_EQ(OperatingSystemFiles()->OpenFile(path_, options, file), 0);
    return file;
  }
  static void Put(TFile& file, int64_t at, const std::string& text) {
    size_t done = 0;
    ASSERT_EQ(file.WriteAt(at, text.data(), text.size(), done), 0);
    ASSERT_EQ(done, text.size());
  }
  static std::string Get(TFile& file, int64_t at, size_t count) {
    std::string text(count, '\0');
    size_t done = 0;
    EXPECT_EQ(file.ReadAt(at, text.data(), count, done), 0);
    text.resize(done);
    return text;
  }
  // Enough reads for a handle to map its file.
  static void KeepReading(TFile& file) {
    for (int i = 0; i < 200; ++i) Get(file, (i * 37) % 4000, 16);
  }

  void SetUp() override {
    path_ = dir_.Dir() + "file.DAT";
    std::unique_ptr<TFile> file;
    TFileOpenOptions options;
    options.Write = true;
    ASSERT_EQ(OperatingSystemFiles()->CreateFile(path_, options, file), 0);
    Put(*file, 0, std::string(8192, 'a'));
    file->Close();
  }

  TempDir dir_;
  std::string path_;
};

TEST_F(PosixMappedRead, WritesOfOtherHandlesShowAtOnceAndTheFileGrowsUnderTheMapping) {
  auto writer = Open(true);
  auto reader = Open(false);
  KeepReading(*reader);
  EXPECT_EQ(Get(*reader, 8000, 4), "aaaa");

  Put(*writer, 100, "changed");
  EXPECT_EQ(Get(*reader, 100, 7), "changed");

  // Past the length the reader knew, within its mapping, then past that.
  Put(*writer, 8192, std::string(4096, 'b'));
  EXPECT_EQ(Get(*reader, 8190, 4), "aabb");
  EXPECT_EQ(Get(*reader, 12200, 100), std::string(88, 'b'));  // to the end
  const int64_t far = int64_t{200} << 20;  // beyond any first mapping
  Put(*writer, far, "far away");
  EXPECT_EQ(Get(*reader, far, 8), "far away");
  EXPECT_EQ(Get(*reader, far - 4, 6), std::string(4, '\0') + "fa");
  Put(*writer, far + 2, "r-off");
  EXPECT_EQ(Get(*reader, far, 8), "far-offy");
  EXPECT_EQ(Get(*reader, 8190, 4), "aabb");
}

TEST_F(PosixMappedRead, AHandleThatCutsItsFileReadsNoFurtherThanTheCut) {
  auto file = Open(true);
  KeepReading(*file);
  ASSERT_EQ(file->Truncate(1000), 0);
  EXPECT_EQ(Get(*file, 990, 100), std::string(10, 'a'));
  EXPECT_EQ(Get(*file, 4000, 10), "");
  Put(*file, 3000, "back");
  EXPECT_EQ(Get(*file, 2996, 8), std::string(4, '\0') + "back");
  ASSERT_EQ(file->Truncate(0), 0);
  EXPECT_EQ(Get(*file, 0, 10), "");
  EXPECT_EQ(file->Close(), 0);
}

}  // namespace
}  // namespace tessel::testing
