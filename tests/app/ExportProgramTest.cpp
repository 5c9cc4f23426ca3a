// The built program run as a new user runs it, in a terminal without a
// display: a copy of the program beside a copy of the sample catalogue, a
// fresh settings directory, no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM.
// A window or a QApplication could not start there, so every run that ends
// well also shows that none was made.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/ExportCommandSupport.h"
#include "platform/core/PosixFile.h"
#include "platform/qt/SettingsStore.h"


namespace marrowick {
namespace {

using namespace marrowick::testing;

// Holds the share byte of a file the way an exclusive open by another
// program does, for as long as it lives.
class TExclusiveHold {
 public:
  explicit TExclusiveHold(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CLOEXEC)) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = ::platform::kShareBytePosition;
    lock.l_len = 1;
    held_ = fd_ >= 0 && ::fcntl(fd_, F_OFD_SETLK, &lock) == 0;
  }
  ~TExclusiveHold() {
    if (fd_ >= 0) ::close(fd_);
  }
  TExclusiveHold(const TExclusiveHold&) = delete;
  TExclusiveHold& operator=(const TExclusiveHold&) = delete;
  bool Held() const { return held_; }

 private:
  int fd_;
  bool held_ = false;
};

class ExportProgramTest : public ::testing::Test {
 protected:
  // One copy of the program for the whole suite: beside the catalogue, and
  // (linked) in a directory without one.
  static void SetUpTestSuite() {
    suite_ = new TTempDir;
    const fs::path program = suite_->Path() / "program";
    CopyCatalogue(program);
    fs::copy_file(fs::path(kProgramDir) / "marrowick", program / "marrowick");
    fs::create_directories(suite_->Path() / "bare");
    fs::create_hard_link(program / "marrowick", suite_->Path() / "bare/marrowick");
  }
  static void TearDownTestSuite() {
    delete suite_;
    suite_ = nullptr;
  }

  void SetUp() override {
    out_ = dir_.Path() / "out";
    config_ = dir_.Path() / "config";
    fs::create_directories(out_);
  }

  static fs::path ProgramDir() { return suite_->Path() / "program"; }

  // Runs the program in out_ with the arguments; its exit status and output.
  TRun Run(const std::vector<std::string>& arguments, const fs::path& program = ProgramDir() / "marrowick") {
    return RunProgram(program, arguments, config_, dir_.Path(), out_);
  }

  static inline TTempDir* suite_ = nullptr;
  TTempDir dir_;
  fs::path out_;
  fs::path config_;
};

std::string Shell(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  ::pclose(pipe);
  return output;
}

TEST_F(ExportProgramTest, WritesTheShippedCatalogueInEveryFormatAndSaysNothing) {
  const std::vector<std::vector<std::string>> runs = {
      {"--export", "sites.html"}, {"--export", "sites.htm"}, {"--export", "sites.xls"},
      {"--export", "sites.txt"},  {"--export=page.php", "--format=html"}, {"--export", "SITES.TXT", "--format", "TEXT"},
  };
  for (const auto& arguments : runs) {
    const TRun run = Run(arguments);
    EXPECT_EQ(run.status, 0) << arguments[0] << " " << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
  }
  EXPECT_EQ(Entries(out_), (std::set<std::string>{"sites.html", "sites.htm", "sites.xls", "sites.txt", "page.php",
                                                  "SITES.TXT"}));
  EXPECT_EQ(ReadBytes(out_ / "sites.txt"), FirstStartText());
  EXPECT_EQ(ReadBytes(out_ / "SITES.TXT"), FirstStartText());
  const std::string page = ReadBytes(out_ / "sites.html");
  EXPECT_EQ(page.rfind("<!DOCTYPE", 0), 0u);
  EXPECT_NE(page.find("Site Category : Arts &amp; Humanities"), std::string::npos);
  EXPECT_EQ(ReadBytes(out_ / "page.php"), page);
  EXPECT_EQ(ReadBytes(out_ / "sites.htm"), page);

  // A spreadsheet reader opens the worksheet: the header row, one row per
  // category and per site, the indent column and the three shown columns.
  const std::string sheet =
      Shell("/usr/bin/python3 -c \"import xlrd,sys; s=xlrd.open_workbook(sys.argv[1], encoding_override='cp1252')"
            ".sheet_by_index(0); print(s.nrows, s.ncols, '|'.join(s.row_values(0)[1:]), '|', s.cell_value(1,0))\" " +
            (out_ / "sites.xls").string());
  EXPECT_EQ(sheet, std::to_string(1 + 15 + SampleSites().size()) +
                       " 4 Site Category|Site Name|Site Url | Site Category : Arts & Humanities \n");

  // The settings were only read: no settings file appeared.
  EXPECT_FALSE(fs::exists(config_));
}

TEST_F(ExportProgramTest, TheStoredLayoutIsUsedAndTheSettingsFileLeftAsItWas) {
  const std::string file = (config_ / "Tolvane/Marrowick.conf").string();
  {
    platform::TQtSettingsStore store(file);
    ASSERT_TRUE(store.OpenKey("\\Software\\Tolvane\\Marrowick\\grid\\Columns\\SiteLogin", true));
    store.WriteString("Visible", "1");
    store.CloseKey();
  }
  const std::string before = ReadBytes(file);
  ASSERT_NE(before, "");

  TRun run = Run({"--export", "login.txt"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadBytes(out_ / "login.txt"),
            ExpectedText({{"Site Category", CategoryCell}, {"Site Name", NameCell}, {"Site Url", UrlCell},
                          {"Site Login", LoginCell}},
                         true));

  run = Run({"--export", "chosen.txt", "--columns", "url"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadBytes(out_ / "chosen.txt"), ExpectedText({{"Site Url", UrlCell}}, true));
  EXPECT_EQ(ReadBytes(file), before);
}

TEST_F(ExportProgramTest, EveryBadArgumentIsOneMessageANonZeroStatusAndNoFile) {
  const fs::path damaged = dir_.Path() / "damaged";
  CopyCatalogue(damaged);
  WriteBytes(damaged / "linksdata.DAT", std::string(600, '\x5A'));
  WriteBytes(out_ / "keep.html", "old page");

  struct TCase {
    std::vector<std::string> arguments;
    int status;
    std::string message;  // the whole line after "marrowick: ", or its start when it ends with "..."
  };
  const std::string usage = " (see marrowick --help)";
  const std::vector<TCase> cases = {
      {{"--export", "keep.html", "--format", "pdf"}, 2, "Unknown export format \"pdf\": use html, excel, text or bookmarks" + usage},
      {{"--export", "sites.csv"}, 2,
       "Cannot tell the format of \"sites.csv\" from its extension \".csv\": name it .html, .htm, .xls or .txt, or "
       "give --format html|excel|text|bookmarks" + usage},
      {{"--export", "keep.html", "--columns", "name,notes"}, 2,
       "Unknown column \"notes\" in --columns: use category, name, url, login or password" + usage},
      {{"--export", "missing/sites.html"}, 1,
       "Cannot create file \"missing/sites.html\". No such file or directory"},
      {{"--export", "/proc/marrowick/sites.txt"}, 1, "Cannot create file \"/proc/marrowick/sites.txt\". ..."},
      {{"--export", "keep.html", "--table", "nowhere/sites"}, 1,
       "Cannot find the table \"nowhere/sites\" (no file " + out_.string() + "/nowhere/sites.DAT)"},
      {{"--export", "keep.html", "--table", (damaged / "linksdata").string()}, 1,
       "Cannot read the table \"" + (damaged / "linksdata").string() + "\": ..."},
      {{"--export"}, 2, "Missing value after '--export'." + usage},
      {{"--export", ""}, 2, "No file name: give the file to write after --export" + usage},
      {{"--exprot", "sites.html"}, 2, "Unknown option 'exprot'." + usage},
      {{"--format", "html"}, 2, "--format is an option of --export FILE, which is missing" + usage},
  };
  for (const TCase& c : cases) {
    const TRun run = Run(c.arguments);
    const std::string what = c.arguments.back();
    EXPECT_EQ(run.status, c.status) << what << ": " << run.err;
    EXPECT_EQ(run.out, "") << what;
    const std::string line = "marrowick: " + c.message;
    if (line.size() > 3 && line.compare(line.size() - 3, 3, "...") == 0) {
      EXPECT_EQ(run.err.rfind(line.substr(0, line.size() - 3), 0), 0u) << run.err;
    } else {
      EXPECT_EQ(run.err, line + "\n") << what;
    }
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }

  // The catalogue held exclusively by another program.
  {
    TExclusiveHold hold((ProgramDir() / "linksdata.DAT").string());
    ASSERT_TRUE(hold.Held());
    const TRun run = Run({"--export", "keep.html"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("marrowick: Cannot read the table \"" + ProgramDir().string() + "/linksdata.dat\": ", 0),
              0u)
        << run.err;
  }

  EXPECT_EQ(Entries(out_), std::set<std::string>{"keep.html"});
  EXPECT_EQ(ReadBytes(out_ / "keep.html"), "old page");
  // The damaged table was only read, not repaired.
  EXPECT_EQ(ReadBytes(damaged / "linksdata.DAT"), std::string(600, '\x5A'));
}

TEST_F(ExportProgramTest, AProgramWithoutItsCatalogueSaysSo) {
  const TRun run = Run({"--export", "sites.html"}, suite_->Path() / "bare/marrowick");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "marrowick: Links information not found please redownload or reinstall Marrowick (no " +
                         (suite_->Path() / "bare").string() + "/linksdata.dat)\n");
  EXPECT_TRUE(Entries(out_).empty());
}

TEST_F(ExportProgramTest, HelpAndVersionNeedNoDisplay) {
  TRun run = Run({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("Usage: marrowick [--export FILE", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("--columns LIST"), std::string::npos);
  EXPECT_EQ(run.err, "");
  run = Run({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Marrowick 1.0\n");
  EXPECT_EQ(run.err, "");
}

}  // namespace
}  // namespace marrowick
