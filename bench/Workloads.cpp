// The workloads, each once on Tessel and once on SQLite. Every timing runs
// from opening the table to closing it (write-back, checkpoint and all);
// laying down the empty table or copying the loaded one is not timed.
#include <sqlite3.h>

#include <stdexcept>

#include "Bench.h"
#include "SqliteSide.h"
#include "TesselSide.h"
#include "dataset/Field.h"
#include "dataset/Variant.h"
#include "engine/components/Session.h"
#include "engine/components/TesselTable.h"

namespace bench {
namespace {

const char* const kBulk = "bulk load 100,000 (exclusive / 1 transaction)";
const char* const kDurableWal = "durable insert 2,000 (vs WAL, FULL)";
const char* const kDurableDelete = "durable insert 2,000 (vs DELETE, FULL)";
const char* const kPlain = "insert 10,000, not durable";
const char* const kReadSet = "full read in key order, record set";
const char* const kReadCursor = "full read in key order, cursor";
const char* const kLocate = "100,000 lookups, Locate (half misses)";
const char* const kFindKey = "100,000 lookups, cursor FindKey";
const char* const kUpdate = "update 10,000 by key, not durable";
const char* const kDelete = "delete 10,000 by key, not durable";
const char* const kOpen = "open 100,000-record table + first record";

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

// A session component for the record-set workloads.
struct RecordSetSession {
  explicit RecordSetSession(bool forceBufferFlush) {
    session.SetSessionName("bench");
    session.SetKeepConnections(false);
    session.SetForceBufferFlush(forceBufferFlush);
  }
  tessel::TTesselSession session;
};

std::unique_ptr<tessel::TTesselTable> OpenRecordSet(const std::string& dir) {
  auto table = std::make_unique<tessel::TTesselTable>();
  table->SetSessionName("bench");
  table->SetIndexFieldNames("siteurl");
  table->SetTableName(dir + kTesselTable);
  table->Open();
  return table;
}

// ---------------------------------------------------------------------------
// Bulk load

void BulkTessel(benchmark::State& state) {
  Sites();
  for (auto _ : state) {
    const std::string dir = FreshDir("bulk-tessel");
    CreateTesselTable(dir);
    Measure m(state, kBulk, kTessel, kRecords);
    TesselBulkLoad(dir, kRecords);
    m.Stop();
    NoteFileBytes(kTessel, TesselFileBytes(dir));
  }
}

void BulkSqlite(benchmark::State& state) {
  Sites();
  CacheBytes();
  for (auto _ : state) {
    const std::string path = FreshDir("bulk-sqlite") + "sites.db";
    CreateSqliteTable(path);
    Measure m(state, kBulk, kSqlite, kRecords);
    SqliteBulkLoad(path, kRecords);
    m.Stop();
    NoteFileBytes(kSqlite, SqliteFileBytes(path));
  }
}

// ---------------------------------------------------------------------------
// Per-record inserts

void InsertTessel(benchmark::State& state, bool durable) {
  const auto& sites = Sites();
  const int64_t count = durable ? kDurableInserts : kPlainInserts;
  for (auto _ : state) {
    const std::string dir = FreshDir("insert-tessel");
    CreateTesselTable(dir);
    Measure m(state, durable ? kDurableWal : kPlain, kTessel, count);
    {
      TesselEnv env(dir, durable);
      auto cursor = env.Open(false);
      SiteImage image(*cursor);
      for (int64_t i = 0; i < count; ++i) {
        image.Fill(sites[static_cast<size_t>(i)]);
        image.Insert();
      }
      cursor->Close();
    }
    m.Stop();
  }
  if (durable) AlsoRecord(kDurableDelete, kTessel, kDurableWal);
}

void InsertSqlite(benchmark::State& state, const char* workload, int64_t count, const std::string& pragmas) {
  const auto& sites = Sites();
  for (auto _ : state) {
    const std::string path = FreshDir("insert-sqlite") + "sites.db";
    CreateSqliteTable(path);
    Measure m(state, workload, kSqlite, count);
    {
      SqliteDb db(path, CacheBytes(), pragmas);
      SqliteStatement insert(db.get(), kSqlInsert);
      for (int64_t i = 0; i < count; ++i) {
        BindSite(insert, sites[static_cast<size_t>(i)]);
        insert.Step();
        insert.Reset();
      }
    }
    m.Stop();
  }
}

void DurableTessel(benchmark::State& state) { InsertTessel(state, true); }
void DurableSqliteWal(benchmark::State& state) {
  InsertSqlite(state, kDurableWal, kDurableInserts, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
}
void DurableSqliteDelete(benchmark::State& state) {
  InsertSqlite(state, kDurableDelete, kDurableInserts, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;");
}
void PlainTessel(benchmark::State& state) { InsertTessel(state, false); }
void PlainSqlite(benchmark::State& state) {
  InsertSqlite(state, kPlain, kPlainInserts, "PRAGMA synchronous=OFF;");
}

// ---------------------------------------------------------------------------
// Full read in key order

void ReadRecordSetTessel(benchmark::State& state) {
  const std::string dir = TesselBase();
  for (auto _ : state) {
    RecordSetSession session(false);
    Measure m(state, kReadSet, kTessel, kRecords);
    int64_t rows = 0;
    size_t bytes = 0;
    {
      auto table = OpenRecordSet(dir);
      dataset::TField* fields[] = {&table->FieldByName("sitetype"), &table->FieldByName("siteurl"),
                                   &table->FieldByName("sitename"), &table->FieldByName("login"),
                                   &table->FieldByName("password"), &table->FieldByName("note")};
      for (table->First(); !table->Eof(); table->Next()) {
        for (dataset::TField* f : fields) bytes += f->AsString().size();
        ++rows;
      }
      table->Close();
    }
    m.Stop();
    Check(rows == kRecords, "record set read a wrong number of records");
    benchmark::DoNotOptimize(bytes);
  }
}

void ReadCursorTessel(benchmark::State& state) {
  const std::string dir = TesselBase();
  for (auto _ : state) {
    Measure m(state, kReadCursor, kTessel, kRecords);
    int64_t rows = 0;
    {
      TesselEnv env(dir, false);
      auto cursor = env.Open(false);
      SiteImage image(*cursor);
      Site site;
      cursor->GotoFirst();
      while (cursor->GetNext(image.data()) == 0) {
        image.Read(site);
        ++rows;
      }
      cursor->Close();
    }
    m.Stop();
    Check(rows == kRecords, "cursor read a wrong number of records");
  }
}

void ReadSqlite(benchmark::State& state) {
  const std::string path = SqliteBase();
  for (auto _ : state) {
    Measure m(state, kReadSet, kSqlite, kRecords);
    int64_t rows = 0;
    {
      SqliteDb db(path, CacheBytes());
      SqliteStatement select(db.get(), kSqlSelectAll);
      Site site;
      while (select.Step()) {
        ReadSite(select, site);
        ++rows;
      }
    }
    m.Stop();
    Check(rows == kRecords, "SELECT read a wrong number of records");
  }
  AlsoRecord(kReadCursor, kSqlite, kReadSet);
}

// ---------------------------------------------------------------------------
// Lookups by key

void LocateTessel(benchmark::State& state) {
  const std::string dir = TesselBase();
  const auto& keys = LookupKeys();
  for (auto _ : state) {
    RecordSetSession session(false);
    Measure m(state, kLocate, kTessel, kLookups);
    int64_t hits = 0;
    {
      auto table = OpenRecordSet(dir);
      dataset::TField& name = table->FieldByName("sitename");
      for (const std::string& key : keys) {
        if (table->Locate("siteurl", dataset::Variant(key), 0)) {
          benchmark::DoNotOptimize(name.AsString());
          ++hits;
        }
      }
      table->Close();
    }
    m.Stop();
    Check(hits == kLookups / 2, "Locate found a wrong number of records");
  }
}

void FindKeyTessel(benchmark::State& state) {
  const std::string dir = TesselBase();
  const auto& keys = LookupKeys();
  for (auto _ : state) {
    Measure m(state, kFindKey, kTessel, kLookups);
    int64_t hits = 0;
    {
      TesselEnv env(dir, false);
      auto cursor = env.Open(false);
      SiteImage key(*cursor);
      SiteImage found(*cursor);
      for (const std::string& k : keys) {
        key.Key(k);
        if (cursor->FindKey(key.data(), false, 0, 0, false, found.data())) {
          benchmark::DoNotOptimize(found.Text(found.name));
          ++hits;
        }
      }
      cursor->Close();
    }
    m.Stop();
    Check(hits == kLookups / 2, "FindKey found a wrong number of records");
  }
}

void LookupSqlite(benchmark::State& state) {
  const std::string path = SqliteBase();
  const auto& keys = LookupKeys();
  for (auto _ : state) {
    Measure m(state, kLocate, kSqlite, kLookups);
    int64_t hits = 0;
    {
      SqliteDb db(path, CacheBytes());
      SqliteStatement select(db.get(), kSqlSelectKey);
      for (const std::string& key : keys) {
        select.Bind(1, key);
        if (select.Step()) {
          benchmark::DoNotOptimize(select.Text(2));
          ++hits;
        }
        select.Reset();
      }
    }
    m.Stop();
    Check(hits == kLookups / 2, "SELECT found a wrong number of records");
  }
  AlsoRecord(kFindKey, kSqlite, kLocate);
}

// ---------------------------------------------------------------------------
// Updates and deletes by key: distinct records in random order, each change
// its own operation (shared Tessel without forced flushes, SQLite
// autocommit with synchronous OFF).

std::vector<std::string> ChangeKeys() {
  const std::vector<int64_t> order = Shuffled(kRecords, 7);
  std::vector<std::string> keys;
  for (int64_t i = 0; i < kChanges; ++i) keys.push_back(Sites()[static_cast<size_t>(order[static_cast<size_t>(i)])].siteurl);
  return keys;
}

void ChangeTessel(benchmark::State& state, bool update) {
  const std::vector<std::string> keys = ChangeKeys();
  for (auto _ : state) {
    const std::string dir = TesselCopy("change-tessel");
    Measure m(state, update ? kUpdate : kDelete, kTessel, kChanges);
    {
      TesselEnv env(dir, false);
      auto cursor = env.Open(false);
      SiteImage key(*cursor);
      SiteImage record(*cursor);
      int n = 0;
      for (const std::string& k : keys) {
        key.Key(k);
        Check(cursor->FindKey(key.data()), "FindKey missed a record to change");
        if (update) {
          Check(cursor->GetCurrent(record.data(), true) == 0, "GetCurrent failed");
          record.SetLogin("changed." + std::to_string(++n));
          cursor->ModifyRecord(record.data(), true, false);
        } else {
          cursor->DeleteRecord(false);
        }
      }
      cursor->Close();
    }
    m.Stop();
  }
}

void ChangeSqlite(benchmark::State& state, bool update) {
  const std::vector<std::string> keys = ChangeKeys();
  for (auto _ : state) {
    const std::string path = SqliteCopy("change-sqlite");
    Measure m(state, update ? kUpdate : kDelete, kSqlite, kChanges);
    {
      SqliteDb db(path, CacheBytes(), "PRAGMA synchronous=OFF;");
      SqliteStatement change(db.get(), update ? kSqlUpdate : kSqlDelete);
      int n = 0;
      for (const std::string& k : keys) {
        std::string login = "changed." + std::to_string(++n);
        if (update) {
          change.Bind(1, login);
          change.Bind(2, k);
        } else {
          change.Bind(1, k);
        }
        change.Step();
        Check(sqlite3_changes(db.get()) == 1, "statement missed a record to change");
        change.Reset();
      }
    }
    m.Stop();
  }
}

void UpdateTessel(benchmark::State& state) { ChangeTessel(state, true); }
void UpdateSqlite(benchmark::State& state) { ChangeSqlite(state, true); }
void DeleteTessel(benchmark::State& state) { ChangeTessel(state, false); }
void DeleteSqlite(benchmark::State& state) { ChangeSqlite(state, false); }

// ---------------------------------------------------------------------------
// Open a loaded table and read its first record in key order

void OpenTessel(benchmark::State& state) {
  const std::string dir = TesselBase();
  for (auto _ : state) {
    RecordSetSession session(false);
    Measure m(state, kOpen, kTessel, kOpens);
    size_t bytes = 0;
    for (int64_t i = 0; i < kOpens; ++i) {
      auto table = OpenRecordSet(dir);
      for (int f = 0; f < table->FieldCount(); ++f) bytes += table->Fields()[f].AsString().size();
      table->Close();
    }
    m.Stop();
    benchmark::DoNotOptimize(bytes);
  }
}

void OpenSqlite(benchmark::State& state) {
  const std::string path = SqliteBase();
  for (auto _ : state) {
    Measure m(state, kOpen, kSqlite, kOpens);
    size_t bytes = 0;
    for (int64_t i = 0; i < kOpens; ++i) {
      SqliteDb db(path, 0);
      SqliteStatement first(db.get(), kSqlFirst);
      Check(first.Step(), "no first record");
      for (int c = 0; c < 6; ++c) bytes += first.Text(c).size();
    }
    m.Stop();
    benchmark::DoNotOptimize(bytes);
  }
}

void Register(const char* name, void (*fn)(benchmark::State&)) {
  benchmark::RegisterBenchmark(name, fn)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
}

}  // namespace

void RegisterWorkloads() {
  Register("bulk_load/tessel", BulkTessel);
  Register("bulk_load/sqlite", BulkSqlite);
  Register("durable_insert/tessel", DurableTessel);
  Register("durable_insert/sqlite_wal", DurableSqliteWal);
  Register("durable_insert/sqlite_delete", DurableSqliteDelete);
  Register("insert/tessel", PlainTessel);
  Register("insert/sqlite", PlainSqlite);
  Register("full_read/tessel_record_set", ReadRecordSetTessel);
  Register("full_read/tessel_cursor", ReadCursorTessel);
  Register("full_read/sqlite", ReadSqlite);
  Register("lookup/tessel_locate", LocateTessel);
  Register("lookup/tessel_findkey", FindKeyTessel);
  Register("lookup/sqlite", LookupSqlite);
  Register("update/tessel", UpdateTessel);
  Register("update/sqlite", UpdateSqlite);
  Register("delete/tessel", DeleteTessel);
  Register("delete/sqlite", DeleteSqlite);
  Register("open_first/tessel", OpenTessel);
  Register("open_first/sqlite", OpenSqlite);
}

}  // namespace bench
