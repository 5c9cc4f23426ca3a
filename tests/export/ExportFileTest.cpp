#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "ExportTestGrid.h"
#include "export/ExportFile.h"
#include "export/HtmlExport.h"
#include "platform/core/ColorScheme.h"

namespace {

using namespace exports;
using namespace exports::testing;
namespace fs = std::filesystem;
using marrowick::platform::TStandardColorScheme;

const TStandardColorScheme kScheme;
constexpr TExportFormat kFormats[] = {TExportFormat::Html, TExportFormat::Excel, TExportFormat::Text};

class ExportFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "export-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    grid_ = ProgramGrid(
        {Header(kCategory, "Site Category", 184), Header(kName, "Site Name", 200), Header(kUrl, "Site Url", 363)});
    grid_.Roots = {Group("Site Category : News ", {Data({"News", "Daily Paper", "http://paper.example/"}),
                                                   Data({"News", "Wire", "http://wire.example/"})})};
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }

  static void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename().string());
    return names;
  }

  std::string Streamed(TExportFormat format) {
    TStringSink sink;
    ExportToStream(grid_, sink, format, kScheme);
    return sink.Bytes;
  }

  // The message of the EExportError that f raises ("no error" without one).
  static std::string ErrorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const EExportError& e) {
      return e.what();
    }
    return "no error";
  }

  fs::path dir_;
  TTestGrid grid_;
};

TEST_F(ExportFileTest, FormatsByNameAndByExtension) {
  EXPECT_EQ(FormatFromName("HTML"), TExportFormat::Html);
  EXPECT_EQ(FormatFromName("excel"), TExportFormat::Excel);
  EXPECT_EQ(FormatFromName("Text"), TExportFormat::Text);
  EXPECT_EQ(FormatFromName("xls"), std::nullopt);
  EXPECT_EQ(FormatFromExtension("sites.HTML"), TExportFormat::Html);
  EXPECT_EQ(FormatFromExtension("/tmp/sites.htm"), TExportFormat::Html);
  EXPECT_EQ(FormatFromExtension("out/Sites.Xls"), TExportFormat::Excel);
  EXPECT_EQ(FormatFromExtension("sites.TXT"), TExportFormat::Text);
  EXPECT_EQ(FormatFromExtension("sites.csv"), std::nullopt);
  EXPECT_EQ(FormatFromExtension("sites"), std::nullopt);
  EXPECT_EQ(FormatFromExtension("dir.txt/sites"), std::nullopt);
  EXPECT_EQ(FormatFromExtension(".txt"), std::nullopt);
  for (TExportFormat format : kFormats) EXPECT_EQ(FormatFromName(FormatName(format)), format);
}

TEST_F(ExportFileTest, WritesEveryFormatAndReplacesAnExistingFileKeepingItsMode) {
  for (TExportFormat format : kFormats) {
    const std::string file = Path(std::string("sites.") + FormatName(format));
    ExportToFile(grid_, file, format, kScheme);
    EXPECT_EQ(Read(file), Streamed(format)) << FormatName(format);

    chmod(file.c_str(), 0640);
    grid_.Roots[0].Children.pop_back();
    ExportToFile(grid_, file, format, kScheme);
    EXPECT_EQ(Read(file), Streamed(format)) << FormatName(format);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    grid_.Roots[0].Children.push_back(Data({"News", "Wire", "http://wire.example/"}));
  }
  EXPECT_EQ(Entries(), (std::set<std::string>{"sites.excel", "sites.html", "sites.text"}));
  // Two HTML and two Excel exports to files, as many to strings.
  EXPECT_EQ(grid_.BeginCount, 8);
  EXPECT_EQ(grid_.EndCount, 8);
}

TEST_F(ExportFileTest, ASymbolicLinkKeepsPointingAtTheReplacedFile) {
  Put(Path("real.txt"), "old");
  fs::create_symlink("real.txt", dir_ / "link.txt");
  ExportToFile(grid_, Path("link.txt"), TExportFormat::Text, kScheme);
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.txt"));
  EXPECT_EQ(Read(Path("real.txt")), Streamed(TExportFormat::Text));
  EXPECT_EQ(Entries(), (std::set<std::string>{"link.txt", "real.txt"}));
}

TEST_F(ExportFileTest, PlacesThatCannotTakeTheFileAreCreationErrorsNamingTheFile) {
  const std::string missing = Path("missing/sites.html");
  Put(Path("plain"), "x");
  fs::create_directory(dir_ / "folder.html");
  for (TExportFormat format : kFormats) {
    EXPECT_EQ(ErrorOf([&] { ExportToFile(grid_, missing, format, kScheme); }),
              "Cannot create file \"" + missing + "\". No such file or directory");
    EXPECT_EQ(ErrorOf([&] { ExportToFile(grid_, Path("plain/sites.html"), format, kScheme); }),
              "Cannot create file \"" + Path("plain/sites.html") + "\". Not a directory");
    EXPECT_EQ(ErrorOf([&] { ExportToFile(grid_, Path("folder.html"), format, kScheme); }),
              "Cannot create file \"" + Path("folder.html") + "\". Is a directory");
  }
  try {
    ExportToFile(grid_, missing, TExportFormat::Html, kScheme);
  } catch (const EExportError& e) {
    EXPECT_EQ(e.Stage(), EExportError::esCreate);
    EXPECT_EQ(e.FileName(), missing);
    EXPECT_EQ(e.Reason(), "No such file or directory");
  }
  EXPECT_EQ(Entries(), (std::set<std::string>{"folder.html", "plain"}));
  EXPECT_TRUE(fs::is_empty(dir_ / "folder.html"));
  // Nothing was begun, so the grid was never touched.
  EXPECT_EQ(grid_.BeginCount, 0);
}

// Runs f in a forked child and answers what it wrote to the pipe.
std::string InChild(const std::function<std::string()>& f) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    std::string answer = f();
    (void)!write(fds[1], answer.data(), answer.size());
    _exit(0);
  }
  close(fds[1]);
  std::string answer;
  char buffer[512];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) answer.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return answer;
}

TEST_F(ExportFileTest, ADirectoryClosedToTheUserIsPermissionDenied) {
  const std::string file = Path("sites.html");
  Put(file, "old page");
  chmod(dir_.c_str(), 0755);
  const std::string answer = InChild([&] {
    if (getuid() == 0 && setuid(65534) != 0) return std::string("skip");
    return ErrorOf([&] { ExportToFile(grid_, file, TExportFormat::Html, kScheme); });
  });
  if (answer == "skip") GTEST_SKIP() << "cannot drop privileges";
  EXPECT_EQ(answer, "Cannot create file \"" + file + "\". Permission denied");
  EXPECT_EQ(Read(file), "old page");
  EXPECT_EQ(Entries(), std::set<std::string>{"sites.html"});

  // In a directory the user may write, a file the user may not write is
  // refused as opening it would be, not replaced behind its back.
  ASSERT_EQ(chown(dir_.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
  chmod(file.c_str(), 0444);
  const std::string readOnly = InChild([&] {
    if (setuid(65534) != 0) return std::string("skip");
    return ErrorOf([&] { ExportToFile(grid_, file, TExportFormat::Text, kScheme); });
  });
  EXPECT_EQ(readOnly, "Cannot create file \"" + file + "\". Permission denied");
  EXPECT_EQ(Read(file), "old page");
  EXPECT_EQ(Entries(), std::set<std::string>{"sites.html"});
}

TEST_F(ExportFileTest, ADeviceIsWrittenInPlaceNotReplaced) {
  for (TExportFormat format : kFormats) ExportToFile(grid_, "/dev/null", format, kScheme);
  struct stat st {};
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(ErrorOf([&] { ExportToFile(grid_, "/dev/full", TExportFormat::Html, kScheme); }),
            "Cannot write file \"/dev/full\". No space left on device");
}

TEST_F(ExportFileTest, ANameThatNearlyFillsTheLimitStillGetsItsTemporaryFile) {
  const std::string file = Path(std::string(250, 'n') + ".txt");
  ExportToFile(grid_, file, TExportFormat::Text, kScheme);
  EXPECT_EQ(Read(file), Streamed(TExportFormat::Text));
  EXPECT_EQ(Entries().size(), 1u);
}

TEST_F(ExportFileTest, AFailureWhileRowsAreWrittenLeavesTheOldFileAsItWas) {
  grid_.FailAtRow = 2;
  for (TExportFormat format : kFormats) {
    const std::string file = Path("sites.out");
    Put(file, "old contents");
    EXPECT_EQ(ErrorOf([&] { ExportToFile(grid_, file, format, kScheme); }),
              "Cannot write file \"" + file + "\". the grid failed at a row");
    EXPECT_EQ(Read(file), "old contents");
    EXPECT_EQ(Entries(), std::set<std::string>{"sites.out"});
    EXPECT_FALSE(grid_.Exporting);
  }
  EXPECT_EQ(grid_.BeginCount, grid_.EndCount);
}

TEST_F(ExportFileTest, AWriteThatFailsMidwayLeavesTheOldFileAsItWas) {
  // Enough rows that the writes pass the file size limit set below.
  grid_.Roots[0].Children.assign(5000, Data({"News", "Daily Paper", std::string(100, 'u')}));
  for (TExportFormat format : kFormats) {
    const std::string file = Path("sites.out");
    Put(file, "old contents");
    const std::string answer = InChild([&] {
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit{100000, 100000};
      setrlimit(RLIMIT_FSIZE, &limit);
      return ErrorOf([&] { ExportToFile(grid_, file, format, kScheme); });
    });
    EXPECT_EQ(answer, "Cannot write file \"" + file + "\". File too large") << FormatName(format);
    EXPECT_EQ(Read(file), "old contents");
    EXPECT_EQ(Entries(), std::set<std::string>{"sites.out"});
  }
}

TEST_F(ExportFileTest, AnErrorWhileRowsAreWrittenStillClosesThePageAndPutsTheGridBack) {
  grid_.FailAtRow = 1;
  TStringSink sink;
  TDBGridExportHTML writer(grid_, kScheme);
  EXPECT_THROW(writer.SaveToStream(sink), std::runtime_error);
  EXPECT_NE(sink.Bytes.find("class=\"Group\""), std::string::npos);
  EXPECT_EQ(sink.Bytes.find("Daily Paper"), std::string::npos);
  EXPECT_EQ(sink.Bytes.substr(sink.Bytes.size() - 48), "</TABLE>\r\n</TD></TR></TABLE>\r\n</BODY>\r\n</HTML>\r\n");
  EXPECT_EQ(grid_.BeginCount, 1);
  EXPECT_EQ(grid_.EndCount, 1);
}

}  // namespace
