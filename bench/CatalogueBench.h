// What the benchmarks over the catalogue table share (the grid's core, the
// quick find, the widget, the bookmark import): the table's structure, laid
// down and filled once; the site table as the program opens it; the
// directory they work in; and a reporter that keeps each run's times for the
// summary a benchmark prints at its end.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

#include "SiteData.h"
#include "dataset/DataSource.h"
#include "engine/components/Session.h"
#include "engine/components/TesselTable.h"
#include "engine/storage/TableStructure.h"

namespace bench {

// The catalogue's structure: five string fields, the note memo, a unique
// index on the address.
tessel::TTableStructure CatalogueStructure();
// The six fields of a site put into the table's current record.
void PutSite(tessel::TTesselTable& table, const Site& site);
// An empty catalogue table "linksdata" in dir (files there before are replaced).
void CreateCatalogue(const std::string& dir);
// The catalogue in dir filled with sites records 0..sites-1, made once
// (untimed); a marker file says it is complete, so the next run reuses it.
void PrepareCatalogue(const std::string& dir, int sites);

// The site table in dir as the program opens it: shared, no lock waits, on
// the siteurl index with its six persistent fields, write-through unless
// told otherwise, and a data source over it.
struct TBenchSites {
  explicit TBenchSites(const std::string& dir, bool writeThrough = true);
  ~TBenchSites();
  TBenchSites(const TBenchSites&) = delete;
  TBenchSites& operator=(const TBenchSites&) = delete;

  tessel::TTesselSession session;
  tessel::TTesselTable table;
  dataset::TDataSource source;
};

// Keeps each run's time per iteration for the summary.
class TSummaryReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> ms;   // wall time
  std::map<std::string, double> cpu;  // processor time
  void ReportRuns(const std::vector<Run>& runs) override;
};

// The directory a benchmark works in, ending in '/' and made: the one
// --bench_dir=DIR names (taken out of the arguments, the rest left in args
// for Google Benchmark), or a fresh one under $TMPDIR named after prefix,
// which owned then says the benchmark removes at its end. Empty when no
// directory could be made.
std::string BenchDirectory(int argc, char** argv, const std::string& prefix, std::vector<char*>& args,
                           bool& owned);

}  // namespace bench
