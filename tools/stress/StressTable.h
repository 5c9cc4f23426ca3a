// The table the stress and crash drivers work on, and the rows they write.
//
// Every row carries who wrote it last and which of that writer's writes it
// was: id (primary key), owner (the process that inserted it), version (1 at
// insert, one more at each update, read under the record lock), writer and
// seq (the writing process and its own write counter). The other fields are
// derived from those five, so any reader can tell a whole row from a torn or
// mixed one: tag (a short text with few distinct values, under a
// non-unique index), payload (a hash text) and note (a memo of 0 to about
// 1800 bytes, several BLOB blocks long).
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "engine/components/Session.h"
#include "engine/components/TesselTable.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/TableStructure.h"

namespace tesselstress {

// Keys of process p are p * kKeysPerOwner + 1, + 2, ...; owner 0 holds the
// rows laid down before the processes start.
constexpr int32_t kKeysPerOwner = 1000000;

// Names of the secondary indexes.
constexpr const char* kStampIndex = "bystamp";  // writer, seq (unique)
constexpr const char* kTagIndex = "bytag";      // tag (not unique)

tessel::TTableStructure StressStructure();

// Lays down an empty stress table (name with or without ".dat") in dir.
void CreateStressTable(const std::string& dir, const std::string& name);

struct Row {
  int32_t Id = 0;
  int32_t Owner = 0;
  int32_t Version = 0;
  int32_t Writer = 0;
  int32_t Seq = 0;
  std::string Tag;
  std::string Payload;
  std::string Note;
};

// The row a write of (id, version, writer, seq) stores.
Row MakeRow(int32_t id, int32_t version, int32_t writer, int32_t seq);
// Empty when the derived fields fit the five that define the row, else what
// is wrong.
std::string CheckRow(const Row& row);

// The session and the record set of one process, ordered by the primary
// index (id).
class StressConnection {
 public:
  struct Options {
    bool Exclusive = false;
    bool ForceBufferFlush = false;
    int LockRetryCount = 2;
    int LockWaitTime = 2;  // milliseconds
    bool StrictChangeDetection = false;
    // The session's file system (the operating system's when null).
    std::shared_ptr<tessel::TFileSystem> FileSystem;
  };
  StressConnection(const std::string& tablePath, const Options& options);
  ~StressConnection();  // closes quietly
  StressConnection(const StressConnection&) = delete;
  StressConnection& operator=(const StressConnection&) = delete;

  tessel::TTesselTable& Table() { return table_; }
  // Closes, letting a failure of the write-back through.
  void Close() { table_.Close(); }

  // Positions on the record with this id (false: not there).
  bool Find(int32_t id);
  Row Read();
  // Assigns every field of the row to the record in edit or insert state.
  void Assign(const Row& row);
  // Leaves edit or insert state, dropping the changes (never raises).
  void CancelQuietly();

 private:
  tessel::TTesselSession session_;
  tessel::TTesselTable table_;
};

// The engine code of an engine error, 0 for any other exception.
uint16_t EngineCode(const std::exception_ptr& error);
// The message of an exception.
std::string ErrorText(const std::exception_ptr& error);

// A table opened for the structure check: files opened and the headers
// checked as the first cursor would. Exclusive use for the repair.
class VerifyAccess {
 public:
  VerifyAccess(const std::string& dir, const std::string& name, bool exclusive);
  ~VerifyAccess();
  VerifyAccess(const VerifyAccess&) = delete;
  VerifyAccess& operator=(const VerifyAccess&) = delete;
  tessel::TDataTable& Table() { return *table_; }
  void Close();

 private:
  std::unique_ptr<tessel::TDataTable> table_;
  bool open_ = false;
};

// The working directory of a run: dir as given (made when missing), or a
// new temporary one whose name starts with prefix; dir ends in '/'. made
// tells whether a temporary one was made. False, with the reason on standard
// error, when no directory could be had.
bool PrepareWorkDirectory(std::string& dir, const std::string& prefix, bool& made);

// A 64-bit mix of the arguments (splitmix64 steps), for derived values and
// per-trial seeds.
uint64_t Mix(uint64_t a, uint64_t b = 0, uint64_t c = 0, uint64_t d = 0);

}  // namespace tesselstress
