// export_bench: each export format over a grid of 100,000 sites (grouped by
// category, the default columns shown) against writing the same bytes to a
// file with plain buffered writes, in one run; then a table of both times,
// their ratio and the memory each export held.
//
//   export_bench [--bench_dir=DIR] [Google Benchmark flags]
//
// Measured per format:
//   export      the whole file: temporary file, writes, fdatasync, rename
//   plain       the same bytes by fwrite in the writer's pieces, fclose
//   plain+sync  the same, with fflush and fdatasync before fclose
//   writer      the writer into a sink that only counts the bytes: its cost
//               apart from the file
// and, per grid, read-grid: only reading every cell text the writers read,
// the row source's share of an export.
//
// An Excel 4.0 worksheet holds at most 65,536 rows, so the Excel pair runs on
// the first 65,000 sites of the same data (the writer refuses more).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "export/ExportFile.h"
#include "platform/core/ColorScheme.h"

namespace {

using namespace exports;

constexpr int kSites = 100000;
constexpr int kExcelSites = 65000;

const char* const kCategories[15] = {
    "Arts & Humanities", "Business & Economy", "Computers & Internet", "Education", "Entertainment",
    "Government",        "Health",             "News",                 "Personal",  "Recreation & Sports",
    "Reference",         "Regional",           "Science",              "Social Science", "Society & Culture"};

std::string gDir;

// Kibibytes of a line of /proc/self/status ("VmRSS", "VmHWM").
long StatusKiB(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(status, line)) {
    if (line.compare(0, prefix.size(), prefix) == 0) return std::atol(line.c_str() + prefix.size());
  }
  return 0;
}

// Peak memory is the process's peak resident set, reset before a workload
// (clear_refs 5), less what was resident when it started: what the export
// held beyond the grid it read. Counting operator new instead would slow
// every allocation and so the exports, whose row source hands texts over
// as strings.
long ResetPeakResident() {
  std::ofstream("/proc/self/clear_refs") << "5";
  return StatusKiB("VmRSS");
}
long PeakResidentSince(long start) { return StatusKiB("VmHWM") - start; }

struct TSite {
  std::string Texts[5];  // category, name, url, login, password
};

// A grid of sites grouped by category, as the grid's core would hand it over.
class TBenchGrid : public IRowSource {
 public:
  explicit TBenchGrid(int count) {
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    auto next = [&seed] {
      seed ^= seed << 13;
      seed ^= seed >> 7;
      seed ^= seed << 17;
      return seed;
    };
    groups_.resize(15);
    for (int i = 0; i < count; ++i) {
      TSite site;
      const int category = static_cast<int>(next() % 15);
      site.Texts[0] = kCategories[category];
      site.Texts[1] = "Site number " + std::to_string(i) + " of the catalogue";
      site.Texts[2] = "http://www.site" + std::to_string(next() % 1000000000) + ".example.com/index.html";
      site.Texts[3] = "login" + std::to_string(next() % 100000000) + "@example.org";
      site.Texts[4] = "pw" + std::to_string(next() % 1000000000000ull);
      groups_[static_cast<size_t>(category)].push_back(std::move(site));
    }
    for (int g = 0; g < 15; ++g) groupTexts_.push_back(std::string("Site Category : ") + kCategories[g] + " ");
    const char* captions[3] = {"Site Category", "Site Name", "Site Url"};
    const int widths[3] = {184, 200, 363};
    for (int c = 0; c < 3; ++c) {
      TExportHeader header;
      header.ColumnIndex = c;
      header.Text = captions[c];
      header.Width = widths[c];
      header.HasField = true;
      header.FieldType = dataset::ftString;
      headers_.push_back(header);
    }
    look_.HeaderFont.Style = marrowick::platform::fsBold;
  }

  const TExportAppearance& Appearance() const override { return look_; }
  std::vector<TExportHeader> VisibleHeaders() const override { return headers_; }
  std::vector<TExportHeader> TextOrderHeaders() const override { return headers_; }
  int GroupColumnCount() const override { return 1; }
  void ForEachRow(const std::function<void(const IExportRow&)>& visit) const override { Walk(visit); }
  void ForEachVisibleRow(const std::function<void(const IExportRow&)>& visit) const override { Walk(visit); }

 private:
  class TRow : public IExportRow {
   public:
    const std::string* GroupText = nullptr;
    const TSite* Site = nullptr;
    bool IsGroup() const override { return GroupText != nullptr; }
    int Level() const override { return GroupText != nullptr ? 0 : 1; }
    std::string Text(int column) const override {
      return GroupText != nullptr ? *GroupText : Site->Texts[column];
    }
    void AppendText(int column, std::string& out) const override {
      out += GroupText != nullptr ? *GroupText : Site->Texts[column];
    }
    dataset::Variant Value(int column) const override { return Text(column); }
  };

  void Walk(const std::function<void(const IExportRow&)>& visit) const {
    for (size_t g = 0; g < groups_.size(); ++g) {
      if (groups_[g].empty()) continue;
      TRow group;
      group.GroupText = &groupTexts_[g];
      visit(group);
      for (const TSite& site : groups_[g]) {
        TRow row;
        row.Site = &site;
        visit(row);
      }
    }
  }

  TExportAppearance look_;
  std::vector<TExportHeader> headers_;
  std::vector<std::vector<TSite>> groups_;
  std::vector<std::string> groupTexts_;
};

const marrowick::platform::TStandardColorScheme kScheme;

TBenchGrid& Grid(TExportFormat format) {
  static TBenchGrid full(kSites);
  static TBenchGrid excel(kExcelSites);
  return format == TExportFormat::Excel ? excel : full;
}

// The export's bytes, cut where the writer cut them.
struct TPieces : IByteSink {
  std::string Bytes;
  std::vector<size_t> Sizes;
  void Write(std::string_view bytes) override {
    Bytes.append(bytes);
    Sizes.push_back(bytes.size());
  }
};

const TPieces& Pieces(TExportFormat format) {
  static std::map<TExportFormat, TPieces> pieces;
  auto found = pieces.find(format);
  if (found == pieces.end()) {
    found = pieces.emplace(format, TPieces()).first;
    ExportToStream(Grid(format), found->second, format, kScheme);
  }
  return found->second;
}

std::string FileFor(TExportFormat format, const char* kind) {
  return gDir + "/" + kind + "." + FormatName(format);
}

void PlainWrite(const TPieces& pieces, const std::string& path, bool sync) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  const char* at = pieces.Bytes.data();
  for (size_t size : pieces.Sizes) {
    std::fwrite(at, 1, size, file);
    at += size;
  }
  std::fflush(file);
  if (sync) fdatasync(fileno(file));
  std::fclose(file);
}

void SetCounters(benchmark::State& state, TExportFormat format, long residentBefore) {
  state.counters["rows"] = static_cast<double>(format == TExportFormat::Excel ? kExcelSites : kSites);
  state.counters["MiB"] = static_cast<double>(Pieces(format).Bytes.size()) / (1024.0 * 1024.0);
  state.counters["peak_KiB"] = static_cast<double>(PeakResidentSince(residentBefore));
}

void Export(benchmark::State& state, TExportFormat format) {
  TBenchGrid& grid = Grid(format);
  (void)Pieces(format);
  const long before = ResetPeakResident();
  for (auto _ : state) ExportToFile(grid, FileFor(format, "export"), format, kScheme);
  SetCounters(state, format, before);
}

void Plain(benchmark::State& state, TExportFormat format, bool sync) {
  const TPieces& pieces = Pieces(format);
  const long before = ResetPeakResident();
  for (auto _ : state) PlainWrite(pieces, FileFor(format, sync ? "plainsync" : "plain"), sync);
  SetCounters(state, format, before);
}

// Only reading every cell text of every row from the grid, as the writers
// do: the share of an export that is the row source's, not the writer's.
void ReadGrid(benchmark::State& state, TExportFormat format) {
  TBenchGrid& grid = Grid(format);
  const std::vector<TExportHeader> headers = grid.VisibleHeaders();
  std::string text;
  for (auto _ : state) {
    size_t bytes = 0;
    grid.ForEachRow([&](const IExportRow& row) {
      text.clear();
      if (row.IsGroup()) {
        row.AppendText(0, text);
      } else {
        for (const TExportHeader& header : headers) row.AppendText(header.ColumnIndex, text);
      }
      bytes += text.size();
    });
    benchmark::DoNotOptimize(bytes);
  }
}

// The writer into a sink that only counts: what the export costs apart
// from the file.
struct TCountingSink : IByteSink {
  size_t Count = 0;
  void Write(std::string_view bytes) override { Count += bytes.size(); }
};

void Writer(benchmark::State& state, TExportFormat format) {
  TBenchGrid& grid = Grid(format);
  for (auto _ : state) {
    TCountingSink sink;
    ExportToStream(grid, sink, format, kScheme);
    benchmark::DoNotOptimize(sink.Count);
  }
}

// Real time of each run by name, for the summary.
class TSummaryReporter : public benchmark::ConsoleReporter {
 public:
  struct TFigures {
    double Ms = 0;
    double PeakKiB = 0;
  };
  std::map<std::string, TFigures> Figures;

  // With repetitions the summary takes each workload's median.
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      TFigures figures;
      figures.Ms = run.GetAdjustedRealTime();
      auto peak = run.counters.find("peak_KiB");
      if (peak != run.counters.end()) figures.PeakKiB = peak->second;
      const std::string name = run.run_name.function_name;
      if (run.run_type == Run::RT_Aggregate || !Figures.count(name) || figures.Ms < Figures[name].Ms) {
        Figures[name] = figures;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  bool keep = false;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--bench_dir=", 12) == 0) {
      gDir = argv[i] + 12;
      keep = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  if (gDir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/export-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      return 1;
    }
    gDir = pattern;
  }
  std::filesystem::create_directories(gDir);

  const long residentEmpty = StatusKiB("VmRSS");
  (void)Grid(TExportFormat::Html);
  const long gridResident = StatusKiB("VmRSS") - residentEmpty;

  for (TExportFormat format : {TExportFormat::Html, TExportFormat::Excel, TExportFormat::Text}) {
    const std::string name = FormatName(format);
    benchmark::RegisterBenchmark((name + "/export").c_str(), Export, format)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((name + "/plain+sync").c_str(), Plain, format, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((name + "/plain").c_str(), Plain, format, false)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((name + "/writer").c_str(), Writer, format)->Unit(benchmark::kMillisecond);
    if (format != TExportFormat::Text) {
      benchmark::RegisterBenchmark((std::string(format == TExportFormat::Excel ? "65k" : "100k") + "/read-grid").c_str(),
                                   ReadGrid, format)
          ->Unit(benchmark::kMillisecond);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  std::printf("work directory %s; the 100,000-site grid takes %.1f MiB resident\n", gDir.c_str(),
              static_cast<double>(gridResident) / 1024.0);
  TSummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\n%-6s %7s %10s %9s %6s %11s %6s %7s %10s %9s\n", "format", "rows", "export ms", "plain ms",
              "ratio", "plain+sync", "ratio", "writer", "read grid", "peak KiB");
  for (TExportFormat format : {TExportFormat::Html, TExportFormat::Excel, TExportFormat::Text}) {
    const std::string name = FormatName(format);
    const std::string read = format == TExportFormat::Excel ? "65k/read-grid" : "100k/read-grid";
    auto& f = reporter.Figures;
    if (!f.count(name + "/export") || !f.count(name + "/plain") || !f.count(name + "/plain+sync")) continue;
    const auto& e = f[name + "/export"];
    const auto& p = f[name + "/plain"];
    const auto& ps = f[name + "/plain+sync"];
    std::printf("%-6s %7d %10.1f %9.1f %6.2f %11.1f %6.2f %7.1f %10.1f %9.0f\n", name.c_str(),
                format == TExportFormat::Excel ? kExcelSites : kSites, e.Ms, p.Ms, e.Ms / p.Ms, ps.Ms, e.Ms / ps.Ms,
                f.count(name + "/writer") ? f[name + "/writer"].Ms : 0.0, f.count(read) ? f[read].Ms : 0.0,
                e.PeakKiB);
  }
  if (!keep) std::filesystem::remove_all(gDir);
  return 0;
}
