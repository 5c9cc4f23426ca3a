// The SQLite side of the benchmarks: the catalogue as a rowid table with a
// unique index on siteurl, page size 4096, a cache of a given size and
// prepared statements that are reused.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "SiteData.h"

namespace bench {

class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, const char* sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  sqlite3_stmt* get() const { return stmt_; }
  void Bind(int index, const std::string& text);
  // One step: true while it yields a row; raises on an error.
  bool Step();
  void Reset();
  std::string Text(int column) const;

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteDb {
 public:
  // Opens (creating) path and applies pragmas, e.g. "PRAGMA synchronous=OFF;".
  // cacheBytes > 0 sets the page cache to that many bytes.
  SqliteDb(const std::string& path, uint64_t cacheBytes, const std::string& pragmas = {});
  ~SqliteDb();
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  sqlite3* get() const { return db_; }
  void Exec(const std::string& sql);
  // Closes the connection (a WAL database checkpoints here).
  void Close();

 private:
  sqlite3* db_ = nullptr;
};

// The database file (removing an older one and its journals) with the
// catalogue's table and index.
void CreateSqliteTable(const std::string& path);
// Bytes of the database file and any journal or WAL beside it.
uint64_t SqliteFileBytes(const std::string& path);
void RemoveSqliteFiles(const std::string& path);

// The statements the workloads reuse.
inline constexpr const char* kSqlInsert =
    "INSERT INTO sites(sitetype, siteurl, sitename, login, password, note) VALUES(?1, ?2, ?3, ?4, ?5, ?6)";
inline constexpr const char* kSqlSelectAll = "SELECT * FROM sites ORDER BY siteurl";
inline constexpr const char* kSqlSelectKey = "SELECT * FROM sites WHERE siteurl = ?1";
inline constexpr const char* kSqlUpdate = "UPDATE sites SET login = ?1 WHERE siteurl = ?2";
inline constexpr const char* kSqlDelete = "DELETE FROM sites WHERE siteurl = ?1";
inline constexpr const char* kSqlFirst = "SELECT * FROM sites ORDER BY siteurl LIMIT 1";

// Binds the six values of a site to an insert statement.
void BindSite(SqliteStatement& insert, const Site& site);
// Reads the six columns of the current row.
void ReadSite(const SqliteStatement& select, Site& site);

}  // namespace bench
