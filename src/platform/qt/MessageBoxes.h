// Message boxes captioned with the application title. Texts are the
// program's 8-bit (Windows-1252) strings.
#pragma once

#include <string>

#include "platform/core/MessageBoxes.h"

class QWidget;

namespace marrowick::platform {

// Modal QMessageBox dialogs over the given parent window.
class TQtMessageBoxes : public IMessageBoxes {
 public:
  explicit TQtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}

  void SetParent(QWidget* parent) { parent_ = parent; }

  void ShowNotice(const std::string& text) override;
  void ShowError(const std::string& text) override;
  bool AskOkCancel(const std::string& text, const std::string& caption) override;

 private:
  QWidget* parent_;
};

}  // namespace marrowick::platform
