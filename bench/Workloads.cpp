// The workloads, each once on Tessel and once on SQLite under each of its
// settings. Every timing runs from opening the table to closing it
// (write-back, checkpoint and all); laying down the empty table, copying the
// loaded one or switching a database file to WAL is not timed.
#include <sqlite3.h>

#include <cctype>
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
const char* const kDurable = "durable insert 2,000 (synchronous=FULL)";
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

void BulkSqlite(benchmark::State& state, const SqliteSetting* setting) {
  Sites();
  CacheBytes();
  for (auto _ : state) {
    const std::string path = FreshDir("bulk-sqlite") + "sites.db";
    CreateSqliteTable(path, setting);
    Measure m(state, kBulk, setting->side, kRecords);
    SqliteBulkLoad(path, kRecords, SqlitePragmas(*setting, false));
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
    Measure m(state, durable ? kDurable : kPlain, kTessel, count);
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
}

void InsertSqlite(benchmark::State& state, const SqliteSetting& setting, bool durable) {
  const auto& sites = Sites();
  const int64_t count = durable ? kDurableInserts : kPlainInserts;
  for (auto _ : state) {
    const std::string path = FreshDir("insert-sqlite") + "sites.db";
    CreateSqliteTable(path, &setting);
    Measure m(state, durable ? kDurable : kPlain, setting.side, count);
    {
      SqliteDb db(path, CacheBytes(), SqlitePragmas(setting, durable));
      db.CheckJournalMode(setting);
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
void DurableSqlite(benchmark::State& state, const SqliteSetting* setting) { InsertSqlite(state, *setting, true); }
void PlainTessel(benchmark::State& state) { InsertTessel(state, false); }
void PlainSqlite(benchmark::State& state, const SqliteSetting* setting) { InsertSqlite(state, *setting, false); }

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

void ReadSqlite(benchmark::State& state, const SqliteSetting* setting) {
  const std::string path = SqliteBase(*setting);
  for (auto _ : state) {
    Measure m(state, kReadSet, setting->side, kRecords);
    int64_t rows = 0;
    {
      SqliteDb db(path, CacheBytes(), SqlitePragmas(*setting, false));
      db.CheckJournalMode(*setting);
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
  AlsoRecord(kReadCursor, setting->side, kReadSet);
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

void LookupSqlite(benchmark::State& state, const SqliteSetting* setting) {
  const std::string path = SqliteBase(*setting);
  const auto& keys = LookupKeys();
  for (auto _ : state) {
    Measure m(state, kLocate, setting->side, kLookups);
    int64_t hits = 0;
    {
      SqliteDb db(path, CacheBytes(), SqlitePragmas(*setting, false));
      db.CheckJournalMode(*setting);
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
  AlsoRecord(kFindKey, setting->side, kLocate);
}

// ---------------------------------------------------------------------------
// Updates and deletes by key: distinct records in random order, each change
// its own operation (shared Tessel without forced flushes, SQLite
// autocommit with synchronous OFF in each journal mode).

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

void ChangeSqlite(benchmark::State& state, const SqliteSetting& setting, bool update) {
  const std::vector<std::string> keys = ChangeKeys();
  for (auto _ : state) {
    const std::string path = SqliteCopy("change-sqlite", setting);
    Measure m(state, update ? kUpdate : kDelete, setting.side, kChanges);
    {
      SqliteDb db(path, CacheBytes(), SqlitePragmas(setting, false));
      db.CheckJournalMode(setting);
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
void UpdateSqlite(benchmark::State& state, const SqliteSetting* setting) { ChangeSqlite(state, *setting, true); }
void DeleteTessel(benchmark::State& state) { ChangeTessel(state, false); }
void DeleteSqlite(benchmark::State& state, const SqliteSetting* setting) { ChangeSqlite(state, *setting, false); }

// ---------------------------------------------------------------------------
// Open a loaded table and read its first record in key order. One open is
// too short to time alone: each timing repeats them until kOpenSeconds have
// passed (and at least kMinOpens were made), after one untimed open that
// brings the files into the page cache.

template <typename OpenOnce>
void TimeOpens(benchmark::State& state, const std::string& side, OpenOnce once) {
  constexpr int kBatch = 20;
  for (auto _ : state) {
    size_t bytes = once();
    Measure m(state, kOpen, side, 0);
    int64_t opens = 0;
    do {
      for (int i = 0; i < kBatch; ++i) bytes += once();
      opens += kBatch;
    } while (opens < kMinOpens || m.Seconds() < kOpenSeconds);
    m.Stop(opens);
    benchmark::DoNotOptimize(bytes);
  }
}

void OpenTessel(benchmark::State& state) {
  const std::string dir = TesselBase();
  RecordSetSession session(false);
  TimeOpens(state, kTessel, [&dir] {
    size_t bytes = 0;
    auto table = OpenRecordSet(dir);
    for (int f = 0; f < table->FieldCount(); ++f) bytes += table->Fields()[f].AsString().size();
    table->Close();
    return bytes;
  });
}

void OpenSqlite(benchmark::State& state, const SqliteSetting* setting) {
  const std::string path = SqliteBase(*setting);
  {
    SqliteDb db(path, CacheBytes(), SqlitePragmas(*setting, false));
    db.CheckJournalMode(*setting);
  }
  TimeOpens(state, setting->side, [&path, setting] {
    size_t bytes = 0;
    SqliteDb db(path, CacheBytes(), SqlitePragmas(*setting, false));
    SqliteStatement first(db.get(), kSqlFirst);
    Check(first.Step(), "no first record");
    for (int c = 0; c < 6; ++c) bytes += first.Text(c).size();
    return bytes;
  });
}

void Register(const char* name, void (*fn)(benchmark::State&)) {
  benchmark::RegisterBenchmark(name, fn)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
}

// One benchmark per SQLite setting, named workload/sqlite_<journal mode>.
void RegisterSqlite(const std::string& workload, void (*fn)(benchmark::State&, const SqliteSetting*)) {
  for (const SqliteSetting& setting : kSqliteSettings) {
    std::string name = workload + "/sqlite_" + setting.journalMode;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    benchmark::RegisterBenchmark(name.c_str(), fn, &setting)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

void RegisterWorkloads() {
  Register("bulk_load/tessel", BulkTessel);
  RegisterSqlite("bulk_load", BulkSqlite);
  Register("durable_insert/tessel", DurableTessel);
  RegisterSqlite("durable_insert", DurableSqlite);
  Register("insert/tessel", PlainTessel);
  RegisterSqlite("insert", PlainSqlite);
  Register("full_read/tessel_record_set", ReadRecordSetTessel);
  Register("full_read/tessel_cursor", ReadCursorTessel);
  RegisterSqlite("full_read", ReadSqlite);
  Register("lookup/tessel_locate", LocateTessel);
  Register("lookup/tessel_findkey", FindKeyTessel);
  RegisterSqlite("lookup", LookupSqlite);
  Register("update/tessel", UpdateTessel);
  RegisterSqlite("update", UpdateSqlite);
  Register("delete/tessel", DeleteTessel);
  RegisterSqlite("delete", DeleteSqlite);
  Register("open_first/tessel", OpenTessel);
  RegisterSqlite("open_first", OpenSqlite);
}

}  // namespace bench
