// Opening a table for the tool's commands: files opened and the headers
// checked as the first cursor would, the password checked, a re-created
// index file repaired.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/storage/DataTable.h"

namespace tesseltool {

struct OpenOptions {
  bool Exclusive = false;
  bool ReadOnly = false;
  bool WriteThrough = true;
  // Header faults that the structure check reports and mends let the
  // table open (for verify): see TDataFile::ValidateHeader.
  bool ForStructureCheck = false;
  std::optional<std::string> Password;
};

// A table held open for one command; closed (and written back) on release.
class OpenedTable {
 public:
  OpenedTable(const std::string& tableArgument, const OpenOptions& options);
  ~OpenedTable();
  OpenedTable(const OpenedTable&) = delete;
  OpenedTable& operator=(const OpenedTable&) = delete;

  tessel::TDataTable& Table() { return *table_; }
  // Closes with write-back; errors propagate (the destructor closes quietly).
  void Close();

 private:
  std::unique_ptr<tessel::TDataTable> table_;
  bool open_ = false;
};

}  // namespace tesseltool
