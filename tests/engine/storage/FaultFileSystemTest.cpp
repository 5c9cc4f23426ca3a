// The fault-injecting file system: what a power cut keeps of the writes
// since a file's last flush, what stays durable, the I/O errors it makes at
// a chosen step, and how the file handler reports them.
#include "engine/storage/FaultFileSystem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "engine/base/TesselError.h"
#include "engine/storage/FileHandler.h"
#include "engine/storage/MemoryFile.h"
#include "platform/core/PosixFile.h"

namespace tessel {
namespace {

using Bytes = std::vector<uint8_t>;

struct FaultFixture : ::testing::Test {
  TMemoryFileList store;
  std::shared_ptr<TFaultFileSystem> fs =
      std::make_shared<TFaultFileSystem>(std::make_shared<TMemoryFileSystem>(store));

  std::unique_ptr<TFile> Make(const std::string& name, const Bytes& content, bool writeThrough = true) {
    std::unique_ptr<TFile> file;
    TFileOpenOptions options;
    options.Write = true;
    options.WriteThrough = writeThrough;
    EXPECT_EQ(fs->CreateFile(name, options, file), 0);
    size_t done = 0;
    if (!content.empty()) {
      EXPECT_EQ(file->WriteAt(0, content.data(), content.size(), done), 0);
    }
    EXPECT_EQ(file->Sync(), 0);
    // Opened again shared, so that Content can look.
    EXPECT_EQ(file->Close(), 0);
    EXPECT_EQ(fs->OpenFile(name, options, file), 0);
    return file;
  }

  // The content as the wrapped store holds it.
  Bytes Content(const std::string& name) {
    std::unique_ptr<TFile> file;
    TMemoryFileSystem plain(store);
    EXPECT_EQ(plain.OpenFile(name, TFileOpenOptions{}, file), 0);
    int64_t size = 0;
    file->Size(size);
    Bytes bytes(static_cast<size_t>(size));
    size_t done = 0;
    if (size > 0) file->ReadAt(0, bytes.data(), bytes.size(), done);
    return bytes;
  }
};

void Put(TFile& file, int64_t position, const Bytes& bytes) {
  size_t done = 0;
  ASSERT_EQ(file.WriteAt(position, bytes.data(), bytes.size(), done), 0);
  ASSERT_EQ(done, bytes.size());
}

Bytes Filled(size_t n, uint8_t value) { return Bytes(n, value); }

TEST_F(FaultFixture, APowerCutLosesWhatWasNotFlushedAndKeepsWhatWas) {
  auto file = Make("a.dat", Filled(1024, 1));
  file->DeferSync(true);
  Put(*file, 0, Filled(100, 2));
  ASSERT_EQ(file->SyncDeferred(), 0);  // durable from here
  Put(*file, 512, Filled(700, 3));     // grows the file, not flushed
  ASSERT_EQ(file->Truncate(600), 0);   // a cut, not flushed
  EXPECT_EQ(fs->UnflushedWrites(), 2u);

  fs->SetLossModes({TLossMode::LoseAll});
  fs->CutPower(1);
  Bytes expected = Filled(1024, 1);
  std::fill(expected.begin(), expected.begin() + 100, 2);
  EXPECT_EQ(Content("a.dat"), expected);
  EXPECT_EQ(fs->LastLoss().WritesLost, 2);
  EXPECT_EQ(fs->UnflushedWrites(), 0u);
}

TEST_F(FaultFixture, WriteThroughWritesAreDurableOneByOneUnlessDeferred) {
  auto through = Make("t.dat", Filled(512, 0));
  auto plain = Make("p.dat", Filled(512, 0), false);
  Put(*through, 0, Filled(10, 7));  // durable on return
  Put(*plain, 0, Filled(10, 7));    // waits for a flush that never comes
  fs->SetLossModes({TLossMode::LoseAll});
  fs->CutPower(2);
  EXPECT_EQ(Content("t.dat")[0], 7);
  EXPECT_EQ(Content("p.dat")[0], 0);
}

TEST_F(FaultFixture, AFailedFlushMakesNothingDurable) {
  auto file = Make("f.dat", Filled(512, 0));
  file->DeferSync(true);
  Put(*file, 0, Filled(10, 5));
  fs->FailAt(TFaultKind::FlushError, 1);
  EXPECT_EQ(file->SyncDeferred(), EIO);
  fs->SetLossModes({TLossMode::LoseAll});
  fs->CutPower(3);
  EXPECT_EQ(Content("f.dat")[0], 0);
}

// A prefix kept leaves the file as some number of the writes left it, the
// next one possibly torn at a sector boundary; nothing else.
TEST_F(FaultFixture, APrefixKeptIsWhatTheFirstWritesLeftWithTheNextTornAtASector) {
  std::set<Bytes> seen;
  for (uint64_t seed = 1; seed <= 60; ++seed) {
    TMemoryFileList own;
    auto faults = std::make_shared<TFaultFileSystem>(std::make_shared<TMemoryFileSystem>(own));
    std::unique_ptr<TFile> file;
    TFileOpenOptions options;
    options.Write = true;
    options.WriteThrough = true;
    ASSERT_EQ(faults->CreateFile("p.dat", options, file), 0);
    ASSERT_EQ(file->Sync(), 0);
    file->DeferSync(true);
    Put(*file, 0, Filled(1024, 1));
    Put(*file, 256, Filled(1024, 2));
    Put(*file, 0, Filled(100, 3));
    faults->SetLossModes({TLossMode::KeepPrefix});
    faults->CutPower(seed);
    file.reset();
    TMemoryFileSystem plain(own);
    ASSERT_EQ(plain.OpenFile("p.dat", TFileOpenOptions{}, file), 0);
    int64_t size = 0;
    file->Size(size);
    Bytes bytes(static_cast<size_t>(size));
    size_t done = 0;
    if (size > 0) file->ReadAt(0, bytes.data(), bytes.size(), done);
    seen.insert(bytes);
  }
  // The states a prefix can leave: none, the first write (or its first
  // sector), two writes (the second cut at 512 or 1024), all three.
  Bytes one = Filled(1024, 1);
  Bytes two = one;
  two.resize(1280, 2);
  std::fill(two.begin() + 256, two.end(), 2);
  Bytes three = two;
  std::fill(three.begin(), three.begin() + 100, 3);
  Bytes firstSector = Filled(512, 1);
  Bytes secondTorn512 = one;
  std::fill(secondTorn512.begin() + 256, secondTorn512.begin() + 512, 2);
  Bytes secondTorn1024 = one;
  std::fill(secondTorn1024.begin() + 256, secondTorn1024.end(), 2);
  const std::set<Bytes> allowed = {Bytes{}, firstSector, one, secondTorn512, secondTorn1024, two, three};
  for (const Bytes& state : seen) EXPECT_TRUE(allowed.count(state)) << "a state of " << state.size() << " bytes";
  EXPECT_GE(seen.size(), 4u);
}

TEST_F(FaultFixture, AfterTheCutOldHandlesStayDeadWithoutWaitingOnLocks) {
  auto file = Make("d.dat", Filled(16, 0));
  fs->CutPower(4);
  uint8_t byte = 0;
  size_t done = 0;
  EXPECT_EQ(file->ReadAt(0, &byte, 1, done), EIO);
  EXPECT_EQ(file->WriteAt(0, &byte, 1, done), EIO);
  EXPECT_TRUE(file->Lock(100, 1));
  std::unique_ptr<TFile> other;
  EXPECT_EQ(fs->OpenFile("d.dat", TFileOpenOptions{}, other), EIO);
  fs->RestorePower();
  EXPECT_EQ(file->ReadAt(0, &byte, 1, done), EIO);
  EXPECT_EQ(file->Close(), 0);
  EXPECT_EQ(fs->OpenFile("d.dat", TFileOpenOptions{}, other), 0);
  EXPECT_EQ(other->ReadAt(0, &byte, 1, done), 0);
}

TEST_F(FaultFixture, APlannedCutTakesThePlaceOfTheNthWriteOrFlush) {
  auto file = Make("c.dat", Filled(8, 0), false);
  fs->SetLossModes({TLossMode::LoseAll});
  fs->CutPowerAt(3, 5);
  Put(*file, 0, Filled(1, 1));
  ASSERT_EQ(file->Sync(), 0);
  size_t done = 0;
  const uint8_t two = 2;
  EXPECT_EQ(file->WriteAt(1, &two, 1, done), EIO);  // the third: never happens
  EXPECT_TRUE(fs->PowerIsOff());
  EXPECT_EQ(Content("c.dat"), (Bytes{1, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(FaultFixture, EachFaultHitsTheNthStepOfItsClassOnce) {
  auto file = Make("e.dat", Filled(64, 9));
  fs->ResetCounts();
  uint8_t buffer[8] = {};
  size_t done = 0;
  fs->FailAt(TFaultKind::ReadError, 2);
  EXPECT_EQ(file->ReadAt(0, buffer, 8, done), 0);
  EXPECT_EQ(file->ReadAt(0, buffer, 8, done), EIO);
  EXPECT_EQ(file->ReadAt(0, buffer, 8, done), 0);

  const Bytes eight = Filled(8, 4);
  fs->FailAt(TFaultKind::DiskFull, 1);
  EXPECT_EQ(file->WriteAt(0, eight.data(), 8, done), ENOSPC);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(Content("e.dat")[0], 9);
  fs->FailAt(TFaultKind::ShortWrite, 1);
  EXPECT_EQ(file->WriteAt(0, eight.data(), 8, done), 0);
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(Content("e.dat")[3], 4);
  EXPECT_EQ(Content("e.dat")[4], 9);
  fs->FailAt(TFaultKind::WriteError, 1);
  EXPECT_EQ(file->Truncate(10), EIO);
  EXPECT_EQ(Content("e.dat").size(), 64u);

  const TStepCounts counts = fs->Counts();
  EXPECT_EQ(counts.Reads, 3u);
  EXPECT_EQ(counts.Writes, 3u);
  EXPECT_EQ(fs->FaultsFired(), 4);
  EXPECT_FALSE(fs->FaultArmed());
}

// The file handler turns the faults into the engine's messages.
TEST_F(FaultFixture, TheHandlerReportsEachFaultAsAnEngineError) {
  Make("h.dat", Filled(64, 0)).reset();
  TFileHandler h;
  h.SetFileSystem(*fs);
  h.SetFileName("h.dat");
  h.SetErrorName("h");
  h.Open();
  auto code = [&](TFaultKind kind, auto&& action) -> uint16_t {
    fs->FailAt(kind, 1);
    try {
      action();
    } catch (const ETesselEngineError& e) {
      return e.Code();
    }
    return 0;
  };
  uint8_t buffer[16] = {};
  EXPECT_EQ(code(TFaultKind::ShortWrite, [&] { h.WriteAt(0, buffer, 16); }), ec::WriteError);
  EXPECT_EQ(code(TFaultKind::DiskFull, [&] { h.WriteAt(0, buffer, 16); }), ec::UnknownOsError);
  EXPECT_EQ(code(TFaultKind::ReadError, [&] { h.ReadAt(0, buffer, 16); }), ec::UnknownOsError);
  EXPECT_EQ(code(TFaultKind::FlushError, [&] { h.Flush(); }), ec::UnknownOsError);
  h.Close();
}

// The lookup without regard to case runs on the seam's existence check and
// listing: a file system that knows only exact names and lists a directory.
class ListingOnly : public TFileSystem {
 public:
  std::vector<std::string> Entries;
  int OpenFile(const std::string&, const TFileOpenOptions&, std::unique_ptr<TFile>&) override { return ENOSYS; }
  int CreateFile(const std::string&, const TFileOpenOptions&, std::unique_ptr<TFile>&) override { return ENOSYS; }
  int DeleteFile(const std::string&) override { return ENOSYS; }
  int RenameFile(const std::string&, const std::string&) override { return ENOSYS; }
  int Exists(const std::string& path) override {
    for (const std::string& e : Entries)
      if ("/d/" + e == path) return 0;
    return ENOENT;
  }
  int ListDirectory(const std::string& directory, std::vector<std::string>& names) override {
    if (directory != "/d") return ENOENT;
    names = Entries;
    return 0;
  }
  bool IsWritable(const std::string&) override { return true; }
  bool IsDirectory(const std::string&) override { return true; }
  int CanonicalPath(const std::string& path, std::string& canonical) override {
    canonical = path;
    return 0;
  }
};

TEST(FileSystemSeam, NamesAreFoundThroughTheListingIgnoringCase) {
  ListingOnly files;
  files.Entries = {"links.DAT", "links.IDX", "Other.dat", "other.DAT"};
  std::string resolved;
  EXPECT_EQ(ResolveFileName(files, "/d/links.DAT", resolved), 0);
  EXPECT_EQ(resolved, "/d/links.DAT");
  EXPECT_EQ(ResolveFileName(files, "/d/LINKS.dat", resolved), 0);
  EXPECT_EQ(resolved, "/d/links.DAT");
  EXPECT_EQ(ResolveFileName(files, "/d/other.dat", resolved), platform::kErrAmbiguousName);
  EXPECT_EQ(ResolveFileName(files, "/d/none.dat", resolved), ENOENT);
  EXPECT_EQ(ResolveFileName(files, "/e/links.dat", resolved), ENOENT);
}

}  // namespace
}  // namespace tessel
