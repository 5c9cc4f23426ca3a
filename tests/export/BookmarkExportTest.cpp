// The "bookmarks" export: a Netscape bookmark file with one folder per
// category in byte order, the sites in row order, loose sites last, texts
// in UTF-8 with markup characters as references, every row whatever is
// shown or hidden; chosen by name only, never by the .html extension.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "export/BookmarkExport.h"
#include "export/ExportError.h"
#include "export/ExportFile.h"
#include "export/ExportTestGrid.h"

namespace exports {
namespace {

using namespace exports::testing;

// The test grid with the program's fields behind its columns.
class TSiteGrid : public TTestGrid {
 public:
  bool HasFields = true;
  int FieldColumnIndex(std::string_view field) const override {
    if (!HasFields) return -1;
    if (field == "sitetype") return kCategory;
    if (field == "sitename") return kName;
    if (field == "siteurl") return kUrl;
    return -1;
  }
};

TSiteGrid Sites() {
  TSiteGrid grid;
  grid.Groups = 1;
  // Only the name is shown: the URL and the category columns are hidden.
  grid.Headers = {Header(kName, "Site Name", 200)};
  grid.Roots = {
      Group("Site Category :  ", {Data({"", "No category", "https://loose.example/"})}),
      Group("Site Category : Arts & Humanities ",
            {Data({"Arts & Humanities", "Tom \"&\" Jerry's <Gallery>", "https://a.example/?x=1&y=2"}),
             Data({"Arts & Humanities", "Caf\xE9 \x80 Cr\xE8me", "https://b.example/"})},
            false),
      Group("Site Category : News ", {Data({"News", "", "https://news.example/"})}),
  };
  return grid;
}

const char kExpected[] =
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
    "<!-- This is an automatically generated file.\n"
    "     It will be read and overwritten.\n"
    "     DO NOT EDIT! -->\n"
    "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
    "<TITLE>Bookmarks</TITLE>\n"
    "<H1>Bookmarks</H1>\n"
    "<DL><p>\n"
    "    <DT><H3>Arts &amp; Humanities</H3>\n"
    "    <DL><p>\n"
    "        <DT><A HREF=\"https://a.example/?x=1&amp;y=2\">Tom &quot;&amp;&quot; Jerry&#39;s &lt;Gallery&gt;</A>\n"
    "        <DT><A HREF=\"https://b.example/\">Caf\xC3\xA9 \xE2\x82\xAC Cr\xC3\xA8me</A>\n"
    "    </DL><p>\n"
    "    <DT><H3>News</H3>\n"
    "    <DL><p>\n"
    "        <DT><A HREF=\"https://news.example/\"></A>\n"
    "    </DL><p>\n"
    "    <DT><A HREF=\"https://loose.example/\">No category</A>\n"
    "</DL><p>\n";

TEST(BookmarkExportTest, OneFolderPerCategoryFromEveryRow) {
  TSiteGrid grid = Sites();
  TStringSink sink;
  SaveBookmarksToStream(grid, sink);
  EXPECT_EQ(sink.Bytes, kExpected);
  EXPECT_EQ(grid.BeginCount, 1);
  EXPECT_EQ(grid.EndCount, 1);
  // Flat (not grouped) rows give the same file: folders come from the
  // category of each site, not from the group rows.
  TSiteGrid flat = Sites();
  flat.Groups = 0;
  std::vector<TTestNode> rows;
  for (const TTestNode& group : flat.Roots) {
    for (const TTestNode& row : group.Children) rows.push_back(row);
  }
  flat.Roots = rows;
  TStringSink flatSink;
  ExportToStream(flat, flatSink, TExportFormat::Bookmarks, marrowick::platform::TStandardColorScheme());
  EXPECT_EQ(flatSink.Bytes, kExpected);
}

TEST(BookmarkExportTest, RefusedWithoutAnAddressColumnAndLeavesNoFile) {
  TSiteGrid grid = Sites();
  grid.HasFields = false;
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "marrowick-bookmark-export";
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "out.html").string();
  std::filesystem::remove(file);
  try {
    SaveToBookmarks(grid, file);
    FAIL() << "no error";
  } catch (const EExportError& e) {
    EXPECT_NE(std::string(e.what()).find("The grid has no site address column"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(grid.EndCount, 1);
  // With the columns it is written whole.
  grid.HasFields = true;
  ExportToFile(grid, file, TExportFormat::Bookmarks, marrowick::platform::TStandardColorScheme());
  std::ifstream in(file, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  EXPECT_EQ(bytes.str(), kExpected);
  std::filesystem::remove_all(dir);
}

TEST(BookmarkExportTest, ChosenByNameOnly) {
  EXPECT_EQ(FormatFromName("bookmarks"), TExportFormat::Bookmarks);
  EXPECT_EQ(FormatFromName("BOOKMARKS"), TExportFormat::Bookmarks);
  EXPECT_STREQ(FormatName(TExportFormat::Bookmarks), "bookmarks");
  EXPECT_EQ(FormatFromExtension("bookmarks.html"), TExportFormat::Html);
  EXPECT_EQ(FormatFromExtension("bookmarks.htm"), TExportFormat::Html);
}

}  // namespace
}  // namespace exports
