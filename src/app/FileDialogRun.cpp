#include "app/FileDialogRun.h"

#include <QFile>

namespace marrowick {

std::optional<std::string> RunFileDialog(QPointer<QFileDialog> dialog) {
  const int result = dialog->exec();
  if (dialog.isNull()) return std::nullopt;
  std::optional<std::string> chosen;
  if (result == QDialog::Accepted && !dialog->selectedFiles().isEmpty()) {
    const QByteArray local = QFile::encodeName(dialog->selectedFiles().constFirst());
    chosen = std::string(local.constData(), static_cast<size_t>(local.size()));
  }
  delete dialog.data();
  return chosen;
}

}  // namespace marrowick
