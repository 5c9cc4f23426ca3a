// The headless export: the catalogue written to a file as the grid would
// show it at start, without a window or a display.
//
//   TExportOptions options;
//   options.FileName = "sites.html";          // format from the extension
//   options.Columns = "name,url,login";        // visibility for this export only
//   TCommandResult result = RunExportCommand(options);
//   // result.ExitStatus 0 and no message, or non-zero and one line saying why
//
// The table (the catalogue beside the program, or the one named) is opened
// read-only, the program's grid is built over it with the user's stored
// layout (grouping, sort, visible columns, order, widths), the chosen
// columns are shown and the others hidden, and the grid is written through
// the export writers with the standard colour scheme, so the file does not
// depend on the desktop's theme. The stored layout is read, never written.
//
// Every failure leaves no file behind: bad options are refused before
// anything is opened, and the writers put the file in place only when all of
// it was written (an existing file stays as it was otherwise).
#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "export/ExportFile.h"
#include "platform/core/ColorScheme.h"
#include "platform/core/SettingsStore.h"

namespace marrowick {

// Exit statuses of the commands that run without a window.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // the work could not be done (table, file)
inline constexpr int kExitUsage = 2;    // the command line was wrong

struct TExportOptions {
  std::string FileName;                // the file to write
  // "html", "excel", "text" or "bookmarks"; empty: from FileName's extension
  // (never bookmarks: a bookmark file is an .html file too).
  std::string Format;
  std::optional<std::string> Columns;  // comma-separated column names; nothing: the stored visibility
  std::string Table;                   // the table's path; empty: the catalogue beside the program
};

// What the command reads besides its options. Empty members take the real
// platform: the user's settings store, the executable's directory, the
// standard colour scheme.
struct TExportServices {
  platform::SettingsStoreFactory CreateSettings;
  std::function<std::string()> ProgramDirectory;
  const platform::IColorScheme* Scheme = nullptr;
};

struct TCommandResult {
  int ExitStatus = kExitSuccess;
  std::string Message;  // one line for standard error; empty on success
};

// The names --columns accepts, in the order the help lists them, and the
// grid columns they stand for.
struct TExportColumnName {
  const char* Option;
  const char* GridColumn;
};
inline constexpr TExportColumnName kExportColumnNames[] = {
    {"category", "SiteCategory"}, {"name", "SiteName"},         {"url", "SiteUrl"},
    {"login", "SiteLogin"},       {"password", "SitePassword"},
};

// The grid columns named by a --columns text: names separated by commas, in
// any letter case, blanks around them and empty items ignored. Nothing, with
// the reason in error, for an unknown name or a text naming no column.
std::optional<std::set<std::string>> ParseExportColumns(std::string_view text, std::string& error);

// The format of options: --format when given, else the file name's
// extension. Nothing, with the reason in error, when neither tells.
std::optional<exports::TExportFormat> ResolveExportFormat(const TExportOptions& options, std::string& error);

// The data file of a table path: the path with its extension replaced by
// ".DAT", as the engine forms it, made absolute.
std::string TableDataFile(const std::string& tablePath);

// The table a command works on, for --export and --import alike: the path
// given, or the catalogue beside the program (programDirectory, empty: the
// executable's) when none is. Its data file must exist; answers the table
// path and sets dataFile, or nothing with the failure to report.
std::optional<std::string> FindCommandTable(const std::string& given,
                                            const std::function<std::string()>& programDirectory,
                                            std::string& dataFile, TCommandResult& failure);

// Runs the export. Never throws.
TCommandResult RunExportCommand(const TExportOptions& options, const TExportServices& services = {});

}  // namespace marrowick
