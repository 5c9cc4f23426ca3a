#include "bookmarks/BrowserProfiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "bookmarks/ChromiumBookmarks.h"
#include "bookmarks/FirefoxPlaces.h"
#include "bookmarks/NetscapeFormat.h"

namespace bookmarks {

namespace {

namespace fs = std::filesystem;

struct TLocation {
  const char* Browser;
  const char* Folder;  // under the home directory
  TBrowserFamily Family;
};

constexpr TLocation kLocations[] = {
    {"Firefox", ".mozilla/firefox", TBrowserFamily::Firefox},
    {"Firefox", "snap/firefox/common/.mozilla/firefox", TBrowserFamily::Firefox},
    {"Firefox", ".var/app/org.mozilla.firefox/.mozilla/firefox", TBrowserFamily::Firefox},
    {"LibreWolf", ".librewolf", TBrowserFamily::Firefox},
    {"LibreWolf", ".var/app/io.gitlab.librewolf-community/.librewolf", TBrowserFamily::Firefox},
    {"Waterfox", ".waterfox", TBrowserFamily::Firefox},
    {"Chromium", ".config/chromium", TBrowserFamily::Chromium},
    {"Chromium", "snap/chromium/common/chromium", TBrowserFamily::Chromium},
    {"Google Chrome", ".config/google-chrome", TBrowserFamily::Chromium},
    {"Brave", ".config/BraveSoftware/Brave-Browser", TBrowserFamily::Chromium},
    {"Microsoft Edge", ".config/microsoft-edge", TBrowserFamily::Chromium},
    {"Vivaldi", ".config/vivaldi", TBrowserFamily::Chromium},
};

// A Firefox profile folder is "<random>.<name>"; the name is what the
// browser's profile manager shows.
std::string ProfileName(const std::string& folder, TBrowserFamily family) {
  if (family == TBrowserFamily::Firefox) {
    const std::size_t dot = folder.find('.');
    if (dot != std::string::npos && dot + 1 < folder.size()) return folder.substr(dot + 1);
  }
  return folder;
}

}  // namespace

std::vector<TBrowserProfile> FindBrowserProfiles(const std::string& home) {
  std::string base = home;
  if (base.empty()) {
    const char* env = std::getenv("HOME");
    if (env == nullptr || *env == '\0') return {};
    base = env;
  }
  std::vector<TBrowserProfile> profiles;
  for (const TLocation& location : kLocations) {
    const fs::path folder = fs::path(base) / location.Folder;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) continue;
    const char* fileName = location.Family == TBrowserFamily::Firefox ? "places.sqlite" : "Bookmarks";
    for (; it != fs::directory_iterator(); it.increment(error)) {
      if (error) break;
      std::error_code ignored;
      if (!it->is_directory(ignored)) continue;
      const fs::path file = it->path() / fileName;
      if (!fs::is_regular_file(file, ignored)) continue;
      TBrowserProfile profile;
      profile.Browser = location.Browser;
      profile.Profile = ProfileName(it->path().filename().string(), location.Family);
      profile.File = file.string();
      profile.Family = location.Family;
      profiles.push_back(std::move(profile));
    }
  }
  std::stable_sort(profiles.begin(), profiles.end(), [](const TBrowserProfile& a, const TBrowserProfile& b) {
    return a.Browser != b.Browser ? a.Browser < b.Browser : a.Profile < b.Profile;
  });
  return profiles;
}

TBookmarkList ReadBookmarkFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EBookmarkError("Cannot open file \"" + path + "\". " + std::strerror(errno));
  std::string head(4096, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  in.close();
  if (head.compare(0, 16, std::string("SQLite format 3\0", 16)) == 0) return ReadFirefoxPlaces(path);
  const std::size_t first = head.find_first_not_of(" \t\r\n");
  // A UTF-8 signature may come before the brace.
  const std::size_t brace = head.compare(0, 3, "\xEF\xBB\xBF") == 0 ? head.find_first_not_of(" \t\r\n", 3) : first;
  if (brace != std::string::npos && head[brace] == '{') return ReadChromiumBookmarks(path);
  if (LooksLikeNetscapeBookmarks(head)) return ReadNetscapeBookmarksFile(path);
  throw EBookmarkError("\"" + path + "\" is not a bookmark file.");
}

}  // namespace bookmarks
