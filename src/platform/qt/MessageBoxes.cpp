#include "platform/qt/MessageBoxes.h"

#include <QMessageBox>

#include "platform/qt/AnsiText.h"

namespace marrowick::platform {

namespace {

void ShowBox(QWidget* parent, QMessageBox::Icon icon, const std::string& text) {
  QMessageBox box(icon, QString::fromLatin1(kApplicationTitle), AnsiToQString(text),
                  QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace

void TQtMessageBoxes::ShowNotice(const std::string& text) {
  ShowBox(parent_, QMessageBox::NoIcon, text);
}

void TQtMessageBoxes::ShowError(const std::string& text) {
  ShowBox(parent_, QMessageBox::Critical, text);
}

bool TQtMessageBoxes::AskOkCancel(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Question, AnsiToQString(caption), AnsiToQString(text),
                  QMessageBox::Ok | QMessageBox::Cancel, parent_);
  box.setDefaultButton(QMessageBox::Ok);
  return box.exec() == QMessageBox::Ok;
}

}  // namespace marrowick::platform
