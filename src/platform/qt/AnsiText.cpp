#include "platform/qt/AnsiText.h"

#include <QByteArray>

#include "platform/core/Windows1252.h"

namespace marrowick::platform {

QString AnsiToQString(std::string_view ansi) {
  return QString::fromStdString(tessel::Cp1252ToUtf8(ansi));
}

std::string QStringToAnsi(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return tessel::Utf8ToCp1252(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

}  // namespace marrowick::platform
