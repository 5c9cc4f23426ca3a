// Fonts of the design turned into QFonts, and their measurements.
#pragma once

#include <QColor>
#include <QFont>

#include "platform/core/ColorScheme.h"
#include "platform/core/FontMetrics.h"

namespace marrowick::platform {

// The QFont for a design font: the family name as it stands (the desktop's
// font matching picks a face), the point size and the style bits.
QFont ToQFont(const TFontSpec& font);

// A stored colour value as a QColor, system colours through the scheme.
QColor ToQColor(TColorValue color, const IColorScheme& scheme);

class TQtFontMetrics : public IFontMetrics {
 public:
  int TextHeight(const TFontSpec& font) override;
  int TextWidth(const TFontSpec& font, const std::string& text) override;
};

}  // namespace marrowick::platform
