#include "bookmarks/FirefoxPlaces.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "bookmarks/BookmarkText.h"

namespace bookmarks {

namespace {

namespace fs = std::filesystem;

// A private directory removed with everything in it.
class TScratchDir {
 public:
  TScratchDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/marrowick-places-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      throw EBookmarkError(std::string("Cannot make a scratch directory. ") + std::strerror(errno));
    }
    path_ = pattern;
  }
  ~TScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TScratchDir(const TScratchDir&) = delete;
  TScratchDir& operator=(const TScratchDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

struct TDbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct TStatementFinalizer {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};

struct TEntry {
  int64_t Id = 0;
  int Type = 0;
  std::string Title;
  std::string Url;
  std::string PageTitle;
  std::string Guid;
  bool HasUrl = false;
};

std::string Column(sqlite3_stmt* s, int i) {
  const unsigned char* text = sqlite3_column_text(s, i);
  return text != nullptr ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

// The names the browser shows for its roots.
std::optional<std::string> RootName(const std::string& guid) {
  if (guid == "menu________") return "Bookmarks Menu";
  if (guid == "toolbar_____") return "Bookmarks Toolbar";
  if (guid == "unfiled_____") return "Other Bookmarks";
  if (guid == "mobile______") return "Mobile Bookmarks";
  return std::nullopt;
}

}  // namespace

TBookmarkList ReadFirefoxPlaces(const std::string& placesFile) {
  std::error_code error;
  if (!fs::is_regular_file(placesFile, error)) {
    throw EBookmarkError("Cannot open file \"" + placesFile + "\". No such file");
  }
  TScratchDir scratch;
  const std::string copy = scratch.Path() + "/places.sqlite";
  // The database and its write-ahead log, which holds what a running
  // browser wrote since its last checkpoint; SQLite replays it on opening.
  for (const char* suffix : {"", "-wal"}) {
    const std::string from = placesFile + suffix;
    if (*suffix != '\0' && !fs::exists(from, error)) continue;
    fs::copy_file(from, copy + suffix, fs::copy_options::overwrite_existing, error);
    if (error) throw EBookmarkError("Cannot copy file \"" + from + "\". " + error.message());
  }

  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(copy.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  std::unique_ptr<sqlite3, TDbCloser> db(raw);
  const std::string notPlaces = "\"" + placesFile + "\" is not a Firefox bookmark database.";
  if (rc != SQLITE_OK) throw EBookmarkError(notPlaces + " " + sqlite3_errstr(rc));
  sqlite3_busy_timeout(db.get(), 2000);

  const char* sql =
      "SELECT b.id, b.type, b.parent, b.title, p.url, p.title, b.guid "
      "FROM moz_bookmarks b LEFT JOIN moz_places p ON p.id = b.fk "
      "ORDER BY b.parent, b.position, b.id";
  sqlite3_stmt* rawStatement = nullptr;
  rc = sqlite3_prepare_v2(db.get(), sql, -1, &rawStatement, nullptr);
  std::unique_ptr<sqlite3_stmt, TStatementFinalizer> statement(rawStatement);
  if (rc != SQLITE_OK) throw EBookmarkError(notPlaces + " " + sqlite3_errmsg(db.get()));

  std::map<int64_t, std::vector<TEntry>> children;
  std::vector<int64_t> roots;
  while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
    TEntry e;
    e.Id = sqlite3_column_int64(statement.get(), 0);
    e.Type = sqlite3_column_int(statement.get(), 1);
    const int64_t parent = sqlite3_column_int64(statement.get(), 2);
    e.Title = Column(statement.get(), 3);
    e.HasUrl = sqlite3_column_type(statement.get(), 4) != SQLITE_NULL;
    e.Url = Column(statement.get(), 4);
    e.PageTitle = Column(statement.get(), 5);
    e.Guid = Column(statement.get(), 6);
    if (parent == 0 && e.Type == 2) roots.push_back(e.Id);
    children[parent].push_back(std::move(e));
  }
  if (rc != SQLITE_DONE) throw EBookmarkError(notPlaces + " " + sqlite3_errmsg(db.get()));

  TBookmarkList list;
  std::vector<std::string> path;
  std::set<int64_t> visited;
  std::function<void(int64_t)> walk = [&](int64_t folder) {
    // A damaged database could make a folder its own ancestor.
    if (!visited.insert(folder).second) return;
    auto it = children.find(folder);
    if (it == children.end()) return;
    for (const TEntry& e : it->second) {
      if (e.Type == 2) {
        if (e.Guid == "tags________") continue;
        const std::optional<std::string> root = RootName(e.Guid);
        path.push_back(root ? *root : TitleFromUtf8(e.Title));
        walk(e.Id);
        path.pop_back();
      } else if (e.Type == 1) {
        if (!e.HasUrl || e.Url.empty()) {
          ++list.MissingUrl;
          continue;
        }
        std::optional<std::string> url = SiteAddress(e.Url);
        if (!url) {
          ++list.NotSites;
          continue;
        }
        list.Add(path, TBookmark{TitleFromUtf8(e.Title.empty() ? e.PageTitle : e.Title), std::move(*url)});
      }
    }
  };
  for (int64_t root : roots) walk(root);
  return list;
}

}  // namespace bookmarks
