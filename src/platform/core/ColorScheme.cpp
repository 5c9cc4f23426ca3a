#include "platform/core/ColorScheme.h"

#include <array>
#include <cstddef>

namespace marrowick::platform {

namespace {

constexpr std::array<uint32_t, 25> kStandardScheme = {
    0xC0C0C0,  // 0 scroll bar
    0x008080,  // 1 desktop
    0x000080,  // 2 active caption
    0x808080,  // 3 inactive caption
    0xC0C0C0,  // 4 menu
    0xFFFFFF,  // 5 window
    0x000000,  // 6 window frame
    0x000000,  // 7 menu text
    0x000000,  // 8 window text
    0xFFFFFF,  // 9 caption text
    0xC0C0C0,  // 10 active border
    0xC0C0C0,  // 11 inactive border
    0x808080,  // 12 application workspace
    0x000080,  // 13 highlight
    0xFFFFFF,  // 14 highlight text
    0xC0C0C0,  // 15 button face
    0x808080,  // 16 button shadow
    0x808080,  // 17 grey text
    0x000000,  // 18 button text
    0xC0C0C0,  // 19 inactive caption text
    0xFFFFFF,  // 20 button highlight
    0x000000,  // 21 3D dark shadow
    0xC0C0C0,  // 22 3D light
    0x000000,  // 23 info text
    0xFFFFE1,  // 24 info background
};

}  // namespace

uint32_t TStandardColorScheme::SystemColorRgb(int number) const {
  if (number < 0 || number >= static_cast<int>(kStandardScheme.size())) return 0;
  return kStandardScheme[static_cast<size_t>(number)];
}

uint32_t ResolveColorRgb(TColorValue color, const IColorScheme& scheme) {
  if (color & kSystemColorFlag) return scheme.SystemColorRgb(static_cast<int>(color & 0xFF));
  return ((color & 0xFF) << 16) | (color & 0xFF00) | ((color >> 16) & 0xFF);
}

}  // namespace marrowick::platform
