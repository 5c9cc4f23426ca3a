// The grid as one HTML 3.2 table, with the grid's colours, fonts,
// alignments, group rows and indentation. Lines end with CR LF.
//
//   head       <!DOCTYPE ...>, <HTML>, <HEAD>, <TITLE>name</TITLE> , a STYLE
//              block with the classes Band, Header, Footer, RowFooter and
//              Group, </HEAD> , <BODY BGCOLOR=#C0C0C0>, an outer one-cell
//              table when the border style is single, the grid's <TABLE>
//   band row   <TR VALIGN="TOP" class="Band" ...> (when bands are shown)
//   header row <TR VALIGN="TOP" class="Header" ...>: an indent cell of
//              COLSPAN=g, then one cell per visible header
//   group row  <TR class="Group" ...>: Level indent cells, then one cell
//              spanning the rest holding the group row text
//   data row   <TR>: g indent cells, then per visible header a cell in the
//              column's alignment and colour with a FONT element
//   end        </TABLE>, the outer table's closing, </BODY>, </HTML>
//
// Every text of the grid (cells, captions, group rows, band texts, the
// title) is escaped: "&", "<", ">" and '"' become entity references and the
// Windows-1252 characters above 127 numeric character references of their
// Unicode code points, so that no catalogue text can change the page and the
// page reads the same whatever character set a browser assumes (it declares
// none). An empty text is written as &nbsp;.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "export/GridExport.h"

namespace exports {

// Six upper-case hexadecimal digits RRGGBB; the colour none gives 000000.
std::string ColorText(TColorValue color, const IColorScheme& scheme);

// Appends the text, escaped as described above.
void AppendHtmlText(std::string& out, std::string_view text);

class TDBGridExportHTML : public TDBGridExport {
 public:
  using TDBGridExport::TDBGridExport;

  // The tags of the font's styles: <B>, <I>, <U>, <STRIKE> and their
  // closing tags in reverse order; empty for a plain font.
  static void GetFontStyle(const TFontSpec& font, std::string& openTags, std::string& closeTags);
  // "LEFT", "RIGHT" or "CENTER".
  static const char* GetHTMLAlignment(TAlignment alignment);

 protected:
  void DoBeginWriting() override;
  void DoEndWriting() override;
  void DoWriteHeader() override;
  void DoWriteRecord(const IExportRow& row) override;

  void WriteLn(std::string_view text);

 private:
  std::string Color(TColorValue color) const { return ColorText(color, Scheme); }
  // A font's tags, worked out once per export.
  struct TTags {
    std::string Open, Close;
    TTags() = default;
    explicit TTags(const TFontSpec& font) { GetFontStyle(font, Open, Close); }
  };
  // The cell content: the escaped text between the font's tags, or &nbsp;.
  void AppendContent(const std::string& text, const TTags& tags);
  // The same for the row's text for the column.
  void AppendCellContent(const IExportRow& row, int columnIndex, const TTags& tags);
  void AppendIndentCell();

  std::string line_;  // the row being assembled, written with one call
  std::string scratch_;  // the part of a cell text being escaped
  // Per visible header, the start of its data cell up to the content and
  // its font's tags (alignment, colour and font do not change during an
  // export).
  std::vector<std::string> cellStarts_;
  std::vector<TTags> cellTags_;
  std::string groupColor_;
  TTags groupTags_;
};

}  // namespace exports
