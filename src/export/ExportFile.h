// The one call that writes a whole export file in a chosen format, for the
// export command of the window and for the command line.
//
//   ExportToFile(grid, "sites.xls", TExportFormat::Excel, scheme);
//
// The file is created, or an existing one replaced, only when the whole
// export was written and flushed; on any failure the old file stays as it
// was, nothing is left beside it, and an EExportError carries the file's
// name and the system's reason ("Cannot create file "x". Permission
// denied").
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "export/ByteSink.h"
#include "export/ExportError.h"
#include "export/RowSource.h"

namespace exports {

using marrowick::platform::IColorScheme;

// Bookmarks: the Netscape bookmark file browsers import
// (BookmarkExport.h).
enum class TExportFormat { Html, Excel, Text, Bookmarks };

// "html", "excel", "text" or "bookmarks", in any letter case.
std::optional<TExportFormat> FormatFromName(std::string_view name);
// By the file name's extension, in any letter case: .html and .htm, .xls,
// .txt. Nothing for another extension or none. A bookmark file is an .html
// file too: that format is only ever chosen by its name.
std::optional<TExportFormat> FormatFromExtension(std::string_view fileName);
// "html", "excel", "text" or "bookmarks".
const char* FormatName(TExportFormat format);

// The grid as an HTML page (every row, collapsed groups included).
void SaveToHTML(IRowSource& grid, const std::string& fileName, const IColorScheme& scheme);
// The grid as an Excel 4.0 worksheet (every row, collapsed groups included).
void SaveToXLS(IRowSource& grid, const std::string& fileName, const IColorScheme& scheme);

// The export in the format into the file. The text export writes the rows
// as shown and uses no colours; the bookmark file uses none either.
void ExportToFile(IRowSource& grid, const std::string& fileName, TExportFormat format,
                  const IColorScheme& scheme);
// The same bytes into a sink.
void ExportToStream(IRowSource& grid, IByteSink& stream, TExportFormat format, const IColorScheme& scheme);

}  // namespace exports
