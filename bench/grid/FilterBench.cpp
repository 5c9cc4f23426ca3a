// filter_bench: the grid core's quick find over a catalogue of 100,000
// sites, one keystroke at a time, in one run, then a summary table.
//
//   filter_bench [--bench_dir=DIR] [Google Benchmark flags]
//
// The program's grid over the table as the program opens it, grouped by
// category, with an observer attached (as the window's item model is).
// Each timing is one call of SetFilterText, from the text before to the
// text after, everything it does included: judging the rows, counting the
// groups, opening them, moving the focus and the record set to the first
// match when the focused site does not match, and the reset the observer
// hears. Measured:
//   first-letter   "" -> "g"             nearly every site matches (notes)
//   next-letter    "gar" -> "gard"       a narrowing text: only the sites
//                                         that matched are searched again
//   rare           "garden w" -> "garden wi"
//   backspace      "gard" -> "gar"       a widening text: only the sites
//                                         that did not match are searched
//   replace        "gard" -> "zenith"    a new text: every site is searched
//   no-match       "gard" -> "xyzzy"     nothing matches; the focus stays
//   clear          "gard" -> ""          the tree back as it was
//   type-word      "" -> "h" -> ... -> "harbor", per keystroke
//
// The table is the one grid_bench makes (same data and marker): made once
// in DIR and kept, or in a fresh directory under $TMPDIR that is removed.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CatalogueBench.h"
#include "SiteData.h"
#include "dataset/FieldKinds.h"
#include "engine/components/Session.h"
#include "engine/components/TesselTable.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/TableStructure.h"
#include "grid/model/ProgramGrid.h"

namespace {

constexpr int kSites = 100000;

const std::vector<std::string>& kCategories = bench::Categories();

std::string gDir;

using TSites = bench::TBenchSites;

// What a view does at a reset: reads how many rows it shows.
struct TView : grid::IGridObserver {
  grid::TDBGrid* grid = nullptr;
  long resets = 0;
  long rows = 0;
  void TreeReset() override {
    ++resets;
    rows += grid->ShownChildCount(nullptr);
  }
};

std::unique_ptr<TSites> gSites;
std::unique_ptr<grid::TDBGrid> gGrid;
TView gView;

grid::TDBGrid& Grid() {
  if (!gGrid) {
    gGrid = grid::BuildGrid(grid::ProgramGridDescription(kCategories), {}, &gSites->source);
    gView.grid = gGrid.get();
    gGrid->AddObserver(&gView);
  }
  return *gGrid;
}

void Keystroke(benchmark::State& state, const std::string& from, const std::string& to) {
  grid::TDBGrid& g = Grid();
  for (auto _ : state) {
    state.PauseTiming();
    g.SetFilterText(from);
    state.ResumeTiming();
    g.SetFilterText(to);
  }
  state.counters["shown"] = g.ShownDataRowCount();
  g.SetFilterText("");
}

void TypeWord(benchmark::State& state, const std::string& word) {
  grid::TDBGrid& g = Grid();
  for (auto _ : state) {
    state.PauseTiming();
    g.SetFilterText("");
    state.ResumeTiming();
    for (std::size_t n = 1; n <= word.size(); ++n) g.SetFilterText(word.substr(0, n));
  }
  state.counters["shown"] = g.ShownDataRowCount();
  g.SetFilterText("");
}

void Register(const char* name, const std::string& from, const std::string& to) {
  benchmark::RegisterBenchmark(name, [from, to](benchmark::State& s) { Keystroke(s, from, to); })
      ->Unit(benchmark::kMillisecond)
      ->Iterations(10);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  bool owned = false;
  gDir = bench::BenchDirectory(argc, argv, "filter-bench", args, owned);
  if (gDir.empty()) return 1;
  bench::PrepareCatalogue(gDir, kSites);
  gSites = std::make_unique<TSites>(gDir);
  Grid();

  Register("first-letter", "", "g");
  Register("next-letter", "gar", "gard");
  Register("rare", "garden w", "garden wi");
  Register("backspace", "gard", "gar");
  Register("replace", "gard", "zenith");
  Register("no-match", "gard", "xyzzy");
  Register("clear", "gard", "");
  benchmark::RegisterBenchmark("type-word", [](benchmark::State& s) { TypeWord(s, "harbor"); })
      ->Unit(benchmark::kMillisecond)
      ->Iterations(5);

  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  bench::TSummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  auto row = [&](const char* label, const char* name, double per) {
    auto w = reporter.ms.find(name);
    auto c = reporter.cpu.find(name);
    if (w == reporter.ms.end()) return;
    std::printf("  %-36s %10.2f %10.2f\n", label, w->second / per, c->second / per);
  };
  std::printf("\nQuick find over %d sites, ms per keystroke          wall  processor\n", kSites);
  row("first letter (\"\" -> \"g\")", "first-letter", 1);
  row("next letter (\"gar\" -> \"gard\")", "next-letter", 1);
  row("rare phrase (\"garden w\" -> \"garden wi\")", "rare", 1);
  row("backspace (\"gard\" -> \"gar\")", "backspace", 1);
  row("new text (\"gard\" -> \"zenith\")", "replace", 1);
  row("no match (\"gard\" -> \"xyzzy\")", "no-match", 1);
  row("cleared (\"gard\" -> \"\")", "clear", 1);
  row("typing \"harbor\", per letter", "type-word", 6);
  std::printf("  resets the view heard: %ld\n", gView.resets);

  gGrid->RemoveObserver(&gView);
  gGrid.reset();
  gSites.reset();
  if (owned) std::filesystem::remove_all(gDir);
  return 0;
}
