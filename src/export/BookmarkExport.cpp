#include "export/BookmarkExport.h"

#include <map>
#include <utility>
#include <vector>

#include "platform/core/Windows1252.h"
#include "export/ExportError.h"
#include "export/ReplacingFile.h"

namespace exports {

namespace {

// Windows-1252 text as UTF-8 with the characters markup gives a meaning
// written as references.
std::string Escaped(const std::string& text) {
  bool ascii = true;
  for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  const std::string utf8 = ascii ? text : tessel::Cp1252ToUtf8(text);
  std::string out;
  out.reserve(utf8.size() + 8);
  for (char c : utf8) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

struct TSite {
  std::string Name;
  std::string Url;
};

void WriteBookmarks(const IRowSource& grid, IByteSink& stream) {
  const int urlColumn = grid.FieldColumnIndex("siteurl");
  if (urlColumn < 0) throw EExportError("The grid has no site address column");
  const int categoryColumn = grid.FieldColumnIndex("sitetype");
  const int nameColumn = grid.FieldColumnIndex("sitename");

  std::map<std::string, std::vector<TSite>> folders;  // byte order, as the groups
  std::vector<TSite> loose;
  grid.ForEachRow([&](const IExportRow& row) {
    if (row.IsGroup()) return;
    TSite site{nameColumn >= 0 ? row.Text(nameColumn) : std::string(), row.Text(urlColumn)};
    if (site.Url.empty()) return;
    const std::string category = categoryColumn >= 0 ? row.Text(categoryColumn) : std::string();
    (category.empty() ? loose : folders[category]).push_back(std::move(site));
  });

  std::string out =
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
      "<!-- This is an automatically generated file.\n"
      "     It will be read and overwritten.\n"
      "     DO NOT EDIT! -->\n"
      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
      "<TITLE>Bookmarks</TITLE>\n"
      "<H1>Bookmarks</H1>\n"
      "<DL><p>\n";
  auto writeSite = [&](const TSite& site, const char* indent) {
    out += indent;
    out += "<DT><A HREF=\"";
    out += Escaped(site.Url);
    out += "\">";
    out += Escaped(site.Name);
    out += "</A>\n";
    if (out.size() >= 65536) {
      stream.Write(out);
      out.clear();
    }
  };
  for (const auto& [category, sites] : folders) {
    out += "    <DT><H3>" + Escaped(category) + "</H3>\n    <DL><p>\n";
    for (const TSite& site : sites) writeSite(site, "        ");
    out += "    </DL><p>\n";
  }
  for (const TSite& site : loose) writeSite(site, "    ");
  out += "</DL><p>\n";
  stream.Write(out);
}

}  // namespace

void SaveBookmarksToStream(IRowSource& grid, IByteSink& stream) {
  // Rows are read from the grid only; the row source still hears of the
  // export, as around the other formats.
  grid.BeginExport();
  try {
    WriteBookmarks(grid, stream);
  } catch (...) {
    grid.EndExport();
    throw;
  }
  grid.EndExport();
}

void SaveToBookmarks(IRowSource& grid, const std::string& fileName) {
  WriteReplacingFile(fileName, [&grid](IByteSink& file) { SaveBookmarksToStream(grid, file); });
}

}  // namespace exports
