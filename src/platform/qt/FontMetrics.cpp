#include "platform/qt/FontMetrics.h"

#include <QFontMetrics>

#include "platform/qt/AnsiText.h"

namespace marrowick::platform {

QFont ToQFont(const TFontSpec& font) {
  QFont result(QString::fromLatin1(font.Name.c_str()));
  result.setPointSize(font.Size > 0 ? font.Size : 8);
  result.setBold(font.Bold());
  result.setItalic(font.Italic());
  result.setUnderline(font.Underline());
  result.setStrikeOut(font.StrikeOut());
  return result;
}

QColor ToQColor(TColorValue color, const IColorScheme& scheme) {
  return QColor::fromRgb(static_cast<QRgb>(ResolveColorRgb(color, scheme)));
}

int TQtFontMetrics::TextHeight(const TFontSpec& font) { return QFontMetrics(ToQFont(font)).height(); }

int TQtFontMetrics::TextWidth(const TFontSpec& font, const std::string& text) {
  return QFontMetrics(ToQFont(font)).horizontalAdvance(AnsiToQString(text));
}

}  // namespace marrowick::platform
