// System colours answered from the application's palette, so the grid and
// the exports follow the desktop's theme in the running program.
#pragma once

#include "platform/core/ColorScheme.h"

namespace marrowick::platform {

class TPaletteColorScheme : public IColorScheme {
 public:
  // Numbers the palette has no role for answer the standard scheme's value.
  uint32_t SystemColorRgb(int number) const override;
};

}  // namespace marrowick::platform
