// The grid's rows as shown, as tab-separated text. Every line ends with
// CR LF, the last one included:
//
//   header line  each visible header's text followed by TAB, then CR
//                (so the line ends TAB CR CR LF)
//   group line   the group row text, no TAB
//   data line    each visible column's display text followed by TAB
//
// Headers come in text order (header rows, then bands, then cells); rows
// as the grid shows them, so the rows of a collapsed group are left out.
// The texts are the grid's Windows-1252 bytes as they stand. The grid's
// clipboard copy uses the same line format.
#pragma once

#include <string>
#include <vector>

#include "export/ByteSink.h"
#include "export/RowSource.h"

namespace exports {

// The header line, without the final CR LF.
std::string GetHeaderTabText(const std::vector<TExportHeader>& headers);
// A row's line, without the final CR LF.
std::string GetNodeTabText(const IExportRow& row, const std::vector<TExportHeader>& headers);

// The header line and the line of every shown row, each with CR LF.
void SaveAllToStream(const IRowSource& grid, IByteSink& stream);
// The same into the file, created or replaced only when all of it was
// written (ReplacingFile.h); failures are EExportError.
void SaveAllToTextFile(const IRowSource& grid, const std::string& fileName);

}  // namespace exports
