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

std::vector<Commit> MakeTemplate(const std::string& dir, int rows) {
  fs::create_directories(dir);
  CreateStressTable(dir, kCrashTableName);
  std::vector<Commit> commits;
  StressConnection::Options options;
  options.Exclusive = true;
  StressConnection conn(dir + kCrashTableName, options);
  for (int i = 1; i <= rows; ++i) {
    conn.Table().Append();
    conn.Assign(MakeRow(i, 1, 0, i));
    conn.Table().Post();
    commits.push_back({OpKind::Insert, i, 1, 0, i});
  }
  conn.Close();
  return commits;
}

void CopyTable(const std::string& from, const std::string& to) {
  fs::remove_all(to);
  fs::create_directories(to);
  for (const auto& entry : fs::directory_iterator(from)) fs::copy_file(entry.path(), to / entry.path().filename());
}

int Get(const json& j, const char* member, const char* field) {
  if (!j.contains(member) || !j[member].contains(field)) return 0;
  return j[member][field].get<int>();
}

std::string ErrorLine(const json& e) {
  return std::to_string(e.value("code", 0)) + " " + e.value("text", std::string());
}

struct Totals {
  int Trials = 0;
  std::map<std::string, int> Outcomes;
  std::map<std::string, int> Failures;
  std::map<std::string, int> InFlight;  // kind of write the kill fell in
  int InFlightApplied = 0;
  int Committed = 0;
  int LostRecords = 0;
  int WrongRecords = 0;
  std::array<int, tessel::kVerifyAreaCount> AreaTrials{};
  std::array<int, tessel::kVerifyAreaCount> AreaFindings{};
  int RebuiltTrials = 0;
  int UnreadableBefore = 0;  // damaged tables that could not be read through before the repair
  std::map<std::string, int> Gaps;
};

// What a kill can leave that the repair does not put right: a table that
// does not open even for the repair, and a slot whose record identifier the
// header does not know after the repair (the next insert would hand it out
// again, and two records would then share the keys of "Sys Deleted" and the
// order of equal keys elsewhere). Empty when neither.
std::string KnownGap(const json& r) {
  if (r.value("open", 0) != 0 && r.contains("repairError") && r.contains("diagnosis") &&
      r["diagnosis"].contains("slots")) {
    const json& d = r["diagnosis"];
    const int64_t slots = d["slots"].get<int64_t>();
    const int64_t counted = d["counted"].get<int64_t>();
    if (slots > counted || (slots == counted && d["rest"].get<int64_t>() > 0))
      return "data file longer than its header counts (the repair cannot open the table)";
  }
  if (r.contains("identifiers") && r["identifiers"]["highest"].get<int64_t>() > r["identifiers"]["last"].get<int64_t>())
    return "record identifier above the header's last one after the repair";
  return {};
}

// Classifies one trial and adds it to the totals; answers the failures.
std::vector<std::string> Account(const WriterReport& writer, const json& r, bool gapsFail, Totals& t) {
  std::vector<std::string> failures;
  auto fail = [&](const std::string& what) {
    failures.push_back(what);
    ++t.Failures[what];
  };
  const std::string gap = KnownGap(r);
  if (!gap.empty()) {
    ++t.Gaps[gap];
    if (gapsFail) fail("known gap: " + gap);
  }
  const bool unopenable = gap.rfind("data file", 0) == 0;
  ++t.Trials;
  t.Committed += static_cast<int>(writer.Committed.size());
  t.InFlight[writer.InFlight ? std::string(1, static_cast<char>(writer.InFlight->Kind)) : "-"]++;
  if (!writer.Error.empty()) fail("writer failed: " + writer.Error);

  std::string outcome;
  if (r.contains("checker")) {
    outcome = "check " + r["checker"].get<std::string>();
    fail(outcome);
  } else if (r.value("open", 0) != 0) {
    outcome = "open refused: engine error " + std::to_string(r["open"].get<int>());
  } else if (r.contains("verify") && r["verify"]["total"].get<int>() == 0) {
    outcome = "clean";
  } else if (r.contains("verify")) {
    outcome = "damaged, repaired";
  } else {
    outcome = "check failed";
  }
  ++t.Outcomes[outcome];
  if (r.contains("checker")) return failures;
  if (r.contains("checkerError")) fail("check raised: " + r["checkerError"].get<std::string>());

  for (const char* step : {"beforeError", "verifyError", "repairError", "verifyAfterError", "identifiersError",
                           "afterError", "writeError"}) {
    if (!r.contains(step) || unopenable) continue;
    if (std::string(step) == "beforeError" && r.contains("verify") && r["verify"]["total"].get<int>() > 0) {
      // Reading a table the check found damaged may fail; the repair must
      // put it right.
      ++t.UnreadableBefore;
      continue;
    }
    fail(std::string(step) + " " + std::to_string(r[step].value("code", 0)));
  }
  if (r.contains("verify")) {
    const json& v = r["verify"];
    for (int a = 0; a < tessel::kVerifyAreaCount; ++a) {
      const int n = v["areas"][static_cast<size_t>(a)].get<int>();
      t.AreaFindings[static_cast<size_t>(a)] += n;
      if (n > 0) ++t.AreaTrials[static_cast<size_t>(a)];
    }
    if (v["total"].get<int>() == 0 && Get(r, "before", "problems") > 0) fail("structure check missed damage");
  }
  if (r.contains("repair")) {
    if (r["repair"]["rebuilt"].get<int>() > 0) ++t.RebuiltTrials;
    if (!r["repair"]["sound"].get<bool>()) fail("repair left damage");
  }
  if (r.contains("verifyAfter") && r["verifyAfter"]["total"].get<int>() > 0) fail("damage after the repair");
  if (r.contains("writeVerify") && r["writeVerify"]["total"].get<int>() > 0 && gap.empty())
    fail("damage after writing on");
  if (r.contains("after")) {
    const json& a = r["after"];
    const int missing = a["missing"].get<int>();
    const int wrong = a["problems"].get<int>() - missing;
    t.LostRecords += missing;
    t.WrongRecords += wrong;
    if (missing > 0) fail("committed records lost");
    if (wrong > 0) fail("contents differ from the committed writes");
    if (a["inFlightApplied"].get<bool>()) ++t.InFlightApplied;
  }
  return failures;
}

void PrintTrial(int trial, const TrialSetup& setup, const WriterReport& w, const json& r,
                const std::vector<std::string>& failures) {
  std::cout << "trial " << trial << ": kill "
            << (setup.KillAtWrite > 0 ? "at file write " + std::to_string(setup.KillAtWrite)
                                      : "after " + std::to_string(setup.DelayMicros) + " us")
            << ", " << w.Committed.size()
            << " writes returned, in flight: "
            << (w.InFlight ? FormatCommit(*w.InFlight) : std::string("none"));
  if (r.contains("checker")) {
    std::cout << "; check " << r["checker"].get<std::string>() << "\n";
  } else {
    if (r.value("open", 0) != 0)
      std::cout << "; open refused: " << r.value("openText", std::string()) << " ("
                << (r.contains("diagnosis") ? r["diagnosis"].value("text", std::string()) : std::string()) << ")";
    if (r.contains("verify")) {
      std::cout << "; check: " << r["verify"]["total"] << " findings";
      if (r.contains("repair"))
        std::cout << ", repair fixed " << r["repair"]["fixed"] << " (left " << r["repair"]["remaining"] << ")";
    }
    std::cout << "\n";
    for (const char* step : {"verify", "repair", "verifyAfter", "writeVerify"}) {
      if (!r.contains(step) || (std::string(step) == "repair" && r["repair"]["remaining"].get<int>() == 0)) continue;
      for (const auto& line : r[step]["lines"]) std::cout << "    " << step << ": " << line.get<std::string>() << "\n";
    }
    for (const char* step : {"beforeError", "verifyError", "repairError", "verifyAfterError", "identifiersError",
                             "afterError", "writeError"})
      if (r.contains(step)) std::cout << "    " << step << ": " << ErrorLine(r[step]) << "\n";
    for (const char* part : {"before", "after"}) {
      if (!r.contains(part)) continue;
      for (const auto& line : r[part]["details"])
        std::cout << "    " << part << ": " << line.get<std::string>() << "\n";
    }
  }
  const std::string gap = KnownGap(r);
  if (!gap.empty()) {
    std::cout << "    known gap: " << gap;
    if (r.contains("identifiers"))
      std::cout << " (header " << r["identifiers"]["last"] << ", slot " << r["identifiers"]["slot"] << " carries "
                << r["identifiers"]["highest"] << ")";
    std::cout << "\n";
  }
  for (const std::string& f : failures) std::cout << "    FAILURE: " << f << "\n";
}

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
      PrintTrial(trial, setup, writer, result, failures);
  }

  std::cout << "\n" << totals.Trials << " trials; writes returned before the kill: " << totals.Committed
            << " in all\nkill fell during: ";
  const std::map<std::string, std::string> kinds = {{"I", "an insert"}, {"U", "an update"}, {"D", "a delete"},
                                                    {"-", "no write (between writes)"}};
  bool first = true;
  for (const auto& [kind, n] : totals.InFlight) {
    std::cout << (first ? "" : ", ") << kinds.at(kind) << " " << n;
    first = false;
  }
  std::cout << "\nin-flight write found applied after the repair: " << totals.InFlightApplied << "\n\n";
  std::cout << std::left << std::setw(44) << "outcome" << "trials\n";
  for (const auto& [outcome, n] : totals.Outcomes) std::cout << std::left << std::setw(44) << outcome << n << "\n";
  std::cout << "\nstructure check findings before the repair, by area (trials / findings):\n";
  for (int a = 0; a < tessel::kVerifyAreaCount; ++a)
    std::cout << "  " << std::left << std::setw(20) << tessel::VerifyAreaName(static_cast<tessel::TVerifyArea>(a))
              << totals.AreaTrials[static_cast<size_t>(a)] << " / " << totals.AreaFindings[static_cast<size_t>(a)]
              << "\n";
  std::cout << "repairs that rebuilt an index: " << totals.RebuiltTrials
            << "; damaged tables that could not be read through before the repair: " << totals.UnreadableBefore
            << "\n";
  std::cout << "committed records lost: " << totals.LostRecords
            << "; committed records with wrong contents: " << totals.WrongRecords << "\n";
  std::cout << "known gaps of the repair" << (s.GapsFail ? "" : " (reported, not counted as failures)") << ":";
  if (totals.Gaps.empty()) std::cout << " none";
  std::cout << "\n";
  for (const auto& [gap, n] : totals.Gaps) std::cout << "  " << gap << ": " << n << "\n";
  std::cout << "failed trials: " << failedTrials << "\n";
  for (const auto& [failure, n] : totals.Failures) std::cout << "  " << failure << ": " << n << "\n";
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
