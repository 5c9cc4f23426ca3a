// Helpers of the bookmark tests: files in a temporary directory, a
// Netscape bookmark file of many bookmarks, and a list's bookmarks as
// lines to compare.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bookmarks/Bookmarks.h"

namespace bookmarks::testing {

class TScratch {
 public:
  TScratch() {
    char pattern[] = "/tmp/bookmark-tests-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TScratch(const TScratch&) = delete;
  TScratch& operator=(const TScratch&) = delete;
  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string file = Path(name);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }

 private:
  std::string path_;
};

// "Folder / Sub|Title|URL", one line per bookmark, folders in list order.
inline std::vector<std::string> Lines(const TBookmarkList& list) {
  std::vector<std::string> lines;
  for (const TBookmarkFolder& folder : list.Folders) {
    for (const TBookmark& b : folder.Bookmarks) lines.push_back(folder.PathText() + "|" + b.Title + "|" + b.Url);
  }
  return lines;
}

// A bookmark file of folders x perFolder bookmarks, every tenth folder
// inside the one before it: "Folder <f>" holding "Site <f>.<i>" at
// https://site<f>-<i>.example/.
inline std::string ManyBookmarks(int folders, int perFolder) {
  std::string html =
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
      "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n";
  for (int f = 0; f < folders; ++f) {
    const bool nested = f % 10 == 1;
    html += "<DT><H3 ADD_DATE=\"1700000000\">Folder " + std::to_string(f) + "</H3>\n<DL><p>\n";
    for (int i = 0; i < perFolder; ++i) {
      const std::string n = std::to_string(f) + "-" + std::to_string(i);
      html += "    <DT><A HREF=\"https://site" + n + ".example/\" ADD_DATE=\"1700000000\" ICON=\"data:image/png;base64,iVBORw0KGgo=\">Site " +
              std::to_string(f) + "." + std::to_string(i) + "</A>\n";
    }
    // Every tenth folder's successor is nested in it.
    if (!nested) html += "</DL><p>\n";
    if (f % 10 == 2) html += "</DL><p>\n";
  }
  html += "</DL><p>\n";
  return html;
}

}  // namespace bookmarks::testing
