// The Netscape bookmark file every browser exports and imports
// ("bookmarks.html"). Its grammar, as browsers write it (tag and attribute
// names in any letter case, attribute values quoted or not):
//
//   <!DOCTYPE NETSCAPE-Bookmark-file-1>
//   <META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">
//   <TITLE>Bookmarks</TITLE>
//   <H1>Bookmarks</H1>
//   <DL><p>
//       <DT><H3 ADD_DATE="..." ...>Folder name</H3>
//       <DD>folder description
//       <DL><p>
//           <DT><A HREF="https://..." ADD_DATE="..." ICON="...">Title</A>
//           <DD>bookmark description
//       </DL><p>
//       <DT><A HREF="...">Title outside any folder</A>
//       <HR>
//   </DL><p>
//
// A folder is the H3 that comes before a DL; the DL's bookmarks are its
// own, nested DLs its subfolders. The H1 names the file, not a folder.
// Attributes other than HREF, descriptions and separators are ignored.
// Texts are in the charset the META names (UTF-8 when none is named and
// the bytes are valid UTF-8, Windows-1252 otherwise); character references
// are decoded. A missing </A> or </H3> ends at the next element.
//
// Writing (the "bookmarks" export) is in export/BookmarkExport.h.
#pragma once

#include <string>
#include <string_view>

#include "bookmarks/Bookmarks.h"

namespace bookmarks {

TBookmarkList ParseNetscapeBookmarks(std::string_view html);
// EBookmarkError when the file cannot be read or holds no bookmark file.
TBookmarkList ReadNetscapeBookmarksFile(const std::string& path);

// Whether the bytes begin like a Netscape bookmark file (its DOCTYPE, or
// an HTML document with a DL of DT entries).
bool LooksLikeNetscapeBookmarks(std::string_view head);

}  // namespace bookmarks
