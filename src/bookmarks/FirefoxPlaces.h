// Bookmarks of a Firefox-family profile (Firefox, LibreWolf, Waterfox ...):
// its places.sqlite database, read through SQLite from a copy made first,
// so that a running browser's lock and its unfinished write-ahead log do
// not matter. The layout read (the browser's own):
//
//   moz_bookmarks (id, type, fk, parent, position, title, guid)
//     type 1 bookmark (fk -> moz_places.id), 2 folder, 3 separator;
//     the root folder has parent 0; its children are the menu
//     ("menu________"), the toolbar ("toolbar_____"), other bookmarks
//     ("unfiled_____"), mobile ("mobile______") and the tags
//     ("tags________", whose entries are tags, not bookmarks: skipped).
//   moz_places (id, url, title)
//
// Folders come in the browser's order (position), with the names the
// browser shows for the roots ("Bookmarks Menu", "Bookmarks Toolbar",
// "Other Bookmarks", "Mobile Bookmarks"). A bookmark without a title of
// its own takes its page's title.
#pragma once

#include <string>

#include "bookmarks/Bookmarks.h"

namespace bookmarks {

// EBookmarkError when the file cannot be copied or opened, or is not a
// places database.
TBookmarkList ReadFirefoxPlaces(const std::string& placesFile);

}  // namespace bookmarks
