// Message boxes captioned with the application title. Texts are the
// program's 8-bit (Windows-1252) strings.
#pragma once

#include <string>

class QWidget;

namespace marrowick::platform {

// The caption of every message box.
inline constexpr const char* kApplicationTitle = "Marrowick";

class IMessageBoxes {
 public:
  virtual ~IMessageBoxes() = default;

  // A simple notice: the text, no icon, one OK button.
  virtual void ShowNotice(const std::string& text) = 0;

  // An error: the text with the error icon and one OK button.
  virtual void ShowError(const std::string& text) = 0;
};

// Modal QMessageBox dialogs over the given parent window.
class TQtMessageBoxes : public IMessageBoxes {
 public:
  explicit TQtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}

  void SetParent(QWidget* parent) { parent_ = parent; }

  void ShowNotice(const std::string& text) override;
  void ShowError(const std::string& text) override;

 private:
  QWidget* parent_;
};

}  // namespace marrowick::platform
