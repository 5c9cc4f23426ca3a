// The toolbar's quick find box ("QuickFind"): what is typed narrows the
// grid as it is typed; Escape clears it, and Escape in an empty box hands
// the keyboard back to the grid.
#pragma once

#include <functional>
#include <string>

#include <QLineEdit>

namespace marrowick {

class TQuickFindBox : public QLineEdit {
  Q_OBJECT

 public:
  explicit TQuickFindBox(QWidget* parent = nullptr);

  // Receives every change of the text, as Windows-1252 bytes.
  void SetOnFind(std::function<void(const std::string&)> onFind) { onFind_ = std::move(onFind); }
  // Where Escape in an empty box sends the keyboard.
  void SetReturnFocusTo(QWidget* widget) { returnTo_ = widget; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::function<void(const std::string&)> onFind_;
  QWidget* returnTo_ = nullptr;
};

}  // namespace marrowick
