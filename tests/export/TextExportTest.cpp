#include <gtest/gtest.h>

#include "ExportTestGrid.h"
#include "export/TextExport.h"

namespace {

using namespace exports;
using namespace exports::testing;

std::string Text(const TTestGrid& grid) {
  TStringSink sink;
  SaveAllToStream(grid, sink);
  return sink.Bytes;
}

std::vector<TTestNode> Catalogue() {
  return {Group("Site Category : Arts & Humanities ",
                {Data({"Arts & Humanities", "Museum", "http://museum.example/", "curator"})}, false),
          Group("Site Category : News ", {Data({"News", "Daily Paper", "http://paper.example/", ""}),
                                          Data({"News", "", "http://wire.example/", "me"})})};
}

TEST(TextExportTest, ShownRowsOfAGroupedGridWithTheDefaultColumns) {
  TTestGrid grid = ProgramGrid(
      {Header(kCategory, "Site Category", 184), Header(kName, "Site Name", 200), Header(kUrl, "Site Url", 363)});
  grid.Roots = Catalogue();
  // The collapsed group gives its group line only; an empty name gives
  // nothing between two tabs.
  EXPECT_EQ(Text(grid),
            "Site Category\tSite Name\tSite Url\t\r\r\n"
            "Site Category : Arts & Humanities \r\n"
            "Site Category : News \r\n"
            "News\tDaily Paper\thttp://paper.example/\t\r\n"
            "News\t\thttp://wire.example/\t\r\n");

  grid.Roots[0].Expanded = true;
  EXPECT_EQ(Text(grid),
            "Site Category\tSite Name\tSite Url\t\r\r\n"
            "Site Category : Arts & Humanities \r\n"
            "Arts & Humanities\tMuseum\thttp://museum.example/\t\r\n"
            "Site Category : News \r\n"
            "News\tDaily Paper\thttp://paper.example/\t\r\n"
            "News\t\thttp://wire.example/\t\r\n");
}

TEST(TextExportTest, HiddenGroupedColumnKeepsTheGroupLines) {
  TTestGrid grid = ProgramGrid({Header(kName, "Site Name", 200), Header(kLogin, "Site Login", 119)});
  grid.Roots = Catalogue();
  EXPECT_EQ(Text(grid),
            "Site Name\tSite Login\t\r\r\n"
            "Site Category : Arts & Humanities \r\n"
            "Site Category : News \r\n"
            "Daily Paper\t\t\r\n"
            "\tme\t\r\n");
}

TEST(TextExportTest, FlatAndEmptyGridsAndTheTextOrder) {
  TTestGrid grid = ProgramGrid({Header(kName, "Site Name", 200), Header(kUrl, "Site Url", 363)}, 0);
  EXPECT_EQ(Text(grid), "Site Name\tSite Url\t\r\r\n");

  grid.Roots = {Data({"News", "Daily \xE9", "http://paper.example/"}), Data({})};
  EXPECT_EQ(Text(grid), "Site Name\tSite Url\t\r\r\nDaily \xE9\thttp://paper.example/\t\r\n\t\t\r\n");

  // The text export follows the text order, which may differ from the
  // display order of the other exports.
  grid.TextHeaders = {grid.Headers[1], grid.Headers[0]};
  EXPECT_EQ(Text(grid), "Site Url\tSite Name\t\r\r\nhttp://paper.example/\tDaily \xE9\t\r\n\t\t\r\n");

  TTestGrid none = ProgramGrid({}, 0);
  EXPECT_EQ(Text(none), "\r\r\n");
}

}  // namespace
