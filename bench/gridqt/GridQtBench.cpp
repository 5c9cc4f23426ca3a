// gridqt_bench: the grid widget over a catalogue table of 100,000 sites, in
// one run, then a summary table.
//
//   gridqt_bench [--bench_dir=DIR] [Google Benchmark flags]
//
// Measured (on the offscreen platform unless QT_QPA_PLATFORM says else):
//   load         the core's load pass alone (for scale)
//   open         the widget built over the loaded grid, shown and painted
//   expand-all   every group opened, so that 100,015 rows are shown
//   paint        one screenful of rows painted, in the middle of the rows
//   scroll-page  the rows scrolled by a page with the scroll bar and painted,
//                from the top to the bottom (the time per page is reported)
//   page-down    PgDn pressed on the rows: the focus and the record set move
//                a page, the rows follow and are painted (time per key)
//
// The table is made once in DIR (kept, with a marker, for the next run, and
// shared with grid_bench); without --bench_dir a fresh directory under
// $TMPDIR is used and removed.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>

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
#include "engine/storage/Formats.h"
#include "engine/storage/TableStructure.h"
#include "grid/model/ProgramGrid.h"
#include "grid/qt/DBGridWidget.h"
#include "grid/qt/GridRowsView.h"

namespace {

constexpr int kSites = 100000;

const std::vector<std::string>& kCategories = bench::Categories();

std::string gDir;

using TSites = bench::TBenchSites;

std::unique_ptr<TSites> gSites;
std::unique_ptr<grid::TDBGrid> gGrid;
std::unique_ptr<grid::qt::TDBGridWidget> gWidget;

void Settle() { QCoreApplication::processEvents(); }

grid::qt::TDBGridWidget& Widget() {
  if (!gWidget) {
    gWidget = std::make_unique<grid::qt::TDBGridWidget>(*gGrid);
    gWidget->resize(1000, 700);
    gWidget->show();
    Settle();
  }
  return *gWidget;
}

void ExpandAll(bool expand) {
  for (int i = 0; i < gGrid->Count(); ++i) {
    if (expand) {
      gGrid->GetNode(i)->Expand(false);
    } else {
      gGrid->GetNode(i)->Collapse(false);
    }
  }
}

void Paint() { gWidget->RowsView()->viewport()->repaint(); }

void BM_Load(benchmark::State& state) {
  for (auto _ : state) gGrid->ReLoadGroupList();
  state.counters["records"] = gGrid->LoadedRecordCount();
}

void BM_Open(benchmark::State& state) {
  for (auto _ : state) {
    gWidget.reset();
    Widget();
    Paint();
  }
}

void BM_ExpandAll(benchmark::State& state) {
  Widget();
  for (auto _ : state) {
    state.PauseTiming();
    ExpandAll(false);
    Settle();
    state.ResumeTiming();
    ExpandAll(true);
    Settle();
    Paint();
  }
  state.counters["rows"] = gGrid->VisibleRowCount();
}

void BM_Paint(benchmark::State& state) {
  Widget();
  ExpandAll(true);
  Settle();
  QScrollBar* bar = gWidget->RowsView()->verticalScrollBar();
  bar->setValue(bar->maximum() / 2);
  Settle();
  for (auto _ : state) Paint();
  state.counters["rows_per_screen"] = gGrid->PageRowCount();
}

int gPages = 0;

void BM_ScrollPage(benchmark::State& state) {
  Widget();
  ExpandAll(true);
  Settle();
  QScrollBar* bar = gWidget->RowsView()->verticalScrollBar();
  int pages = 0;
  for (auto _ : state) {
    state.PauseTiming();
    bar->setValue(0);
    Settle();
    state.ResumeTiming();
    pages = 0;
    while (bar->value() < bar->maximum()) {
      bar->setValue(bar->value() + bar->pageStep());
      Paint();
      ++pages;
    }
  }
  gPages = pages;
  state.counters["pages"] = pages;
}

void BM_PageDown(benchmark::State& state) {
  Widget();
  ExpandAll(true);
  gGrid->FocusRow(gGrid->VisibleRow(0));
  Settle();
  const int keys = 200;
  QWidget* rows = gWidget->RowsView();
  for (auto _ : state) {
    state.PauseTiming();
    gGrid->FocusRow(gGrid->VisibleRow(0));
    Settle();
    state.ResumeTiming();
    for (int i = 0; i < keys; ++i) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
      QCoreApplication::sendEvent(rows, &press);
      Paint();
    }
  }
  state.counters["keys"] = keys;
}

BENCHMARK(BM_Load)->Name("load")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Open)->Name("open")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ExpandAll)->Name("expand-all")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Paint)->Name("paint")->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_ScrollPage)->Name("scroll-page")->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PageDown)->Name("page-down")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  std::vector<char*> args;
  bool owned = false;
  gDir = bench::BenchDirectory(argc, argv, "gridqt-bench", args, owned);
  if (gDir.empty()) return 1;
  bench::PrepareCatalogue(gDir, kSites);

  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  gSites = std::make_unique<TSites>(gDir);
  gGrid = grid::BuildGrid(grid::ProgramGridDescription(kCategories), {}, &gSites->source);

  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  bench::TSummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  auto get = [&](const char* name) {
    auto it = reporter.ms.find(name);
    return it == reporter.ms.end() ? 0.0 : it->second;
  };
  std::printf("\nGrid widget over %d sites (%d rows shown with every group open), ms\n", kSites,
              kSites + static_cast<int>(kCategories.size()));
  std::printf("  %-44s %10.2f\n", "core load pass (for scale)", get("load"));
  std::printf("  %-44s %10.2f\n", "open: widget built, shown, painted", get("open"));
  std::printf("  %-44s %10.2f\n", "open every group", get("expand-all"));
  std::printf("  %-44s %10.3f\n", "paint a screenful of rows", get("paint"));
  if (gPages > 0) {
    std::printf("  %-44s %10.2f\n", "scroll top to bottom by pages, in all", get("scroll-page"));
    std::printf("  %-44s %10.3f  (%d pages)\n", "  per page (scroll and paint)", get("scroll-page") / gPages, gPages);
  }
  std::printf("  %-44s %10.3f\n", "PgDn on the rows, per key (focus, record,", get("page-down") / 200);
  std::printf("  %-44s\n", "  scroll and paint)");

  gWidget.reset();
  gGrid.reset();
  gSites.reset();
  if (owned) std::filesystem::remove_all(gDir);
  return 0;
}
