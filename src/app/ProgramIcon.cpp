#include "app/ProgramIcon.h"

#include <QApplication>
#include <QFileInfo>
#include <QStyle>

namespace marrowick {

QIcon ProgramIcon(const std::string& programDir) {
  const QString path = QString::fromLocal8Bit(programDir.c_str()) + QString::fromLatin1(kProgramIconFile);
  if (QFileInfo(path).isFile()) {
    QIcon icon(path);
    if (!icon.isNull()) return icon;
  }
  QIcon themed = QIcon::fromTheme(QStringLiteral("marrowick"));
  if (!themed.isNull()) return themed;
  return QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
}

}  // namespace marrowick
