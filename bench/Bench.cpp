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
  SiteImage image(*cursor);
  for (int64_t i = 0; i < count; ++i) {
    image.Fill(sites[static_cast<size_t>(i)]);
    image.Insert();
  }
  cursor->Close();
}

void SqliteBulkLoad(const std::string& path, int64_t count) {
  const auto& sites = Sites();
  SqliteDb db(path, CacheBytes(), "PRAGMA synchronous=OFF;");
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

const std::string& SqliteBase() {
  static const std::string path = [] {
    const std::string kept = WorkRoot() + "base-sqlite/";
    if (Reusable(kept)) return kept + "sites.db";
    const std::string d = FreshDir("base-sqlite");
    CreateSqliteTable(d + "sites.db");
    SqliteBulkLoad(d + "sites.db", kRecords);
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

std::string SqliteCopy(const std::string& name) {
  const std::string path = FreshDir(name) + "sites.db";
  std::filesystem::copy_file(SqliteBase(), path);
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

void Measure::Stop() {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
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
  std::printf("\nTessel against SQLite: time per operation in microseconds, wall clock and the process's CPU "
              "time;\nratio = Tessel / SQLite (below 1: Tessel faster)\n\n");
  std::printf("| %-46s | %9s | %9s | %5s | %9s | %9s | %5s | %11s | %11s |\n", "workload", "Tessel us",
              "SQLite us", "ratio", "Tessel CPU", "SQLite CPU", "CPU ratio", "Tessel peak", "SQLite peak");
  std::printf("|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n", std::string(48, '-').c_str(), std::string(11, '-').c_str(),
              std::string(11, '-').c_str(), std::string(7, '-').c_str(), std::string(12, '-').c_str(),
              std::string(12, '-').c_str(), std::string(11, '-').c_str(), std::string(13, '-').c_str(),
              std::string(13, '-').c_str());
  auto ratioText = [](double a, double b) {
    char text[16] = "-";
    if (a > 0 && b > 0) std::snprintf(text, sizeof text, "%.2f", a / b);
    return std::string(text);
  };
  for (const Row& row : Rows()) {
    auto t = row.sides.find(kTessel);
    auto s = row.sides.find(kSqlite);
    const Figure none;
    const Figure& tf = t != row.sides.end() ? t->second : none;
    const Figure& sf = s != row.sides.end() ? s->second : none;
    std::printf("| %-46s | %9s | %9s | %5s | %10s | %10s | %9s | %11s | %11s |\n", row.workload.c_str(),
                Micros(tf.microsPerOp).c_str(), Micros(sf.microsPerOp).c_str(),
                ratioText(tf.microsPerOp, sf.microsPerOp).c_str(), Micros(tf.cpuMicrosPerOp).c_str(),
                Micros(sf.cpuMicrosPerOp).c_str(), ratioText(tf.cpuMicrosPerOp, sf.cpuMicrosPerOp).c_str(),
                tf.microsPerOp >= 0 ? Bytes(tf.peakBytes).c_str() : "-",
                sf.microsPerOp >= 0 ? Bytes(sf.peakBytes).c_str() : "-");
  }
  std::printf("\nFiles after loading %lld records: Tessel %s (data + index + BLOB), SQLite %s\n",
              static_cast<long long>(kRecords),
              FileBytes().count(kTessel) ? Bytes(FileBytes()[kTessel]).c_str() : "-",
              FileBytes().count(kSqlite) ? Bytes(FileBytes()[kSqlite]).c_str() : "-");
  std::printf("Cache: Tessel's nominal caches hold %s; SQLite's cache_size is set to the same.\n",
              Bytes(CacheBytes()).c_str());
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("Peak figures are the heap bytes a workload held above what it started with "
              "(operator new and SQLite's allocator). Process peak RSS: %s.\n",
              Bytes(static_cast<uint64_t>(usage.ru_maxrss) * 1024).c_str());
}

}  // namespace bench
