#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "ExportTestGrid.h"
#include "export/ExcelExport.h"
#include "export/ExportFile.h"
#include "platform/core/ColorScheme.h"

namespace {

using namespace exports;
using namespace exports::testing;
using marrowick::platform::TStandardColorScheme;

const TStandardColorScheme kScheme;

std::string Xls(TTestGrid& grid) {
  TStringSink sink;
  TDBGridExportExcel(grid, kScheme).SaveToStream(sink);
  return sink.Bytes;
}

// Bytes from hexadecimal pairs separated by blanks: Hex("09 04").
std::string Hex(const std::string& pairs) {
  std::string bytes;
  for (size_t i = 0; i < pairs.size();) {
    if (pairs[i] == ' ') {
      ++i;
      continue;
    }
    bytes += static_cast<char>(std::stoi(pairs.substr(i, 2), nullptr, 16));
    i += 2;
  }
  return bytes;
}

const std::string kBof = Hex("09 04 06 00 00 00 10 00 00 00");
const std::string kGuts = Hex("80 00 08 00 00 00 00 00 00 00 00 00");
const std::string kArial = Hex("31 02 0C 00 C8 00 00 00 FF 7F 05") + "Arial";
const std::string kDimensions = Hex("00 02 0A 00 00 00 FF FF 00 00 FF 00 00 00");
const std::string kEof = Hex("0A 00 00 00");

// FONT records of MS Sans Serif, 8 points.
std::string SansSerif(const std::string& flags, const std::string& colour) {
  return Hex("31 02 14 00 A0 00 " + flags + " " + colour) + Hex("0D") + "MS Sans Serif";
}

std::string Xf(const std::string& body) { return Hex("43 04 0C 00 " + body); }

// XF 0 to 20 and 22 to 28, which never change.
std::string FixedXfs(const std::string& xf21) {
  std::string xfs = Xf("00 00 F5 FF 20 00 00 CE 00 00 00 00");
  xfs += Xf("01 00 F5 FF 20 F4 00 CE 00 00 00 00") + Xf("01 00 F5 FF 20 F4 00 CE 00 00 00 00");
  xfs += Xf("02 00 F5 FF 20 F4 00 CE 00 00 00 00") + Xf("02 00 F5 FF 20 F4 00 CE 00 00 00 00");
  for (int i = 5; i <= 14; ++i) xfs += Xf("00 00 F5 FF 20 F4 00 CE 00 00 00 00");
  xfs += Xf("00 00 01 00 20 00 00 CE 00 00 00 00");
  xfs += Xf("01 21 F5 FF 20 F8 00 CE 00 00 00 00") + Xf("01 1F F5 FF 20 F8 00 CE 00 00 00 00");
  xfs += Xf("01 20 F5 FF 20 F8 00 CE 00 00 00 00") + Xf("01 1E F5 FF 20 F8 00 CE 00 00 00 00");
  xfs += Xf("01 0D F5 FF 20 F8 00 CE 00 00 00 00");
  xfs += Xf(xf21);
  xfs += Xf("06 00 01 00 22 78 41 02 71 71 71 71") + Xf("07 00 01 00 21 78 C1 02 00 00 00 00");
  xfs += Xf("05 00 01 00 22 78 C1 02 B9 B9 B9 B9") + Xf("05 00 01 00 22 78 C1 02 B9 00 B9 00");
  xfs += Xf("08 00 01 00 22 78 41 02 71 71 71 00") + Xf("09 00 01 00 21 78 C1 02 B9 B9 B9 B9");
  xfs += Xf("09 00 01 00 21 78 C1 02 B9 00 B9 00");
  return xfs;
}

TEST(ExcelExportTest, WritesAGroupedGridByteForByte) {
  TTestGrid grid = ProgramGrid({Header(kCategory, "Site Category", 184), Header(kName, "Site Name", 200)});
  grid.Look.GroupNodeTextColor = clNone;
  grid.Look.GridLineColor = marrowick::platform::clBtnShadow;
  grid.Look.RowFooterColor = 0x00E0D0C0;
  grid.Headers[1].Alignment = taRightJustify;
  grid.Roots = {Group("Site Category : News ", {Data({"News", "Daily Paper"})})};

  const std::string palette = Hex(
      "92 00 36 00 0D 00"
      " 00 00 00 00  C0 C0 C0 00  00 00 00 00  C0 C0 C0 00"   // 8-11
      " 00 00 00 00  FF FF FF 00  00 00 00 00  FF FF FF 00"   // 12-15
      " 00 00 00 00  C0 C0 C0 00  00 00 00 00  C0 D0 E0 00"   // 16-19
      " 80 80 80 00");                                         // 20
  const std::string fonts = kArial + kArial + kArial + kArial + SansSerif("00 00", "0C 00") +
                            SansSerif("01 00", "08 00") + SansSerif("00 00", "0A 00") +
                            SansSerif("00 00", "10 00") + SansSerif("00 00", "12 00") +
                            SansSerif("00 00", "0C 00") + SansSerif("00 00", "0C 00");
  const std::string xfs = FixedXfs("05 00 01 00 21 78 41 03 A1 A1 A1 A1") +
                          Xf("0A 00 01 00 21 78 41 03 A1 A1 A1 A1") + Xf("0B 00 01 00 23 78 41 03 A1 A1 A1 A1");
  const std::string colinfo = Hex("7D 00 0C 00 00 00 00 00 90 01 0F 00 00 00 00 00") +
                              Hex("7D 00 0C 00 01 00 01 00 E0 19 0F 00 00 00 00 00") +
                              Hex("7D 00 0C 00 02 00 02 00 20 1C 0F 00 00 00 00 00");
  const std::string header = Hex("01 02 06 00 00 00 00 00 17 00") +
                             Hex("04 02 15 00 00 00 01 00 16 00 0D 00") + "Site Category" +
                             Hex("04 02 11 00 00 00 02 00 16 00 09 00") + "Site Name";
  const std::string groupRow = Hex("04 02 1D 00 01 00 00 00 17 00 15 00") + "Site Category : News " +
                               Hex("01 02 06 00 01 00 01 00 17 00") + Hex("01 02 06 00 01 00 02 00 17 00");
  const std::string dataRow = Hex("01 02 06 00 02 00 00 00 17 00") +
                              Hex("04 02 0C 00 02 00 01 00 1D 00 04 00") + "News" +
                              Hex("04 02 13 00 02 00 02 00 1E 00 0B 00") + "Daily Paper";

  EXPECT_EQ(Xls(grid), kBof + kGuts + palette + fonts + xfs + colinfo + kDimensions + header + groupRow +
                           dataRow + kEof);
}

// What the worksheet starts with for one flat column: BOF to DIMENSIONS.
size_t HeadLength(int columns, int groups) {
  const size_t fontLength = 4 + 7 + 13;  // MS Sans Serif
  return 10 + 12 + 58 + 4 * 16 + (5 + columns) * fontLength + (29 + columns) * 16 + (groups + columns) * 16 +
         14;
}

TEST(ExcelExportTest, FlatEmptyGridIsHeadHeaderRowAndEof) {
  TTestGrid grid = ProgramGrid({Header(kName, "", 100)}, 0);
  grid.Look.ShowGrid = false;
  const std::string sheet = Xls(grid);
  ASSERT_EQ(sheet.size(), HeadLength(1, 0) + 12 + 4);
  // No indent column: the only COLINFO is column 0, 100 pixels = 3600.
  const size_t colinfo = HeadLength(1, 0) - 14 - 16;
  EXPECT_EQ(sheet.substr(colinfo, 16), Hex("7D 00 0C 00 00 00 00 00 10 0E 0F 00 00 00 00 00"));
  // Without grid lines XF 21 and the column's XF have no borders.
  const size_t xf21 = colinfo - 16 * 9;
  EXPECT_EQ(sheet.substr(xf21, 16), Xf("05 00 01 00 21 78 41 03 00 00 00 00"));
  EXPECT_EQ(sheet.substr(colinfo - 16, 16), Xf("0A 00 01 00 21 78 41 03 00 00 00 00"));
  // An empty caption is a LABEL of length 0 in column 0.
  EXPECT_EQ(sheet.substr(HeadLength(1, 0)), Hex("04 02 08 00 00 00 00 00 16 00 00 00") + kEof);
}

TEST(ExcelExportTest, NestedGroupsWithTheGroupedColumnHiddenAndABandRow) {
  // Two group columns, the grouped category column hidden: one exported
  // column in sheet column 2; a level-1 group row holds its text in column 1.
  TTestGrid grid = ProgramGrid({Header(kName, "Site Name", 200)}, 2);
  grid.Look.ShowBands = true;
  grid.Look.Bands = {{"Sites", taCenter, 1}};
  grid.Roots = {Group("Site Category : News ", {Group("Site Login : me ", {Data({"News", "Wire", "", "me"})})}, false)};

  const std::string sheet = Xls(grid).substr(HeadLength(1, 2));
  const std::string expected =
      // band row: blanks everywhere, then the band's text over its first cell
      Hex("01 02 06 00 00 00 00 00 17 00") + Hex("01 02 06 00 00 00 01 00 17 00") +
      Hex("01 02 06 00 00 00 02 00 17 00") + Hex("04 02 0D 00 00 00 02 00 1A 00 05 00") + "Sites" +
      // header row
      Hex("01 02 06 00 01 00 00 00 17 00") + Hex("01 02 06 00 01 00 01 00 17 00") +
      Hex("04 02 11 00 01 00 02 00 16 00 09 00") + "Site Name" +
      // the collapsed level-0 group, its level-1 group and its site
      Hex("04 02 1D 00 02 00 00 00 17 00 15 00") + "Site Category : News " +
      Hex("01 02 06 00 02 00 01 00 17 00") + Hex("01 02 06 00 02 00 02 00 17 00") +
      Hex("01 02 06 00 03 00 00 00 17 00") + Hex("04 02 18 00 03 00 01 00 17 00 10 00") + "Site Login : me " +
      Hex("01 02 06 00 03 00 02 00 17 00") +
      Hex("01 02 06 00 04 00 00 00 17 00") + Hex("01 02 06 00 04 00 01 00 17 00") +
      Hex("04 02 0C 00 04 00 02 00 1D 00 04 00") + "Wire" + kEof;
  EXPECT_EQ(sheet, expected);
}

TEST(ExcelExportTest, CellKindsByFieldType) {
  auto typed = [](int column, dataset::TFieldType type) {
    TExportHeader header = Header(column, "c" + std::to_string(column), 64);
    header.FieldType = type;
    return header;
  };
  TExportHeader noField = Header(6, "none", 64);
  noField.HasField = false;
  TTestGrid grid = ProgramGrid({typed(0, dataset::ftInteger), typed(1, dataset::ftFloat), typed(2, dataset::ftMemo),
                                typed(3, dataset::ftBytes), typed(4, dataset::ftString), typed(5, dataset::ftSmallint),
                                noField},
                               0);
  grid.Look.ShowHeader = false;
  const std::string memo(300, 'm');
  grid.Roots = {Data({"5", "2.5", memo, "?", "text", "-3", "shown"},
                     {dataset::Variant(5), dataset::Variant(2.5), memo, dataset::Variant::FromBytes("\x01\xAB"),
                      "text", dataset::Variant(-3)}),
                Data({"", "", "", "", "", "", ""},
                     {dataset::Variant::Null(), dataset::Variant::Null(), dataset::Variant::Null(),
                      dataset::Variant::Null(), dataset::Variant::Null(), dataset::Variant(int64_t{1} << 29)})};

  const std::string sheet = Xls(grid).substr(HeadLength(7, 0));
  const std::string expected =
      Hex("7E 02 0A 00 00 00 00 00 1D 00 16 00 00 00") +                       // RK 5 x 4 + 2
      Hex("03 02 0E 00 00 00 01 00 1E 00 00 00 00 00 00 00 04 40") +          // 2.5
      Hex("04 02 07 01 00 00 02 00 1F 00 FF 00") + memo.substr(0, 255) +      // memo cut to 255
      Hex("04 02 0C 00 00 00 03 00 20 00 04 00") + "01AB" +                   // raw bytes in hexadecimal
      Hex("04 02 0C 00 00 00 04 00 21 00 04 00") + "text" +
      Hex("7E 02 0A 00 00 00 05 00 22 00 F6 FF FF FF") +                       // -3 x 4 + 2
      Hex("04 02 08 00 00 00 06 00 23 00 00 00") +                             // no field: empty
      Hex("7E 02 0A 00 01 00 00 00 1D 00 02 00 00 00") +                       // null integer: RK 2
      Hex("03 02 0E 00 01 00 01 00 1E 00 00 00 00 00 00 00 00 00") +          // null float: 0.0
      Hex("04 02 08 00 01 00 02 00 1F 00 00 00") + Hex("04 02 08 00 01 00 03 00 20 00 00 00") +
      Hex("04 02 08 00 01 00 04 00 21 00 00 00") +
      Hex("03 02 0E 00 01 00 05 00 22 00 00 00 00 00 00 00 C0 41") +          // 2^29: beyond RK
      Hex("04 02 08 00 01 00 06 00 23 00 00 00") + kEof;
  EXPECT_EQ(sheet, expected);
}

TEST(ExcelExportTest, AValueThatIsNoNumberFailsAfterTheSheetIsClosed) {
  TExportHeader number = Header(0, "n", 64);
  number.FieldType = dataset::ftInteger;
  TTestGrid grid = ProgramGrid({number}, 0);
  grid.Roots = {Data({"1"}), Data({"abc"})};
  TStringSink sink;
  TDBGridExportExcel writer(grid, kScheme);
  EXPECT_THROW(writer.SaveToStream(sink), dataset::EVariantError);
  EXPECT_EQ(sink.Bytes.substr(sink.Bytes.size() - 18), Hex("7E 02 0A 00 01 00 00 00 1D 00 06 00 00 00") + kEof);
  EXPECT_EQ(grid.EndCount, 1);
}

TEST(ExcelExportTest, WidthsBeyondTheFieldAreCutToItsLargestValue) {
  TTestGrid grid = ProgramGrid({Header(kName, "Site Name", 2000)}, 0);
  const std::string sheet = Xls(grid);
  EXPECT_EQ(sheet.substr(HeadLength(1, 0) - 14 - 16 + 8, 2), Hex("FF FF"));
}

TEST(ExcelExportTest, RefusesGridsLargerThanAWorksheet) {
  TTestGrid wide = ProgramGrid({}, 1);
  for (int i = 0; i < 256; ++i) wide.Headers.push_back(Header(i, "c", 10));
  TStringSink sink;
  try {
    TDBGridExportExcel(wide, kScheme).SaveToStream(sink);
    FAIL() << "no error";
  } catch (const EExportError& e) {
    EXPECT_STREQ(e.what(), "The grid has more columns than an Excel worksheet can hold (246)");
  }
  EXPECT_TRUE(sink.Bytes.empty());
  EXPECT_EQ(wide.EndCount, 1);

  // A header row and 65535 rows fill the sheet; one more row would wrap.
  TTestGrid tall = ProgramGrid({Header(kName, "Site Name", 10)}, 0);
  tall.Roots.assign(65535, Data({"", "x"}));
  EXPECT_NO_THROW(Xls(tall));
  tall.Roots.push_back(Data({"", "y"}));
  try {
    Xls(tall);
    FAIL() << "no error";
  } catch (const EExportError& e) {
    EXPECT_STREQ(e.what(), "The grid has more rows than an Excel worksheet can hold (65536)");
  }
}

// The worksheet as Debian's xlrd reads it: the row and column counts, each
// cell as "row column kind value", each column width. The kind of a cell
// that holds a value is told by the value's type: xlrd types numeric
// cells by the FORMAT records of a BIFF4 file, and this sheet has none.
std::string ReadBack(const std::filesystem::path& file) {
  const std::filesystem::path script = file.parent_path() / "read.py";
  std::ofstream(script) << "import sys, xlrd\n"
                           "book = xlrd.open_workbook(sys.argv[1], formatting_info=True, "
                           "encoding_override='cp1252')\n"
                           "sheet = book.sheet_by_index(0)\n"
                           "print('rows', sheet.nrows, 'columns', sheet.ncols)\n"
                           "for r in range(sheet.nrows):\n"
                           "  for c in range(sheet.ncols):\n"
                           "    cell = sheet.cell(r, c)\n"
                           "    kind = xlrd.sheet.ctype_text[cell.ctype]\n"
                           "    if kind not in ('blank', 'empty'):\n"
                           "      kind = 'number' if isinstance(cell.value, float) else 'text'\n"
                           "    print(r, c, kind, ascii(cell.value))\n"
                           "for c in sorted(sheet.colinfo_map):\n"
                           "  print('width', c, sheet.colinfo_map[c].width)\n";
  const std::string command = "/usr/bin/python3 " + script.string() + " " + file.string() + " 2>&1";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "popen failed";
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  pclose(pipe);
  return output;
}

TEST(ExcelExportTest, XlrdReadsTheWorksheetAsTheGridHeldIt) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("xls-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  TExportHeader count = Header(kLogin, "Visits", 50);
  count.FieldType = dataset::ftInteger;
  TTestGrid grid = ProgramGrid({Header(kCategory, "Site Category", 184), Header(kName, "Site Name", 200), count});
  grid.Roots = {Group("Site Category : Arts & Humanities ",
                      {Data({"Arts & Humanities", "Caf\xE9 \x80", "", "7"}, {"", "", "", dataset::Variant(7)}),
                       Data({"Arts & Humanities", "", "", ""}, {"", "", "", dataset::Variant::Null()})},
                      false),
                Group("Site Category : News ", {Data({"News", "Daily Paper", "", "-12"},
                                                     {"", "", "", dataset::Variant(int64_t{-12})})})};
  SaveToXLS(grid, (dir / "sites.xls").string(), kScheme);

  EXPECT_EQ(ReadBack(dir / "sites.xls"),
            "rows 6 columns 4\n"
            "0 0 blank ''\n0 1 text 'Site Category'\n0 2 text 'Site Name'\n0 3 text 'Visits'\n"
            "1 0 text 'Site Category : Arts & Humanities '\n1 1 blank ''\n1 2 blank ''\n1 3 blank ''\n"
            "2 0 blank ''\n2 1 text 'Arts & Humanities'\n2 2 text 'Caf\\xe9 \\u20ac'\n2 3 number 7.0\n"
            "3 0 blank ''\n3 1 text 'Arts & Humanities'\n3 2 text ''\n3 3 number 0.0\n"
            "4 0 text 'Site Category : News '\n4 1 blank ''\n4 2 blank ''\n4 3 blank ''\n"
            "5 0 blank ''\n5 1 text 'News'\n5 2 text 'Daily Paper'\n5 3 number -12.0\n"
            "width 0 400\nwidth 1 6624\nwidth 2 7200\nwidth 3 1800\n");
  std::filesystem::remove_all(dir);
}

}  // namespace
