#include "engine/storage/MemoryFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/TesselError.h"
#include "engine/storage/FileHandler.h"

namespace tessel {
namespace {

// The store lives for the whole process, so every test uses names of its own.
std::string UniqueName(const std::string& stem) {
  static int counter = 0;
  return stem + "-" + std::to_string(++counter) + ".DAT";
}

uint16_t ErrorCode(const std::function<void()>& f) {
  try {
    f();
  } catch (const ETesselEngineError& e) {
    return e.Code();
  }
  return 0;
}

std::string ErrorText(const std::function<void()>& f) {
  try {
    f();
  } catch (const ETesselEngineError& e) {
    return e.what();
  }
  return "(no error)";
}

void Memory(TFileHandler& h, const std::string& path, bool exclusive = false) {
  h.InMemory = true;
  h.Exclusive = exclusive;
  h.SetFileName(path);
}

TEST(MemoryFileNames, MatchTheTrimmedFileNamePartIgnoringCase) {
  const std::string name = UniqueName("MemNames");
  TFileHandler created;
  Memory(created, "/first/dir/" + name);
  created.CreateEmpty();
  created.Write("abc", 3);
  created.Close();

  std::string other = name;
  for (char& c : other) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  TFileHandler opened;
  Memory(opened, "  /another/place/" + other + " ");
  EXPECT_TRUE(opened.Exists());
  opened.Open();
  EXPECT_EQ(opened.FileLength(), 3);
  EXPECT_EQ(TMemoryFileList::FileNamePart(" /a/b/ c.dat  "), "c.dat");
  opened.Close();
  opened.Delete();
  EXPECT_FALSE(created.Exists());
}

TEST(MemoryFileOpen, MissingFileIsAnInvalidPath) {
  TFileHandler h;
  Memory(h, UniqueName("missing"));
  h.SetErrorName("mem.DAT");
  EXPECT_EQ(ErrorText([&] { h.Open(); }),
            "Tessel Engine Error # 11010 Invalid path or file name for table 'mem.DAT'");
}

TEST(MemoryFileOpen, CreateEmptiesAClosedFileAndRefusesAnOpenOne) {
  const std::string name = UniqueName("create");
  TFileHandler a, b;
  Memory(a, name);
  Memory(b, name);
  a.CreateEmpty();
  a.Write("0123456789", 10);
  EXPECT_EQ(ErrorCode([&] { b.CreateEmpty(); }), ec::AccessDenied);
  a.Close();
  b.CreateEmpty();
  EXPECT_EQ(b.FileLength(), 0);
  b.Close();
  b.Delete();
}

TEST(MemoryFileOpen, ExclusiveOpensRefuseEveryOtherOpen) {
  const std::string name = UniqueName("exclusive");
  TFileHandler maker;
  Memory(maker, name);
  maker.CreateEmpty();
  maker.Close();

  TFileHandler exclusive, shared, second;
  Memory(exclusive, name, true);
  Memory(shared, name);
  Memory(second, name, true);
  exclusive.Open();
  shared.SetErrorName("mem.DAT");
  EXPECT_EQ(ErrorText([&] { shared.Open(); }),
            "Tessel Engine Error # 11013 Access denied to table 'mem.DAT'");
  EXPECT_EQ(ErrorCode([&] { second.Open(); }), ec::AccessDenied);
  exclusive.Close();
  shared.Open();
  EXPECT_EQ(ErrorCode([&] { second.Open(); }), ec::AccessDenied);
  shared.Close();
  second.Open();
  second.Close();
  second.Delete();
}

TEST(MemoryFileIo, SharedOpensKeepSeparatePositions) {
  const std::string name = UniqueName("positions");
  TFileHandler a, b;
  Memory(a, name);
  Memory(b, name);
  a.CreateEmpty();
  a.Write("abcdef", 6);
  a.Close();
  a.Open();
  b.Open();
  char x[2], y[3];
  a.Read(x, 2);
  b.Seek(3);
  b.Read(y, 3);
  EXPECT_EQ(std::string(x, 2), "ab");
  EXPECT_EQ(std::string(y, 3), "def");
  EXPECT_EQ(a.Seek(0, SeekOrigin::Current), 2);
  EXPECT_EQ(b.Seek(0, SeekOrigin::Current), 6);
  a.Read(x, 2);
  EXPECT_EQ(std::string(x, 2), "cd");
  a.Close();
  b.Close();
  a.Delete();
}

TEST(MemoryFileIo, ReadsStopAtTheSizeAndGrowthComesInWholeSteps) {
  std::shared_ptr<TMemoryFile> file;
  int handle = 0;
  const std::string name = UniqueName("growth");
  ASSERT_EQ(TMemoryFileList::Instance().Create(name, file, handle), ec::OK);
  ASSERT_EQ(file->Write(handle, "x", 1), ec::OK);
  EXPECT_EQ(file->Capacity(), 65535u);
  int64_t pos = 0;
  ASSERT_EQ(file->Seek(handle, 65535, SeekOrigin::Begin, pos), ec::OK);
  ASSERT_EQ(file->Write(handle, "y", 1), ec::OK);
  EXPECT_EQ(file->Capacity(), 131070u);
  EXPECT_EQ(file->Size(), 65536);

  char buf[8];
  size_t done = 0;
  ASSERT_EQ(file->Seek(handle, -3, SeekOrigin::End, pos), ec::OK);
  ASSERT_EQ(file->Read(handle, buf, sizeof buf, done), ec::OK);
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(std::string(buf, 3), std::string("\0\0y", 3));
  ASSERT_EQ(file->Read(handle, buf, sizeof buf, done), ec::OK);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(file->Seek(handle, -1, SeekOrigin::Begin, pos), ec::UnknownOsError);
  TMemoryFileList::Instance().Close(file, handle);
  EXPECT_EQ(TMemoryFileList::Instance().Delete(name), ec::OK);
}

TEST(MemoryFileIo, CutThenWriteFurtherOnNeverShowsTheCutData) {
  const std::string name = UniqueName("cut");
  TFileHandler h;
  Memory(h, name);
  h.CreateEmpty();
  h.Write("ABCDEFGHIJ", 10);
  h.Seek(2);
  h.Write(nullptr, 0);
  EXPECT_EQ(h.FileLength(), 2);
  h.WriteAt(6, "z", 1);
  char buf[7];
  h.ReadAt(0, buf, 7);
  EXPECT_EQ(std::string(buf, 7), std::string("AB\0\0\0\0z", 7));
  // A cut beyond the end extends with zeros.
  h.Seek(9);
  h.Write(nullptr, 0);
  EXPECT_EQ(h.FileLength(), 9);
  EXPECT_EQ(h.WriteCalls(), 2u);
  h.Close();
  h.Delete();
}

TEST(MemoryFileLocks, OverlappingRangesAreRefusedThroughAnyHandle) {
  const std::string name = UniqueName("locks");
  TFileHandler a, b;
  Memory(a, name);
  Memory(b, name);
  a.CreateEmpty();
  a.Close();
  a.Open();
  b.Open();
  EXPECT_TRUE(a.Lock(2147418112LL, 65535));
  EXPECT_FALSE(b.Lock(2147483647LL - 5, 1));  // inside a's range
  EXPECT_FALSE(a.Lock(2147483646LL, 1));      // its own range too
  EXPECT_TRUE(b.Lock(2147483647LL, 1));       // just past the end
  EXPECT_FALSE(a.Lock(2147483647LL, 1));
  EXPECT_FALSE(a.Lock(10, 0));

  // Only the same start and length, locked through the same handle, unlock.
  EXPECT_FALSE(a.Unlock(2147418112LL, 1));
  EXPECT_FALSE(b.Unlock(2147418112LL, 65535));
  EXPECT_TRUE(a.Unlock(2147418112LL, 65535));
  EXPECT_FALSE(a.Unlock(2147418112LL, 65535));
  EXPECT_TRUE(b.Lock(2147483647LL - 5, 1));

  // Closing a handle releases what it held.
  b.Close();
  EXPECT_TRUE(a.Lock(2147483647LL, 1));
  a.Close();
  a.Delete();
}

TEST(MemoryFileLocks, ConcurrentLockersGetEachRangeOnce) {
  const std::string name = UniqueName("race");
  TFileHandler maker;
  Memory(maker, name);
  maker.CreateEmpty();
  maker.Close();
  TFileHandler a, b;
  Memory(a, name);
  Memory(b, name);
  a.Open();
  b.Open();
  std::atomic<int> granted{0};
  auto run = [&](TFileHandler& h) {
    for (int64_t i = 0; i < 2000; ++i)
      if (h.Lock(1000 + i, 1)) ++granted;
  };
  std::thread t1(run, std::ref(a));
  std::thread t2(run, std::ref(b));
  t1.join();
  t2.join();
  EXPECT_EQ(granted.load(), 2000);
  a.Close();
  b.Close();
  a.Delete();
}

TEST(MemoryFileClose, DeleteOnCloseRemovesTheFileAtTheLastClose) {
  const std::string name = UniqueName("temp");
  TFileHandler maker;
  Memory(maker, name);
  maker.Temporary = true;
  maker.CreateEmpty();  // creating does not mark it for deletion
  maker.Close();
  EXPECT_TRUE(maker.Exists());

  TFileHandler temp, other;
  Memory(temp, name);
  Memory(other, name);
  temp.Temporary = true;
  temp.Open();
  other.Open();
  temp.Close();
  EXPECT_TRUE(other.Exists());
  other.Close();
  EXPECT_FALSE(other.Exists());
}

TEST(MemoryFileClose, DeleteAndRenameRefuseOpenFiles) {
  const std::string name = UniqueName("rename");
  const std::string target = UniqueName("renamed");
  const std::string taken = UniqueName("taken");
  TFileHandler h, other, third;
  Memory(h, name);
  Memory(other, name);
  Memory(third, taken);
  third.CreateEmpty();
  third.Close();
  h.CreateEmpty();
  h.Write("abc", 3);
  h.Close();
  other.Open();
  EXPECT_EQ(ErrorCode([&] { h.Delete(); }), ec::AccessDenied);
  EXPECT_EQ(ErrorCode([&] { h.Rename(target); }), ec::AccessDenied);
  other.Close();
  EXPECT_EQ(ErrorCode([&] { h.Rename(taken); }), ec::UnknownOsError);
  h.Rename("/x/" + target);
  EXPECT_EQ(h.FileName(), "/x/" + target);
  h.Open();
  EXPECT_EQ(h.FileLength(), 3);
  h.Delete();  // closes first
  EXPECT_FALSE(h.Exists());
  EXPECT_EQ(ErrorCode([&] { h.Delete(); }), ec::InvalidPath);
  third.Delete();
}

}  // namespace
}  // namespace tessel
