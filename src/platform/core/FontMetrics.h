// Fonts as the design names them, and the measurements the grid's geometry
// needs of them. Fonts are data ("MS Sans Serif", 8 points); the widgets
// draw with whatever the desktop's font matching gives for the name, the
// exports write the name and size as they stand.
#pragma once

#include <cstdint>
#include <string>

namespace marrowick::platform {

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

struct TFontSpec {
  std::string Name = "MS Sans Serif";
  int Size = 8;            // points
  uint32_t Color = 0x80000008;  // a colour value as TColorValue holds it (window text)
  uint8_t Style = 0;       // TFontStyle bits

  bool Bold() const { return (Style & fsBold) != 0; }
  bool Italic() const { return (Style & fsItalic) != 0; }
  bool Underline() const { return (Style & fsUnderline) != 0; }
  bool StrikeOut() const { return (Style & fsStrikeOut) != 0; }
  friend bool operator==(const TFontSpec&, const TFontSpec&) = default;
};

class IFontMetrics {
 public:
  virtual ~IFontMetrics() = default;
  // The height in pixels of a line of text in the font (ascent + descent).
  virtual int TextHeight(const TFontSpec& font) = 0;
  // The width in pixels of the text (Windows-1252 bytes) in the font.
  virtual int TextWidth(const TFontSpec& font, const std::string& text) = 0;
};

}  // namespace marrowick::platform
