#include "export/TextExport.h"

#include "export/ReplacingFile.h"

namespace exports {

namespace {

void AppendNodeTabText(std::string& line, const IExportRow& row, const std::vector<TExportHeader>& headers) {
  // Any column gives a group row its group row text.
  if (row.IsGroup()) {
    row.AppendText(0, line);
    return;
  }
  for (const TExportHeader& header : headers) {
    row.AppendText(header.ColumnIndex, line);
    line += '\t';
  }
}

}  // namespace

std::string GetHeaderTabText(const std::vector<TExportHeader>& headers) {
  std::string line;
  for (const TExportHeader& header : headers) {
    line += header.Text;
    line += '\t';
  }
  line += '\r';
  return line;
}

std::string GetNodeTabText(const IExportRow& row, const std::vector<TExportHeader>& headers) {
  std::string line;
  AppendNodeTabText(line, row, headers);
  return line;
}

void SaveAllToStream(const IRowSource& grid, IByteSink& stream) {
  const std::vector<TExportHeader> headers = grid.TextOrderHeaders();
  std::string line = GetHeaderTabText(headers);
  line += "\r\n";
  stream.Write(line);
  grid.ForEachVisibleRow([&](const IExportRow& row) {
    line.clear();
    AppendNodeTabText(line, row, headers);
    line += "\r\n";
    stream.Write(line);
  });
}

void SaveAllToTextFile(const IRowSource& grid, const std::string& fileName) {
  WriteReplacingFile(fileName, [&grid](IByteSink& file) { SaveAllToStream(grid, file); });
}

}  // namespace exports
