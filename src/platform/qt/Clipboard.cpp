#include "platform/qt/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

#include "platform/qt/AnsiText.h"

namespace marrowick::platform {

void TQtClipboard::SetText(const std::string& text) {
  QGuiApplication::clipboard()->setText(AnsiToQString(text));
}

std::string TQtClipboard::Text() { return QStringToAnsi(QGuiApplication::clipboard()->text()); }

}  // namespace marrowick::platform
