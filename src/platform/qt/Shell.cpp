#include "platform/qt/Shell.h"

#include <QDesktopServices>
#include <QUrl>

#include "platform/qt/AnsiText.h"

namespace marrowick::platform {

bool TQtShell::OpenAddress(const std::string& text) {
  std::optional<std::string> address = OpenableAddress(text);
  if (!address) return false;
  QUrl url(AnsiToQString(*address), QUrl::TolerantMode);
  if (!url.isValid()) return false;
  return QDesktopServices::openUrl(url);
}

}  // namespace marrowick::platform
