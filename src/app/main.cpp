// Program entry: a command that needs no window (an export, help, version)
// runs and ends here, before any object of the window exists; otherwise the
// application object, the main window and the event loop.
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include <QApplication>
#include <QVariant>

#include "app/CommandLine.h"
#include "app/ErrorDisplay.h"
#include "app/MainForm.h"
#include "app/PasswordDialog.h"
#include "app/SiteRecordSet.h"
#include "app/SiteTable.h"
#include "platform/qt/MessageBoxes.h"
#include "platform/qt/SettingsStore.h"

namespace {

// The help file, a bare name the help viewer resolves beside the program. It
// is kept on the application object as "HelpFile" for the Help command.
constexpr const char* kHelpFile = "MARROWICK.HLP";

}  // namespace

int main(int argc, char* argv[]) {
  marrowick::TCommandLine window;
  if (const std::optional<int> status = marrowick::DispatchCommandLine(argc, argv, &window)) return *status;

  std::unique_ptr<QApplication> app;
  try {
    app = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(marrowick::platform::kApplicationTitle));
    QApplication::setApplicationDisplayName(
        QString::fromLatin1(marrowick::platform::kApplicationTitle));
    QApplication::setOrganizationName(QStringLiteral("Tolvane"));
    app->setProperty("HelpFile", QString::fromLatin1(kHelpFile));
    marrowick::RegisterPasswordDialog();

    marrowick::platform::TQtMessageBoxes boxes;
    marrowick::TMainFormServices services;
    services.Table = std::make_unique<marrowick::TSiteRecordSet>();
    services.CreateSettings = marrowick::platform::CreateSettingsStore;
    services.MessageBoxes = &boxes;
    marrowick::TMainForm form(std::move(services));
    boxes.SetParent(&form);

    form.Create();
    // A minimised start goes straight to the tray (or stays minimised on a
    // desktop without a notification area).
    if (window.Minimized) {
      form.showMinimized();
    } else {
      form.show();
    }
    QApplication::exec();
  } catch (const std::exception& error) {
    if (app) {
      marrowick::platform::TQtMessageBoxes boxes;
      marrowick::TErrorDisplay(boxes).ShowException(error);
    } else {
      std::cerr << marrowick::ErrorDisplayText(error.what()) << '\n';
    }
  }
  return 0;
}
