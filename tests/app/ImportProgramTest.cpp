// marrowick --import run as the built program, without a display, on a
// temporary copy of the sample catalogue named with --table.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "MainWindowSupport.h"
#include "platform/core/PosixFile.h"


namespace marrowick {
namespace {

using namespace marrowick::testing;

class ImportProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApplication();
    CopyCatalogue(dir_.Path() / "table");
    table_ = (dir_.Path() / "table" / "linksdata.dat").string();
    WriteBytes(dir_.Path() / "bookmarks.html",
               "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n"
               "<DT><H3>Newspapers</H3>\n<DL><p>\n"
               "<DT><A HREF=\"https://apnews.com/\">AP</A>\n"
               "<DT><A HREF=\"https://paper.example/\">The Paper</A>\n</DL><p>\n"
               "<DT><H3>Dev tools</H3>\n<DL><p>\n"
               "<DT><A HREF=\"https://dev.example/\">Dev</A>\n"
               "<DT><A HREF=\"javascript:void(0)\">Bookmarklet</A>\n</DL><p>\n"
               "</DL><p>\n");
    file_ = (dir_.Path() / "bookmarks.html").string();
  }

  // Runs the program with the arguments, without a display or Qt platform.
  TRun Run(const std::vector<std::string>& arguments) {
    return RunProgram(fs::path(kProgramDir) / "marrowick", arguments, dir_.Path() / "config", dir_.Path());
  }

  std::map<std::string, TStoredSite> Sites() { return ReadSites(dir_.Path() / "table"); }

  static std::string Report(int inserted, int skipped, int refused) {
    return "Inserted: " + std::to_string(inserted) + "\nSkipped: " + std::to_string(skipped) +
           " (the address is in the catalogue already or earlier in the file)\nRefused: " + std::to_string(refused) +
           " (no web address, or one longer than 100 characters)\n";
  }

  TTempDir dir_;
  std::string table_;
  std::string file_;
};

TEST_F(ImportProgramTest, InsertsByTheGuessAndSkipsWhatIsThereOnTheSecondRun) {
  const std::size_t before = Sites().size();
  TRun run = Run({"--import", file_, "--table", table_});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, Report(2, 1, 1));
  EXPECT_EQ(run.err, "");
  auto sites = Sites();
  EXPECT_EQ(sites.size(), before + 2);
  EXPECT_EQ(sites.at("https://paper.example/").at("sitetype"), "News");
  EXPECT_EQ(sites.at("https://paper.example/").at("sitename"), "The Paper");
  EXPECT_EQ(sites.at("https://dev.example/").at("sitetype"), "Computers & Internet");

  run = Run({"--import", file_, "--table", table_});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, Report(0, 3, 1));
  EXPECT_EQ(Sites().size(), before + 2);
}

TEST_F(ImportProgramTest, CategoryPutsEverySiteThereAndAnUnknownOneIsRefused) {
  TRun run = Run({"--import", file_, "--category", "hEALTH", "--table", table_});
  EXPECT_EQ(run.status, 0) << run.err;
  auto sites = Sites();
  EXPECT_EQ(sites.at("https://paper.example/").at("sitetype"), "Health");
  EXPECT_EQ(sites.at("https://dev.example/").at("sitetype"), "Health");

  const std::string dat = ReadBytes(dir_.Path() / "table" / "linksdata.DAT");
  run = Run({"--import", file_, "--category", "Cooking", "--table", table_});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "marrowick: Unknown category \"Cooking\": use one of " + CategoryListText() +
                         " (see marrowick --help)\n");
  EXPECT_EQ(ReadBytes(dir_.Path() / "table" / "linksdata.DAT"), dat);
}

TEST_F(ImportProgramTest, FailuresAndBadUsageSayWhyWithTheirExitStatus) {
  const std::size_t before = Sites().size();
  // A file that is no bookmark file, and one that is not there.
  WriteBytes(dir_.Path() / "notes.txt", "just some text\n");
  TRun run = Run({"--import", dir_ / "notes.txt", "--table", table_});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("notes.txt"), std::string::npos) << run.err;
  run = Run({"--import", dir_ / "gone.html", "--table", table_});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("gone.html"), std::string::npos) << run.err;
  // No table there.
  run = Run({"--import", file_, "--table", dir_ / "nowhere.dat"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Cannot find the table"), std::string::npos) << run.err;

  // Another program holds the table exclusively: the engine's message.
  {
    const int fd = ::open((dir_.Path() / "table" / "linksdata.DAT").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = ::platform::kShareBytePosition;
    lock.l_len = 1;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);
    run = Run({"--import", file_, "--table", table_});
    ::close(fd);
  }
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.rfind("marrowick: Cannot open the table \"" + table_ + "\": ", 0), 0u) << run.err;
  EXPECT_EQ(Sites().size(), before);

  // Options of the other command.
  run = Run({"--import", file_, "--format", "html"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "marrowick: --format is an option of --export, not of --import (see marrowick --help)\n");
  run = Run({"--category", "News"});
  EXPECT_EQ(run.status, 2);
  run = Run({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("marrowick --import FILE [--category NAME] [--table PATH]"), std::string::npos);
  EXPECT_NE(run.out.find("html, excel, text or bookmarks"), std::string::npos);
}

}  // namespace
}  // namespace marrowick
