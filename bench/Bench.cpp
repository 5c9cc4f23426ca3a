#include "Bench.h"

#include <sqlite3.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "HeapCounter.h"
#include "SqliteSide.h"
#include "TesselSide.h"

namespace bench {
namespace {

struct Figure {
  double microsPerOp = -1;     // wall-clock time
  double cpuMicrosPerOp = -1;  // the process's CPU time (user + system)
  size_t peakBytes = 0;
};

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Row {
  std::string workload;
  std::map<std::string, Figure> sides;
};

std::vector<Row>& Rows() {
  static std::vector<Row> rows;
  return rows;
}

Figure& FigureOf(const std::string& workload, const std::string& side) {
  auto& rows = Rows();
  auto it = std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return r.workload == workload; });
  if (it == rows.end()) {
    rows.push_back({workload, {}});
    it = rows.end() - 1;
  }
  return it->sides[side];
}

std::map<std::string, uint64_t>& FileBytes() {
  static std::map<std::string, uint64_t> bytes;
  return bytes;
}

std::string Micros(double us) {
  char text[32];
  if (us < 0) return "-";
  if (us < 10) std::snprintf(text, sizeof text, "%.2f", us);
  else if (us < 1000) std::snprintf(text, sizeof text, "%.1f", us);
  else std::snprintf(text, sizeof text, "%.0f", us);
  return text;
}

std::string Bytes(uint64_t bytes) {
  char text[32];
  if (bytes >= 10u << 20) std::snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
  else std::snprintf(text, sizeof text, "%.0f KiB", bytes / 1024.0);
  return text;
}

using Table = std::vector<std::vector<std::string>>;

// Characters, not bytes, of a UTF-8 text (the headers say µs).
size_t Width(const std::string& text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Prints a Markdown table, its first row the header: the first column
// left-aligned, the figures right-aligned, padded so that it reads as a
// table in a terminal too.
void PrintTable(const Table& table) {
  std::vector<size_t> widths;
  for (const auto& row : table)
    for (size_t c = 0; c < row.size(); ++c) {
      if (widths.size() <= c) widths.push_back(0);
      widths[c] = std::max(widths[c], Width(row[c]));
    }
  auto printRow = [&widths](const std::vector<std::string>& row) {
    std::string line = "|";
    for (size_t c = 0; c < widths.size(); ++c) {
      const std::string cell = c < row.size() ? row[c] : std::string();
      const size_t pad = widths[c] - Width(cell);
      line.push_back(' ');
      if (c != 0) line.append(pad, ' ');
      line.append(cell);
      if (c == 0) line.append(pad, ' ');
      line.append(" |");
    }
    std::printf("%s\n", line.c_str());
  };
  for (size_t r = 0; r < table.size(); ++r) {
    printRow(table[r]);
    if (r == 0) {
      std::string rule = "|";
      for (size_t c = 0; c < widths.size(); ++c)
        rule.append(widths[c] + (c == 0 ? 2 : 1), '-').append(c == 0 ? "|" : ":|");
      std::printf("%s\n", rule.c_str());
    }
  }
}

void CopyDirectoryFiles(const std::string& from, const std::string& to) {
  for (const auto& entry : std::filesystem::directory_iterator(from))
    std::filesystem::copy_file(entry.path(), to + entry.path().filename().string(),
                               std::filesystem::copy_options::overwrite_existing);
}

}  // namespace

bool& ReuseBaseTables() {
  static bool reuse = false;
  return reuse;
}

std::string& WorkRoot() {
  static std::string root;
  return root;
}

std::string FreshDir(const std::string& name) {
  const std::string dir = WorkRoot() + name + "/";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

const std::vector<Site>& Sites() {
  static const std::vector<Site> sites = [] {
    std::vector<Site> v;
    v.reserve(kRecords);
    for (int64_t i = 0; i < kRecords; ++i) v.push_back(MakeSite(i));
    return v;
  }();
  return sites;
}

const std::vector<std::string>& LookupKeys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> v;
    v.reserve(kLookups);
    Random r(42);
    for (int64_t i = 0; i < kLookups; ++i)
      v.push_back(i % 2 == 0 ? Sites()[r.Below(kRecords)].siteurl : MissingUrl(static_cast<int64_t>(r.Below(kRecords))));
    return v;
  }();
  return keys;
}

void TesselBulkLoad(const std::string& dir, int64_t count) {
  const auto& sites = Sites();
  TesselEnv env(dir, false);
  auto cursor = env.Open(true);
  // Into the empty table: slots and notes appended, the index trees laid
  // down from the sorted keys at the end.
  if (!cursor->BeginBulkLoad()) throw std::runtime_error("bulk load refused");
  SiteImage image(*cursor);
  for (int64_t i = 0; i < count; ++i) {
    image.Fill(sites[static_cast<size_t>(i)]);
    image.Insert();
  }
  cursor->Close();
}

void SqliteBulkLoad(const std::string& path, int64_t count, const std::string& pragmas) {
  const auto& sites = Sites();
  SqliteDb db(path, CacheBytes(), pragmas);
  db.Exec("BEGIN;");
  {
    SqliteStatement insert(db.get(), kSqlInsert);
    for (int64_t i = 0; i < count; ++i) {
      BindSite(insert, sites[static_cast<size_t>(i)]);
      insert.Step();
      insert.Reset();
    }
  }
  db.Exec("COMMIT;");
  db.Close();
}

// A loaded table left in a kept work directory by an earlier run is used
// again (its marker file is written only after a complete load).
bool Reusable(const std::string& dir) { return ReuseBaseTables() && std::filesystem::exists(dir + "loaded"); }
void MarkLoaded(const std::string& dir) { std::ofstream(dir + "loaded") << kRecords << "\n"; }

const std::string& TesselBase() {
  static const std::string dir = [] {
    const std::string kept = WorkRoot() + "base-tessel/";
    if (Reusable(kept)) return kept;
    const std::string d = FreshDir("base-tessel");
    CreateTesselTable(d);
    TesselBulkLoad(d, kRecords);
    MarkLoaded(d);
    return d;
  }();
  return dir;
}

// The loaded database in rollback-journal mode, which the settings whose
// journal mode belongs to the connection read as it is.
const std::string& SqliteJournalBase() {
  static const std::string path = [] {
    const std::string kept = WorkRoot() + "base-sqlite/";
    if (Reusable(kept)) return kept + "sites.db";
    const std::string d = FreshDir("base-sqlite");
    CreateSqliteTable(d + "sites.db");
    SqliteBulkLoad(d + "sites.db", kRecords, "PRAGMA synchronous=OFF;");
    MarkLoaded(d);
    return d + "sites.db";
  }();
  return path;
}

const std::string& SqliteBase(const SqliteSetting& setting) {
  if (std::string(setting.journalMode) != "WAL") return SqliteJournalBase();
  // A copy of the loaded database switched to WAL; a clean close leaves no
  // log beside it, so the file alone is the whole database.
  static const std::string path = [&setting] {
    const std::string kept = WorkRoot() + "base-sqlite-wal/";
    if (Reusable(kept)) return kept + "sites.db";
    const std::string d = FreshDir("base-sqlite-wal");
    std::filesystem::copy_file(SqliteJournalBase(), d + "sites.db");
    PrepareSqliteFile(d + "sites.db", setting);
    MarkLoaded(d);
    return d + "sites.db";
  }();
  return path;
}

std::string TesselCopy(const std::string& name) {
  const std::string dir = FreshDir(name);
  CopyDirectoryFiles(TesselBase(), dir);
  return dir;
}

std::string SqliteCopy(const std::string& name, const SqliteSetting& setting) {
  const std::string path = FreshDir(name) + "sites.db";
  std::filesystem::copy_file(SqliteBase(setting), path);
  return path;
}

uint64_t CacheBytes() {
  static const uint64_t bytes = [] {
    const std::string dir = FreshDir("cache-probe");
    CreateTesselTable(dir);
    const uint64_t b = TesselCacheBytes(dir);
    std::filesystem::remove_all(dir);
    return b;
  }();
  return bytes;
}

Measure::Measure(benchmark::State& state, std::string workload, std::string side, int64_t operations)
    : state_(state),
      workload_(std::move(workload)),
      side_(std::move(side)),
      operations_(operations),
      heapBase_(ResetHeapPeak()),
      sqliteBase_((sqlite3_memory_highwater(1), sqlite3_memory_used())),
      cpuStart_(CpuSeconds()),
      start_(std::chrono::steady_clock::now()) {}

double Measure::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Measure::Stop(int64_t operations) {
  operations_ = operations;
  Stop();
}

void Measure::Stop() {
  const double seconds = Seconds();
  const double cpu = CpuSeconds() - cpuStart_;
  const size_t peak = (HeapPeak() - heapBase_) + static_cast<size_t>(std::max<int64_t>(0, sqlite3_memory_highwater(0) - sqliteBase_));
  state_.SetIterationTime(seconds);
  const double us = seconds * 1e6 / static_cast<double>(operations_);
  const double cpuUs = cpu * 1e6 / static_cast<double>(operations_);
  state_.counters["us_per_op"] = us;
  state_.counters["cpu_us_per_op"] = cpuUs;
  state_.counters["peak_KiB"] = static_cast<double>(peak) / 1024.0;
  Figure& f = FigureOf(workload_, side_);
  // Repetitions keep the best time and the highest peak.
  if (f.microsPerOp < 0 || us < f.microsPerOp) f.microsPerOp = us;
  if (f.cpuMicrosPerOp < 0 || cpuUs < f.cpuMicrosPerOp) f.cpuMicrosPerOp = cpuUs;
  f.peakBytes = std::max(f.peakBytes, peak);
}

void AlsoRecord(const std::string& workload, const std::string& side, const std::string& from) {
  FigureOf(workload, side) = FigureOf(from, side);
}

void NoteFileBytes(const std::string& side, uint64_t bytes) { FileBytes()[side] = bytes; }

void PrintSummary() {
  const Figure none;
  auto figureOf = [&none](const Row& row, const std::string& side) -> const Figure& {
    auto it = row.sides.find(side);
    return it != row.sides.end() ? it->second : none;
  };
  auto ratioText = [](double a, double b) {
    char text[16] = "-";
    if (a > 0 && b > 0) std::snprintf(text, sizeof text, "%.2f", a / b);
    return std::string(text);
  };
  auto peakText = [](const Figure& f) { return f.microsPerOp >= 0 ? Bytes(f.peakBytes) : std::string("-"); };

  // Time per operation, Tessel beside each SQLite setting with the ratio;
  // the wall-clock table carries each side's peak heap, the CPU table the
  // same comparison in the process's CPU time.
  auto timeTable = [&](bool cpu) {
    Table table;
    std::vector<std::string> header{"workload", std::string("Tessel ") + (cpu ? "CPU " : "") + "µs"};
    for (const SqliteSetting& setting : kSqliteSettings) {
      header.push_back(std::string(setting.side) + (cpu ? " CPU" : "") + " µs");
      header.push_back("ratio");
    }
    if (!cpu) {
      header.push_back("Tessel peak");
      for (const SqliteSetting& setting : kSqliteSettings) header.push_back(std::string(setting.side) + " peak");
    }
    table.push_back(header);
    for (const Row& row : Rows()) {
      const Figure& tessel = figureOf(row, kTessel);
      const double t = cpu ? tessel.cpuMicrosPerOp : tessel.microsPerOp;
      std::vector<std::string> line{row.workload, Micros(t)};
      for (const SqliteSetting& setting : kSqliteSettings) {
        const Figure& f = figureOf(row, setting.side);
        const double q = cpu ? f.cpuMicrosPerOp : f.microsPerOp;
        line.push_back(Micros(q));
        line.push_back(ratioText(t, q));
      }
      if (!cpu) {
        line.push_back(peakText(tessel));
        for (const SqliteSetting& setting : kSqliteSettings) line.push_back(peakText(figureOf(row, setting.side)));
      }
      table.push_back(line);
    }
    PrintTable(table);
  };

  std::printf("\nTessel against SQLite: time per operation in microseconds (best of the repetitions); "
              "ratio = Tessel / SQLite\nin the column to its left (below 1: Tessel faster). Wall clock, "
              "and the peak heap of each side:\n\n");
  timeTable(false);
  std::printf("\nThe process's CPU time (user + system), which other work on the machine disturbs less:\n\n");
  timeTable(true);

  std::printf("\nSQLite %s, the settings of each column. Every connection: page_size 4096, cache_size=-%llu "
              "(KiB, the bytes of\nTessel's nominal caches), statements prepared once and reused, one "
              "transaction per statement but one for\nthe whole bulk load; then, durable insert with "
              "synchronous=FULL, every other workload with synchronous=OFF:\n",
              sqlite3_libversion(), static_cast<unsigned long long>((CacheBytes() + 1023) / 1024));
  for (const SqliteSetting& setting : kSqliteSettings)
    std::printf("  %-17s %s\n", (std::string(setting.side) + ":").c_str(), SqlitePragmas(setting, false).c_str());
  std::printf("  A WAL database is switched to WAL before the timing; its close, checkpoint included, is timed.\n");

  std::printf("\nFiles after loading %lld records: Tessel %s (data + index + BLOB), SQLite %s\n",
              static_cast<long long>(kRecords),
              FileBytes().count(kTessel) ? Bytes(FileBytes()[kTessel]).c_str() : "-",
              FileBytes().count(kSqlite) ? Bytes(FileBytes()[kSqlite]).c_str() : "-");
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("Peak figures are the heap bytes a workload held above what it started with (operator new and "
              "SQLite's\nallocator; WAL's shared-memory index is mapped, not allocated). Process peak RSS: %s.\n",
              Bytes(static_cast<uint64_t>(usage.ru_maxrss) * 1024).c_str());
}

}  // namespace bench
