// What the exports read of a grid: its appearance, its visible headers in
// display order, its group columns and its rows as captured strings and
// values. The grid's core implements it; tests hand the writers a row
// source of their own. The exports know nothing else of the grid.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/DataSetTypes.h"
#include "dataset/Variant.h"
#include "platform/core/ColorScheme.h"
#include "platform/core/FontMetrics.h"

namespace exports {

using marrowick::platform::TColorValue;
using marrowick::platform::TFontSpec;

// The colour "none": no colour at all (written as 000000, or 0 in a palette).
inline constexpr TColorValue clNone = 0x1FFFFFFFu;

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TBorderStyle { bsNone, bsSingle };

// One visible header cell, with what the writers need of its column.
struct TExportHeader {
  int ColumnIndex = 0;                 // the column's Index in the grid's column list
  std::string Text;                    // the header's text (the column caption)
  int Width = 0;                       // the header's width in pixels
  TAlignment HeaderAlignment = taLeftJustify;
  TAlignment Alignment = taLeftJustify;  // the column's effective alignment
  TColorValue Color = marrowick::platform::clWindow;  // the column's effective colour
  TFontSpec Font;                      // the column's effective font
  bool HasField = false;               // the column is bound to a field of the record set
  dataset::TFieldType FieldType = dataset::ftUnknown;
};

// One band (the grid's program shows none; ShowBands is false).
struct TExportBand {
  std::string Text;
  TAlignment Alignment = taCenter;
  int HeaderCellCount = 0;  // header cells in all of the band's header rows
};

struct TExportAppearance {
  std::string Name = "DBGrid1";
  TFontSpec Font;        // the grid's font
  TFontSpec BandFont;
  TFontSpec HeaderFont;  // bold in this program
  TColorValue Color = marrowick::platform::clWindow;
  TColorValue BandColor = marrowick::platform::clBtnFace;
  TColorValue HeaderColor = marrowick::platform::clBtnFace;
  TColorValue GroupNodeColor = marrowick::platform::clBtnFace;
  TColorValue GroupNodeTextColor = marrowick::platform::clWindowText;
  TColorValue RowFooterColor = marrowick::platform::clBtnFace;
  TColorValue RowFooterTextColor = marrowick::platform::clWindowText;
  TColorValue GridLineColor = marrowick::platform::clBtnFace;
  bool ShowBands = false;
  bool ShowHeader = true;
  bool ShowGrid = true;
  bool Ctl3D = true;
  TBorderStyle BorderStyle = bsSingle;
  int BandPanelHeight = 0;
  std::vector<TExportBand> Bands;
};

// One row of the grid: a group row (a node with children) or a data row.
class IExportRow {
 public:
  virtual ~IExportRow() = default;
  virtual bool IsGroup() const = 0;
  virtual int Level() const = 0;
  // The node's GetString: for a group row the group row text whatever the
  // column, for a data row the display text captured for that column.
  virtual std::string Text(int columnIndex) const = 0;
  // Appends Text(columnIndex) to out. The writers call this once per cell;
  // a row that holds its texts can append them without making a string
  // for each cell.
  virtual void AppendText(int columnIndex, std::string& out) const { out += Text(columnIndex); }
  // The node's value for a column: the typed value captured at load when
  // there is one, otherwise the display text as a string value.
  virtual dataset::Variant Value(int columnIndex) const = 0;
};

class IRowSource {
 public:
  virtual ~IRowSource() = default;

  virtual const TExportAppearance& Appearance() const = 0;

  // The visible headers in display order (bands, header rows of the band,
  // cells of the row): the order of the HTML and Excel exports.
  virtual std::vector<TExportHeader> VisibleHeaders() const = 0;
  // The visible headers in text order (header rows, bands, cells): the
  // order of the text export and the clipboard line.
  virtual std::vector<TExportHeader> TextOrderHeaders() const = 0;

  virtual int GroupColumnCount() const = 0;

  // The index of the column bound to the named field (letter case ignored),
  // shown or hidden; -1 when the grid has none. Rows answer Text for a
  // hidden column too: the bookmark export reads a site's address there
  // even when the URL column is not shown.
  virtual int FieldColumnIndex(std::string_view /*fieldName*/) const { return -1; }

  // Every row, collapsed groups included, in tree order (a group row
  // followed by its whole subtree): the rows of the HTML and Excel exports.
  virtual void ForEachRow(const std::function<void(const IExportRow&)>& visit) const = 0;
  // The rows as shown: the children of a collapsed group are left out. The
  // rows of the text export.
  virtual void ForEachVisibleRow(const std::function<void(const IExportRow&)>& visit) const = 0;

  // Called around an export, so that the grid and its record set can be
  // left as they were (controls disabled meanwhile, the current record and
  // the top row restored afterwards). Both may be empty operations.
  virtual void BeginExport() {}
  virtual void EndExport() {}
};

}  // namespace exports
