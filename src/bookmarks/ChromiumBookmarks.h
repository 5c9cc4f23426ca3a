// Bookmarks of a Chromium-family profile (Chromium, Chrome, Brave, Edge,
// Vivaldi): its "Bookmarks" file, JSON in the browser's layout:
//
//   { "checksum": "...", "version": 1,
//     "roots": { "bookmark_bar": NODE, "other": NODE, "synced": NODE } }
//   NODE: { "type": "folder", "name": "...", "children": [NODE ...] }
//       | { "type": "url", "name": "...", "url": "https://..." }
//
// The roots are read in that order (then any other folder root the file
// has), under the names the file gives them ("Bookmarks bar", "Other
// bookmarks", "Mobile bookmarks"). Other members are ignored.
#pragma once

#include <string>
#include <string_view>

#include "bookmarks/Bookmarks.h"

namespace bookmarks {

TBookmarkList ParseChromiumBookmarks(std::string_view json);
// EBookmarkError when the file cannot be read or is not such a file.
TBookmarkList ReadChromiumBookmarks(const std::string& path);

}  // namespace bookmarks
