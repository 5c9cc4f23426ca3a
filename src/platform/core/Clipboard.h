// The clipboard as text. Texts are the program's Windows-1252 bytes.
#pragma once

#include <string>

namespace marrowick::platform {

class IClipboard {
 public:
  virtual ~IClipboard() = default;
  virtual void SetText(const std::string& text) = 0;
  virtual std::string Text() = 0;
};

}  // namespace marrowick::platform
