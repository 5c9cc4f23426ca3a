// The application's standard display of an error that a command did not
// handle: a message box with the error icon, captioned with the application
// title. Every handler of the program runs through it.
#pragma once

#include <exception>
#include <functional>
#include <string>

#include "platform/qt/MessageBoxes.h"

namespace marrowick {

// The shown text: the message with "." appended when it is not empty and its
// last byte sorts after ".".
std::string ErrorDisplayText(const std::string& message);

class TErrorDisplay {
 public:
  explicit TErrorDisplay(platform::IMessageBoxes& boxes) : boxes_(&boxes) {}

  void ShowMessage(const std::string& message);
  void ShowException(const std::exception& error) { ShowMessage(error.what()); }

  // Runs handler; an error escaping it ends the handler and is shown. True
  // when the handler ran to its end.
  bool Run(const std::function<void()>& handler);

  platform::IMessageBoxes& MessageBoxes() { return *boxes_; }

 private:
  platform::IMessageBoxes* boxes_;
};

}  // namespace marrowick
