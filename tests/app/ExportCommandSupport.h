// Helpers of the export command's tests: a copy of the sample catalogue in a
// temporary directory, and the text export its sites must give under a
// layout, worked out from the sites' source file rather than by the grid.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace marrowick::testing {

namespace fs = std::filesystem;

inline const std::string kProgramDir = MARROWICK_PROGRAM_DIR;
inline const std::string kSourceDir = MARROWICK_SOURCE_DIR;
inline const char* const kCatalogueFiles[] = {"linksdata.DAT", "linksdata.IDX", "linksdata.BLB"};

inline std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::set<std::string> Entries(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

class TTempDir {
 public:
  TTempDir() {
    char pattern[] = "/tmp/marrowick-export-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TTempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const fs::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// Copies the built sample catalogue into dir as stem.DAT, .IDX, .BLB.
inline void CopyCatalogue(const fs::path& dir, const std::string& stem = "linksdata") {
  fs::create_directories(dir);
  for (const char* name : kCatalogueFiles) {
    const std::string ext = fs::path(name).extension().string();
    fs::copy_file(fs::path(kProgramDir) / name, dir / (stem + ext), fs::copy_options::overwrite_existing);
  }
}

struct TSampleSite {
  std::string type, name, url, login, password;
};

inline std::vector<TSampleSite> SampleSites() {
  std::vector<TSampleSite> sites;
  std::ifstream in(kSourceDir + "/data/sites.jsonl");
  std::string line;
  auto text = [](const nlohmann::json& value) { return value.is_string() ? value.get<std::string>() : std::string(); };
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const nlohmann::json site = nlohmann::json::parse(line);
    sites.push_back({text(site["sitetype"]), text(site["sitename"]), text(site["siteurl"]), text(site["login"]),
                     text(site["password"])});
  }
  return sites;
}

// One column of a flat or grouped text export: its header and its cell.
struct TTextColumn {
  std::string Caption;
  std::string (*Cell)(const TSampleSite&);
};
inline std::string CategoryCell(const TSampleSite& s) { return s.type; }
inline std::string NameCell(const TSampleSite& s) { return s.name; }
inline std::string UrlCell(const TSampleSite& s) { return s.url; }
inline std::string LoginCell(const TSampleSite& s) { return s.login; }
inline std::string PasswordCell(const TSampleSite& s) { return s.password; }

// The text export of the sample: grouped by category (groups in byte order
// of their text, each holding its sites in URL order) or flat in URL order,
// ascending or descending.
inline std::string ExpectedText(const std::vector<TTextColumn>& columns, bool grouped, bool urlDescending = false) {
  std::vector<TSampleSite> sites = SampleSites();
  std::stable_sort(sites.begin(), sites.end(), [&](const TSampleSite& a, const TSampleSite& b) {
    if (grouped && a.type != b.type) return a.type < b.type;
    return urlDescending ? a.url > b.url : a.url < b.url;
  });
  std::string text;
  for (const TTextColumn& column : columns) text += column.Caption + "\t";
  text += "\r\r\n";
  std::string group;
  for (size_t i = 0; i < sites.size(); ++i) {
    if (grouped && (i == 0 || sites[i].type != group)) {
      group = sites[i].type;
      text += "Site Category : " + group + " \r\n";
    }
    for (const TTextColumn& column : columns) text += column.Cell(sites[i]) + "\t";
    text += "\r\n";
  }
  return text;
}

// The layout of a first start: grouped by category, which stays shown
// beside name and URL.
inline std::string FirstStartText() {
  return ExpectedText({{"Site Category", CategoryCell}, {"Site Name", NameCell}, {"Site Url", UrlCell}}, true);
}

// What a run of the built program gave: its exit status (128 when it did
// not exit) and its standard output and error.
struct TRun {
  int status = -1;
  std::string out, err;
};

// Runs program with the arguments in a child process as a shell without a
// display would: no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM, and
// XDG_CONFIG_HOME set to config. Its output goes through files in scratch;
// it runs in workDir when one is given.
inline TRun RunProgram(const fs::path& program, const std::vector<std::string>& arguments, const fs::path& config,
                       const fs::path& scratch, const fs::path& workDir = {}) {
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "QT_QPA_PLATFORM" || name == "XDG_CONFIG_HOME") {
      continue;
    }
    environment.push_back(entry);
  }
  environment.push_back("XDG_CONFIG_HOME=" + config.string());
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> args{program.string()};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const std::string outFile = (scratch / "stdout").string();
  const std::string errFile = (scratch / "stderr").string();
  const pid_t pid = ::fork();
  if (pid == 0) {
    FILE* o = std::freopen(outFile.c_str(), "w", stdout);
    FILE* e = std::freopen(errFile.c_str(), "w", stderr);
    if (o == nullptr || e == nullptr || (!workDir.empty() && ::chdir(workDir.c_str()) != 0)) ::_exit(127);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  TRun run;
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid) run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  run.out = ReadBytes(outFile);
  run.err = ReadBytes(errFile);
  return run;
}

}  // namespace marrowick::testing
