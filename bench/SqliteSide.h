// The SQLite side of the benchmarks: the catalogue as a rowid table with a
// unique index on siteurl, page size 4096, a cache of a given size and
// prepared statements that are reused, under each of the journal settings
// the workloads are compared against.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "SiteData.h"

namespace bench {

// One way of running SQLite that every workload is timed under, a column of
// the summary. They differ only in how a transaction is made safe: a
// rollback journal made and deleted for every transaction (SQLite's
// default), a write-ahead log, or nothing at all. Tessel keeps no journal,
// so the last two are the like-for-like comparison for writes that are not
// flushed.
struct SqliteSetting {
  const char* side;         // the column's name, also the figures' key
  const char* journalMode;  // the value of PRAGMA journal_mode
};

inline constexpr SqliteSetting kSqliteSettings[] = {
    {"rollback journal", "DELETE"},
    {"WAL", "WAL"},
    {"journal off", "OFF"},
};

// The pragmas every connection of the setting runs after opening: the
// journal mode, and synchronous FULL for durable writes, OFF otherwise.
// The bytes of a database file SQLite may map (all of the benchmark's).
inline constexpr long long kSqliteMmapBytes = 1LL << 30;
std::string SqlitePragmas(const SqliteSetting& setting, bool durable);

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
  // Raises unless the connection runs in the setting's journal mode (SQLite
  // answers a mode it cannot take with the one it keeps, without an error).
  void CheckJournalMode(const SqliteSetting& setting);
  // Closes the connection (a WAL database checkpoints here).
  void Close();

 private:
  sqlite3* db_ = nullptr;
};

// The database file (removing an older one and its journals) with the
// catalogue's table and index. WAL is a property of the database file, so a
// WAL setting's file is switched to it here, before any timing; the other
// journal modes belong to the connection.
void CreateSqliteTable(const std::string& path, const SqliteSetting* setting = nullptr);
// Switches an existing database file to the setting's journal mode where
// that is kept in the file (WAL); does nothing otherwise.
void PrepareSqliteFile(const std::string& path, const SqliteSetting& setting);
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
