#include "export/ExportFile.h"

#include "dataset/TextConvert.h"
#include "export/BookmarkExport.h"
#include "export/ExcelExport.h"
#include "export/HtmlExport.h"
#include "export/TextExport.h"

namespace exports {

std::optional<TExportFormat> FormatFromName(std::string_view name) {
  for (TExportFormat format :
       {TExportFormat::Html, TExportFormat::Excel, TExportFormat::Text, TExportFormat::Bookmarks}) {
    if (dataset::AnsiSameText(name, FormatName(format))) return format;
  }
  return std::nullopt;
}

std::optional<TExportFormat> FormatFromExtension(std::string_view fileName) {
  const size_t slash = fileName.find_last_of('/');
  const std::string_view base = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
  const size_t dot = base.find_last_of('.');
  // A leading dot starts a hidden name, not an extension.
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  const std::string_view extension = base.substr(dot + 1);
  if (dataset::AnsiSameText(extension, "html") || dataset::AnsiSameText(extension, "htm")) {
    return TExportFormat::Html;
  }
  if (dataset::AnsiSameText(extension, "xls")) return TExportFormat::Excel;
  if (dataset::AnsiSameText(extension, "txt")) return TExportFormat::Text;
  return std::nullopt;
}

const char* FormatName(TExportFormat format) {
  switch (format) {
    case TExportFormat::Excel: return "excel";
    case TExportFormat::Text: return "text";
    case TExportFormat::Bookmarks: return "bookmarks";
    case TExportFormat::Html: break;
  }
  return "html";
}

void SaveToHTML(IRowSource& grid, const std::string& fileName, const IColorScheme& scheme) {
  TDBGridExportHTML writer(grid, scheme);
  writer.FileName = fileName;
  writer.Execute();
}

void SaveToXLS(IRowSource& grid, const std::string& fileName, const IColorScheme& scheme) {
  TDBGridExportExcel writer(grid, scheme);
  writer.FileName = fileName;
  writer.Execute();
}

void ExportToFile(IRowSource& grid, const std::string& fileName, TExportFormat format,
                  const IColorScheme& scheme) {
  switch (format) {
    case TExportFormat::Html: SaveToHTML(grid, fileName, scheme); return;
    case TExportFormat::Excel: SaveToXLS(grid, fileName, scheme); return;
    case TExportFormat::Text: SaveAllToTextFile(grid, fileName); return;
    case TExportFormat::Bookmarks: SaveToBookmarks(grid, fileName); return;
  }
}

void ExportToStream(IRowSource& grid, IByteSink& stream, TExportFormat format, const IColorScheme& scheme) {
  switch (format) {
    case TExportFormat::Html: TDBGridExportHTML(grid, scheme).SaveToStream(stream); return;
    case TExportFormat::Excel: TDBGridExportExcel(grid, scheme).SaveToStream(stream); return;
    case TExportFormat::Text: SaveAllToStream(grid, stream); return;
    case TExportFormat::Bookmarks: SaveBookmarksToStream(grid, stream); return;
  }
}

}  // namespace exports
