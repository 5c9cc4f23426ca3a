// Runs a file dialog made for one question and answers the file chosen.
#pragma once

#include <QFileDialog>
#include <QPointer>

#include <optional>
#include <string>

namespace marrowick {

// Shows dialog modally and answers the first file chosen, as the file system
// spells it (local 8-bit bytes), or nothing when the user cancelled. The
// dialog is deleted afterwards, unless something closed its owner (and with
// it the dialog) while it was shown.
std::optional<std::string> RunFileDialog(QPointer<QFileDialog> dialog);

}  // namespace marrowick
