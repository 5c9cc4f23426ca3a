// tessel_bench: the same workloads on Tessel and on SQLite in one run, then
// a table of both figures and their ratio per workload.
//
//   tessel_bench [--bench_dir=DIR] [Google Benchmark flags]
//
// DIR (default: a new directory under $TMPDIR or /tmp, removed at the end)
// must lie on the disk whose speed is to be measured; durable inserts mean
// nothing on tmpfs. A DIR that is given is kept, and the two loaded
// 100,000-record tables in it serve the next run again.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Bench.h"

namespace bench {
void RegisterWorkloads();
}

int main(int argc, char** argv) {
  std::string dir;
  bool keep = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--bench_dir=", 12) == 0) {
      dir = argv[i] + 12;
      keep = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  if (dir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tessel-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      return 1;
    }
    dir = pattern;
  }
  std::filesystem::create_directories(dir);
  bench::WorkRoot() = std::filesystem::canonical(dir).string() + "/";
  bench::ReuseBaseTables() = keep;

  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  std::printf("SQLite %s; work directory %s\n", sqlite3_libversion(), bench::WorkRoot().c_str());
  bench::RegisterWorkloads();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  bench::PrintSummary();

  if (!keep) std::filesystem::remove_all(bench::WorkRoot());
  return 0;
}
