#include "app/CommandLine.h"

#include <iostream>
#include <vector>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

namespace marrowick {

namespace {

constexpr const char* kProgramName = "marrowick";
// Ends the message of a wrong command line.
constexpr const char* kUsageHint = " (see marrowick --help)\n";

// Options of Qt's window system integration and of QApplication, which the
// window's application object takes from the same command line. A session
// manager restarting the program passes -session, for example.
struct TQtOption {
  const char* Name;
  bool TakesValue;
};
constexpr TQtOption kQtWindowOptions[] = {
    {"platform", true},   {"platformpluginpath", true}, {"platformtheme", true}, {"plugin", true},
    {"qmljsdebugger", true}, {"qwindowgeometry", true}, {"qwindowicon", true},  {"qwindowtitle", true},
    {"reverse", false},   {"session", true},            {"display", true},       {"geometry", true},
    {"style", true},      {"stylesheet", true},         {"widgetcount", false},  {"nograb", false},
    {"dograb", false},
};

std::string Local(const QString& text) { return text.toLocal8Bit().toStdString(); }
std::string FileName(const QString& text) { return QFile::encodeName(text).toStdString(); }

}  // namespace

TCommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  // Qt's options are written with one dash (-platform, -style): a word after
  // one dash is an option's name, never a cluster of one-letter options.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")});
  const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
  const QCommandLineOption exportFile(QStringLiteral("export"), QString(), QStringLiteral("FILE"));
  const QCommandLineOption format(QStringLiteral("format"), QString(), QStringLiteral("FORMAT"));
  const QCommandLineOption columns(QStringLiteral("columns"), QString(), QStringLiteral("LIST"));
  const QCommandLineOption table(QStringLiteral("table"), QString(), QStringLiteral("PATH"));
  const QCommandLineOption minimized(QStringLiteral("minimized"));
  const QCommandLineOption importFile(QStringLiteral("import"), QString(), QStringLiteral("FILE"));
  const QCommandLineOption category(QStringLiteral("category"), QString(), QStringLiteral("NAME"));
  for (const QCommandLineOption& option :
       {help, version, exportFile, format, columns, table, minimized, importFile, category}) {
    parser.addOption(option);
  }
  for (const TQtOption& qt : kQtWindowOptions) {
    QCommandLineOption option(QString::fromLatin1(qt.Name));
    if (qt.TakesValue) option.setValueName(QStringLiteral("VALUE"));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }

  TCommandLine command;
  auto refuse = [&command](std::string error) {
    command.Kind = TCommandKind::Error;
    command.Error = std::move(error);
    return command;
  };
  // A list without the program's name is taken as having none.
  const bool parsed = parser.parse(arguments.isEmpty() ? QStringList{QString::fromLatin1(kProgramName)} : arguments);
  // Help and version answer whatever else the line holds.
  if (parser.isSet(help)) {
    command.Kind = TCommandKind::Help;
    return command;
  }
  if (parser.isSet(version)) {
    command.Kind = TCommandKind::Version;
    return command;
  }
  if (!parsed) return refuse(Local(parser.errorText()));
  if (!parser.positionalArguments().isEmpty()) {
    return refuse("Unexpected argument \"" + Local(parser.positionalArguments().constFirst()) + "\"");
  }
  for (const QCommandLineOption* option : {&exportFile, &format, &columns, &table, &importFile, &category}) {
    if (parser.values(*option).size() > 1) {
      return refuse("--" + Local(option->names().constFirst()) + " may be given only once");
    }
  }
  if (parser.isSet(importFile)) {
    if (parser.isSet(exportFile)) return refuse("--import and --export cannot go together");
    for (const QCommandLineOption* option : {&format, &columns}) {
      if (parser.isSet(*option)) {
        return refuse("--" + Local(option->names().constFirst()) + " is an option of --export, not of --import");
      }
    }
    if (parser.isSet(minimized)) return refuse("--minimized starts the window; it cannot go with --import");
    command.Kind = TCommandKind::Import;
    command.Import.FileName = FileName(parser.value(importFile));
    if (parser.isSet(category)) command.Import.Category = Local(parser.value(category));
    command.Import.Table = FileName(parser.value(table));
    if (parser.isSet(table) && command.Import.Table.empty()) return refuse("No table named after --table");
    return command;
  }
  if (parser.isSet(category)) return refuse("--category is an option of --import FILE, which is missing");
  if (!parser.isSet(exportFile)) {
    for (const QCommandLineOption* option : {&format, &columns, &table}) {
      if (parser.isSet(*option)) {
        return refuse("--" + Local(option->names().constFirst()) +
                      (option == &table ? " is an option of --export FILE or --import FILE, which is missing"
                                        : " is an option of --export FILE, which is missing"));
      }
    }
    command.Minimized = parser.isSet(minimized);
    return command;  // the window
  }
  if (parser.isSet(minimized)) return refuse("--minimized starts the window; it cannot go with --export");

  command.Kind = TCommandKind::Export;
  command.Export.FileName = FileName(parser.value(exportFile));
  command.Export.Format = Local(parser.value(format));
  if (parser.isSet(columns)) command.Export.Columns = Local(parser.value(columns));
  command.Export.Table = FileName(parser.value(table));
  if (parser.isSet(table) && command.Export.Table.empty()) return refuse("No table named after --table");
  return command;
}

std::string HelpText() {
  return "Usage: marrowick [--export FILE [--format FORMAT] [--columns LIST] [--table PATH]]\n"
         "       marrowick --import FILE [--category NAME] [--table PATH]\n"
         "       marrowick --minimized\n"
         "\n"
         "Marrowick keeps a catalogue of web sites. Started without options it opens its\n"
         "window. With --export it writes the catalogue to a file and exits; with --import\n"
         "it adds the sites of a browser's bookmarks to the catalogue and exits. Neither\n"
         "needs a display.\n"
         "\n"
         "Options:\n"
         "  --minimized      Start with the window hidden in the tray (minimised where\n"
         "                   the desktop has no notification area).\n"
         "  --export FILE    Write the catalogue to FILE as the window's grid shows it at\n"
         "                   start: your stored grouping, sort order, columns and widths,\n"
         "                   with every group opened. FILE may be /dev/stdout.\n"
         "  --format FORMAT  html, excel, text or bookmarks. Without it the extension of\n"
         "                   FILE decides: .html or .htm, .xls, .txt. A bookmark file\n"
         "                   (one folder per category, for any browser to import) is\n"
         "                   written only with --format bookmarks.\n"
         "  --columns LIST   The columns to write, separated by commas: category, name,\n"
         "                   url, login, password. Without it, the columns the grid shows.\n"
         "                   The grid's own layout is not changed.\n"
         "  --import FILE    Add the bookmarks in FILE to the catalogue: a bookmark file\n"
         "                   a browser exported (bookmarks.html), a Firefox places.sqlite\n"
         "                   or a Chromium Bookmarks file. Each folder's sites go to the\n"
         "                   category its name suggests (Personal when it suggests none);\n"
         "                   addresses the catalogue has already are skipped. Prints how\n"
         "                   many sites were inserted, skipped and refused.\n"
         "  --category NAME  With --import: put every site into this category, one of\n"
         "                   the fifteen the window offers, in any letter case.\n"
         "  --table PATH     Use this table instead of the catalogue beside the program.\n"
         "  -h, --help       Show this help and exit.\n"
         "  -v, --version    Show the version and exit.\n"
         "\n"
         "Exit status: 0 when done, 1 when the export or the import failed (an export\n"
         "writes nothing then; an import keeps the sites inserted before the failure),\n"
         "2 when the command line is wrong.\n";
}

std::string VersionText() { return std::string("Marrowick ") + kProgramVersion + "\n"; }

int RunCommand(const TCommandLine& command, std::ostream& out, std::ostream& err, const TExportServices& services,
               const TImportServices& importServices) {
  switch (command.Kind) {
    case TCommandKind::Help: out << HelpText() << std::flush; return kExitSuccess;
    case TCommandKind::Version: out << VersionText() << std::flush; return kExitSuccess;
    case TCommandKind::Error: err << kProgramName << ": " << command.Error << kUsageHint << std::flush; return kExitUsage;
    case TCommandKind::Export: {
      const TCommandResult result = RunExportCommand(command.Export, services);
      if (!result.Message.empty()) {
        err << kProgramName << ": " << result.Message << (result.ExitStatus == kExitUsage ? kUsageHint : "\n")
            << std::flush;
      }
      return result.ExitStatus;
    }
    case TCommandKind::Import: {
      const TCommandResult result = RunImportCommand(command.Import, out, importServices);
      if (!result.Message.empty()) {
        err << kProgramName << ": " << result.Message << (result.ExitStatus == kExitUsage ? kUsageHint : "\n")
            << std::flush;
      }
      return result.ExitStatus;
    }
    case TCommandKind::Window: break;
  }
  return kExitSuccess;
}

std::optional<int> DispatchCommandLine(int argc, char* argv[], TCommandLine* window) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const TCommandLine command = ParseCommandLine(arguments);
  if (command.Kind == TCommandKind::Window) {
    if (window != nullptr) *window = command;
    return std::nullopt;
  }
  if (command.Kind != TCommandKind::Export && command.Kind != TCommandKind::Import) {
    return RunCommand(command, std::cout, std::cerr);
  }
  // The export reads the settings store through Qt; a core application is
  // all either command needs: no display, no window.
  QCoreApplication application(argc, argv);
  return RunCommand(command, std::cout, std::cerr);
}

}  // namespace marrowick
