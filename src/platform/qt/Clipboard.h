// The application's clipboard as text.
#pragma once

#include "platform/core/Clipboard.h"

namespace marrowick::platform {

class TQtClipboard : public IClipboard {
 public:
  void SetText(const std::string& text) override;
  std::string Text() override;
};

}  // namespace marrowick::platform
