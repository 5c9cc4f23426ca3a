// tessel-crash: the table format has no journal, so a writer killed in the
// middle of a write can leave a table half changed. Each trial copies a
// table with some rows, starts a writer (inserts mostly, some updates and
// deletes, write-through on unless asked otherwise) and kills it with
// SIGKILL after a random delay, or as it enters a randomly chosen file
// write; then opens the table, checks its structure, repairs it, checks
// again, compares its contents with every write the writer reported
// returned, and writes to it once more. Prints the outcomes of all trials.
// Every choice follows from the seed; in the file-write mode so does every
// outcome.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "CrashTrial.h"
#include "TrialReport.h"
#include "StressTable.h"
#include "engine/storage/TableVerify.h"

namespace tesselstress {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

struct Settings {
  int Trials = 30;
  uint64_t Seed = 1;
  int64_t MaxDelayMicros = 150000;
  int64_t MaxWrites = 0;  // above 0: kill at a random file write instead
  int Prefill = 200;
  int TimeoutSeconds = 120;
  bool WriteThrough = true;
  bool GapsFail = false;
  std::string Dir;
  bool Keep = false;
  bool Verbose = false;
};

int Run(Settings s) {
  bool madeDir = false;
  if (!PrepareWorkDirectory(s.Dir, "tessel-crash", madeDir)) return 2;
  const std::string templateDir = s.Dir + "template/";
  const std::string trialDir = s.Dir + "trial/";

  std::cout << "tessel-crash: " << s.Trials << " trials, seed " << s.Seed << ", writer killed "
            << (s.MaxWrites > 0 ? "as it enters file write 1 to " + std::to_string(s.MaxWrites)
                                : "after 0 to " + std::to_string(s.MaxDelayMicros) + " us of writing")
            << ", " << s.Prefill << " rows in the table at the start, "
            << (s.WriteThrough ? "write-through" : "no write-through") << "\n"
            << "files in " << s.Dir << std::endl;
  const std::vector<Commit> baseline = MakeTemplate(templateDir, s.Prefill);

  Totals totals;
  int failedTrials = 0;
  for (int trial = 1; trial <= s.Trials; ++trial) {
    TrialSetup setup;
    setup.Dir = trialDir;
    setup.Seed = Mix(s.Seed, static_cast<uint64_t>(trial));
    setup.DelayMicros = static_cast<int64_t>(Mix(setup.Seed, 2) % static_cast<uint64_t>(s.MaxDelayMicros + 1));
    if (s.MaxWrites > 0)
      setup.KillAtWrite = 1 + static_cast<int64_t>(Mix(setup.Seed, 3) % static_cast<uint64_t>(s.MaxWrites));
    setup.TimeoutSeconds = s.TimeoutSeconds;
    setup.WriteThrough = s.WriteThrough;
    setup.Baseline = baseline;
    CopyTable(templateDir, trialDir);
    const WriterReport writer = RunWriter(setup);
    const json result = RunChecker(setup, writer);
    const std::vector<std::string> failures = Account(writer, result, s.GapsFail, totals);
    if (!failures.empty()) {
      ++failedTrials;
      const std::string kept = s.Dir + "failed-" + std::to_string(trial) + "/";
      CopyTable(trialDir, kept);
    }
    if (s.Verbose || !failures.empty() || !KnownGap(result).empty())
      PrintTrial(trial,
                 "kill " + (setup.KillAtWrite > 0 ? "at file write " + std::to_string(setup.KillAtWrite)
                                                   : "after " + std::to_string(setup.DelayMicros) + " us"),
                 writer, result, failures);
  }

  PrintTotals(totals, "the kill", failedTrials, s.GapsFail);
  const bool pass = failedTrials == 0;
  std::cout << "result: " << (pass ? "PASS" : "FAIL") << std::endl;
  if (pass && madeDir && !s.Keep) {
    fs::remove_all(s.Dir);
  } else {
    std::cout << "files kept in " << s.Dir << "\n";
  }
  return pass ? 0 : 1;
}

}  // namespace
}  // namespace tesselstress

int main(int argc, char** argv) {
  tesselstress::Settings s;
  CLI::App app{"Kills a process writing a table at random moments and checks what each kill left:\n"
               "the table opens (or fails with an engine error), the structure check reports the damage,\n"
               "the repair leaves a sound table with every record whose write had returned."};
  app.add_option("-t,--trials", s.Trials, "Number of trials")->check(CLI::Range(1, 1000000));
  app.add_option("--seed", s.Seed, "Seed of the delays and of the writer's choices");
  app.add_option("--max-delay-us", s.MaxDelayMicros, "Longest delay before the kill, in microseconds")
      ->check(CLI::Range(int64_t{0}, int64_t{60000000}));
  app.add_option("--kill-at-write", s.MaxWrites,
                 "Kill the writer as it enters a random one of its first N file writes (follows it with ptrace)\n"
                 "instead of after a random delay")
      ->check(CLI::Range(int64_t{1}, int64_t{100000000}));
  app.add_option("--prefill", s.Prefill, "Rows in the table when each trial starts")->check(CLI::Range(0, 100000));
  app.add_option("--timeout", s.TimeoutSeconds, "Seconds a writer's start or a check may take")
      ->check(CLI::Range(1, 3600));
  app.add_flag("--gaps-fail", s.GapsFail, "Count the known gaps of the repair as failures");
  bool noFlush = false;
  app.add_flag("--no-flush", noFlush, "The writer does not force its writes through to the disk");
  app.add_option("--dir", s.Dir, "Working directory (default: a new temporary one)");
  app.add_flag("--keep", s.Keep, "Keep the working directory");
  app.add_flag("-v,--verbose", s.Verbose, "Print every trial");
  CLI11_PARSE(app, argc, argv);
  s.WriteThrough = !noFlush;
  try {
    return tesselstress::Run(s);
  } catch (const std::exception& e) {
    std::cerr << "tessel-crash: " << e.what() << "\n";
    return 2;
  }
}
