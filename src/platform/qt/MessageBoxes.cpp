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

}  // namespace marrowick::platform
