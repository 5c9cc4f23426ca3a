#include <gtest/gtest.h>

#include "ExportTestGrid.h"
#include "export/HtmlExport.h"
#include "platform/core/ColorScheme.h"

namespace {

using namespace exports;
using namespace exports::testing;
using marrowick::platform::TStandardColorScheme;

const TStandardColorScheme kScheme;

std::string Html(TTestGrid& grid) {
  TStringSink sink;
  TDBGridExportHTML(grid, kScheme).SaveToStream(sink);
  return sink.Bytes;
}

// Lines 1-15 of the page for the program's appearance.
const std::string kHead =
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2//EN\">\r\n"
    "<HTML>\r\n"
    "<HEAD>\r\n"
    "<TITLE>DBGrid1</TITLE> \r\n"
    "<STYLE>\r\n"
    "<!--\r\n"
    ".Band{font-family: MS Sans Serif; font-size: 8pt; color: #000000}\r\n"
    ".Header{font-family: MS Sans Serif; font-size: 8pt; color: #000000}\r\n"
    ".Footer{font-family: MS Sans Serif; font-size: 8pt; color: #000000}\r\n"
    ".RowFooter{font-family: MS Sans Serif; font-size: 8pt; color: #000000}\r\n"
    ".Group{font-family: MS Sans Serif; font-size: 8pt; color: #000000}\r\n"
    "-->\r\n"
    "</STYLE>\r\n"
    "</HEAD> \r\n"
    "<BODY BGCOLOR=#C0C0C0>\r\n";
// Lines 16-17 with a single border, grid lines and the three-dimensional look.
const std::string kTables =
    "<TABLE BORDER=1 CELLSPACING=0 CELLPADDING=1 BGCOLOR=#C0C0C0><TR><TD>\r\n"
    "<TABLE BORDER=1 CELLSPACING=0 CELLPADDING=1 BGCOLOR=#C0C0C0>\r\n";
const std::string kEnd = "</TABLE>\r\n</TD></TR></TABLE>\r\n</BODY>\r\n</HTML>\r\n";

const std::string kFont = "<FONT STYLE=\"font-family: MS Sans Serif; font-size: 8pt; color: #000000\">";
const std::string kCell = "<TD NOWRAP ALIGN=\"LEFT\" BGCOLOR=#FFFFFF>" + kFont;
const std::string kIndent = "<TD NOWRAP BGCOLOR=#C0C0C0 WIDTH=10></TD>";

TEST(HtmlExportTest, WritesTheExamplePageByteForByte) {
  TTestGrid grid = ProgramGrid({Header(kCategory, "Site Category", 184), Header(kName, "Site Name", 200)});
  grid.Roots = {Group("Site Category : News ", {Data({"News", "Daily Paper", "http://paper.example/"})})};

  EXPECT_EQ(Html(grid),
            kHead + kTables +
                "<TR VALIGN=\"TOP\" class=\"Header\" BGCOLOR=#C0C0C0><TD NOWRAP WIDTH=10 COLSPAN=1></TD>"
                "<TD NOWRAP WIDTH=184 ALIGN=\"LEFT\"><B>Site Category</B></TD>"
                "<TD NOWRAP WIDTH=200 ALIGN=\"LEFT\"><B>Site Name</B></TD></TR>\r\n"
                "<TR class=\"Group\" BGCOLOR=#C0C0C0><TD NOWRAP ALIGN=\"LEFT\" COLSPAN=3>Site Category : News "
                "</TD></TR>\r\n"
                "<TR><TD NOWRAP BGCOLOR=#C0C0C0 WIDTH=10></TD>"
                "<TD NOWRAP ALIGN=\"LEFT\" BGCOLOR=#FFFFFF><FONT STYLE=\"font-family: MS Sans Serif; "
                "font-size: 8pt; color: #000000\">News</FONT></TD>"
                "<TD NOWRAP ALIGN=\"LEFT\" BGCOLOR=#FFFFFF><FONT STYLE=\"font-family: MS Sans Serif; "
                "font-size: 8pt; color: #000000\">Daily Paper</FONT></TD></TR>\r\n" +
                kEnd);
  EXPECT_EQ(grid.BeginCount, 1);
  EXPECT_EQ(grid.EndCount, 1);
}

TEST(HtmlExportTest, EscapesEveryTextOfTheGrid) {
  TTestGrid grid = ProgramGrid({Header(kCategory, "Site <Category>", 184), Header(kName, "\"Name\"", 200)});
  grid.Look.Name = "Grid&1";
  grid.Roots = {Group("Site Category : Arts & Humanities ",
                      {Data({"Arts & Humanities", "Caf\xE9 \x80 <b>\x81"})})};

  const std::string page = Html(grid);
  EXPECT_NE(page.find("<TITLE>Grid&amp;1</TITLE> \r\n"), std::string::npos);
  EXPECT_NE(page.find("<B>Site &lt;Category&gt;</B>"), std::string::npos);
  EXPECT_NE(page.find("<B>&quot;Name&quot;</B>"), std::string::npos);
  EXPECT_NE(page.find("COLSPAN=3>Site Category : Arts &amp; Humanities </TD>"), std::string::npos);
  EXPECT_NE(page.find(kFont + "Arts &amp; Humanities</FONT>"), std::string::npos);
  // é, the euro sign and the unassigned byte 0x81 by their Unicode code points.
  EXPECT_NE(page.find(kFont + "Caf&#233; &#8364; &lt;b&gt;&#129;</FONT>"), std::string::npos);
  for (char c : page) EXPECT_LT(static_cast<unsigned char>(c), 128);
}

TEST(HtmlExportTest, FlatGridWithEmptyCellsAndHiddenColumns) {
  // Site Url hidden, no grouping: no indent cells anywhere, and an empty
  // caption or cell is a non-breaking space.
  TTestGrid grid = ProgramGrid({Header(kName, "", 200), Header(kLogin, "Site Login", 119)}, 0);
  grid.Roots = {Data({"News", "Daily Paper", "http://paper.example/", ""}),
                Data({"News", "", "http://x.example/", "me"})};

  EXPECT_EQ(Html(grid), kHead + kTables +
                            "<TR VALIGN=\"TOP\" class=\"Header\" BGCOLOR=#C0C0C0>"
                            "<TD NOWRAP WIDTH=200 ALIGN=\"LEFT\">&nbsp;</TD>"
                            "<TD NOWRAP WIDTH=119 ALIGN=\"LEFT\"><B>Site Login</B></TD></TR>\r\n"
                            "<TR>" + kCell + "Daily Paper</FONT></TD>" + kCell + "&nbsp;</FONT></TD></TR>\r\n"
                            "<TR>" + kCell + "&nbsp;</FONT></TD>" + kCell + "me</FONT></TD></TR>\r\n" +
                            kEnd);
}

TEST(HtmlExportTest, NestedAndCollapsedGroupsWithTheGroupedColumnHidden) {
  // Two group columns; the grouped category column is hidden, so one header
  // is shown. A collapsed group is written with all its rows.
  TTestGrid grid = ProgramGrid({Header(kName, "Site Name", 200)}, 2);
  grid.Roots = {Group("Site Category : News ",
                      {Group("Site Login : me ", {Data({"News", "Daily Paper", "", "me"})}, false)}, false)};

  EXPECT_EQ(Html(grid),
            kHead + kTables +
                "<TR VALIGN=\"TOP\" class=\"Header\" BGCOLOR=#C0C0C0><TD NOWRAP WIDTH=10 COLSPAN=2></TD>"
                "<TD NOWRAP WIDTH=200 ALIGN=\"LEFT\"><B>Site Name</B></TD></TR>\r\n"
                "<TR class=\"Group\" BGCOLOR=#C0C0C0><TD NOWRAP ALIGN=\"LEFT\" COLSPAN=3>Site Category : News "
                "</TD></TR>\r\n"
                "<TR class=\"Group\" BGCOLOR=#C0C0C0>" + kIndent +
                "<TD NOWRAP ALIGN=\"LEFT\" COLSPAN=2>Site Login : me </TD></TR>\r\n"
                "<TR>" + kIndent + kIndent + kCell + "Daily Paper</FONT></TD></TR>\r\n" + kEnd);
}

TEST(HtmlExportTest, EmptyGridHasHeadHeaderRowAndEnd) {
  TTestGrid grid = ProgramGrid({Header(kName, "Site Name", 200)});
  EXPECT_EQ(Html(grid), kHead + kTables +
                            "<TR VALIGN=\"TOP\" class=\"Header\" BGCOLOR=#C0C0C0><TD NOWRAP WIDTH=10 COLSPAN=1>"
                            "</TD><TD NOWRAP WIDTH=200 ALIGN=\"LEFT\"><B>Site Name</B></TD></TR>\r\n" +
                            kEnd);
  grid.Look.ShowHeader = false;
  EXPECT_EQ(Html(grid), kHead + kTables + kEnd);
}

TEST(HtmlExportTest, BorderStylesAndLooks) {
  TTestGrid grid = ProgramGrid({Header(kName, "Site Name", 200)});
  grid.Look.ShowHeader = false;
  const std::string inner3d = "<TABLE BORDER=1 CELLSPACING=0 CELLPADDING=1 BGCOLOR=#C0C0C0>\r\n";
  const std::string innerFlat = "<TABLE BORDER=0 CELLSPACING=1 CELLPADDING=2 BGCOLOR=#C0C0C0>\r\n";
  const std::string innerNoLines = "<TABLE BORDER=0 CELLSPACING=0 CELLPADDING=2 BGCOLOR=#C0C0C0>\r\n";
  const std::string outer = "<TABLE BORDER=1 CELLSPACING=0 CELLPADDING=1 BGCOLOR=#C0C0C0><TR><TD>\r\n";
  const std::string endSingle = kEnd;
  const std::string endNone = "</TABLE>\r\n</BODY>\r\n</HTML>\r\n";

  struct Case {
    TBorderStyle border;
    bool showGrid, ctl3d;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {bsSingle, true, true, kHead + outer + inner3d + endSingle},
      {bsSingle, true, false, kHead + outer + innerFlat + endSingle},
      {bsSingle, false, true, kHead + outer + innerNoLines + endSingle},
      {bsNone, true, true, kHead + inner3d + endNone},
      {bsNone, true, false, kHead + innerFlat + endNone},
      {bsNone, false, false, kHead + innerNoLines + endNone},
  };
  for (const Case& c : cases) {
    grid.Look.BorderStyle = c.border;
    grid.Look.ShowGrid = c.showGrid;
    grid.Look.Ctl3D = c.ctl3d;
    EXPECT_EQ(Html(grid), c.expected) << c.border << c.showGrid << c.ctl3d;
  }
}

TEST(HtmlExportTest, ColoursFontsAndAlignmentsOfTheGridAndItsColumns) {
  TExportHeader right = Header(kName, "Site Name", 200);
  right.HeaderAlignment = taCenter;
  right.Alignment = taRightJustify;
  right.Color = 0x0000FF;  // red, stored as 0x00BBGGRR
  right.Font = {"Arial", 10, 0x00FF0000, marrowick::platform::fsItalic | marrowick::platform::fsUnderline};
  TExportHeader centre = Header(kUrl, "Site Url", 363);
  centre.Alignment = taCenter;
  centre.Color = clNone;
  centre.Font.Style = marrowick::platform::fsBold | marrowick::platform::fsItalic |
                      marrowick::platform::fsUnderline | marrowick::platform::fsStrikeOut;
  TTestGrid grid = ProgramGrid({right, centre});
  grid.Look.Name = "Sites";
  grid.Look.HeaderColor = marrowick::platform::clInfoBk;
  grid.Look.GroupNodeColor = marrowick::platform::clHighlight;
  grid.Look.GroupNodeTextColor = clNone;
  grid.Look.RowFooterTextColor = 0x00808000;
  grid.Look.Font.Style = marrowick::platform::fsStrikeOut;
  grid.Look.HeaderFont = {"Tahoma", 9, 0x000080, marrowick::platform::fsUnderline};
  grid.Look.BandFont = {"Courier", 12, marrowick::platform::clHighlightText, 0};
  grid.Look.BorderStyle = bsNone;
  grid.Roots = {Group("Site Category : News ", {Data({"News", "Daily Paper", "http://paper.example/"})})};

  const std::string indent = "<TD NOWRAP BGCOLOR=#000080 WIDTH=10></TD>";
  EXPECT_EQ(Html(grid),
            "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2//EN\">\r\n"
            "<HTML>\r\n"
            "<HEAD>\r\n"
            "<TITLE>Sites</TITLE> \r\n"
            "<STYLE>\r\n"
            "<!--\r\n"
            ".Band{font-family: Courier; font-size: 12pt; color: #FFFFFF}\r\n"
            ".Header{font-family: Tahoma; font-size: 9pt; color: #800000}\r\n"
            ".Footer{font-family: MS Sans Serif; font-size: 8pt; color: #000000}\r\n"
            ".RowFooter{font-family: MS Sans Serif; font-size: 8pt; color: #008080}\r\n"
            ".Group{font-family: MS Sans Serif; font-size: 8pt; color: #000000}\r\n"
            "-->\r\n"
            "</STYLE>\r\n"
            "</HEAD> \r\n"
            "<BODY BGCOLOR=#C0C0C0>\r\n"
            "<TABLE BORDER=1 CELLSPACING=0 CELLPADDING=1 BGCOLOR=#C0C0C0>\r\n"
            "<TR VALIGN=\"TOP\" class=\"Header\" BGCOLOR=#FFFFE1><TD NOWRAP WIDTH=10 COLSPAN=1></TD>"
            "<TD NOWRAP WIDTH=200 ALIGN=\"CENTER\"><U>Site Name</U></TD>"
            "<TD NOWRAP WIDTH=363 ALIGN=\"LEFT\"><U>Site Url</U></TD></TR>\r\n"
            "<TR class=\"Group\" BGCOLOR=#000080><TD NOWRAP ALIGN=\"LEFT\" COLSPAN=3>"
            "<STRIKE>Site Category : News </STRIKE></TD></TR>\r\n"
            "<TR>" + indent +
            "<TD NOWRAP ALIGN=\"RIGHT\" BGCOLOR=#FF0000><FONT STYLE=\"font-family: Arial; font-size: 10pt; "
            "color: #0000FF\"><I><U>Daily Paper</U></I></FONT></TD>"
            "<TD NOWRAP ALIGN=\"CENTER\" BGCOLOR=#000000><FONT STYLE=\"font-family: MS Sans Serif; "
            "font-size: 8pt; color: #000000\"><B><I><U><STRIKE>http://paper.example/</STRIKE></U></I></B>"
            "</FONT></TD></TR>\r\n"
            "</TABLE>\r\n</BODY>\r\n</HTML>\r\n");
}

TEST(HtmlExportTest, BandRowWhenBandsAreShown) {
  TTestGrid grid = ProgramGrid({Header(kCategory, "Site Category", 184), Header(kName, "Site Name", 200)});
  grid.Look.ShowBands = true;
  grid.Look.BandPanelHeight = 17;
  grid.Look.BandColor = 0x00C0FFC0;
  grid.Look.BandFont.Style = marrowick::platform::fsItalic;
  grid.Look.Bands = {{"Sites & more", taCenter, 1}, {"", taRightJustify, 1}};
  grid.Look.ShowHeader = false;

  EXPECT_EQ(Html(grid), kHead + kTables +
                            "<TR VALIGN=\"TOP\" class=\"Band\" BGCOLOR=#C0FFC0><TD NOWRAP WIDTH=10 COLSPAN=1></TD>"
                            "<TD NOWRAP COLSPAN=1 ALIGN=\"CENTER\" HEIGHT=17><I>Sites &amp; more</I></TD>"
                            "<TD NOWRAP COLSPAN=1 ALIGN=\"RIGHT\" HEIGHT=17>&nbsp;</TD></TR>\r\n" +
                            kEnd);
}

TEST(HtmlExportTest, ColourTextsAndFontTags) {
  EXPECT_EQ(ColorText(clNone, kScheme), "000000");
  EXPECT_EQ(ColorText(marrowick::platform::clBtnFace, kScheme), "C0C0C0");
  EXPECT_EQ(ColorText(0x00563412, kScheme), "123456");
  EXPECT_EQ(TDBGridExportHTML::GetHTMLAlignment(taLeftJustify), std::string("LEFT"));
  std::string open = "x", close = "y";
  TDBGridExportHTML::GetFontStyle(TFontSpec{}, open, close);
  EXPECT_EQ(open + close, "");
}

}  // namespace
