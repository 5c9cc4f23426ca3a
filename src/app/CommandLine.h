// The program's command line, read with QCommandLineParser before any
// window or application object exists:
//
//   marrowick [--minimized]         the window (--minimized: started hidden in the tray)
//   marrowick --export FILE [--format html|excel|text|bookmarks] [--columns LIST] [--table PATH]
//   marrowick --import FILE [--category NAME] [--table PATH]
//   marrowick --help | --version
//
// Everything but the window runs without a display: it prints nothing on
// success (help and version print to standard output, the import its
// counts) and exits 0, or
// prints one line on standard error and exits non-zero (ExportCommand.h).
// Qt's own window options (-platform, -style, -session, ...) are accepted
// and left to the window's application object; any other option, or an
// argument that is not an option's value, is refused.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include <QStringList>

#include "app/ExportCommand.h"
#include "app/ImportCommand.h"

namespace marrowick {

// The version the program reports, as its about box shows it.
inline constexpr const char* kProgramVersion = "1.0";

enum class TCommandKind { Window, Help, Version, Export, Import, Error };

struct TCommandLine {
  TCommandKind Kind = TCommandKind::Window;
  bool Minimized = false;  // Window: started minimised, which hides it in the tray
  TExportOptions Export;  // Export
  TImportOptions Import;  // Import
  std::string Error;      // Error: what is wrong with the command line
};

// The arguments as main received them, the program's name first.
TCommandLine ParseCommandLine(const QStringList& arguments);

std::string HelpText();
std::string VersionText();

// Runs a command other than the window: help, version and the import's
// counts to out, a failure as "marrowick: MESSAGE" to err. Answers the exit
// status.
int RunCommand(const TCommandLine& command, std::ostream& out, std::ostream& err,
               const TExportServices& services = {}, const TImportServices& importServices = {});

// The first thing main does. Nothing when the window is to start (no object
// of Qt has been made then; window, when given, receives the window's
// command line); otherwise the command has run, with at most a
// QCoreApplication, and this is the program's exit status.
std::optional<int> DispatchCommandLine(int argc, char* argv[], TCommandLine* window = nullptr);

}  // namespace marrowick
