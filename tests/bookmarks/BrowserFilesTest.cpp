// Browsers' own bookmark stores, made here in their published layouts:
// Firefox's places.sqlite (read from a copy, also while another connection
// holds it locked with unfinished writes in its log), Chromium's Bookmarks
// JSON; the profile folders under a home directory; telling the kinds of
// file apart.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "BookmarkTestSupport.h"
#include "bookmarks/BrowserProfiles.h"
#include "bookmarks/ChromiumBookmarks.h"
#include "bookmarks/FirefoxPlaces.h"

namespace bookmarks {
namespace {

using namespace bookmarks::testing;

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "") << "\n" << sql;
}

// The tables of places.sqlite as Firefox creates them (columns that this
// reader does not use included), with the roots every profile has.
const char kPlacesSchema[] = R"sql(
CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR, rev_host LONGVARCHAR,
  visit_count INTEGER DEFAULT 0, hidden INTEGER DEFAULT 0 NOT NULL, typed INTEGER DEFAULT 0 NOT NULL,
  frecency INTEGER DEFAULT -1 NOT NULL, last_visit_date INTEGER, guid TEXT, foreign_count INTEGER DEFAULT 0 NOT NULL,
  url_hash INTEGER DEFAULT 0 NOT NULL, description TEXT, preview_image_url TEXT, site_name TEXT,
  origin_id INTEGER REFERENCES moz_origins(id), recalc_frecency INTEGER NOT NULL DEFAULT 0, alt_frecency INTEGER,
  recalc_alt_frecency INTEGER NOT NULL DEFAULT 0);
CREATE TABLE moz_bookmarks (id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER DEFAULT NULL, parent INTEGER,
  position INTEGER, title LONGVARCHAR, keyword_id INTEGER, folder_type TEXT, dateAdded INTEGER,
  lastModified INTEGER, guid TEXT, syncStatus INTEGER NOT NULL DEFAULT 0, syncChangeCounter INTEGER NOT NULL DEFAULT 1);
CREATE INDEX moz_bookmarks_itemindex ON moz_bookmarks (fk, type);
CREATE INDEX moz_bookmarks_parentindex ON moz_bookmarks (parent, position);
INSERT INTO moz_bookmarks (id, type, parent, position, title, guid) VALUES
  (1, 2, 0, 0, '', 'root________'),
  (2, 2, 1, 0, 'menu', 'menu________'),
  (3, 2, 1, 1, 'toolbar', 'toolbar_____'),
  (4, 2, 1, 2, 'tags', 'tags________'),
  (5, 2, 1, 3, 'unfiled', 'unfiled_____'),
  (6, 2, 1, 4, 'mobile', 'mobile______');
INSERT INTO moz_places (id, url, title, guid) VALUES
  (1, 'https://github.com/', 'GitHub', 'p1'),
  (2, 'https://news.example/', 'The News Page', 'p2'),
  (3, 'https://z.example/Z' || char(252) || 'rich', 'Z' || char(252) || 'rich', 'p3'),
  (4, 'place:sort=8', NULL, 'p4'),
  (5, 'https://wal.example/', 'Written last', 'p5');
INSERT INTO moz_bookmarks (id, type, fk, parent, position, title, guid) VALUES
  (20, 1, 2, 2, 0, 'News', 'b20'),
  (21, 3, NULL, 2, 1, NULL, 'b21'),
  (10, 2, NULL, 3, 1, 'Dev ' || char(8211) || ' tools', 'b10'),
  (22, 1, 1, 10, 1, 'GitHub', 'b22'),
  (23, 1, 2, 10, 0, NULL, 'b23'),
  (24, 1, 3, 3, 0, '', 'b24'),
  (30, 2, NULL, 4, 0, 'mytag', 'b30'),
  (31, 1, 1, 30, 0, NULL, 'b31'),
  (25, 1, 4, 5, 0, 'Most visited', 'b25'),
  (26, 1, 99, 5, 1, 'Gone page', 'b26');
)sql";

TEST(BrowserFilesTest, FirefoxPlacesReadFromACopyWhileTheBrowserHoldsIt) {
  TScratch scratch;
  std::filesystem::create_directories(scratch.Path("profile"));
  const std::string places = scratch.Path("profile/places.sqlite");
  sqlite3* browser = nullptr;
  ASSERT_EQ(sqlite3_open(places.c_str(), &browser), SQLITE_OK);
  Exec(browser, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;");
  Exec(browser, kPlacesSchema);
  // The running browser: its lock held, its last write only in the log.
  Exec(browser, "PRAGMA locking_mode=EXCLUSIVE;");
  Exec(browser, "INSERT INTO moz_bookmarks (id, type, fk, parent, position, title, guid) VALUES "
                "(27, 1, 5, 6, 0, 'Written last', 'b27');");
  ASSERT_TRUE(std::filesystem::exists(places + "-wal"));
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open_v2(places.c_str(), &other, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  EXPECT_NE(sqlite3_exec(other, "SELECT count(*) FROM moz_bookmarks", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);

  TBookmarkList list = ReadFirefoxPlaces(places);
  EXPECT_EQ(Lines(list), (std::vector<std::string>{
                             "Bookmarks Menu|News|https://news.example/",
                             "Bookmarks Toolbar|Z\xFCrich|https://z.example/Z%C3%BCrich",
                             "Bookmarks Toolbar / Dev \x96 tools|The News Page|https://news.example/",
                             "Bookmarks Toolbar / Dev \x96 tools|GitHub|https://github.com/",
                             "Mobile Bookmarks|Written last|https://wal.example/",
                         }));
  EXPECT_EQ(list.NotSites, 1);    // the place: query
  EXPECT_EQ(list.MissingUrl, 1);  // a bookmark of a page that is gone
  // The browser's files are as they were; the copy is gone.
  Exec(browser, "SELECT count(*) FROM moz_bookmarks;");
  sqlite3_close(browser);
  EXPECT_EQ(ReadBookmarkFile(places).BookmarkCount(), 5);
}

TEST(BrowserFilesTest, FirefoxFilesThatAreNotPlaces) {
  TScratch scratch;
  EXPECT_THROW(ReadFirefoxPlaces(scratch.Path("none.sqlite")), EBookmarkError);
  const std::string other = scratch.Path("other.sqlite");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
  Exec(db, "CREATE TABLE t (x);");
  sqlite3_close(db);
  try {
    ReadFirefoxPlaces(other);
    FAIL();
  } catch (const EBookmarkError& e) {
    EXPECT_NE(std::string(e.what()).find("is not a Firefox bookmark database"), std::string::npos) << e.what();
  }
  const std::string garbage = scratch.Write("garbage.sqlite", std::string("SQLite format 3\0", 16) + std::string(200, 'x'));
  EXPECT_THROW(ReadBookmarkFile(garbage), EBookmarkError);
}

const char kChromium[] = R"json({
   "checksum": "0123456789abcdef0123456789abcdef",
   "roots": {
      "bookmark_bar": {
         "children": [ {
            "date_added": "13300000000000000", "guid": "a", "id": "5", "name": "Docs", "type": "url",
            "url": "https://docs.example/"
         }, {
            "children": [ {
               "id": "7", "name": "Build \u2013 CI", "type": "url", "url": "https://ci.example/"
            }, {
               "children": [ { "id": "9", "name": "Deep", "type": "url", "url": "https://deep.example/" } ],
               "id": "8", "name": "Inner", "type": "folder"
            }, {
               "id": "10", "name": "Bookmarklet", "type": "url", "url": "javascript:void(0)"
            }, {
               "id": "11", "name": "No address", "type": "url"
            } ],
            "date_modified": "0", "id": "6", "name": "Work", "type": "folder"
         } ],
         "id": "1", "name": "Bookmarks bar", "type": "folder"
      },
      "other": {
         "children": [ { "id": "12", "name": "Z\u00fcrich \u2708", "type": "url", "url": "https://z\u00fcrich.example/" } ],
         "id": "2", "name": "Other bookmarks", "type": "folder"
      },
      "synced": { "children": [ ], "id": "3", "name": "Mobile bookmarks", "type": "folder" }
   },
   "version": 1
})json";

TEST(BrowserFilesTest, ChromiumBookmarksJson) {
  TBookmarkList list = ParseChromiumBookmarks(kChromium);
  EXPECT_EQ(Lines(list), (std::vector<std::string>{
                             "Bookmarks bar|Docs|https://docs.example/",
                             "Bookmarks bar / Work|Build \x96 CI|https://ci.example/",
                             "Bookmarks bar / Work / Inner|Deep|https://deep.example/",
                             "Other bookmarks|Z\xFCrich ?|https://z%C3%BCrich.example/",
                         }));
  EXPECT_EQ(list.NotSites, 1);
  EXPECT_EQ(list.MissingUrl, 1);
  TScratch scratch;
  EXPECT_EQ(ReadBookmarkFile(scratch.Write("Bookmarks", kChromium)).BookmarkCount(), 4);
  EXPECT_THROW(ReadBookmarkFile(scratch.Write("broken", "{\"roots\": {")), EBookmarkError);
  EXPECT_THROW(ReadChromiumBookmarks(scratch.Write("array", "[1, 2]")), EBookmarkError);
  EXPECT_THROW(ReadChromiumBookmarks(scratch.Path("missing")), EBookmarkError);
}

TEST(BrowserFilesTest, ProfilesUnderTheHomeDirectory) {
  TScratch home;
  home.Write(".mozilla/firefox/x8k2.default-release/places.sqlite", "");
  home.Write(".mozilla/firefox/ab12.dev-edition-default/places.sqlite", "");
  home.Write(".mozilla/firefox/empty.profile/prefs.js", "");
  home.Write(".mozilla/firefox/profiles.ini", "[General]\n");
  home.Write(".librewolf/q1.default/places.sqlite", "");
  home.Write(".config/google-chrome/Default/Bookmarks", "{}");
  home.Write(".config/google-chrome/Profile 1/Preferences", "{}");
  home.Write(".config/BraveSoftware/Brave-Browser/Default/Bookmarks", "{}");
  home.Write(".config/vivaldi/Profile 2/Bookmarks", "{}");
  std::vector<std::string> found;
  for (const TBrowserProfile& p : FindBrowserProfiles(home.Path(""))) {
    found.push_back(p.DisplayName() + (p.Family == TBrowserFamily::Firefox ? " F " : " C ") +
                    p.File.substr(home.Path("").size()));
  }
  EXPECT_EQ(found, (std::vector<std::string>{
                       "Brave (Default) C .config/BraveSoftware/Brave-Browser/Default/Bookmarks",
                       "Firefox (default-release) F .mozilla/firefox/x8k2.default-release/places.sqlite",
                       "Firefox (dev-edition-default) F .mozilla/firefox/ab12.dev-edition-default/places.sqlite",
                       "Google Chrome (Default) C .config/google-chrome/Default/Bookmarks",
                       "LibreWolf (default) F .librewolf/q1.default/places.sqlite",
                       "Vivaldi (Profile 2) C .config/vivaldi/Profile 2/Bookmarks",
                   }));
  TScratch empty;
  EXPECT_TRUE(FindBrowserProfiles(empty.Path("")).empty());
}

}  // namespace
}  // namespace bookmarks
