// The catalogue as a Netscape bookmark file, the format every browser
// imports: one folder per category (in the categories' byte order, as the
// grid's groups stand), each holding its sites in the grid's row order;
// sites without a category come last, outside any folder. Written in
// UTF-8 (the catalogue's Windows-1252 converted), LF line ends, with
// &, <, >, " and ' written as references:
//
//   <!DOCTYPE NETSCAPE-Bookmark-file-1>
//   <!-- This is an automatically generated file.
//        It will be read and overwritten.
//        DO NOT EDIT! -->
//   <META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">
//   <TITLE>Bookmarks</TITLE>
//   <H1>Bookmarks</H1>
//   <DL><p>
//       <DT><H3>News</H3>
//       <DL><p>
//           <DT><A HREF="https://example.org/">Example</A>
//       </DL><p>
//       <DT><A HREF="...">A site without a category</A>
//   </DL><p>
//
// Every row of the grid is written whatever is shown: collapsed groups,
// hidden columns (a bookmark needs its address even when the URL column is
// hidden) and the quick find's filter make no difference. The texts come
// from the grid's captured rows, reached through the row source's columns
// of the fields sitetype, sitename and siteurl; a grid without a siteurl
// column cannot be written ("The grid has no site address column").
// The notes and the credentials are never written.
#pragma once

#include <string>

#include "export/ByteSink.h"
#include "export/RowSource.h"

namespace exports {

void SaveBookmarksToStream(IRowSource& grid, IByteSink& stream);
// The same into the file, created or replaced only when all of it was
// written (ReplacingFile.h); failures are EExportError.
void SaveToBookmarks(IRowSource& grid, const std::string& fileName);

}  // namespace exports
