// The clipboard as text. Texts are the program's Windows-1252 bytes.
#pragma once

#include <string>

namespace marrowick::platform {

class IClipboard {
 public:
  virtual ~IClipboard() = default;
  virtual void SetText(const std::string& text) = 0;
  virtual std::string Text() = 0;

  // A secret (a password): the text, marked with the desktop's hint that
  // clipboard managers should not keep it in their history.
  virtual void SetSecretText(const std::string& text) { SetText(text); }
  // Empties the clipboard when it still holds the secret set with
  // SetSecretText and nothing was copied since; true when it did.
  virtual bool ClearSecretText(const std::string& text) {
    if (Text() != text) return false;
    SetText(std::string());
    return true;
  }
};

}  // namespace marrowick::platform
