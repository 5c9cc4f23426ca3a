#include "SqliteSide.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <stdexcept>

namespace bench {
namespace {

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
  throw std::runtime_error(what + ": " + (db != nullptr ? sqlite3_errmsg(db) : "no connection"));
}

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

}  // namespace

std::string SqlitePragmas(const SqliteSetting& setting, bool durable) {
  // Tessel maps the files it keeps reading; SQLite maps its database too.
  return std::string("PRAGMA journal_mode=") + setting.journalMode + "; PRAGMA synchronous=" +
         (durable ? "FULL" : "OFF") + "; PRAGMA mmap_size=" + std::to_string(kSqliteMmapBytes) + ";";
}

SqliteStatement::SqliteStatement(sqlite3* db, const char* sql) : db_(db) {
  if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) Fail(db, sql);
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

void SqliteStatement::Bind(int index, const std::string& text) {
  if (sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC) != SQLITE_OK)
    Fail(db_, "bind");
}

bool SqliteStatement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail(db_, "step");
}

void SqliteStatement::Reset() { sqlite3_reset(stmt_); }

std::string SqliteStatement::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  return text == nullptr ? std::string() : std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
}

SqliteDb::SqliteDb(const std::string& path, uint64_t cacheBytes, const std::string& pragmas) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
    Fail(db_, "open " + path);
  if (cacheBytes > 0) Exec("PRAGMA cache_size=-" + std::to_string((cacheBytes + 1023) / 1024) + ";");
  if (!pragmas.empty()) Exec(pragmas);
}

SqliteDb::~SqliteDb() {
  try {
    Close();
  } catch (...) {
  }
}

void SqliteDb::Exec(const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string text = error != nullptr ? error : "?";
    sqlite3_free(error);
    throw std::runtime_error(sql + ": " + text);
  }
}

void SqliteDb::CheckJournalMode(const SqliteSetting& setting) {
  std::string expected = setting.journalMode;
  for (char& c : expected) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  SqliteStatement mode(db_, "PRAGMA journal_mode");
  if (!mode.Step() || mode.Text(0) != expected)
    throw std::runtime_error(std::string("SQLite runs in journal mode ") + mode.Text(0) + ", not " + setting.journalMode);
}

void SqliteDb::Close() {
  if (db_ == nullptr) return;
  sqlite3* db = db_;
  db_ = nullptr;
  if (sqlite3_close(db) != SQLITE_OK) Fail(db, "close");
}

void RemoveSqliteFiles(const std::string& path) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) ::unlink((path + suffix).c_str());
}

void CreateSqliteTable(const std::string& path, const SqliteSetting* setting) {
  RemoveSqliteFiles(path);
  {
    SqliteDb db(path, 0);
    db.Exec(
        "PRAGMA page_size=4096;"
        "CREATE TABLE sites(sitetype TEXT, siteurl TEXT NOT NULL, sitename TEXT, login TEXT, password TEXT,"
        " note TEXT);"
        "CREATE UNIQUE INDEX siteurl ON sites(siteurl);");
  }
  if (setting != nullptr) PrepareSqliteFile(path, *setting);
}

void PrepareSqliteFile(const std::string& path, const SqliteSetting& setting) {
  if (std::string(setting.journalMode) != "WAL") return;
  SqliteDb db(path, 0);
  db.Exec("PRAGMA journal_mode=WAL;");
  db.CheckJournalMode(setting);
}

uint64_t SqliteFileBytes(const std::string& path) {
  return FileSize(path) + FileSize(path + "-journal") + FileSize(path + "-wal") + FileSize(path + "-shm");
}

void BindSite(SqliteStatement& insert, const Site& site) {
  insert.Bind(1, site.sitetype);
  insert.Bind(2, site.siteurl);
  insert.Bind(3, site.sitename);
  insert.Bind(4, site.login);
  insert.Bind(5, site.password);
  insert.Bind(6, site.note);
}

void ReadSite(const SqliteStatement& select, Site& site) {
  site.sitetype = select.Text(0);
  site.siteurl = select.Text(1);
  site.sitename = select.Text(2);
  site.login = select.Text(3);
  site.password = select.Text(4);
  site.note = select.Text(5);
}

}  // namespace bench
