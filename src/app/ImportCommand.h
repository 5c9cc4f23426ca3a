// Bookmarks into the catalogue: the counts both the window and the command
// line report after an import, and the headless import itself.
//
//   TImportOptions options;
//   options.FileName = "bookmarks.html";  // or a places.sqlite, or a Chromium Bookmarks
//   options.Category = "news";            // every site there; nothing: each folder's guess
//   std::ostringstream report;
//   TCommandResult result = RunImportCommand(options, report);
//   // report: "Inserted: 12\nSkipped: 3 ...\nRefused: 0 ...\n"
//
// The file is read (its kind told by its content), the table opened as the
// window opens it (write-through, shared with other programs), each folder
// mapped to the category guessed from its names (or to the one given),
// addresses already in the catalogue or met earlier in the file skipped,
// and the rest inserted in one pass. What was inserted stays when a later
// insert fails.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "app/ExportCommand.h"
#include "bookmarks/BookmarkImport.h"

namespace marrowick {

// The category a folder is filed under when its names say nothing.
inline constexpr const char* kImportFallbackCategory = "Personal";

struct TImportOptions {
  std::string FileName;                 // the bookmark file (local bytes)
  std::optional<std::string> Category;  // one of the fifteen, any letter case
  std::string Table;                    // the table's path; empty: the catalogue beside the program
};

struct TImportServices {
  // The program's directory, ending in '/'; empty: the executable's.
  std::function<std::string()> ProgramDirectory;
};

// What an import did, as the user is told: inserted; skipped as duplicates
// (the address in the catalogue already, also one another program added
// meanwhile, or earlier in the same file); refused (no web address, or one
// longer than the URL field); not reached after a cancel or an error.
struct TImportCounts {
  int Inserted = 0;
  int Skipped = 0;
  int Refused = 0;
  int NotReached = 0;
  bool Cancelled = false;
};

TImportCounts CountImport(const bookmarks::TImportPlan& plan, const bookmarks::TImportResult& result);

// Three lines, "Inserted: N", "Skipped: N (...)" and "Refused: N (...)",
// then "Cancelled: N not imported" after a cancel.
std::string ImportReport(const TImportCounts& counts);

// "Arts & Humanities, Business & Economy, ...": the fifteen categories.
std::string CategoryListText();

// Runs the import; the report goes to out (also after an error stopped the
// import part-way). Never throws.
TCommandResult RunImportCommand(const TImportOptions& options, std::ostream& out,
                                const TImportServices& services = {});

}  // namespace marrowick
