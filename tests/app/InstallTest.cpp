// Installing this build into a temporary prefix with cmake --install: what
// lands where and with which modes, the desktop entry, installing again over
// a catalogue the user changed, the launcher (run with a stand-in program
// that reports how it was started), the per-user program directory of an
// install for every user, the default prefix chosen by who installs, and
// removing it all again.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <QImage>
#include <QString>

namespace marrowick {
namespace {

namespace fs = std::filesystem;

const std::string kBuildDir = MARROWICK_BUILD_DIR;
const std::string kCmake = MARROWICK_CMAKE_COMMAND;

// Runs a shell command; its exit status, with its output (both streams) in output.
int RunShell(const std::string& command, std::string& output) {
  output.clear();
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("marrowick-install-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    prefix_ = root_ / "prefix";
    manifest_ = root_ / "install_manifest.txt";
    programDir_ = prefix_ / "lib/marrowick";
  }
  void TearDown() override { fs::remove_all(root_); }

  // Installs the build. Every install writes the build's one manifest, so
  // installs of tests running side by side take turns, and each keeps a
  // copy of its own manifest (manifest_).
  void Install(const std::string& environment = {}, bool withPrefix = true) {
    const std::string lockPath = kBuildDir + "/install-test.lock";
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    std::string output;
    const std::string command = environment + " " + Quote(kCmake) + " --install " + Quote(kBuildDir) +
                                (withPrefix ? " --prefix " + Quote(prefix_) : std::string());
    const int status = RunShell(command, output);
    std::error_code ignored;  // no manifest when the install failed early
    fs::copy_file(fs::path(kBuildDir) / "install_manifest.txt", manifest_, fs::copy_options::overwrite_existing,
                  ignored);
    ::close(lock);
    ASSERT_EQ(status, 0) << output;
  }

  // Puts a stand-in in place of the installed program: it prints the path
  // it was started as and its arguments.
  void ReplaceProgramWithStandIn() {
    const fs::path program = programDir_ / "marrowick";
    fs::remove(program);
    std::ofstream(program) << "#!/bin/sh\necho \"$0|$*\"\n";
    fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
  }

  fs::path root_;
  fs::path manifest_;
  fs::path prefix_;
  fs::path programDir_;
};

TEST_F(InstallTest, LaysDownTheProgramDirectoryLauncherDesktopEntryAndIcons) {
  Install();
  for (const char* name : {"marrowick", "tessel"}) {
    EXPECT_TRUE(fs::is_regular_file(programDir_ / name)) << name;
    EXPECT_EQ(ModeOf(programDir_ / name) & 0100, 0100u) << name;
  }
  EXPECT_TRUE(fs::is_regular_file(programDir_ / "MARROWICK.HLP"));
  EXPECT_EQ(ReadFile(programDir_ / "MARROWICK.HLP"), ReadFile(fs::path(kBuildDir) / "bin/MARROWICK.HLP"));
  EXPECT_TRUE(fs::is_regular_file(programDir_ / "marrowick.png"));

  // The catalogue is the shipped one, readable and writable by its owner alone;
  // the sample beside it is there for every user to copy.
  for (const char* name : {"linksdata.DAT", "linksdata.IDX", "linksdata.BLB"}) {
    EXPECT_EQ(ModeOf(programDir_ / name), 0600u) << name;
    EXPECT_EQ(ReadFile(programDir_ / name), ReadFile(fs::path(kBuildDir) / "bin" / name)) << name;
    EXPECT_EQ(ModeOf(prefix_ / "share/marrowick/sample" / name), 0644u) << name;
  }

  const fs::path launcher = prefix_ / "bin/marrowick";
  ASSERT_TRUE(fs::is_regular_file(launcher));
  EXPECT_EQ(ModeOf(launcher) & 0111, 0111u);

  const std::string entry = ReadFile(prefix_ / "share/applications/marrowick.desktop");
  EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);
  EXPECT_NE(entry.find("\nName=Marrowick\n"), std::string::npos);
  EXPECT_NE(entry.find("\nExec=\"" + launcher.string() + "\"\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nIcon=marrowick\n"), std::string::npos);
  EXPECT_EQ(entry.find('@'), std::string::npos) << "a placeholder was left: " << entry;

  EXPECT_TRUE(fs::is_regular_file(prefix_ / "share/icons/hicolor/scalable/apps/marrowick.svg"));
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const std::string dir = std::to_string(size) + "x" + std::to_string(size);
    const QImage icon(QString::fromStdString((prefix_ / "share/icons/hicolor" / dir / "apps/marrowick.png").string()));
    EXPECT_EQ(icon.size(), QSize(size, size)) << dir;
  }
}

TEST_F(InstallTest, InstallingAgainKeepsTheUsersCatalogue) {
  Install();
  std::ofstream(programDir_ / "linksdata.DAT", std::ios::trunc) << "the user's sites";
  fs::remove(programDir_ / "MARROWICK.HLP");
  Install();
  EXPECT_EQ(ReadFile(programDir_ / "linksdata.DAT"), "the user's sites");
  EXPECT_TRUE(fs::is_regular_file(programDir_ / "MARROWICK.HLP"));  // the program's own files are renewed

  // A catalogue whose names differ in case is the same catalogue.
  fs::remove(programDir_ / "linksdata.DAT");
  fs::remove(programDir_ / "linksdata.IDX");
  fs::remove(programDir_ / "linksdata.BLB");
  std::ofstream(programDir_ / "LINKSDATA.dat") << "older sites";
  Install();
  EXPECT_FALSE(fs::exists(programDir_ / "linksdata.DAT"));
  EXPECT_EQ(ReadFile(programDir_ / "LINKSDATA.dat"), "older sites");
}

TEST_F(InstallTest, TheLauncherRunsTheProgramFromItsDirectory) {
  Install();
  ReplaceProgramWithStandIn();
  std::string output;
  ASSERT_EQ(RunShell(Quote(prefix_ / "bin/marrowick") + " one two", output), 0) << output;
  EXPECT_EQ(output, (programDir_ / "marrowick").string() + "|one two\n");

  // Started through a link elsewhere on the PATH, it still finds its directory.
  fs::create_directories(root_ / "path");
  fs::create_symlink(prefix_ / "bin/marrowick", root_ / "path/marrowick");
  ASSERT_EQ(RunShell("PATH=" + Quote(root_ / "path") + ":\"$PATH\" marrowick", output), 0) << output;
  EXPECT_EQ(output, (programDir_ / "marrowick").string() + "|\n");
}

TEST_F(InstallTest, AUserOfAnInstallForEveryUserGetsAProgramDirectoryOfTheirOwn) {
  if (::geteuid() != 0) GTEST_SKIP() << "an install owned by another user needs root to make";
  Install();
  ReplaceProgramWithStandIn();
  std::string output;
  ASSERT_EQ(RunShell("chown -R 65534:65534 " + Quote(programDir_), output), 0) << output;

  const fs::path own = root_ / "data/marrowick";
  const std::string launch = "XDG_DATA_HOME=" + Quote(root_ / "data") + " " + Quote(prefix_ / "bin/marrowick");
  ASSERT_EQ(RunShell(launch, output), 0) << output;
  EXPECT_EQ(output, (own / "marrowick").string() + "|\n");
  EXPECT_EQ(ModeOf(own), 0700u);
  EXPECT_EQ(ReadFile(own / "MARROWICK.HLP"), ReadFile(programDir_ / "MARROWICK.HLP"));
  for (const char* name : {"linksdata.DAT", "linksdata.IDX", "linksdata.BLB"}) {
    EXPECT_EQ(ModeOf(own / name), 0600u) << name;
    EXPECT_EQ(ReadFile(own / name), ReadFile(prefix_ / "share/marrowick/sample" / name)) << name;
  }

  // The user's catalogue stays; a newer program replaces the copy.
  std::ofstream(own / "linksdata.DAT", std::ios::trunc) << "my sites";
  std::ofstream(programDir_ / "marrowick", std::ios::app) << "# a newer program\n";
  ASSERT_EQ(RunShell(launch, output), 0) << output;
  EXPECT_EQ(ReadFile(own / "linksdata.DAT"), "my sites");
  EXPECT_EQ(ReadFile(own / "marrowick"), ReadFile(programDir_ / "marrowick"));
}

TEST_F(InstallTest, WithoutAPrefixWhoInstallsChooses) {
  std::ifstream cache(fs::path(kBuildDir) / "CMakeCache.txt");
  std::string line;
  bool unchosen = false;
  while (std::getline(cache, line))
    if (line == "CMAKE_INSTALL_PREFIX:PATH=") unchosen = true;
  if (!unchosen) GTEST_SKIP() << "this build was configured with an install prefix";

  // A user: under their home's .local (staged under DESTDIR, as packagers do).
  fs::create_directories(root_ / "fake-bin");
  std::ofstream(root_ / "fake-bin/id") << "#!/bin/sh\necho 1000\n";
  fs::permissions(root_ / "fake-bin/id", fs::perms::owner_all);
  const fs::path home = root_ / "home";
  Install("DESTDIR=" + Quote(root_ / "user-stage") + " HOME=" + Quote(home) + " PATH=" + Quote(root_ / "fake-bin") +
              ":\"$PATH\"",
          false);
  const fs::path userDir = root_ / "user-stage" / home.relative_path() / ".local";
  EXPECT_TRUE(fs::is_regular_file(userDir / "lib/marrowick/marrowick"));
  const std::string entry = ReadFile(userDir / "share/applications/marrowick.desktop");
  EXPECT_NE(entry.find("Exec=\"" + (home / ".local/bin/marrowick").string() + "\""), std::string::npos) << entry;

  // Root: under /usr/local.
  if (::geteuid() == 0) {
    Install("DESTDIR=" + Quote(root_ / "root-stage"), false);
    EXPECT_TRUE(fs::is_regular_file(root_ / "root-stage/usr/local/lib/marrowick/marrowick"));
    EXPECT_TRUE(fs::is_regular_file(root_ / "root-stage/usr/local/bin/marrowick"));
  }
}

TEST_F(InstallTest, UninstallRemovesWhatWasLaidDownButNotTheCatalogue) {
  Install();
  std::string output;
  ASSERT_EQ(RunShell(Quote(kCmake) + " -DMANIFEST=" + Quote(manifest_) + " -P " +
                    Quote(fs::path(MARROWICK_SOURCE_DIR) / "cmake/Uninstall.cmake"),
                output),
            0)
      << output;
  EXPECT_FALSE(fs::exists(prefix_ / "bin/marrowick"));
  EXPECT_FALSE(fs::exists(prefix_ / "share/applications/marrowick.desktop"));
  EXPECT_FALSE(fs::exists(prefix_ / "share/icons/hicolor/48x48/apps/marrowick.png"));
  EXPECT_FALSE(fs::exists(prefix_ / "share/marrowick"));
  EXPECT_FALSE(fs::exists(programDir_ / "marrowick"));
  EXPECT_FALSE(fs::exists(programDir_ / "MARROWICK.HLP"));
  for (const char* name : {"linksdata.DAT", "linksdata.IDX", "linksdata.BLB"})
    EXPECT_TRUE(fs::is_regular_file(programDir_ / name)) << name;
}

}  // namespace
}  // namespace marrowick
