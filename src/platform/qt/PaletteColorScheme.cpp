#include "platform/qt/PaletteColorScheme.h"

#include <QApplication>
#include <QPalette>

namespace marrowick::platform {

uint32_t TPaletteColorScheme::SystemColorRgb(int number) const {
  QPalette palette = QApplication::palette();
  auto rgb = [](const QColor& color) { return static_cast<uint32_t>(color.rgb() & 0xFFFFFF); };
  switch (number) {
    case clBtnFaceNumber: return rgb(palette.color(QPalette::Button));
    case clWindowNumber: return rgb(palette.color(QPalette::Base));
    case clWindowTextNumber: return rgb(palette.color(QPalette::Text));
    case clHighlightNumber: return rgb(palette.color(QPalette::Highlight));
    case clHighlightTextNumber: return rgb(palette.color(QPalette::HighlightedText));
    case clBtnShadowNumber: return rgb(palette.color(QPalette::Dark));
    case clBtnTextNumber: return rgb(palette.color(QPalette::ButtonText));
    case clGrayTextNumber: return rgb(palette.color(QPalette::Disabled, QPalette::Text));
    case clInfoBkNumber: return rgb(palette.color(QPalette::ToolTipBase));
    case clInfoTextNumber: return rgb(palette.color(QPalette::ToolTipText));
    default: return TStandardColorScheme().SystemColorRgb(number);
  }
}

}  // namespace marrowick::platform
