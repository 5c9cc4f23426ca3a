// Helpers for the tests of locks, caches and change detection: a small table
// in a temporary directory opened by several table objects (or processes) at
// once, and a look at the byte-range locks from outside the engine.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "engine/storage/DataTable.h"
#include "engine/storage/FieldValue.h"
#include "engine/storage/ReadContext.h"
#include "TableTestSupport.h"

namespace tessel::testing {

// Slot layout of the test table: name String(10) at offset 9 (indicator and
// 11 bytes), flag Boolean at offset 21 (indicator and 2 bytes), and with a
// BLOB field a note at offset 24 (indicator and 8 bytes).
constexpr int kSmallRecordSize = 24;
constexpr int64_t kSmallDataStart = 127 + 768 * 2;

// Lock positions of the protocol, computed by hand.
constexpr int64_t kWriteByte = 2147483647;
constexpr int64_t kReadersStart = 2147418112;
constexpr int64_t kReadersLength = 65535;
constexpr int64_t kRecordByteBase = 2147483646;
constexpr int64_t kAllRecordsStart = 2047483645;
constexpr int64_t kAllRecordsLength = 100000001;

// A lock another handle holds inside a range: its start and length.
struct TForeignLock {
  int64_t Start = -1;
  int64_t Length = 0;
  bool Found() const { return Start >= 0; }
};

// The first lock held through any other open of path that overlaps
// [start, start + length), as the system reports it to a fresh handle.
inline TForeignLock ForeignLockIn(const std::string& path, int64_t start, int64_t length) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) {
    ADD_FAILURE() << "cannot open " << path;
    return {};
  }
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  const int rc = ::fcntl(fd, F_OFD_GETLK, &fl);
  ::close(fd);
  if (rc != 0) {
    ADD_FAILURE() << "F_OFD_GETLK failed";
    return {};
  }
  if (fl.l_type == F_UNLCK) return {};
  return {static_cast<int64_t>(fl.l_start), static_cast<int64_t>(fl.l_len)};
}

// A read context that checks for changes the way a cursor with strict change
// detection off does: it takes the table's read lock at a cache miss.
class TLockingReader : public TReadContext {
 public:
  explicit TLockingReader(TDataTable& table) : table_(table) {}
  bool BeforeCacheMiss() override {
    ++Misses;
    return table_.BeginRead();
  }
  int Misses = 0;

 private:
  TDataTable& table_;
};

class SharedTableTest : public ::testing::Test {
 protected:
  static constexpr const char* kName = "t";

  struct TOptions {
    bool Primary = true;
    bool Encrypted = false;
    bool Blob = false;
  };

  // Creates the table with records named r1, r2, ... and closes it.
  void CreateTable(int records, TOptions options) {
    TTableStructure s;
    s.Fields = {Field(1, "name", ftString, 10), Field(2, "flag", ftBoolean)};
    if (options.Blob) s.Fields.push_back(Field(3, "note", ftBlob, 0, fstMemo));
    if (options.Primary) s.Primary = Index("", {1}, true);
    if (options.Encrypted) {
      s.Encrypted = true;
      s.Password = "secret";
    }
    TDataTable::CheckStructure(s, true, kName);
    TDataTable t(dir_.Dir(), kName);
    t.CreateFiles(s);
    for (int i = 1; i <= records; ++i) Insert(t, "r" + std::to_string(i));
    t.CloseFiles(true);
  }
  void CreateTable(int records) { CreateTable(records, TOptions{}); }

  std::unique_ptr<TDataTable> OpenTable(bool exclusive = false) {
    auto t = std::make_unique<TDataTable>(dir_.Dir(), kName);
    t->Settings.Exclusive = exclusive;
    t->OpenFiles();
    return t;
  }

  // Fills a new slot the way an insert does; answers its record number.
  static int32_t Insert(TDataTable& t, const std::string& name) {
    TDataFile& data = t.Data();
    TRecord* r = data.AllocateSlot();
    data.InitImage(r, true);
    PutFieldValue(data.Fields[0], r->Data(), reinterpret_cast<const uint8_t*>(name.c_str()), t.Locale());
    const int32_t number = r->RecordNumber;
    data.ReleaseRecord(r);
    return number;
  }

  // Gives slot number another name (modified, not written).
  static void Rename(TDataTable& t, int32_t number, const std::string& name) {
    TDataFile& data = t.Data();
    TRecord* r = data.FetchRecord(number);
    PutFieldValue(data.Fields[0], r->Data(), reinterpret_cast<const uint8_t*>(name.c_str()), t.Locale());
    r->Modified = true;
    data.ReleaseRecord(r);
  }

  // The name stored in a holder's image.
  static std::string NameIn(const TRecord* r) {
    return std::string(reinterpret_cast<const char*>(r->Data() + 10));
  }
  static std::string NameOf(TDataTable& t, int32_t number, int readAhead = 1) {
    TRecord* r = t.Data().FetchRecord(number, nullptr, readAhead);
    const std::string name = NameIn(r);
    t.Data().ReleaseRecord(r);
    return name;
  }

  std::string DataName() const { return dir_.Dir() + "t.DAT"; }
  std::string IndexName() const { return dir_.Dir() + "t.IDX"; }
  std::string BlobName() const { return dir_.Dir() + "t.BLB"; }

  TempDir dir_;
};

// Two handles on one shared table: this program's (mine_) and another
// program's (theirs_).
class TwoHandlesTest : public SharedTableTest {
 protected:
  void OpenBoth(TOptions options = {}) {
    CreateTable(10, options);
    mine_ = OpenTable();
    theirs_ = OpenTable();
  }
  void TearDown() override {
    for (auto* t : {&mine_, &theirs_})
      if (*t && (*t)->IsOpen()) (*t)->CloseFiles(false);
  }

  // A change posted the way a cursor posts it: under the write lock,
  // written back with the data header forced, the index header when asked.
  static void Post(TDataTable& t, int32_t number, const std::string& name, bool forceIndex) {
    t.BeginWrite();
    Rename(t, number, name);
    t.FlushTable(false, true, forceIndex);
    t.EndWrite();
  }

  std::unique_ptr<TDataTable> mine_;
  std::unique_ptr<TDataTable> theirs_;
};

}  // namespace tessel::testing
