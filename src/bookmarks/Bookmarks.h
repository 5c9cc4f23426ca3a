// Bookmarks as the readers hand them over: folders, each with its path of
// folder names and the bookmarks directly in it. Every text is in the
// catalogue's code page (Windows-1252): titles beyond it carry '?' for
// what it cannot hold, and addresses are ASCII (bytes beyond ASCII are
// percent-encoded, as a browser would send them).
//
// The readers (NetscapeFormat.h, FirefoxPlaces.h, ChromiumBookmarks.h, or
// ReadBookmarkFile in BrowserProfiles.h, which tells the three apart) skip
// what is no site: an entry without an address, and one whose address the
// program could not open (place:, javascript:, file: ...); both are counted.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace bookmarks {

struct TBookmark {
  std::string Title;  // may be empty
  std::string Url;    // never empty
};

struct TBookmarkFolder {
  // Folder names from the outermost; empty for bookmarks outside any folder.
  std::vector<std::string> Path;
  std::vector<TBookmark> Bookmarks;

  // The innermost folder's name ("" outside any folder).
  std::string Name() const { return Path.empty() ? std::string() : Path.back(); }
  // "Bookmarks bar / Work / Tools".
  std::string PathText() const;
};

struct TBookmarkList {
  // Folders holding at least one bookmark, in the order they were met; a
  // path met twice is one folder.
  std::vector<TBookmarkFolder> Folders;
  // Entries skipped: without an address, and with one that is no site's.
  int MissingUrl = 0;
  int NotSites = 0;

  int BookmarkCount() const;
  // Adds a bookmark to the folder of that path (made when new).
  void Add(const std::vector<std::string>& path, TBookmark bookmark);
};

// A file that cannot be read as bookmarks: missing, unreadable, or not in
// the format it claims to be. The message names the file and the reason.
class EBookmarkError : public std::runtime_error {
 public:
  explicit EBookmarkError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace bookmarks
