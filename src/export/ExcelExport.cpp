#include "export/ExcelExport.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "export/ExportError.h"

namespace exports {

namespace {

constexpr uint16_t kBof = 0x0409;
constexpr uint16_t kGuts = 0x0080;
constexpr uint16_t kPalette = 0x0092;
constexpr uint16_t kFont = 0x0231;
constexpr uint16_t kXf = 0x0443;
constexpr uint16_t kColInfo = 0x007D;
constexpr uint16_t kDimensions = 0x0200;
constexpr uint16_t kBlank = 0x0201;
constexpr uint16_t kNumber = 0x0203;
constexpr uint16_t kLabel = 0x0204;
constexpr uint16_t kRk = 0x027E;
constexpr uint16_t kEof = 0x000A;

// Cell XFs.
constexpr uint16_t kXfHeader = 22;
constexpr uint16_t kXfGroup = 23;  // group rows and indent cells
constexpr uint16_t kXfBand = 26;
constexpr uint16_t kXfFirstColumn = 29;

constexpr int kIndentColumnWidth = 400;
constexpr int kFirstColumnFont = 10;

// The XFs 0 to 28 apart from 21, whose borders follow the grid lines.
using TXfBody = std::array<uint8_t, 12>;
constexpr TXfBody kStyleXf0 = {0x00, 0x00, 0xF5, 0xFF, 0x20, 0x00, 0x00, 0xCE, 0, 0, 0, 0};
constexpr TXfBody kStyleXf1 = {0x01, 0x00, 0xF5, 0xFF, 0x20, 0xF4, 0x00, 0xCE, 0, 0, 0, 0};
constexpr TXfBody kStyleXf3 = {0x02, 0x00, 0xF5, 0xFF, 0x20, 0xF4, 0x00, 0xCE, 0, 0, 0, 0};
constexpr TXfBody kStyleXf5 = {0x00, 0x00, 0xF5, 0xFF, 0x20, 0xF4, 0x00, 0xCE, 0, 0, 0, 0};
constexpr TXfBody kCellXf15 = {0x00, 0x00, 0x01, 0x00, 0x20, 0x00, 0x00, 0xCE, 0, 0, 0, 0};
constexpr std::array<TXfBody, 5> kStyleXf16To20 = {{
    {0x01, 0x21, 0xF5, 0xFF, 0x20, 0xF8, 0x00, 0xCE, 0, 0, 0, 0},
    {0x01, 0x1F, 0xF5, 0xFF, 0x20, 0xF8, 0x00, 0xCE, 0, 0, 0, 0},
    {0x01, 0x20, 0xF5, 0xFF, 0x20, 0xF8, 0x00, 0xCE, 0, 0, 0, 0},
    {0x01, 0x1E, 0xF5, 0xFF, 0x20, 0xF8, 0x00, 0xCE, 0, 0, 0, 0},
    {0x01, 0x0D, 0xF5, 0xFF, 0x20, 0xF8, 0x00, 0xCE, 0, 0, 0, 0},
}};
constexpr std::array<TXfBody, 7> kCellXf22To28 = {{
    {0x06, 0x00, 0x01, 0x00, 0x22, 0x78, 0x41, 0x02, 0x71, 0x71, 0x71, 0x71},  // header cells
    {0x07, 0x00, 0x01, 0x00, 0x21, 0x78, 0xC1, 0x02, 0x00, 0x00, 0x00, 0x00},  // group rows, indents
    {0x05, 0x00, 0x01, 0x00, 0x22, 0x78, 0xC1, 0x02, 0xB9, 0xB9, 0xB9, 0xB9},  // footer summaries
    {0x05, 0x00, 0x01, 0x00, 0x22, 0x78, 0xC1, 0x02, 0xB9, 0x00, 0xB9, 0x00},  // empty footer cells
    {0x08, 0x00, 0x01, 0x00, 0x22, 0x78, 0x41, 0x02, 0x71, 0x71, 0x71, 0x00},  // band cells
    {0x09, 0x00, 0x01, 0x00, 0x21, 0x78, 0xC1, 0x02, 0xB9, 0xB9, 0xB9, 0xB9},  // row footer texts
    {0x09, 0x00, 0x01, 0x00, 0x21, 0x78, 0xC1, 0x02, 0xB9, 0x00, 0xB9, 0x00},  // empty row footer cells
}};

uint8_t AlignmentByte(TAlignment alignment) {
  switch (alignment) {
    case taRightJustify: return 0x23;
    case taCenter: return 0x22;
    case taLeftJustify: break;
  }
  return 0x21;
}

uint16_t Clamp16(long long value) { return static_cast<uint16_t>(std::clamp<long long>(value, 0, 0xFFFF)); }

std::string HexText(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (char c : bytes) {
    unsigned char b = static_cast<unsigned char>(c);
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

// The RK integer form holds 30-bit signed integers.
constexpr int64_t kRkMin = -(int64_t{1} << 29);
constexpr int64_t kRkMax = (int64_t{1} << 29) - 1;

}  // namespace

void TDBGridExportExcel::U16(uint16_t value) {
  const char bytes[2] = {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
  buffer_.append(bytes, 2);
}

void TDBGridExportExcel::U32(uint32_t value) {
  U16(static_cast<uint16_t>(value & 0xFFFF));
  U16(static_cast<uint16_t>(value >> 16));
}

void TDBGridExportExcel::Bytes(std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) U8(b);
}

void TDBGridExportExcel::Record(uint16_t id, uint16_t length) {
  U16(id);
  U16(length);
}

void TDBGridExportExcel::CellHead(uint16_t id, uint16_t length, uint16_t row, uint16_t column, uint16_t xf) {
  // The record's head and the cell's position in one append: cells are
  // most of a sheet.
  const uint16_t fields[5] = {id, length, row, column, xf};
  char bytes[10];
  for (int i = 0; i < 5; ++i) {
    bytes[2 * i] = static_cast<char>(fields[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(fields[i] >> 8);
  }
  buffer_.append(bytes, sizeof bytes);
}

void TDBGridExportExcel::Flush() {
  Write(buffer_);
  buffer_.clear();
}

uint16_t TDBGridExportExcel::SheetRow() const {
  if (RecordCounter >= kMaxRows) {
    throw EExportError("The grid has more rows than an Excel worksheet can hold (" +
                       std::to_string(kMaxRows) + ")");
  }
  return static_cast<uint16_t>(RecordCounter);
}

void TDBGridExportExcel::Font(const marrowick::platform::TFontSpec& font, uint16_t colorIndex) {
  const size_t nameLength = std::min<size_t>(font.Name.size(), 255);
  Record(kFont, static_cast<uint16_t>(nameLength + 7));
  U16(Clamp16(static_cast<long long>(font.Size) * 20));
  U16(font.Style & 0x0F);
  U16(colorIndex);
  U8(static_cast<uint8_t>(nameLength));
  buffer_.append(font.Name, 0, nameLength);
}

void TDBGridExportExcel::Blank(uint16_t row, uint16_t column, uint16_t xf) {
  CellHead(kBlank, 6, row, column, xf);
}

void TDBGridExportExcel::Label(uint16_t row, uint16_t column, uint16_t xf, std::string_view text) {
  text = text.substr(0, kMaxLabelLength);
  CellHead(kLabel, static_cast<uint16_t>(text.size() + 8), row, column, xf);
  U16(static_cast<uint16_t>(text.size()));
  buffer_.append(text);
}

void TDBGridExportExcel::LabelOfText(uint16_t row, uint16_t column, uint16_t xf, const IExportRow& source,
                                     int columnIndex) {
  // The text goes straight behind its record head, whose lengths are filled
  // in once it is there.
  const size_t head = buffer_.size();
  CellHead(kLabel, 0, row, column, xf);
  U16(0);
  const size_t start = buffer_.size();
  source.AppendText(columnIndex, buffer_);
  const size_t length = std::min<size_t>(buffer_.size() - start, kMaxLabelLength);
  buffer_.resize(start + length);
  buffer_[head + 2] = static_cast<char>((length + 8) & 0xFF);
  buffer_[head + 3] = static_cast<char>((length + 8) >> 8);
  buffer_[start - 2] = static_cast<char>(length & 0xFF);
  buffer_[start - 1] = static_cast<char>(length >> 8);
}

void TDBGridExportExcel::Number(uint16_t row, uint16_t column, uint16_t xf, double value) {
  CellHead(kNumber, 14, row, column, xf);
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  U32(static_cast<uint32_t>(bits & 0xFFFFFFFFu));
  U32(static_cast<uint32_t>(bits >> 32));
}

void TDBGridExportExcel::DoBeginWriting() {
  const int g = GroupColumnCount;
  const int n = static_cast<int>(Headers.size());
  if (n > kMaxExportedColumns || g + n > kMaxColumns) {
    throw EExportError("The grid has more columns than an Excel worksheet can hold (" +
                       std::to_string(std::min(kMaxExportedColumns, kMaxColumns - g)) + ")");
  }
  const TExportAppearance& look = Grid.Appearance();
  buffer_.clear();

  Record(kBof, 6);
  Bytes({0x00, 0x00, 0x10, 0x00, 0x00, 0x00});
  Record(kGuts, 8);
  Bytes({0, 0, 0, 0, 0, 0, 0, 0});

  const std::array<TColorValue, 13> palette = {
      look.HeaderFont.Color,                       // 8
      look.HeaderColor,                            // 9
      look.GroupNodeTextColor,                     // 10
      look.GroupNodeColor,                         // 11
      look.Font.Color,                             // 12
      look.Color,                                  // 13
      marrowick::platform::SystemColor(6),         // 14 window frame
      marrowick::platform::clWindow,               // 15
      look.BandFont.Color,                         // 16
      look.BandColor,                              // 17
      look.RowFooterTextColor,                     // 18
      look.RowFooterColor,                         // 19
      look.GridLineColor,                          // 20
  };
  Record(kPalette, 2 + 4 * palette.size());
  U16(palette.size());
  for (TColorValue color : palette) {
    const uint32_t rgb = color == clNone ? 0 : marrowick::platform::ResolveColorRgb(color, Scheme);
    Bytes({static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb), 0});
  }

  for (int i = 0; i < 4; ++i) {
    Record(kFont, 12);
    Bytes({0xC8, 0x00, 0x00, 0x00, 0xFF, 0x7F, 0x05, 'A', 'r', 'i', 'a', 'l'});
  }
  Font(look.Font, 12);
  Font(look.HeaderFont, 8);
  Font(look.Font, 10);
  Font(look.BandFont, 16);
  Font(look.Font, 18);
  for (const TExportHeader& header : Headers) Font(header.Font, 12);

  const uint8_t border = look.ShowGrid ? 0xA1 : 0x00;
  auto xf = [this](const TXfBody& body) {
    Record(kXf, 12);
    buffer_.append(reinterpret_cast<const char*>(body.data()), body.size());
  };
  xf(kStyleXf0);
  xf(kStyleXf1);
  xf(kStyleXf1);
  xf(kStyleXf3);
  xf(kStyleXf3);
  for (int i = 5; i <= 14; ++i) xf(kStyleXf5);
  xf(kCellXf15);
  for (const TXfBody& body : kStyleXf16To20) xf(body);
  xf({0x05, 0x00, 0x01, 0x00, 0x21, 0x78, 0x41, 0x03, border, border, border, border});
  for (const TXfBody& body : kCellXf22To28) xf(body);
  for (int i = 0; i < n; ++i) {
    xf({static_cast<uint8_t>(kFirstColumnFont + i), 0x00, 0x01, 0x00, AlignmentByte(Headers[i].Alignment),
        0x78, 0x41, 0x03, border, border, border, border});
  }

  auto colInfo = [this](int column, uint16_t width) {
    Record(kColInfo, 12);
    U16(static_cast<uint16_t>(column));
    U16(static_cast<uint16_t>(column));
    U16(width);
    U16(15);
    U16(0);
    U16(0);
  };
  for (int j = 0; j < g; ++j) colInfo(j, kIndentColumnWidth);
  // The width in 1/256 of a character; wider than the field holds is cut to
  // its largest value rather than wrapped round to a narrow column.
  for (int i = 0; i < n; ++i) colInfo(g + i, Clamp16(static_cast<long long>(Headers[i].Width) * 36));

  Record(kDimensions, 10);
  Bytes({0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00});
  Flush();
}

void TDBGridExportExcel::DoWriteHeader() {
  const TExportAppearance& look = Grid.Appearance();
  const int g = GroupColumnCount;
  const int n = static_cast<int>(Headers.size());
  if (look.ShowBands) {
    const uint16_t row = SheetRow();
    for (int column = 0; column < g + n; ++column) Blank(row, static_cast<uint16_t>(column), kXfGroup);
    int cellsBefore = 0;
    for (const TExportBand& band : look.Bands) {
      Label(row, Clamp16(g + cellsBefore), kXfBand, band.Text);
      cellsBefore += band.HeaderCellCount;
    }
    Flush();
    ++RecordCounter;
  }
  if (look.ShowHeader) {
    const uint16_t row = SheetRow();
    for (int j = 0; j < g; ++j) Blank(row, static_cast<uint16_t>(j), kXfGroup);
    for (int i = 0; i < n; ++i) Label(row, static_cast<uint16_t>(g + i), kXfHeader, Headers[i].Text);
    Flush();
    ++RecordCounter;
  }
}

void TDBGridExportExcel::DataCell(uint16_t row, int i, const IExportRow& source) {
  const TExportHeader& header = Headers[static_cast<size_t>(i)];
  const uint16_t column = static_cast<uint16_t>(GroupColumnCount + i);
  const uint16_t xf = static_cast<uint16_t>(kXfFirstColumn + i);
  if (!header.HasField) {
    Label(row, column, xf, "");
    return;
  }
  switch (header.FieldType) {
    case dataset::ftSmallint:
    case dataset::ftInteger:
    case dataset::ftWord:
    case dataset::ftAutoInc: {
      const dataset::Variant value = source.Value(header.ColumnIndex);
      const int64_t number = value.IsNull() ? 0 : value.ToInteger();
      if (number < kRkMin || number > kRkMax) {
        Number(row, column, xf, static_cast<double>(number));
        return;
      }
      CellHead(kRk, 10, row, column, xf);
      U32(static_cast<uint32_t>(number) * 4u + 2u);
      return;
    }
    case dataset::ftFloat:
    case dataset::ftCurrency:
    case dataset::ftBCD: {
      const dataset::Variant value = source.Value(header.ColumnIndex);
      Number(row, column, xf, value.IsNull() ? 0.0 : value.ToDouble());
      return;
    }
    case dataset::ftBytes:
    case dataset::ftVarBytes: {
      const dataset::Variant value = source.Value(header.ColumnIndex);
      Label(row, column, xf, value.IsClear() ? std::string() : HexText(value.ToBytes()));
      return;
    }
    default:
      // Memos and every other type: the display text (Label cuts it to 255).
      LabelOfText(row, column, xf, source, header.ColumnIndex);
  }
}

void TDBGridExportExcel::DoWriteRecord(const IExportRow& row) {
  const uint16_t sheetRow = SheetRow();
  const int g = GroupColumnCount;
  const int n = static_cast<int>(Headers.size());
  const bool group = row.IsGroup();
  const int level = row.Level();
  for (int j = 0; j < g; ++j) {
    if (group && j == level) {
      LabelOfText(sheetRow, static_cast<uint16_t>(j), kXfGroup, row, 0);
    } else {
      Blank(sheetRow, static_cast<uint16_t>(j), kXfGroup);
    }
  }
  for (int i = 0; i < n; ++i) {
    if (group) {
      Blank(sheetRow, static_cast<uint16_t>(g + i), kXfGroup);
    } else {
      DataCell(sheetRow, i, row);
    }
  }
  Flush();
}

void TDBGridExportExcel::DoEndWriting() {
  buffer_.clear();
  Record(kEof, 0);
  Flush();
}

}  // namespace exports
