// The grid as one Excel 4.0 worksheet: a BIFF4 worksheet record stream.
//
// Every record is  u16 identifier, u16 body length, body  (little-endian):
//
//   BOF        0409  version 0, type 0x0010 (worksheet), 0
//   GUTS       0080  four zero u16
//   PALETTE    0092  u16 count 13, 13 x (red, green, blue, 0): indexes 8-20
//   FONT       0231  u16 height (twips), u16 flags (bold 1, italic 2,
//                    underlined 4, struck out 8), u16 colour index,
//                    u8 name length, name
//   XF         0443  12 bytes of the BIFF4 XF layout
//   COLINFO    007D  u16 first, u16 last, u16 width (1/256 character),
//                    u16 XF 15, u16 flags 0, u16 0
//   DIMENSIONS 0200  0, 0xFFFF, 0, 0x00FF, 0 (constants)
//   BLANK      0201  u16 row, u16 column, u16 XF
//   LABEL      0204  u16 row, u16 column, u16 XF, u16 length, text
//   NUMBER     0203  u16 row, u16 column, u16 XF, IEEE double
//   RK         027E  u16 row, u16 column, u16 XF, u32 integer x 4 + 2
//   EOF        000A  empty
//
// File: BOF, GUTS, PALETTE, 9 + n FONT (four fixed "Arial", the grid's,
// header's, group rows', band's and row footers' fonts, one per exported
// column), 29 + n XF, g + n COLINFO, DIMENSIONS, the header row, the rows,
// EOF. n is the number of exported (visible) columns, g the number of group
// columns: the first g sheet columns are indent columns, 400 wide, where a
// group row of level L holds its text in column L; exported column i is
// sheet column g + i. Texts are the grid's Windows-1252 bytes, at most 255
// to a cell. Data cells by the column's field type: integers in RK form (as
// a NUMBER outside the RK range), floating and fixed-point numbers as
// NUMBER, raw bytes as the LABEL of their hexadecimal text, everything else
// as the LABEL of its display text; a column without a field gets an empty
// LABEL.
//
// A worksheet holds at most 65536 rows and 256 columns, and its XF records
// name fonts with one byte: a grid that does not fit fails the export with
// an EExportError instead of writing a sheet whose rows or columns wrap.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "export/GridExport.h"

namespace exports {

class TDBGridExportExcel : public TDBGridExport {
 public:
  using TDBGridExport::TDBGridExport;

  static constexpr int kMaxRows = 65536;
  static constexpr int kMaxColumns = 256;
  // Fonts 10 + i of the exported columns must fit the XF's font byte.
  static constexpr int kMaxExportedColumns = 246;
  static constexpr int kMaxLabelLength = 255;

 protected:
  void DoBeginWriting() override;
  void DoEndWriting() override;
  void DoWriteHeader() override;
  void DoWriteRecord(const IExportRow& row) override;

 private:
  // The current sheet row; raises EExportError past the sheet's last row.
  uint16_t SheetRow() const;

  void Record(uint16_t id, uint16_t length);
  void CellHead(uint16_t id, uint16_t length, uint16_t row, uint16_t column, uint16_t xf);
  void U8(uint8_t value) { buffer_ += static_cast<char>(value); }
  void U16(uint16_t value);
  void U32(uint32_t value);
  void Bytes(std::initializer_list<uint8_t> bytes);
  void Font(const marrowick::platform::TFontSpec& font, uint16_t colorIndex);
  void Blank(uint16_t row, uint16_t column, uint16_t xf);
  void Label(uint16_t row, uint16_t column, uint16_t xf, std::string_view text);
  // A LABEL of the row's text for the column.
  void LabelOfText(uint16_t row, uint16_t column, uint16_t xf, const IExportRow& source, int columnIndex);
  void Number(uint16_t row, uint16_t column, uint16_t xf, double value);
  void DataCell(uint16_t row, int exportedColumn, const IExportRow& source);
  void Flush();

  std::string buffer_;  // records of one row (or of the file's head), written with one call
};

}  // namespace exports
