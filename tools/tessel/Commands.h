// The tool's commands. Each returns the process exit code; engine errors
// propagate to main, which prints them.
#pragma once

#include <optional>
#include <string>

namespace tesseltool {

int CreateTable(const std::string& table, const std::string& structureFile, bool force);
int PrintInfo(const std::string& table, const std::optional<std::string>& password);
int EmptyTable(const std::string& table, const std::optional<std::string>& password);

// The settings of the data commands, which work through a session of their
// own and the table record set. The lock defaults are the engine's own (15
// retries 100 ms apart), so that tools and programs working on one table at
// once wait for each other's record locks a little instead of failing.
struct DataOptions {
  std::optional<std::string> Password;
  bool Exclusive = false;
  bool NoFlush = false;  // the session's ForceBufferFlush off
  int LockRetryCount = 15;
  int LockWaitTime = 100;  // milliseconds
};

// One JSON object per line and record, in the index's order (the primary
// index, or physical order without one, when index is empty), with the
// record number as "recno".
int DumpTable(const std::string& table, const std::string& index, const DataOptions& options);
int CountRecords(const std::string& table, const DataOptions& options);
// Appends one record per line of a JSON-lines file.
int InsertRecords(const std::string& table, const std::string& file, const DataOptions& options);
// Changes, or deletes, the first record whose key in the index equals key
// (a JSON value or array of values, or else a plain string). Exit code 3
// when there is none.
int UpdateRecord(const std::string& table, const std::string& index, const std::string& key,
                 const std::string& assignments, const DataOptions& options);
int DeleteRecord(const std::string& table, const std::string& index, const std::string& key,
                 const DataOptions& options);

}  // namespace tesseltool
