// Checking and repairing the catalogue's files with the engine's structure
// check, while the window has the table closed. A repair first copies the
// three files to a dated backup beside them, then repairs with the table
// for its own use (the engine checks again after repairing).
//
//   TCatalogueCheckReport report = CheckCatalogue(path, session, progress);
//   if (!report.Sound()) report = RepairCatalogue(path, clock.LocalNow(), session, progress);
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "engine/storage/TableVerify.h"
#include "platform/core/Clock.h"

namespace tessel {
class TTesselSession;
}

namespace marrowick {

struct TCatalogueCheckReport {
  bool Repaired = false;
  tessel::TVerifySummary Summary;
  // The findings, one line each as the engine words them; what the check
  // after a repair found begins with "After repair: ".
  std::vector<std::string> Findings;
  // The backup's files (full paths) when a repair made one.
  std::vector<std::string> BackupFiles;

  bool Sound() const { return Summary.Sound(); }
};

// How far the check has come, in thousandths.
using TCheckProgress = std::function<void(int permille)>;

// The name of one file's backup: "-YYYY-MM-DD-HHMM" before the extension
// ("linksdata.DAT" becomes "linksdata-2026-12-09-1405.DAT"); a second
// backup in the same minute adds "-2", a third "-3", and so on.
std::string BackupFileName(const std::string& path, const ::platform::LocalDateTime& when, int attempt = 1);

// Copies the table's files that exist (data, index and BLOB file, found
// without regard to letter case) beside them under the first dated name that
// none of them has yet, so an earlier backup is never overwritten. The
// copies hold the catalogue's passwords and are made readable and writable
// by their owner alone. Answers the copies' paths. A failure removes the
// copies already made and raises the system's error; a table without a
// data file raises the engine's "not found" error.
std::vector<std::string> BackupCatalogue(const std::string& tablePath, const ::platform::LocalDateTime& when);

// Checks the table while other programs may use it (under its read lock).
// An encrypted table asks the session for its password. Raises what
// keeps the check from running (a table that does not open, a lock).
TCatalogueCheckReport CheckCatalogue(const std::string& tablePath, tessel::TTesselSession* session,
                                     const TCheckProgress& progress);

// The backup (BackupCatalogue), then the repair and the check after it,
// with the table for this program's use alone: raises "Access denied"
// (while another program has it open) before anything is copied.
TCatalogueCheckReport RepairCatalogue(const std::string& tablePath, const ::platform::LocalDateTime& when,
                                      tessel::TTesselSession* session, const TCheckProgress& progress);

// What a report says in one paragraph: what was checked, what was found
// and fixed, what is left, where the backup is.
std::string ReportSummary(const TCatalogueCheckReport& report);

// Whether an error that kept the table from opening is the engine's word
// for damaged files (a corrupt header, corrupt record, page or BLOB
// buffers, a file shorter than it must be), as opposed to a missing file,
// a table another program holds, a refused password or a wrong version.
bool IsDamagedTableError(const std::exception& error);

}  // namespace marrowick
