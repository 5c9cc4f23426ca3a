// The application's clipboard as text. A secret carries the MIME type
// "x-kde-passwordManagerHint" with the value "secret" beside its text, the
// hint that KDE's and other clipboard managers honour by not keeping it.
#pragma once

#include "platform/core/Clipboard.h"

namespace marrowick::platform {

class TQtClipboard : public IClipboard {
 public:
  static constexpr const char* kPasswordHintType = "x-kde-passwordManagerHint";
  static constexpr const char* kPasswordHintValue = "secret";

  void SetText(const std::string& text) override;
  std::string Text() override;
  void SetSecretText(const std::string& text) override;
  bool ClearSecretText(const std::string& text) override;
};

}  // namespace marrowick::platform
