#include "export/HtmlExport.h"

#include <array>
#include <cstdio>

#include "platform/core/Windows1252.h"

namespace exports {

namespace {

// Unicode code points of the Windows-1252 bytes 128-255, read once from the
// engine's code page converter.
const std::array<uint32_t, 128>& UpperHalfCodePoints() {
  static const std::array<uint32_t, 128> table = [] {
    std::string bytes;
    for (int b = 128; b < 256; ++b) bytes += static_cast<char>(b);
    const std::string utf8 = tessel::Cp1252ToUtf8(bytes);
    std::array<uint32_t, 128> points{};
    size_t at = 0;
    for (uint32_t& point : points) {
      // Every byte converts to one character of one to three UTF-8 bytes.
      unsigned char lead = at < utf8.size() ? static_cast<unsigned char>(utf8[at]) : '?';
      int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : 3;
      point = length == 1 ? lead : lead & (length == 2 ? 0x1F : 0x0F);
      for (int k = 1; k < length; ++k) {
        point = (point << 6) | (static_cast<unsigned char>(utf8[at + static_cast<size_t>(k)]) & 0x3F);
      }
      at += static_cast<size_t>(length);
    }
    return points;
  }();
  return table;
}

void AppendDecimal(std::string& out, long long value) { out += std::to_string(value); }

}  // namespace

std::string ColorText(TColorValue color, const IColorScheme& scheme) {
  if (color == clNone) return "000000";
  char text[8];
  std::snprintf(text, sizeof text, "%06X", marrowick::platform::ResolveColorRgb(color, scheme) & 0xFFFFFFu);
  return text;
}

void AppendHtmlText(std::string& out, std::string_view text) {
  size_t plain = 0;  // start of the run of bytes written as they are
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    const char* entity = nullptr;
    switch (byte) {
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '>': entity = "&gt;"; break;
      case '"': entity = "&quot;"; break;
      default:
        if (byte < 128) continue;
    }
    out.append(text.data() + plain, i - plain);
    plain = i + 1;
    if (entity != nullptr) {
      out += entity;
    } else {
      out += "&#";
      AppendDecimal(out, UpperHalfCodePoints()[byte - 128]);
      out += ';';
    }
  }
  out.append(text.data() + plain, text.size() - plain);
}

void TDBGridExportHTML::GetFontStyle(const TFontSpec& font, std::string& openTags, std::string& closeTags) {
  openTags.clear();
  closeTags.clear();
  if (font.Bold()) openTags += "<B>";
  if (font.Italic()) openTags += "<I>";
  if (font.Underline()) openTags += "<U>";
  if (font.StrikeOut()) openTags += "<STRIKE>";
  if (font.StrikeOut()) closeTags += "</STRIKE>";
  if (font.Underline()) closeTags += "</U>";
  if (font.Italic()) closeTags += "</I>";
  if (font.Bold()) closeTags += "</B>";
}

const char* TDBGridExportHTML::GetHTMLAlignment(TAlignment alignment) {
  switch (alignment) {
    case taRightJustify: return "RIGHT";
    case taCenter: return "CENTER";
    case taLeftJustify: break;
  }
  return "LEFT";
}

void TDBGridExportHTML::WriteLn(std::string_view text) {
  line_.assign(text);
  line_ += "\r\n";
  Write(line_);
}

void TDBGridExportHTML::AppendContent(const std::string& text, const TTags& tags) {
  if (text.empty()) {
    line_ += "&nbsp;";
    return;
  }
  line_ += tags.Open;
  AppendHtmlText(line_, text);
  line_ += tags.Close;
}

void TDBGridExportHTML::AppendCellContent(const IExportRow& row, int columnIndex, const TTags& tags) {
  // The text is appended where it belongs and escaped there only when it
  // holds a byte that needs it, which most texts do not.
  const size_t cell = line_.size();
  line_ += tags.Open;
  const size_t start = line_.size();
  row.AppendText(columnIndex, line_);
  if (line_.size() == start) {
    line_.resize(cell);
    line_ += "&nbsp;";
    return;
  }
  size_t special = start;
  while (special < line_.size()) {
    const unsigned char byte = static_cast<unsigned char>(line_[special]);
    if (byte >= 128 || byte == '&' || byte == '<' || byte == '>' || byte == '"') break;
    ++special;
  }
  if (special < line_.size()) {
    scratch_.assign(line_, special);
    line_.resize(special);
    AppendHtmlText(line_, scratch_);
  }
  line_ += tags.Close;
}

void TDBGridExportHTML::AppendIndentCell() {
  line_ += "<TD NOWRAP BGCOLOR=#";
  line_ += groupColor_;
  line_ += " WIDTH=10></TD>";
}

void TDBGridExportHTML::DoBeginWriting() {
  const TExportAppearance& look = Grid.Appearance();
  auto styleClass = [this](const char* name, const TFontSpec& font, TColorValue color) {
    std::string line = std::string(".") + name + "{font-family: " + font.Name +
                       "; font-size: " + std::to_string(font.Size) + "pt; color: #" + Color(color) + "}";
    WriteLn(line);
  };
  WriteLn("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2//EN\">");
  WriteLn("<HTML>");
  WriteLn("<HEAD>");
  std::string title = "<TITLE>";
  AppendHtmlText(title, look.Name);
  title += "</TITLE> ";
  WriteLn(title);
  WriteLn("<STYLE>");
  WriteLn("<!--");
  styleClass("Band", look.BandFont, look.BandFont.Color);
  styleClass("Header", look.HeaderFont, look.HeaderFont.Color);
  styleClass("Footer", look.Font, look.Font.Color);
  styleClass("RowFooter", look.Font, look.RowFooterTextColor);
  styleClass("Group", look.Font, look.GroupNodeTextColor);
  WriteLn("-->");
  WriteLn("</STYLE>");
  WriteLn("</HEAD> ");
  WriteLn("<BODY BGCOLOR=#C0C0C0>");
  if (look.BorderStyle == bsSingle) WriteLn("<TABLE BORDER=1 CELLSPACING=0 CELLPADDING=1 BGCOLOR=#C0C0C0><TR><TD>");
  const char* table = !look.ShowGrid ? "BORDER=0 CELLSPACING=0 CELLPADDING=2"
                      : look.Ctl3D   ? "BORDER=1 CELLSPACING=0 CELLPADDING=1"
                                     : "BORDER=0 CELLSPACING=1 CELLPADDING=2";
  WriteLn(std::string("<TABLE ") + table + " BGCOLOR=#C0C0C0>");

  groupColor_ = Color(look.GroupNodeColor);
  groupTags_ = TTags(look.Font);
  cellStarts_.clear();
  cellTags_.clear();
  for (const TExportHeader& header : Headers) {
    const TFontSpec& font = header.Font;
    std::string start = std::string("<TD NOWRAP ALIGN=\"") + GetHTMLAlignment(header.Alignment) +
                        "\" BGCOLOR=#" + Color(header.Color) + "><FONT STYLE=\"font-family: ";
    AppendHtmlText(start, font.Name);
    start += "; font-size: " + std::to_string(font.Size) + "pt; color: #" + Color(font.Color) + "\">";
    cellStarts_.push_back(std::move(start));
    cellTags_.emplace_back(font);
  }
}

void TDBGridExportHTML::DoWriteHeader() {
  const TExportAppearance& look = Grid.Appearance();
  auto indentHeaderCell = [this] {
    if (GroupColumnCount > 0) {
      line_ += "<TD NOWRAP WIDTH=10 COLSPAN=";
      AppendDecimal(line_, GroupColumnCount);
      line_ += "></TD>";
    }
  };
  if (look.ShowBands) {
    line_ = "<TR VALIGN=\"TOP\" class=\"Band\" BGCOLOR=#" + Color(look.BandColor) + ">";
    indentHeaderCell();
    for (const TExportBand& band : look.Bands) {
      line_ += "<TD NOWRAP COLSPAN=";
      AppendDecimal(line_, band.HeaderCellCount);
      line_ += " ALIGN=\"";
      line_ += GetHTMLAlignment(band.Alignment);
      line_ += "\" HEIGHT=";
      AppendDecimal(line_, look.BandPanelHeight);
      line_ += ">";
      AppendContent(band.Text, TTags(look.BandFont));
      line_ += "</TD>";
    }
    line_ += "</TR>\r\n";
    Write(line_);
  }
  if (look.ShowHeader) {
    line_ = "<TR VALIGN=\"TOP\" class=\"Header\" BGCOLOR=#" + Color(look.HeaderColor) + ">";
    indentHeaderCell();
    const TTags headerTags(look.HeaderFont);
    for (const TExportHeader& header : Headers) {
      line_ += "<TD NOWRAP WIDTH=";
      AppendDecimal(line_, header.Width);
      line_ += " ALIGN=\"";
      line_ += GetHTMLAlignment(header.HeaderAlignment);
      line_ += "\">";
      AppendContent(header.Text, headerTags);
      line_ += "</TD>";
    }
    line_ += "</TR>\r\n";
    Write(line_);
  }
}

void TDBGridExportHTML::DoWriteRecord(const IExportRow& row) {
  if (row.IsGroup()) {
    const int level = row.Level();
    line_ = "<TR class=\"Group\" BGCOLOR=#";
    line_ += groupColor_;
    line_ += ">";
    for (int i = 0; i < level; ++i) AppendIndentCell();
    line_ += "<TD NOWRAP ALIGN=\"LEFT\" COLSPAN=";
    AppendDecimal(line_, static_cast<long long>(Headers.size()) + GroupColumnCount - level);
    line_ += ">";
    AppendCellContent(row, 0, groupTags_);
    line_ += "</TD></TR>\r\n";
    Write(line_);
    return;
  }
  line_ = "<TR>";
  for (int i = 0; i < GroupColumnCount; ++i) AppendIndentCell();
  for (size_t i = 0; i < Headers.size(); ++i) {
    line_ += cellStarts_[i];
    AppendCellContent(row, Headers[i].ColumnIndex, cellTags_[i]);
    line_ += "</FONT></TD>";
  }
  line_ += "</TR>\r\n";
  Write(line_);
}

void TDBGridExportHTML::DoEndWriting() {
  WriteLn("</TABLE>");
  if (Grid.Appearance().BorderStyle == bsSingle) WriteLn("</TD></TR></TABLE>");
  WriteLn("</BODY>");
  WriteLn("</HTML>");
}

}  // namespace exports
