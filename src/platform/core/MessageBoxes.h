// Message boxes captioned with the application title. Texts are the
// program's 8-bit (Windows-1252) strings. Qt-free: the grid's core and the
// program ask through this interface, tests answer it ahead of time.
#pragma once

#include <string>

namespace marrowick::platform {

// The caption of every message box but the grid's confirmation.
inline constexpr const char* kApplicationTitle = "Marrowick";

class IMessageBoxes {
 public:
  virtual ~IMessageBoxes() = default;

  // A simple notice: the text, no icon, one OK button.
  virtual void ShowNotice(const std::string& text) = 0;

  // An error: the text with the error icon and one OK button.
  virtual void ShowError(const std::string& text) = 0;

  // A question with the question icon and the buttons OK and Cancel, under
  // the given caption. True for OK; Cancel and closing the box give false.
  virtual bool AskOkCancel(const std::string& text, const std::string& caption) = 0;
};

}  // namespace marrowick::platform
