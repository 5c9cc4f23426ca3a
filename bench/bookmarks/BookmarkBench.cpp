// bookmark_bench: 10,000 bookmarks from a browser's bookmark file into the
// catalogue, in one run, then a summary table.
//
//   bookmark_bench [--bench_dir=DIR] [Google Benchmark flags]
//
// The file: 10,000 bookmarks in 50 folders named after the fifteen
// categories and other things, with the titles and addresses of the
// benchmark's site data (bench::MakeSite), icons and dates as browsers
// write them (about 2.6 MB). Measured:
//   read        parsing the file into folders and bookmarks
//   plan        guessing the folders' categories and looking every address
//               up in the (empty) catalogue through the record set
//   import      inserting the 10,000 sites through the site table's record
//               set as the program opens it (write-through) with the
//               program's grid following it
//   import-bare the same without a grid following the record set
//   import-lazy the same without write-through (written back at close),
//               without and with the grid (import-lazy-grid)
//   again       importing the same file once more: every site refused as
//               already in the catalogue
// Each import starts from an empty catalogue made untimed in DIR (on the
// checkout's disk by default: write-through means nothing on tmpfs).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "CatalogueBench.h"
#include "SiteData.h"
#include "bookmarks/BookmarkImport.h"
#include "bookmarks/NetscapeFormat.h"
#include "dataset/FieldKinds.h"
#include "engine/components/Session.h"
#include "engine/components/TesselTable.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/TableStructure.h"
#include "grid/model/ProgramGrid.h"

namespace {

constexpr int kBookmarks = 10000;

const std::vector<std::string>& kCategories = bench::Categories();

const char* const kFolderNames[] = {"Dev tools", "Recipes", "Banking", "Movies", "Newspapers",
                                    "Travel",    "Work",    "Unsorted", "Reading list", "Kids"};

std::string gDir;
std::string gFile;

std::string MakeFile() {
  std::string html =
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
      "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n"
      "    <DT><H3 ADD_DATE=\"1700000000\" PERSONAL_TOOLBAR_FOLDER=\"true\">Bookmarks bar</H3>\n    <DL><p>\n";
  for (int folder = 0; folder < 50; ++folder) {
    const std::string name = folder < 15 ? kCategories[static_cast<std::size_t>(folder)]
                                         : std::string(kFolderNames[folder % 10]) + " " + std::to_string(folder);
    html += "        <DT><H3 ADD_DATE=\"1700000000\" LAST_MODIFIED=\"1700000001\">" + name + "</H3>\n        <DL><p>\n";
    for (int i = 0; i < kBookmarks / 50; ++i) {
      const bench::Site site = bench::MakeSite(folder * (kBookmarks / 50) + i);
      std::string title = site.sitename;
      std::string::size_type amp;
      while ((amp = title.find('&')) != std::string::npos) title.replace(amp, 1, "&amp;");
      html += "            <DT><A HREF=\"" + site.siteurl +
              "\" ADD_DATE=\"1700000000\" ICON=\"data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAABAAAAAQ\">" +
              title + "</A>\n";
    }
    html += "        </DL><p>\n";
  }
  html += "    </DL><p>\n</DL><p>\n";
  return html;
}

using TSites = bench::TBenchSites;

std::vector<bookmarks::TSiteToImport> Sites(dataset::TDataSet& table) {
  bookmarks::TBookmarkList list = bookmarks::ReadNetscapeBookmarksFile(gFile);
  bookmarks::TImportPlan plan = bookmarks::MakeImportPlan(list, bookmarks::TCategoryGuesser(kCategories),
                                                          bookmarks::CatalogueLookup(table), "Personal");
  return plan.SitesToImport();
}

void BM_Read(benchmark::State& state) {
  int count = 0;
  for (auto _ : state) count = bookmarks::ReadNetscapeBookmarksFile(gFile).BookmarkCount();
  state.counters["bookmarks"] = count;
}

void BM_Plan(benchmark::State& state) {
  bench::CreateCatalogue(gDir);
  TSites sites(gDir, true);
  bookmarks::TBookmarkList list = bookmarks::ReadNetscapeBookmarksFile(gFile);
  bookmarks::TCategoryGuesser guesser(kCategories);
  int fresh = 0;
  for (auto _ : state) {
    bookmarks::TImportPlan plan =
        bookmarks::MakeImportPlan(list, guesser, bookmarks::CatalogueLookup(sites.table), "Personal");
    fresh = plan.Count(bookmarks::TBookmarkStatus::New);
  }
  state.counters["new"] = fresh;
}

void Import(benchmark::State& state, bool writeThrough, bool withGrid) {
  int inserted = 0;
  for (auto _ : state) {
    state.PauseTiming();
    bench::CreateCatalogue(gDir);
    auto sites = std::make_unique<TSites>(gDir, writeThrough);
    std::unique_ptr<grid::TDBGrid> grid;
    if (withGrid) grid = grid::BuildGrid(grid::ProgramGridDescription(kCategories), {}, &sites->source);
    const std::vector<bookmarks::TSiteToImport> todo = Sites(sites->table);
    state.ResumeTiming();
    inserted = bookmarks::ImportSites(sites->table, todo).Inserted;
    // The write-back at close belongs to the import when nothing was
    // written through.
    grid.reset();
    sites.reset();
  }
  state.counters["inserted"] = inserted;
}

void BM_Again(benchmark::State& state) {
  bench::CreateCatalogue(gDir);
  auto sites = std::make_unique<TSites>(gDir, true);
  bookmarks::ImportSites(sites->table, Sites(sites->table));
  std::vector<bookmarks::TSiteToImport> todo;
  for (int i = 0; i < kBookmarks; ++i) {
    const bench::Site site = bench::MakeSite(i);
    todo.push_back({site.sitetype, site.sitename, site.siteurl});
  }
  std::size_t refused = 0;
  for (auto _ : state) refused = bookmarks::ImportSites(sites->table, todo).Refused.size();
  state.counters["refused"] = static_cast<double>(refused);
}

BENCHMARK(BM_Read)->Name("read")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Plan)->Name("plan")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(Import, import, true, true)->Name("import")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(Import, import_bare, true, false)->Name("import-bare")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(Import, import_lazy, false, false)->Name("import-lazy")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(Import, import_lazy_grid, false, true)->Name("import-lazy-grid")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Again)->Name("again")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  bool owned = false;
  gDir = bench::BenchDirectory(argc, argv, "bookmark-bench", args, owned);
  if (gDir.empty()) return 1;
  gFile = gDir + "bookmarks.html";
  {
    const std::string html = MakeFile();
    std::FILE* f = std::fopen(gFile.c_str(), "wb");
    if (f == nullptr) return 1;
    std::fwrite(html.data(), 1, html.size(), f);
    std::fclose(f);
  }

  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  bench::TSummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  auto row = [&](const char* label, const char* name) {
    auto w = reporter.ms.find(name);
    auto c = reporter.cpu.find(name);
    if (w == reporter.ms.end()) return;
    std::printf("  %-44s %10.1f %10.1f %10.3f\n", label, w->second, c->second, w->second / kBookmarks);
  };
  std::printf("\n10,000 bookmarks, ms                          wall (total) processor  wall per site\n");
  row("read the bookmark file", "read");
  row("plan: guesses and catalogue look-ups", "plan");
  row("import, write-through, grid following", "import");
  row("import, write-through, no grid", "import-bare");
  row("import, written back at close", "import-lazy");
  row("import, written back at close, grid following", "import-lazy-grid");
  row("import again: all refused as duplicates", "again");
  std::printf("  file: %ju bytes\n", static_cast<uintmax_t>(std::filesystem::file_size(gFile)));

  std::filesystem::remove(gFile);
  if (owned) std::filesystem::remove_all(gDir);
  return 0;
}
