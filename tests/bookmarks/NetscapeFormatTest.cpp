// Reading the Netscape bookmark file: nested folders, references, titles
// beyond ASCII, entries without an address or with one that is no site's,
// sloppy markup, the charset, and a file of 10,000 bookmarks.
#include <gtest/gtest.h>

#include "BookmarkTestSupport.h"
#include "bookmarks/BrowserProfiles.h"
#include "bookmarks/NetscapeFormat.h"

namespace bookmarks {
namespace {

using namespace bookmarks::testing;

const char kFile[] =
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
    "<!-- This is an automatically generated file. <DL><DT><A HREF=\"https://comment.example/\">no</A> -->\n"
    "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
    "<TITLE>Bookmarks</TITLE>\n"
    "<H1>Bookmarks Menu</H1>\n"
    "<DL><p>\n"
    "    <DT><H3 ADD_DATE=\"1\" LAST_MODIFIED=\"2\" PERSONAL_TOOLBAR_FOLDER=\"true\">Bookmarks bar</H3>\n"
    "    <DL><p>\n"
    "        <DT><A HREF=\"https://example.org/\" ADD_DATE=\"1\" ICON=\"data:image/png;base64,AAA=\">Example &amp; Co</A>\n"
    "        <DT><H3>Dev &lt;Tools&gt;</H3>\n"
    "        <DD>What the folder holds\n"
    "        <DL><p>\n"
    "            <DT><a href='https://git.example/?a=1&amp;b=2' tags=\"x\">Git &#233;&#xE8; caf&eacute;\n"
    "                \xE2\x80\x94   emoji \xF0\x9F\x98\x80</a>\n"
    "            <DD>A bookmark's description\n"
    "            <DT><A HREF=\"\">Empty address</A>\n"
    "            <DT><A>No address</A>\n"
    "            <DT><A HREF=\"javascript:alert(1)\">Bookmarklet</A>\n"
    "            <DT><A HREF=\"place:sort=8&maxResults=10\">Recent</A>\n"
    "            <HR>\n"
    "        </DL><p>\n"
    "        <DT><A HREF=\"https://after.example/\">After the subfolder</A>\n"
    "    </DL><p>\n"
    "    <DT><A HREF=https://unquoted.example/path>Unquoted</A>\n"
    "    <DT><A HREF=\" https://spaced.example/a b/\xC3\xA4\">Spaced <B>bold</B></A>\n"
    "    <DT><A HREF=\"https://broken.example/\">Missing end tag\n"
    "    <DT><H3>Empty folder</H3>\n"
    "    <DL><p>\n"
    "    </DL><p>\n"
    "</DL><p>\n";

TEST(NetscapeFormatTest, FoldersBookmarksAndWhatIsSkipped) {
  TBookmarkList list = ParseNetscapeBookmarks(kFile);
  EXPECT_EQ(Lines(list), (std::vector<std::string>{
                             "Bookmarks bar|Example & Co|https://example.org/",
                             "Bookmarks bar|After the subfolder|https://after.example/",
                             "Bookmarks bar / Dev <Tools>|Git \xE9\xE8 caf\xE9 \x97 emoji ?|https://git.example/?a=1&b=2",
                             "|Unquoted|https://unquoted.example/path",
                             "|Spaced bold|https://spaced.example/a%20b/%C3%A4",
                             "|Missing end tag|https://broken.example/",
                         }));
  ASSERT_EQ(list.Folders.size(), 3u);
  EXPECT_EQ(list.Folders[1].Name(), "Dev <Tools>");
  EXPECT_EQ(list.MissingUrl, 2);
  EXPECT_EQ(list.NotSites, 2);
  EXPECT_EQ(list.BookmarkCount(), 6);
}

TEST(NetscapeFormatTest, CharsetOfTheFile) {
  const std::string body = "<DL><p><DT><H3>Caf\xE9 \x80</H3><DL><p><DT><A HREF=\"https://c.example/\">Cr\xE8me</A></DL></DL>";
  // Declared Windows-1252 or Latin-1: taken as the Windows code page.
  for (const char* charset : {"windows-1252", "ISO-8859-1"}) {
    TBookmarkList list = ParseNetscapeBookmarks(std::string("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=") +
                                                charset + "\">\n" + body);
    EXPECT_EQ(Lines(list), std::vector<std::string>{"Caf\xE9 \x80|Cr\xE8me|https://c.example/"}) << charset;
  }
  // None declared: bytes that are no UTF-8 are the Windows code page ...
  EXPECT_EQ(Lines(ParseNetscapeBookmarks(body)), std::vector<std::string>{"Caf\xE9 \x80|Cr\xE8me|https://c.example/"});
  // ... and UTF-8 (with or without its signature) is UTF-8.
  const std::string utf8 = "<DL><DT><A HREF=\"https://u.example/\">\xC5\xA0koda \xE2\x82\xAC</A></DL>";
  EXPECT_EQ(Lines(ParseNetscapeBookmarks(utf8)), std::vector<std::string>{"|\x8Akoda \x80|https://u.example/"});
  EXPECT_EQ(Lines(ParseNetscapeBookmarks("\xEF\xBB\xBF" + utf8)),
            std::vector<std::string>{"|\x8Akoda \x80|https://u.example/"});
  // Another declared charset is converted from.
  const std::string koi8 = "<META CONTENT=\"text/html; charset=koi8-r\"><DL><DT><A HREF=\"https://k.example/\">\xF0\xD2</A></DL>";
  EXPECT_EQ(Lines(ParseNetscapeBookmarks(koi8)), std::vector<std::string>{"|??|https://k.example/"});
}

TEST(NetscapeFormatTest, TenThousandBookmarks) {
  const std::string html = ManyBookmarks(100, 100);
  TBookmarkList list = ParseNetscapeBookmarks(html);
  EXPECT_EQ(list.BookmarkCount(), 10000);
  EXPECT_EQ(list.Folders.size(), 100u);
  EXPECT_EQ(list.Folders[0].PathText(), "Folder 0");
  EXPECT_EQ(list.Folders[2].PathText(), "Folder 1 / Folder 2");
  EXPECT_EQ(list.Folders[3].PathText(), "Folder 3");
  EXPECT_EQ(list.Folders[99].Bookmarks[99].Title, "Site 99.99");
  EXPECT_EQ(list.Folders[99].Bookmarks[99].Url, "https://site99-99.example/");
  EXPECT_EQ(list.MissingUrl + list.NotSites, 0);
}

TEST(NetscapeFormatTest, FilesThatAreNoBookmarkFiles) {
  TScratch scratch;
  EXPECT_THROW(ReadNetscapeBookmarksFile(scratch.Path("missing.html")), EBookmarkError);
  const std::string text = scratch.Write("notes.txt", "just some text\n");
  try {
    ReadBookmarkFile(text);
    FAIL();
  } catch (const EBookmarkError& e) {
    EXPECT_EQ(std::string(e.what()), "\"" + text + "\" is not a bookmark file.");
  }
  EXPECT_THROW(ReadNetscapeBookmarksFile(text), EBookmarkError);
  // Truncated or garbled markup ends without a crash and keeps what it read.
  const std::string cut = std::string(kFile).substr(0, 700);
  for (std::size_t n = 0; n < cut.size(); n += 7) ParseNetscapeBookmarks(cut.substr(0, n));
  EXPECT_EQ(Lines(ParseNetscapeBookmarks("<DL><DT><A HREF=\"https://x.example/")).size(), 0u);
  EXPECT_EQ(Lines(ParseNetscapeBookmarks("</DL></DL><DT><A HREF=https://y.example/>y")),
            std::vector<std::string>{"|y|https://y.example/"});
}

}  // namespace
}  // namespace bookmarks
