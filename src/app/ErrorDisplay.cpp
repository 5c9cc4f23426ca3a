#include "app/ErrorDisplay.h"

namespace marrowick {

std::string ErrorDisplayText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') {
    return message + '.';
  }
  return message;
}

void TErrorDisplay::ShowMessage(const std::string& message) {
  boxes_->ShowError(ErrorDisplayText(message));
}

bool TErrorDisplay::Run(const std::function<void()>& handler) {
  try {
    handler();
    return true;
  } catch (const std::exception& error) {
    ShowException(error);
    return false;
  }
}

}  // namespace marrowick
