#include "engine/storage/FileHandler.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/base/TesselError.h"
#include "platform/core/PosixFile.h"

namespace tessel {
namespace {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/filehandler-XXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs f, which must raise the engine error; answers its full text.
std::string ErrorText(const std::function<void()>& f) {
  try {
    f();
  } catch (const ETesselEngineError& e) {
    return e.what();
  }
  return "(no error)";
}

uint16_t ErrorCode(const std::function<void()>& f) {
  try {
    f();
  } catch (const ETesselEngineError& e) {
    return e.Code();
  }
  return 0;
}

// A forked process that talks to the parent over two pipes and reports its
// result through its exit code.
class ForkedChild {
 public:
  explicit ForkedChild(const std::function<int(ForkedChild&)>& body) {
    if (::pipe(toChild_) != 0 || ::pipe(toParent_) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(toChild_[1]);
      ::close(toParent_[0]);
      int code = 100;
      try {
        code = body(*this);
      } catch (...) {
        code = 101;
      }
      ::_exit(code);
    }
    ::close(toChild_[0]);
    ::close(toParent_[1]);
  }
  ~ForkedChild() {
    if (pid_ > 0) Join();
  }
  void Tell() { (void)!::write(toParent_[1], "x", 1); }
  bool Await() {
    char c;
    return ::read(toChild_[0], &c, 1) == 1;
  }
  void Release() { (void)!::write(toChild_[1], "x", 1); }
  bool Ready() {
    char c;
    return ::read(toParent_[0], &c, 1) == 1;
  }
  int Join() {
    ::close(toChild_[1]);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    ::close(toParent_[0]);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int toChild_[2]{};
  int toParent_[2]{};
};

// Replaces the write-access check for one test: a privileged test process
// may write every file, so "read-only" is decided here.
class WriteAccessDenied {
 public:
  WriteAccessDenied()
      : previous_(platform::SetWriteAccessCheck([](const std::string&) { return false; })) {}
  ~WriteAccessDenied() { platform::SetWriteAccessCheck(previous_); }

 private:
  platform::WriteAccessCheck previous_;
};

class FileHandlerTest : public ::testing::Test {
 protected:
  // A handler on dir/name whose messages name the table "x.DAT".
  void Setup(TFileHandler& h, const std::string& name) {
    h.SetFileName(dir / name);
    h.SetErrorName("x.DAT");
  }
  TempDir dir;
};

TEST_F(FileHandlerTest, MissingFileIsAnInvalidPathAndIsNotCreated) {
  TFileHandler h;
  Setup(h, "x.DAT");
  EXPECT_EQ(ErrorText([&] { h.Open(); }),
            "Tessel Engine Error # 11010 Invalid path or file name for table 'x.DAT'");
  EXPECT_FALSE(h.IsOpen());
  EXPECT_FALSE(std::filesystem::exists(dir / "x.DAT"));

  // Without an error name the message carries the file name.
  TFileHandler plain;
  plain.SetFileName(dir / "nodir/y.IDX");
  EXPECT_EQ(ErrorText([&] { plain.Open(); }),
            "Tessel Engine Error # 11010 Invalid path or file name for table '" + dir.path() +
                "/nodir/y.IDX'");
  EXPECT_EQ(ErrorContext::Snapshot().OsError, ENOENT);
}

TEST_F(FileHandlerTest, FileWithoutWriteAccessOpensReadOnlyAndRefusesWrites) {
  WriteText(dir / "x.DAT", "content");
  WriteAccessDenied denied;
  TFileHandler h;
  Setup(h, "x.dat");
  h.Open();
  EXPECT_TRUE(h.OpenedReadOnly());
  EXPECT_TRUE(h.ReadOnly);
  char buf[7];
  EXPECT_EQ(h.ReadAt(0, buf, 7), 7u);
  EXPECT_EQ(std::string(buf, 7), "content");
  EXPECT_EQ(ErrorText([&] { h.WriteAt(0, "X", 1); }),
            "Tessel Engine Error # 11013 Access denied to table 'x.DAT'");
  EXPECT_EQ(ErrorCode([&] { h.WriteAt(3, nullptr, 0); }), ec::AccessDenied);
  EXPECT_EQ(ReadText(dir / "x.DAT"), "content");
}

// The real check, run as an unprivileged user in a forked process.
TEST_F(FileHandlerTest, ReadOnlyModeFileOpensReadOnlyForAnOrdinaryUser) {
  WriteText(dir / "ro.DAT", "ro");
  WriteText(dir / "rw.DAT", "rw");
  ::chmod((dir / "ro.DAT").c_str(), 0444);
  ::chmod((dir / "rw.DAT").c_str(), 0666);
  ::chmod(dir.path().c_str(), 0755);
  ForkedChild child([&](ForkedChild&) {
    if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 77;
    TFileHandler ro, rw;
    ro.SetFileName(dir / "ro.DAT");
    rw.SetFileName(dir / "rw.DAT");
    ro.Open();
    rw.Open();
    if (!ro.OpenedReadOnly() || !ro.ReadOnly) return 1;
    if (rw.OpenedReadOnly() || rw.ReadOnly) return 2;
    rw.WriteAt(0, "RW", 2);
    return 0;
  });
  int code = child.Join();
  if (code == 77) GTEST_SKIP() << "cannot switch to an unprivileged user here";
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadText(dir / "rw.DAT"), "RW");
}

TEST_F(FileHandlerTest, WriteOfZeroBytesCutsTheFileAtThePosition) {
  TFileHandler h;
  Setup(h, "x.DAT");
  h.CreateEmpty();
  std::vector<char> data(100, 'a');
  h.Write(data.data(), data.size());
  h.Seek(40);
  h.Write(nullptr, 0);
  EXPECT_EQ(h.FileLength(), 40);
  EXPECT_EQ(std::filesystem::file_size(dir / "x.DAT"), 40u);
  EXPECT_EQ(h.WriteCalls(), 1u);  // the cut is not a write call
}

TEST_F(FileHandlerTest, ShortReadRaisesUnlessAllowed) {
  WriteText(dir / "x.DAT", "0123456789");
  TFileHandler h;
  Setup(h, "x.DAT");
  h.Open();
  char buf[10];
  EXPECT_EQ(ErrorText([&] { h.ReadAt(4, buf, 10); }),
            "Tessel Engine Error # 9217 Error reading from table 'x.DAT'");
  EXPECT_EQ(h.ReadAt(4, buf, 10, true), 6u);
  EXPECT_EQ(std::string(buf, 6), "456789");
  EXPECT_EQ(h.Seek(0, SeekOrigin::Current), 10);
  EXPECT_EQ(h.ReadAt(20, buf, 10, true), 0u);
}

TEST_F(FileHandlerTest, ReadsWritesAndSeeksMoveOnePosition) {
  TFileHandler h;
  Setup(h, "x.DAT");
  h.WriteThrough = true;
  h.CreateEmpty();
  h.Write("abc", 3);
  h.Write("def", 3);
  h.WriteAt(10, "z", 1);  // past the end: the gap reads as zeros
  EXPECT_EQ(h.WriteCalls(), 3u);
  EXPECT_EQ(h.FileLength(), 11);
  EXPECT_EQ(h.Seek(-5, SeekOrigin::End), 6);
  char buf[5];
  h.Read(buf, 5);
  EXPECT_EQ(std::string(buf, 5), std::string(4, '\0') + "z");
  EXPECT_EQ(h.Seek(-11, SeekOrigin::Current), 0);
  EXPECT_EQ(ErrorCode([&] { h.Seek(-1, SeekOrigin::Current); }), ec::UnknownOsError);
  EXPECT_EQ(h.ReadCalls(), 1u);
  h.Flush();
}

TEST_F(FileHandlerTest, ClosedHandlerRefusesIoAndLocks) {
  TFileHandler h;
  Setup(h, "x.DAT");
  char buf[1];
  EXPECT_EQ(ErrorText([&] { h.Read(buf, 1); }),
            "Tessel Engine Error # 11014 Invalid file handle for table 'x.DAT'");
  EXPECT_FALSE(h.Lock(2147483647LL, 1));
  EXPECT_FALSE(h.Unlock(2147483647LL, 1));
  h.Close();  // closing twice is harmless
}

TEST_F(FileHandlerTest, NamesAreFoundWithoutRegardToCase) {
  WriteText(dir / "linksdata.DAT", "d");
  TFileHandler h;
  Setup(h, "linksdata.dat");
  EXPECT_TRUE(h.Exists());
  h.Open();
  char c;
  h.Read(&c, 1);
  EXPECT_EQ(c, 'd');
  h.Close();

  WriteText(dir / "LINKSDATA.dat", "e");
  EXPECT_EQ(ErrorText([&] { h.Open(); }),
            "Tessel Engine Error # 11013 Access denied to table 'x.DAT'");
}

TEST_F(FileHandlerTest, ExclusiveAndSharedOpensExcludeEachOtherInOneProcess) {
  WriteText(dir / "x.DAT", "keep");
  TFileHandler a, b, c;
  Setup(a, "x.DAT");
  Setup(b, "x.DAT");
  Setup(c, "x.DAT");
  a.Open();
  b.Open();  // two shared opens
  c.Exclusive = true;
  EXPECT_EQ(ErrorText([&] { c.Open(); }),
            "Tessel Engine Error # 11013 Access denied to table 'x.DAT'");
  EXPECT_EQ(ErrorCode([&] { c.CreateEmpty(); }), ec::AccessDenied);
  EXPECT_EQ(ReadText(dir / "x.DAT"), "keep");
  a.Close();
  b.Close();
  c.Open();
  EXPECT_EQ(ErrorCode([&] { a.Open(); }), ec::AccessDenied);
  c.Close();
  a.Open();
}

TEST_F(FileHandlerTest, ReadOnlyExclusiveOpenStillKeepsSharedOpensOut) {
  WriteText(dir / "x.DAT", "keep");
  TFileHandler ro, other;
  Setup(ro, "x.DAT");
  Setup(other, "x.DAT");
  ro.ReadOnly = true;
  ro.Exclusive = true;
  ro.Open();
  EXPECT_EQ(ErrorCode([&] { other.Open(); }), ec::AccessDenied);
  EXPECT_EQ(ErrorCode([&] { ro.WriteAt(0, "X", 1); }), ec::AccessDenied);
}

TEST_F(FileHandlerTest, ShareModesHoldAcrossProcesses) {
  WriteText(dir / "x.DAT", "x");
  const std::string path = dir / "x.DAT";
  {
    ForkedChild child([&](ForkedChild& self) {
      TFileHandler h;
      h.SetFileName(path);
      h.Exclusive = true;
      h.Open();
      self.Tell();
      self.Await();
      h.Close();
      self.Tell();
      self.Await();
      return 0;
    });
    ASSERT_TRUE(child.Ready());
    TFileHandler shared;
    shared.SetFileName(path);
    EXPECT_EQ(ErrorCode([&] { shared.Open(); }), ec::AccessDenied);
    child.Release();
    ASSERT_TRUE(child.Ready());
    shared.Open();
    child.Release();
    EXPECT_EQ(child.Join(), 0);

    // And the other way round: this process holds it shared.
    ForkedChild second([&](ForkedChild&) {
      TFileHandler h;
      h.SetFileName(path);
      h.Exclusive = true;
      return ErrorCode([&] { h.Open(); }) == ec::AccessDenied ? 0 : 1;
    });
    EXPECT_EQ(second.Join(), 0);
  }
}

TEST_F(FileHandlerTest, ByteRangeLocksExcludeOtherHandlesWithoutWaiting) {
  WriteText(dir / "x.DAT", "");
  TFileHandler a, b;
  Setup(a, "x.DAT");
  Setup(b, "x.DAT");
  a.Open();
  b.Open();
  // A reader byte against the writer's range over every reader byte.
  EXPECT_TRUE(a.Lock(2147483647LL - 300, 1));
  EXPECT_FALSE(b.Lock(2147418112LL, 65535));
  EXPECT_TRUE(a.Unlock(2147483647LL - 300, 1));
  EXPECT_TRUE(b.Lock(2147418112LL, 65535));
  EXPECT_FALSE(a.Lock(2147483647LL - 300, 1));
}

TEST_F(FileHandlerTest, LockHeldByAnotherProcessRefusesUntilReleased) {
  WriteText(dir / "x.DAT", "");
  const std::string path = dir / "x.DAT";
  const int64_t record = 2147483646LL - 12;
  ForkedChild child([&](ForkedChild& self) {
    TFileHandler h;
    h.SetFileName(path);
    h.Open();
    if (!h.Lock(record, 1)) return 1;
    self.Tell();
    self.Await();
    if (!h.Unlock(record, 1)) return 2;
    self.Tell();
    self.Await();
    return 0;
  });
  TFileHandler h;
  Setup(h, "x.DAT");
  h.Open();
  ASSERT_TRUE(child.Ready());
  EXPECT_FALSE(h.Lock(record, 1));
  EXPECT_FALSE(h.Lock(2047483645LL, 100000001LL));  // every record position at once
  child.Release();
  ASSERT_TRUE(child.Ready());
  EXPECT_TRUE(h.Lock(record, 1));
  child.Release();
  EXPECT_EQ(child.Join(), 0);
}

TEST_F(FileHandlerTest, TemporaryFileIsRemovedWhenClosed) {
  WriteText(dir / "x.DAT", "t");
  TFileHandler h;
  Setup(h, "x.DAT");
  h.Temporary = true;
  h.Open();
  h.Close();
  EXPECT_FALSE(std::filesystem::exists(dir / "x.DAT"));

  // Created temporary files are kept until opened as such.
  h.CreateEmpty();
  h.Close();
  EXPECT_TRUE(std::filesystem::exists(dir / "x.DAT"));
}

TEST_F(FileHandlerTest, DeleteAndRename) {
  TFileHandler h;
  Setup(h, "x.DAT");
  EXPECT_EQ(ErrorCode([&] { h.Delete(); }), ec::InvalidPath);
  h.CreateEmpty();
  h.Write("abc", 3);

  TFileHandler other;
  Setup(other, "x.DAT");
  h.Close();
  other.Open();
  EXPECT_EQ(ErrorCode([&] { h.Delete(); }), ec::AccessDenied);
  EXPECT_EQ(ErrorCode([&] { h.Rename(dir / "y.DAT"); }), ec::AccessDenied);
  EXPECT_EQ(h.FileName(), dir / "x.DAT");
  other.Close();

  WriteText(dir / "taken.DAT", "taken");
  EXPECT_EQ(ErrorCode([&] { h.Rename(dir / "TAKEN.dat"); }), ec::UnknownOsError);
  EXPECT_EQ(ReadText(dir / "taken.DAT"), "taken");

  h.Open();  // Rename closes an open handler first
  h.Rename(dir / "y.DAT");
  EXPECT_FALSE(h.IsOpen());
  EXPECT_EQ(h.FileName(), dir / "y.DAT");
  EXPECT_EQ(ReadText(dir / "y.DAT"), "abc");
  h.Delete();
  EXPECT_FALSE(h.Exists());
}

TEST_F(FileHandlerTest, CopiesWholeFilesBetweenMemoryAndDisk) {
  std::vector<uint8_t> data(150000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 251);

  TFileHandler mem;
  mem.InMemory = true;
  mem.SetFileName("/nowhere/copytest-source.DAT");
  mem.CreateEmpty();
  mem.Write(data.data(), data.size());
  mem.Seek(17);
  mem.CopyToFile(dir / "saved.DAT");
  EXPECT_EQ(mem.Seek(0, SeekOrigin::Current), 17);  // position kept
  const std::string saved = ReadText(dir / "saved.DAT");
  ASSERT_EQ(saved.size(), data.size());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), saved.begin(),
                         [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }));

  // Loading replaces longer old content entirely.
  TFileHandler back;
  back.InMemory = true;
  back.SetFileName("copytest-back.DAT");
  back.CreateEmpty();
  std::vector<uint8_t> junk(200000, 0xEE);
  back.Write(junk.data(), junk.size());
  back.CopyFromFile(dir / "SAVED.dat");
  EXPECT_EQ(back.FileLength(), static_cast<int64_t>(data.size()));
  std::vector<uint8_t> loaded(data.size());
  back.ReadAt(0, loaded.data(), loaded.size());
  EXPECT_EQ(loaded, data);
  back.Close();
  mem.Close();
  back.Delete();
  mem.Delete();
}

TEST(FileHandlerErrors, SystemErrorsMapToEngineCodes) {
  const std::pair<int, uint16_t> cases[] = {
      {ENOENT, 11010}, {ENOTDIR, 11010}, {EMFILE, 11012}, {ENFILE, 11012},
      {EACCES, 11013}, {EPERM, 11013},   {EROFS, 11013},  {EBUSY, 11013},
      {ETXTBSY, 11013}, {platform::kErrSharingViolation, 11013},
      {platform::kErrAmbiguousName, 11013}, {EBADF, 11014}, {ENOMEM, 11016},
      {ENXIO, 11023}, {ENODEV, 11023}, {EXDEV, 11025},  {EIO, 11047},
      {ENOSPC, 11047}, {EEXIST, 11047}};
  for (auto [err, code] : cases) EXPECT_EQ(MapOsError(err), code) << "errno " << err;
}

}  // namespace
}  // namespace tessel
