#include "platform/qt/Clipboard.h"

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "platform/qt/AnsiText.h"

namespace marrowick::platform {

void TQtClipboard::SetText(const std::string& text) {
  QGuiApplication::clipboard()->setText(AnsiToQString(text));
}

std::string TQtClipboard::Text() { return QStringToAnsi(QGuiApplication::clipboard()->text()); }

void TQtClipboard::SetSecretText(const std::string& text) {
  auto* data = new QMimeData();
  data->setText(AnsiToQString(text));
  data->setData(QString::fromLatin1(kPasswordHintType), QByteArray(kPasswordHintValue));
  QGuiApplication::clipboard()->setMimeData(data);  // the clipboard owns it
}

bool TQtClipboard::ClearSecretText(const std::string& text) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  const QMimeData* data = clipboard->mimeData();
  // Whatever was copied since, here or in another program, lacks the hint
  // or holds another text, and stays.
  if (data == nullptr || data->data(QString::fromLatin1(kPasswordHintType)) != QByteArray(kPasswordHintValue) ||
      data->text() != AnsiToQString(text)) {
    return false;
  }
  clipboard->clear();
  return true;
}

}  // namespace marrowick::platform
