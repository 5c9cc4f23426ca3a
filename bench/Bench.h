// What the benchmark programs share: the working directory, the data set
// made once, the 100,000-record tables both engines start from, and the
// figures each workload leaves for the closing comparison.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "SiteData.h"
#include "SqliteSide.h"

namespace bench {

inline constexpr int64_t kRecords = 100000;
inline constexpr int64_t kDurableInserts = 2000;
inline constexpr int64_t kPlainInserts = 10000;
inline constexpr int64_t kLookups = 100000;
inline constexpr int64_t kChanges = 10000;
// Opening a table takes a fraction of a millisecond, too short to time
// alone: each timing makes opens until this much time has passed, and at
// least kMinOpens of them.
inline constexpr int64_t kMinOpens = 200;
inline constexpr double kOpenSeconds = 1.0;

inline const std::string kTessel = "Tessel";
inline const std::string kSqlite = "SQLite";

// The directory the benchmark works in (ends in '/'); set by main.
std::string& WorkRoot();
// Whether loaded tables that an earlier run left in the work directory are
// used again (set by main for a kept directory).
bool& ReuseBaseTables();
// An empty directory under the work root, made anew.
std::string FreshDir(const std::string& name);

// The data set: kRecords sites, and the lookup keys (every other one a
// miss), made on first use.
const std::vector<Site>& Sites();
const std::vector<std::string>& LookupKeys();

// The 100,000-record tables, loaded on first use (untimed): the Tessel
// table's directory and the SQLite database file, the latter as a setting
// keeps it (one file in rollback-journal mode serves the settings whose
// journal mode belongs to the connection; a copy is switched to WAL).
const std::string& TesselBase();
const std::string& SqliteBase(const SqliteSetting& setting);
// Copies of them for a workload that changes its table.
std::string TesselCopy(const std::string& name);
std::string SqliteCopy(const std::string& name, const SqliteSetting& setting);

// The catalogue's cache size in bytes (the SQLite cache is set to match).
uint64_t CacheBytes();

// Loads records [0, count) of the data set; SQLite in one transaction, on a
// connection that runs the given pragmas.
void TesselBulkLoad(const std::string& dir, int64_t count);
void SqliteBulkLoad(const std::string& path, int64_t count, const std::string& pragmas);

// One timed run of a workload: the clock and the heap peak (operator new
// plus SQLite's allocator) start at construction; Stop records the figures
// for the comparison and hands the time to the benchmark state. side is
// kTessel or an SQLite setting's name.
class Measure {
 public:
  Measure(benchmark::State& state, std::string workload, std::string side, int64_t operations);
  // Seconds of wall clock since construction.
  double Seconds() const;
  void Stop();
  // Stop for a workload whose number of operations was known only at the end.
  void Stop(int64_t operations);

 private:
  benchmark::State& state_;
  std::string workload_;
  std::string side_;
  int64_t operations_;
  size_t heapBase_;
  int64_t sqliteBase_;
  double cpuStart_;
  std::chrono::steady_clock::time_point start_;
};

// Records a figure under another workload's name too (one run that serves
// two comparisons).
void AlsoRecord(const std::string& workload, const std::string& side, const std::string& from);

// File sizes noted by the loads.
void NoteFileBytes(const std::string& side, uint64_t bytes);

// Prints the comparison table, file sizes and memory figures.
void PrintSummary();

}  // namespace bench
