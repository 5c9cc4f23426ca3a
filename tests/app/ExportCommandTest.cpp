// The headless export in-process, over a copy of the sample catalogue and a
// settings store in memory: the stored layout applied and never changed,
// --columns, refusals that must leave the target and the table alone, other
// tables by path; and what the command line parses to. The built program's
// own runs, every format and every failure among them, are in
// ExportProgramTest.cpp.
#include <gtest/gtest.h>

#include <map>
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

class ExportCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = dir_.Path() / "program";
    out_ = dir_.Path() / "out";
    fs::create_directories(out_);
    CopyCatalogue(program_);
  }

  TCommandResult Run(const std::string& file, const std::string& format = {},
                     std::optional<std::string> columns = {}, const std::string& table = {}) {
    TExportServices services;
    services.CreateSettings = [this] {
      return std::unique_ptr<platform::ISettingsStore>(new fakes::TMemorySettingsStore(store_));
    };
    services.ProgramDirectory = [this] { return program_.string() + "/"; };
    return RunExportCommand({file, format, columns, table}, services);
  }
  std::string Out(const std::string& name) const { return (out_ / name).string(); }

  TTempDir dir_;
  fs::path program_;
  fs::path out_;
  fakes::TMemorySettingsState store_;
};

TEST_F(ExportCommandTest, StoredLayoutIsAppliedColumnsOverrideItAndItIsNeverChanged) {
  // Ungrouped, sorted by URL descending, the URL column moved first, the
  // login shown.
  const std::map<std::string, std::map<std::string, std::string>> layout = {
      {"SiteCategory", {{"GroupIndex", "-1"}, {"Sorted", "0"}, {"Index", "1"}}},
      {"SiteName", {{"Index", "2"}}},
      {"SiteUrl", {{"Index", "0"}, {"Sorted", "1"}}},
      {"SiteLogin", {{"Visible", "1"}, {"Index", "3"}}},
      {"SitePassword", {{"Index", "4"}}},
  };
  for (const auto& [column, values] : layout) {
    for (const auto& [name, value] : values) {
      store_.SetValue("Software\\Tolvane\\Marrowick\\grid\\Columns\\" + column, name, value);
    }
  }
  store_.keys["Software\\Tolvane\\Marrowick\\grid"];  // the grid's key itself, as the registry has it
  const auto before = store_.keys;

  TCommandResult result = Run(Out("flat.txt"));
  EXPECT_EQ(result.ExitStatus, kExitSuccess) << result.Message;
  EXPECT_EQ(ReadBytes(out_ / "flat.txt"),
            ExpectedText({{"Site Url", UrlCell}, {"Site Category", CategoryCell}, {"Site Name", NameCell},
                          {"Site Login", LoginCell}},
                         false, true));

  // The chosen columns in the stored order, names in any letter case, with
  // blanks and empty items.
  result = Run(Out("chosen.txt"), "", std::string(" PASSWORD , url,,"));
  EXPECT_EQ(result.ExitStatus, kExitSuccess) << result.Message;
  EXPECT_EQ(ReadBytes(out_ / "chosen.txt"),
            ExpectedText({{"Site Url", UrlCell}, {"Site Password", PasswordCell}}, false, true));

  EXPECT_EQ(store_.writes, 0);
  EXPECT_EQ(store_.keys, before);
}

TEST_F(ExportCommandTest, RefusalsLeaveTheTargetAndTheTableAsTheyWere) {
  WriteBytes(out_ / "keep.txt", "old");
  fs::create_symlink(program_ / "linksdata.IDX", out_ / "index.txt");
  const std::string table = (program_ / "linksdata.DAT").string();
  const std::string advice = "name it .html, .htm, .xls or .txt, or give --format html|excel|text|bookmarks";
  const std::vector<std::pair<TCommandResult, std::string>> cases = {
      {Run(Out("keep")), "Cannot tell the format of \"" + Out("keep") + "\" without an extension: " + advice},
      {Run(Out(".txt")), "Cannot tell the format of \"" + Out(".txt") + "\" without an extension: " + advice},
      {Run(Out("keep.txt"), "", std::string(" , ")),
       "--columns names no column: use category, name, url, login or password"},
      // Replacing one of the table's files would destroy the catalogue.
      {Run(table, "text"), "Refusing to write the export over the table's own file \"" + table + "\""},
      {Run(Out("index.txt")), "Refusing to write the export over the table's own file \"" + Out("index.txt") + "\""},
  };
  for (const auto& [result, message] : cases) {
    EXPECT_EQ(result.ExitStatus, kExitUsage) << message;
    EXPECT_EQ(result.Message, message);
  }
  EXPECT_EQ(Entries(out_), (std::set<std::string>{"keep.txt", "index.txt"}));
  EXPECT_EQ(ReadBytes(out_ / "keep.txt"), "old");
  EXPECT_EQ(ReadBytes(program_ / "linksdata.DAT"), ReadBytes(kProgramDir + "/linksdata.DAT"));
  EXPECT_EQ(ReadBytes(program_ / "linksdata.IDX"), ReadBytes(kProgramDir + "/linksdata.IDX"));
}

TEST_F(ExportCommandTest, AnotherTableIsNamedWithOrWithoutItsExtensionInAnyCase) {
  const fs::path other = dir_.Path() / "other";
  CopyCatalogue(other, "sites");
  fs::remove_all(program_);
  for (const char* name : {"sites", "sites.dat", "SITES.Dat"}) {
    const TCommandResult result = Run(Out("other.txt"), "", {}, (other / name).string());
    EXPECT_EQ(result.ExitStatus, kExitSuccess) << name << ": " << result.Message;
    EXPECT_EQ(ReadBytes(out_ / "other.txt"), FirstStartText()) << name;
  }
  // A relative path is taken from the working directory.
  const fs::path cwd = fs::current_path();
  fs::current_path(other);
  const TCommandResult result = Run(Out("relative.txt"), "", {}, "sites");
  fs::current_path(cwd);
  EXPECT_EQ(result.ExitStatus, kExitSuccess) << result.Message;
}

// ---- the command line ----

TCommandLine Parse(std::vector<const char*> arguments) {
  QStringList list{QStringLiteral("/opt/marrowick/marrowick")};
  for (const char* argument : arguments) list << QString::fromUtf8(argument);
  return ParseCommandLine(list);
}

TEST(CommandLineTest, TheWindowStartsWithoutOptionsOrWithQtsOwn) {
  EXPECT_EQ(Parse({}).Kind, TCommandKind::Window);
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

  // Qt's options beside an export are the window's, and ignored.
  c = Parse({"--export=Caf\xC3\xA9.txt", "-platform", "offscreen"});
  ASSERT_EQ(c.Kind, TCommandKind::Export) << c.Error;
  EXPECT_EQ(c.Export.FileName, "Caf\xC3\xA9.txt");
  EXPECT_FALSE(c.Export.Columns.has_value());
  EXPECT_EQ(c.Export.Table, "");
}

TEST(CommandLineTest, HelpAndVersionAnswerWhateverElseIsGiven) {
  for (const char* option : {"--help", "-h", "-?"}) EXPECT_EQ(Parse({option}).Kind, TCommandKind::Help) << option;
  EXPECT_EQ(Parse({"--export", "a.pdf", "--bogus", "--help"}).Kind, TCommandKind::Help);
  for (const char* option : {"--version", "-v"}) EXPECT_EQ(Parse({option}).Kind, TCommandKind::Version) << option;
}

TEST(CommandLineTest, AWrongCommandLineIsRefusedWithItsReason) {
  const std::map<std::vector<const char*>, std::string> cases = {
      {{"--exprot", "a.html"}, "Unknown option 'exprot'."},
      {{"sites.html"}, "Unexpected argument \"sites.html\""},
      {{"--export", "a.txt", "b.txt"}, "Unexpected argument \"b.txt\""},
      {{"--export", "a.txt", "--export", "b.txt"}, "--export may be given only once"},
      {{"--columns", "name"}, "--columns is an option of --export FILE, which is missing"},
      {{"--table", "x"}, "--table is an option of --export FILE or --import FILE, which is missing"},
      {{"--export", "a.txt", "--table", ""}, "No table named after --table"},
  };
  for (const auto& [arguments, message] : cases) {
    const TCommandLine c = Parse(arguments);
    EXPECT_EQ(c.Kind, TCommandKind::Error) << message;
    EXPECT_EQ(c.Error, message);
  }
}

}  // namespace
}  // namespace marrowick
