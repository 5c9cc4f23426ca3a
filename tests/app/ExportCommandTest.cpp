// The headless export and the command line, in-process: every format over a
// copy of the sample catalogue, the stored layout applied and never
// changed, --columns, every refusal and failure with its message, its exit
// status and no file left behind; and what the command line parses to.
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <QStringList>

#include "app/CommandLine.h"
#include "app/ExportCommand.h"
#include "app/ExportCommandSupport.h"
#include "support/MemorySettingsStore.h"

namespace marrowick {
namespace {

using namespace marrowick::testing;

const std::string kGrid = "Software\\Tolvane\\Marrowick\\grid";

class ExportCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = dir_.Path() / "program";
    out_ = dir_.Path() / "out";
    fs::create_directories(out_);
    CopyCatalogue(program_);
  }

  TCommandResult Run(TExportOptions options) {
    TExportServices services;
    services.CreateSettings = [this] {
      return std::unique_ptr<platform::ISettingsStore>(new fakes::TMemorySettingsStore(store_));
    };
    services.ProgramDirectory = [this] { return program_.string() + "/"; };
    return RunExportCommand(options, services);
  }
  TCommandResult Run(const std::string& file, const std::string& format = {}) {
    TExportOptions options;
    options.FileName = file;
    options.Format = format;
    return Run(options);
  }
  std::string Out(const std::string& name) const { return (out_ / name).string(); }

  void StoreColumn(const std::string& column, const std::string& name, const std::string& value) {
    store_.SetValue(kGrid + "\\Columns\\" + column, name, value);
  }

  TTempDir dir_;
  fs::path program_;
  fs::path out_;
  fakes::TMemorySettingsState store_;
};

#define EXPECT_DONE(result)                        \
  do {                                             \
    const TCommandResult r_ = (result);            \
    EXPECT_EQ(r_.ExitStatus, kExitSuccess);        \
    EXPECT_EQ(r_.Message, "");                     \
  } while (0)

TEST_F(ExportCommandTest, WritesEveryFormatAsTheGridShowsItAtFirstStart) {
  EXPECT_DONE(Run(Out("sites.txt")));
  EXPECT_DONE(Run(Out("sites.HTML")));
  EXPECT_DONE(Run(Out("sites.htm")));
  EXPECT_DONE(Run(Out("sites.xls")));
  EXPECT_DONE(Run(Out("page.php"), "html"));
  EXPECT_DONE(Run(Out("sheet.dat"), "Excel"));
  EXPECT_DONE(Run(Out("sites.xls.txt")));
  EXPECT_EQ(Entries(out_), (std::set<std::string>{"sites.txt", "sites.HTML", "sites.htm", "sites.xls", "page.php",
                                                  "sheet.dat", "sites.xls.txt"}));

  EXPECT_EQ(ReadBytes(out_ / "sites.txt"), FirstStartText());
  EXPECT_EQ(ReadBytes(out_ / "sites.xls.txt"), FirstStartText());

  const std::string html = ReadBytes(out_ / "sites.HTML");
  EXPECT_EQ(html.rfind("<!DOCTYPE", 0), 0u);
  EXPECT_EQ(ReadBytes(out_ / "sites.htm"), html);
  EXPECT_EQ(ReadBytes(out_ / "page.php"), html);
  // Colours of the standard scheme, whatever the desktop: the page's button
  // face background; texts escaped.
  EXPECT_NE(html.find("<BODY BGCOLOR=#C0C0C0>"), std::string::npos);
  EXPECT_NE(html.find("Site Category : Arts &amp; Humanities"), std::string::npos);
  EXPECT_NE(html.find("https://www.gutenberg.org/"), std::string::npos);
  EXPECT_EQ(html.find("Site Login"), std::string::npos);

  const std::string sheet = ReadBytes(out_ / "sites.xls");
  EXPECT_EQ(sheet.substr(0, 4), std::string("\x09\x04\x06\x00", 4));  // BOF
  EXPECT_EQ(sheet.substr(sheet.size() - 4), std::string("\x0A\x00\x00\x00", 4));  // EOF
  EXPECT_EQ(ReadBytes(out_ / "sheet.dat"), sheet);

  // No layout stored yet: nothing was read into the grid, nothing written.
  EXPECT_EQ(store_.writes, 0);
  EXPECT_TRUE(store_.keys.empty());
}

TEST_F(ExportCommandTest, StoredLayoutIsAppliedAndNeverChanged) {
  // Ungrouped, sorted by URL descending, the URL column moved first, the
  // login shown.
  StoreColumn("SiteCategory", "GroupIndex", "-1");
  StoreColumn("SiteCategory", "Sorted", "0");
  StoreColumn("SiteCategory", "Visible", "1");
  StoreColumn("SiteCategory", "Index", "1");
  StoreColumn("SiteName", "Index", "2");
  StoreColumn("SiteUrl", "Index", "0");
  StoreColumn("SiteUrl", "Sorted", "1");
  StoreColumn("SiteLogin", "Visible", "1");
  StoreColumn("SiteLogin", "Index", "3");
  StoreColumn("SitePassword", "Index", "4");
  store_.SetValue(kGrid, "ShowGrid", "1");
  const auto before = store_.keys;

  EXPECT_DONE(Run(Out("flat.txt")));
  EXPECT_EQ(ReadBytes(out_ / "flat.txt"),
            ExpectedText({{"Site Url", UrlCell}, {"Site Category", CategoryCell}, {"Site Name", NameCell},
                          {"Site Login", LoginCell}},
                         false, true));

  // --columns shows the password and hides the rest but the URL, in the
  // stored order; only for this export.
  TExportOptions options;
  options.FileName = Out("chosen.txt");
  options.Columns = "password,url";
  EXPECT_DONE(Run(options));
  EXPECT_EQ(ReadBytes(out_ / "chosen.txt"),
            ExpectedText({{"Site Url", UrlCell}, {"Site Password", PasswordCell}}, false, true));

  EXPECT_EQ(store_.writes, 0);
  EXPECT_EQ(store_.keys, before);
}

TEST_F(ExportCommandTest, ColumnsChooseTheExportedColumnsOfTheGroupedGrid) {
  TExportOptions options;
  options.FileName = Out("a.txt");
  // Any letter case, blanks and empty items are taken; the grouping stays
  // when its column is not chosen, as in the export dialog.
  options.Columns = " LOGIN , Url,,";
  EXPECT_DONE(Run(options));
  EXPECT_EQ(ReadBytes(out_ / "a.txt"), ExpectedText({{"Site Url", UrlCell}, {"Site Login", LoginCell}}, true));

  options.FileName = Out("b.txt");
  options.Columns = "category,name,url,login,password";
  EXPECT_DONE(Run(options));
  EXPECT_EQ(ReadBytes(out_ / "b.txt"),
            ExpectedText({{"Site Category", CategoryCell}, {"Site Name", NameCell}, {"Site Url", UrlCell},
                          {"Site Login", LoginCell}, {"Site Password", PasswordCell}},
                         true));
  EXPECT_EQ(store_.writes, 0);
}

TEST_F(ExportCommandTest, BadOptionsAreRefusedBeforeAnythingIsOpenedOrWritten) {
  WriteBytes(out_ / "keep.html", "old page");
  struct TCase {
    std::string file, format;
    std::optional<std::string> columns;
    std::string message;
  };
  const std::string keep = Out("keep.html");
  const std::vector<TCase> cases = {
      {keep, "pdf", {}, "Unknown export format \"pdf\": use html, excel or text"},
      {Out("sites.csv"), "", {},
       "Cannot tell the format of \"" + Out("sites.csv") +
           "\" from its extension \".csv\": name it .html, .htm, .xls or .txt, or give --format html|excel|text"},
      {Out("sites"), "", {},
       "Cannot tell the format of \"" + Out("sites") +
           "\" without an extension: name it .html, .htm, .xls or .txt, or give --format html|excel|text"},
      {Out(".txt"), "", {}, "Cannot tell the format of \"" + Out(".txt") + "\" without an extension: name it .html, "
                            ".htm, .xls or .txt, or give --format html|excel|text"},
      {keep, "", std::string("name,notes"),
       "Unknown column \"notes\" in --columns: use category, name, url, login or password"},
      {keep, "", std::string(" , "), "--columns names no column: use category, name, url, login or password"},
      {"", "html", {}, "No file name: give the file to write after --export"},
      {program_.string() + "/linksdata.DAT", "text", {},
       "Refusing to write the export over the table's own file \"" + program_.string() + "/linksdata.DAT\""},
  };
  const std::string data = ReadBytes(program_ / "linksdata.DAT");
  for (const TCase& c : cases) {
    TExportOptions options;
    options.FileName = c.file;
    options.Format = c.format;
    options.Columns = c.columns;
    const TCommandResult result = Run(options);
    EXPECT_EQ(result.ExitStatus, kExitUsage) << c.message;
    EXPECT_EQ(result.Message, c.message);
  }
  EXPECT_EQ(Entries(out_), std::set<std::string>{"keep.html"});
  EXPECT_EQ(ReadBytes(out_ / "keep.html"), "old page");
  EXPECT_EQ(ReadBytes(program_ / "linksdata.DAT"), data);

  // A link to one of the table's files is the table's file too.
  fs::create_symlink(program_ / "linksdata.IDX", out_ / "index.txt");
  const TCommandResult result = Run(Out("index.txt"));
  EXPECT_EQ(result.ExitStatus, kExitUsage);
  EXPECT_NE(result.Message.find("Refusing to write the export over the table's own file"), std::string::npos);
}

TEST_F(ExportCommandTest, AnotherTableIsNamedWithOrWithoutItsExtension) {
  const fs::path other = dir_.Path() / "other";
  CopyCatalogue(other, "sites");
  fs::remove_all(program_);  // not the shipped catalogue: it is gone
  for (const char* table : {"sites", "sites.dat", "SITES.Dat"}) {
    TExportOptions options;
    options.FileName = Out("other.txt");
    options.Table = (other / table).string();
    const TCommandResult result = Run(options);
    // The files are found whatever the letter case of the name given.
    EXPECT_EQ(result.ExitStatus, kExitSuccess) << table << ": " << result.Message;
    EXPECT_EQ(ReadBytes(out_ / "other.txt"), FirstStartText()) << table;
  }

  // A relative path is taken from the working directory.
  const fs::path cwd = fs::current_path();
  fs::current_path(other);
  TExportOptions options;
  options.FileName = Out("relative.txt");
  options.Table = "sites";
  EXPECT_DONE(Run(options));
  fs::current_path(cwd);
}

TEST_F(ExportCommandTest, AMissingTableIsReportedAndNothingWritten) {
  WriteBytes(out_ / "keep.txt", "old text");
  fs::remove_all(program_);
  fs::create_directories(program_);
  TCommandResult result = Run(Out("keep.txt"));
  EXPECT_EQ(result.ExitStatus, kExitFailure);
  EXPECT_EQ(result.Message, "Links information not found please redownload or reinstall Marrowick (no " +
                                program_.string() + "/linksdata.dat)");

  TExportOptions options;
  options.FileName = Out("keep.txt");
  options.Table = Out("nowhere/sites");
  result = Run(options);
  EXPECT_EQ(result.ExitStatus, kExitFailure);
  EXPECT_EQ(result.Message, "Cannot find the table \"" + Out("nowhere/sites") + "\" (no file " +
                                Out("nowhere/sites.DAT") + ")");
  EXPECT_EQ(Entries(out_), std::set<std::string>{"keep.txt"});
  EXPECT_EQ(ReadBytes(out_ / "keep.txt"), "old text");
}

TEST_F(ExportCommandTest, ALockedOrDamagedTableIsReportedAndNothingWritten) {
  WriteBytes(out_ / "keep.xls", "old sheet");
  {
    TExclusiveHold hold(program_.string() + "/linksdata.DAT");
    ASSERT_TRUE(hold.Held());
    const TCommandResult result = Run(Out("keep.xls"));
    EXPECT_EQ(result.ExitStatus, kExitFailure);
    EXPECT_EQ(result.Message.rfind("Cannot read the table \"" + program_.string() + "/linksdata.dat\": ", 0), 0u)
        << result.Message;
    EXPECT_NE(result.Message.find("Access denied"), std::string::npos) << result.Message;
  }
  // Free again, it exports.
  EXPECT_DONE(Run(Out("free.xls")));

  std::string data = ReadBytes(program_ / "linksdata.DAT");
  for (size_t i = 0; i < 64 && i < data.size(); ++i) data[i] = static_cast<char>(0xA5);
  WriteBytes(program_ / "linksdata.DAT", data);
  const TCommandResult result = Run(Out("keep.xls"));
  EXPECT_EQ(result.ExitStatus, kExitFailure);
  EXPECT_EQ(result.Message.rfind("Cannot read the table ", 0), 0u) << result.Message;
  // The damaged table was not repaired or otherwise touched.
  EXPECT_EQ(ReadBytes(program_ / "linksdata.DAT"), data);

  EXPECT_EQ(Entries(out_), (std::set<std::string>{"keep.xls", "free.xls"}));
  EXPECT_EQ(ReadBytes(out_ / "keep.xls"), "old sheet");
}

TEST_F(ExportCommandTest, AnUnwritableTargetIsReportedWithItsReasonAndNothingLeft) {
  const std::string missingDir = Out("missing/sites.html");
  TCommandResult result = Run(missingDir);
  EXPECT_EQ(result.ExitStatus, kExitFailure);
  EXPECT_EQ(result.Message, "Cannot create file \"" + missingDir + "\". No such file or directory");

  result = Run("/proc/marrowick-export.txt");
  EXPECT_EQ(result.ExitStatus, kExitFailure);
  EXPECT_EQ(result.Message.rfind("Cannot create file \"/proc/marrowick-export.txt\". ", 0), 0u) << result.Message;

  result = Run(out_.string(), "text");  // a directory
  EXPECT_EQ(result.ExitStatus, kExitFailure);
  EXPECT_EQ(result.Message.rfind("Cannot create file \"" + out_.string() + "\". ", 0), 0u) << result.Message;
  EXPECT_TRUE(Entries(out_).empty());

  if (::geteuid() != 0) {  // the superuser writes anywhere
    WriteBytes(out_ / "keep.txt", "old");
    fs::permissions(out_, fs::perms::owner_read | fs::perms::owner_exec);
    result = Run(Out("keep.txt"));
    fs::permissions(out_, fs::perms::owner_all);
    EXPECT_EQ(result.ExitStatus, kExitFailure);
    EXPECT_EQ(result.Message, "Cannot create file \"" + Out("keep.txt") + "\". Permission denied");
    EXPECT_EQ(Entries(out_), std::set<std::string>{"keep.txt"});
    EXPECT_EQ(ReadBytes(out_ / "keep.txt"), "old");
  }
}

// ---- the command line ----

TCommandLine Parse(std::vector<const char*> arguments) {
  QStringList list{QStringLiteral("/opt/marrowick/marrowick")};
  for (const char* argument : arguments) list << QString::fromUtf8(argument);
  return ParseCommandLine(list);
}

TEST(CommandLineTest, TheWindowStartsWithoutOptionsOrWithQtsOwn) {
  EXPECT_EQ(Parse({}).Kind, TCommandKind::Window);
  EXPECT_EQ(ParseCommandLine({}).Kind, TCommandKind::Window);
  EXPECT_EQ(Parse({"-platform", "offscreen", "-session", "1234_5", "-reverse", "--style=fusion"}).Kind,
            TCommandKind::Window);
}

TEST(CommandLineTest, ExportOptionsAreTakenInEitherForm) {
  TCommandLine c = Parse({"--export", "out/sites.xls", "--format", "excel", "--columns", "name,url", "--table",
                          "/srv/cat/links"});
  ASSERT_EQ(c.Kind, TCommandKind::Export) << c.Error;
  EXPECT_EQ(c.Export.FileName, "out/sites.xls");
  EXPECT_EQ(c.Export.Format, "excel");
  EXPECT_EQ(c.Export.Columns, std::optional<std::string>("name,url"));
  EXPECT_EQ(c.Export.Table, "/srv/cat/links");

  c = Parse({"--export=sites.txt", "-platform", "offscreen"});
  ASSERT_EQ(c.Kind, TCommandKind::Export) << c.Error;
  EXPECT_EQ(c.Export.FileName, "sites.txt");
  EXPECT_EQ(c.Export.Format, "");
  EXPECT_FALSE(c.Export.Columns.has_value());
  EXPECT_EQ(c.Export.Table, "");

  // An empty --columns is given, and refused by the export itself.
  c = Parse({"--export", "a.txt", "--columns", ""});
  EXPECT_EQ(c.Export.Columns, std::optional<std::string>(""));
  // A file name with characters beyond ASCII stays the bytes the user typed.
  c = Parse({"--export", "Caf\xC3\xA9.html"});
  EXPECT_EQ(c.Export.FileName, "Caf\xC3\xA9.html");
}

TEST(CommandLineTest, HelpAndVersionAnswerWhateverElseIsGiven) {
  for (const char* option : {"--help", "-h", "-?"}) EXPECT_EQ(Parse({option}).Kind, TCommandKind::Help) << option;
  EXPECT_EQ(Parse({"--export", "a.pdf", "--bogus", "--help"}).Kind, TCommandKind::Help);
  for (const char* option : {"--version", "-v"}) EXPECT_EQ(Parse({option}).Kind, TCommandKind::Version) << option;

  std::ostringstream out, err;
  EXPECT_EQ(RunCommand(Parse({"--help"}), out, err), kExitSuccess);
  EXPECT_EQ(out.str().rfind("Usage: marrowick [--export FILE", 0), 0u);
  EXPECT_EQ(err.str(), "");
  out.str("");
  EXPECT_EQ(RunCommand(Parse({"--version"}), out, err), kExitSuccess);
  EXPECT_EQ(out.str(), "Marrowick 1.0\n");
  EXPECT_EQ(err.str(), "");
}

TEST(CommandLineTest, AWrongCommandLineIsOneMessageAndStatusTwo) {
  const std::map<std::vector<const char*>, std::string> cases = {
      {{"--exprot", "a.html"}, "Unknown option 'exprot'."},
      {{"--export"}, "Missing value after '--export'."},
      {{"sites.html"}, "Unexpected argument \"sites.html\""},
      {{"--export", "a.txt", "b.txt"}, "Unexpected argument \"b.txt\""},
      {{"--export", "a.txt", "--export", "b.txt"}, "--export may be given only once"},
      {{"--export", "a.txt", "--format", "html", "--format", "text"}, "--format may be given only once"},
      {{"--format", "html"}, "--format is an option of --export FILE, which is missing"},
      {{"--columns", "name"}, "--columns is an option of --export FILE, which is missing"},
      {{"--table", "x"}, "--table is an option of --export FILE, which is missing"},
      {{"--export", "a.txt", "--table", ""}, "No table named after --table"},
  };
  for (const auto& [arguments, message] : cases) {
    const TCommandLine c = Parse(arguments);
    EXPECT_EQ(c.Kind, TCommandKind::Error) << message;
    EXPECT_EQ(c.Error, message);
  }

  std::ostringstream out, err;
  EXPECT_EQ(RunCommand(Parse({"--exprot", "a.html"}), out, err), kExitUsage);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), "marrowick: Unknown option 'exprot'. (see marrowick --help)\n");
}

}  // namespace
}  // namespace marrowick
