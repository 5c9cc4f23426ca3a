// Helpers for cursor tests: tables of known shapes laid down in a temporary
// directory, a session and directory to open cursors through, record images
// filled and read field by field, and forked processes that work on the same
// files (synchronised through pipes).
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/cursor/DataCursor.h"
#include "engine/storage/DataDirectory.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/TableStructure.h"
#include "engine/storage/TableTestSupport.h"

namespace tessel::testing {

// Lays down the files of a new table and closes it again.
inline void CreateTable(const std::string& dir, const std::string& name, TTableStructure s) {
  TDataTable::CheckStructure(s, true, name);
  TDataTable table(dir, name);
  table.CreateFiles(s);
  table.CloseFiles();
}

// The catalogue: sitetype String 30, siteurl String 100 (required),
// sitename 60, login 30, password 30, note memo; unique secondary index
// "siteurl"; no primary index (records in physical order).
inline TTableStructure SitesStructure() { return CatalogueStructure(); }

// id Integer (primary), name String 20, value Integer; secondary "byvalue"
// on value (not unique) and "byname" on name (unique).
inline TTableStructure NumbersStructure() {
  TTableStructure s;
  s.Fields = {Field(1, "id", ftInteger), Field(2, "name", ftString, 20), Field(3, "value", ftInteger)};
  s.Primary = Index("", {1}, true);
  s.Secondary = {Index("byvalue", {3}, false), Index("byname", {2}, true)};
  return s;
}

// A table with constraints and defaults: code Integer (min 1, max 100),
// label String 10 (required, default "none"), flag Boolean (default TRUE);
// unique secondary indexes "bycode" and "bylabel".
inline TTableStructure CheckedStructure() {
  TTableStructure s;
  s.Fields = {Field(1, "code", ftInteger), Field(2, "label", ftString, 10), Field(3, "flag", ftBoolean)};
  s.Fields[0].Minimum = "1";
  s.Fields[0].Maximum = "100";
  s.Fields[1].Required = 1;
  s.Fields[1].Default = "none";
  s.Fields[2].Default = "TRUE";
  s.Secondary = {Index("bycode", {1}, true), Index("bylabel", {2}, true)};
  return s;
}

// A session with one directory object for a temporary directory.
class CursorEnvironment {
 public:
  CursorEnvironment() : directory_(&session_.OpenDirectory("", dir_.Dir())) {
    session_.LockRetryCount = 0;
    session_.LockWaitTime = 0;
  }
  ~CursorEnvironment() { session_.ReleaseDirectory(directory_); }

  std::string Path() const { return dir_.Dir(); }
  TDataSession& Session() { return session_; }
  TDataDirectory& Directory() { return *directory_; }

  void Create(const std::string& name, const TTableStructure& s) { CreateTable(dir_.Dir(), name, s); }

  std::unique_ptr<TDataCursor> Open(const std::string& name, const std::string& index = {},
                                    bool readOnly = false, bool exclusive = false) {
    auto cursor = std::make_unique<TDataCursor>(*directory_);
    cursor->SetTableName(name);
    cursor->SetReadOnly(readOnly);
    cursor->SetExclusive(exclusive);
    cursor->Open();
    if (!index.empty()) cursor->SelectIndex(index);
    return cursor;
  }

  // The bytes of the table's three files.
  std::vector<uint8_t> Files(const std::string& name) const {
    std::vector<uint8_t> all;
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
      const std::vector<uint8_t> bytes = ReadFileBytes(dir_.Dir() + name + ext);
      all.insert(all.end(), bytes.begin(), bytes.end());
      all.push_back(0xA5);  // separator, so that bytes cannot move between files unseen
    }
    return all;
  }

 private:
  TempDir dir_;
  TDataSession session_;
  TDataDirectory* directory_;
};

// Record images built and read field by field.
class Row {
 public:
  explicit Row(TDataCursor& cursor) : cursor_(cursor), image_(cursor.RecordSize(), 0) { cursor.InitRecord(data()); }
  uint8_t* data() { return image_.data(); }
  const uint8_t* data() const { return image_.data(); }
  std::vector<uint8_t>& bytes() { return image_; }

  Row& Set(const std::string& field, const std::string& text) {
    const int n = Number(field);
    std::vector<uint8_t> value(cursor_.Field(n).PhysicalSize + 1, 0);
    std::memcpy(value.data(), text.data(), std::min(text.size(), value.size() - 1));
    cursor_.PutFieldValue(n, data(), value.data());
    return *this;
  }
  Row& Set(const std::string& field, int32_t number) {
    uint8_t value[8] = {};
    PutI32(value, number);
    cursor_.PutFieldValue(Number(field), data(), value);
    return *this;
  }
  Row& Null(const std::string& field) {
    cursor_.PutFieldValue(Number(field), data(), nullptr);
    return *this;
  }
  std::optional<std::string> Text(const std::string& field) const {
    const int n = Number(field);
    std::vector<uint8_t> value(cursor_.Field(n).PhysicalSize + 1, 0);
    if (cursor_.GetFieldValue(n, data(), value.data())) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(value.data()));
  }
  std::optional<int32_t> Int(const std::string& field) const {
    uint8_t value[8] = {};
    if (cursor_.GetFieldValue(Number(field), data(), value)) return std::nullopt;
    return GetI32(value);
  }

 private:
  int Number(const std::string& field) const {
    const int n = cursor_.FieldNumber(field);
    EXPECT_NE(n, 0) << field;
    return n;
  }
  TDataCursor& cursor_;
  std::vector<uint8_t> image_;
};

// Inserts a row of the numbers table.
inline void AddNumber(TDataCursor& cursor, int32_t id, const std::string& name, int32_t value) {
  Row row(cursor);
  row.Set("id", id).Set("name", name).Set("value", value);
  cursor.InsertRecord(row.data());
}

inline void AddSite(TDataCursor& cursor, const std::string& url, const std::string& name = "site") {
  Row row(cursor);
  row.Set("siteurl", url).Set("sitename", name).Set("sitetype", "web");
  cursor.InsertRecord(row.data());
}

// The values of one integer (or text) field over the whole record set, read
// from the first record on.
inline std::vector<int32_t> Ints(TDataCursor& cursor, const std::string& field) {
  std::vector<int32_t> result;
  Row row(cursor);
  cursor.GotoFirst();
  while (cursor.GetNext(row.data()) == 0) result.push_back(row.Int(field).value_or(-1));
  return result;
}

inline std::vector<std::string> Texts(TDataCursor& cursor, const std::string& field) {
  std::vector<std::string> result;
  Row row(cursor);
  cursor.GotoFirst();
  while (cursor.GetNext(row.data()) == 0) result.push_back(row.Text(field).value_or("<null>"));
  return result;
}

// The value of a field in the cursor's current record.
inline std::optional<int32_t> CurrentInt(TDataCursor& cursor, const std::string& field) {
  std::vector<uint8_t> image(cursor.CurrentRecord(), cursor.CurrentRecord() + cursor.RecordSize());
  uint8_t value[8] = {};
  if (cursor.GetFieldValue(cursor.FieldNumber(field), image.data(), value)) return std::nullopt;
  return GetI32(value);
}

// A forked process and two pipes to step it through a script: the parent
// sends a byte, the child acts and answers with a byte. The child ends with
// _exit, so no object it inherited is destroyed (or written back) twice.
class Child {
 public:
  // body gets Wait (next command byte, 0 at end of input) and Reply.
  using Body = std::function<int(const std::function<char()>& wait, const std::function<void(char)>& reply)>;

  explicit Child(const Body& body) {
    int down[2];
    int up[2];
    if (pipe(down) != 0 || pipe(up) != 0) ADD_FAILURE() << "pipe";
    pid_ = fork();
    if (pid_ == 0) {
      close(down[1]);
      close(up[0]);
      const int in = down[0];
      const int out = up[1];
      int code = 99;
      try {
        code = body(
            [in] {
              char c = 0;
              return read(in, &c, 1) == 1 ? c : char{0};
            },
            [out](char c) {
              if (write(out, &c, 1) != 1) _exit(98);
            });
      } catch (...) {
        code = 97;
      }
      _exit(code);
    }
    close(down[0]);
    close(up[1]);
    to_ = down[1];
    from_ = up[0];
  }
  ~Child() {
    if (pid_ > 0) Finish();
  }

  // Sends a command and waits for the child's answer.
  char Ask(char command) {
    if (write(to_, &command, 1) != 1) return 0;
    char c = 0;
    return read(from_, &c, 1) == 1 ? c : char{0};
  }
  // Closes the command pipe and answers the child's exit code.
  int Finish() {
    if (to_ >= 0) close(to_);
    if (from_ >= 0) close(from_);
    to_ = from_ = -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
};

}  // namespace tessel::testing
