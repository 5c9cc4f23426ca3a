// tessel-faults: the faults a process kill cannot make, made through the
// engine's file-system seam, each trial followed by the crash trials' check
// (open, structure check, repair, check again, compare with every write that
// returned, write once more) in a separate process.
//
//   tessel-faults power  cuts the power under a writer (forced flushes on, as
//                        the program runs) as a random one of its writes or
//                        flushes is entered; each file loses what it was
//                        given since its last flush: all of it, a random
//                        prefix of it or any of it, torn at sector bounds.
//   tessel-faults io     fails every read, write and flush of each operation
//                        in turn (EIO, ENOSPC, a short write, a failed
//                        flush); the operation must fail with an engine
//                        error or have happened, the session must go on (or
//                        refuse with an engine error), and nothing that
//                        returned may be lost.
//
// Every choice follows from the seed, and so does every outcome.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "FaultTrial.h"
#include "StressTable.h"
#include "TrialReport.h"

namespace tesselstress {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;
using tessel::TFaultKind;
using tessel::TLossMode;

struct Common {
  uint64_t Seed = 1;
  int Prefill = 200;
  int TimeoutSeconds = 120;
  bool GapsFail = false;
  std::string Dir;
  bool Keep = false;
  bool Verbose = false;
  int Only = 0;  // run this trial alone, keeping its files before the check
};

// Keeps the files of a failed trial and says where.
void KeepFailed(const std::string& base, const std::string& trialDir, int trial) {
  const std::string kept = base + "failed-" + std::to_string(trial) + "/";
  CopyTable(trialDir, kept);
}

int Finish(bool pass, bool madeDir, const Common& c) {
  std::cout << "result: " << (pass ? "PASS" : "FAIL") << std::endl;
  if (pass && madeDir && !c.Keep) {
    fs::remove_all(c.Dir);
  } else {
    std::cout << "files kept in " << c.Dir << "\n";
  }
  return pass ? 0 : 1;
}

// ---------------------------------------------------------------------------
// Power

struct PowerSettings {
  int Trials = 300;
  uint64_t MaxSteps = 400;
  std::string Modes = "all";
};

bool ParseModes(const std::string& text, std::vector<TLossMode>& modes) {
  modes.clear();
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, ',')) {
    if (part == "all") modes = {TLossMode::LoseAll, TLossMode::KeepPrefix, TLossMode::KeepAny};
    else if (part == "lose") modes.push_back(TLossMode::LoseAll);
    else if (part == "prefix") modes.push_back(TLossMode::KeepPrefix);
    else if (part == "any") modes.push_back(TLossMode::KeepAny);
    else return false;
  }
  return !modes.empty();
}

int RunPower(Common c, const PowerSettings& p) {
  std::vector<TLossMode> modes;
  if (!ParseModes(p.Modes, modes)) {
    std::cerr << "tessel-faults: --modes takes all, lose, prefix, any (separated by commas)\n";
    return 2;
  }
  bool madeDir = false;
  if (!PrepareWorkDirectory(c.Dir, "tessel-faults", madeDir)) return 2;
  const std::string templateDir = c.Dir + "template/";
  const std::string trialDir = c.Dir + "trial/";
  std::cout << "tessel-faults power: " << p.Trials << " trials, seed " << c.Seed
            << ", power cut as write or flush 1 to " << p.MaxSteps << " of a writer with forced flushes is entered, "
            << c.Prefill << " rows in the table at the start; unflushed writes per file: " << p.Modes << "\n"
            << "files in " << c.Dir << std::endl;
  const std::vector<Commit> baseline = MakeTemplate(templateDir, c.Prefill);

  Totals totals;
  int failedTrials = 0;
  int cutAfterWork = 0;
  tessel::TPowerLoss loss;
  for (int trial = 1; trial <= p.Trials; ++trial) {
    PowerTrial setup;
    setup.Dir = trialDir;
    setup.Seed = Mix(c.Seed, static_cast<uint64_t>(trial));
    setup.CutAt = 1 + Mix(setup.Seed, 3) % p.MaxSteps;
    setup.Modes = modes;
    setup.Baseline = baseline;
    if (c.Only != 0 && trial != c.Only) continue;
    CopyTable(templateDir, trialDir);
    const PowerOutcome outcome = RunPowerWriter(setup);
    if (c.Only != 0) CopyTable(trialDir, c.Dir + "damaged-" + std::to_string(trial) + "/");
    if (!outcome.CutDuringWork) ++cutAfterWork;
    loss.Files += outcome.Loss.Files;
    loss.WritesKept += outcome.Loss.WritesKept;
    loss.WritesTorn += outcome.Loss.WritesTorn;
    loss.WritesLost += outcome.Loss.WritesLost;
    loss.BytesLost += outcome.Loss.BytesLost;
    for (const auto& [mode, n] : outcome.Loss.Modes) loss.Modes[mode] += n;

    TrialSetup check;
    check.Dir = trialDir;
    check.TimeoutSeconds = c.TimeoutSeconds;
    check.Baseline = baseline;
    const json result = RunChecker(check, outcome.Writer);
    const std::vector<std::string> failures = Account(outcome.Writer, result, c.GapsFail, totals);
    if (!failures.empty()) {
      ++failedTrials;
      KeepFailed(c.Dir, trialDir, trial);
    }
    if (c.Verbose || !failures.empty() || !KnownGap(result).empty()) {
      std::ostringstream what;
      what << "power cut at write or flush " << setup.CutAt << (outcome.CutDuringWork ? "" : " (after the work)")
           << ", " << outcome.Loss.Files << " files lost " << outcome.Loss.WritesLost << " writes, tore "
           << outcome.Loss.WritesTorn << ", kept " << outcome.Loss.WritesKept;
      PrintTrial(trial, what.str(), outcome.Writer, result, failures);
    }
  }
  PrintTotals(totals, "the power cut", failedTrials, c.GapsFail);
  std::cout << "power cuts after the writer ran out of work: " << cutAfterWork << "\n"
            << "unflushed writes at the cuts: " << loss.WritesLost << " lost, " << loss.WritesTorn << " torn, "
            << loss.WritesKept << " kept (" << loss.BytesLost << " bytes lost) over " << loss.Files
            << " files; files by what they kept:";
  for (const auto& [mode, n] : loss.Modes) std::cout << " " << tessel::LossModeName(mode) << " " << n << ";";
  std::cout << "\n";
  return Finish(failedTrials == 0, madeDir, c);
}

// ---------------------------------------------------------------------------
// I/O errors

struct IoSettings {
  std::string Operations = "open,insert,grow,shrink,delete,close";
  std::string Kinds = "read,write,full,short,flush";
  int Every = 1;  // every nth point of each operation (1: all)
};

bool ParseKinds(const std::string& text, std::vector<TFaultKind>& kinds) {
  const std::map<std::string, TFaultKind> names = {{"read", TFaultKind::ReadError},
                                                   {"write", TFaultKind::WriteError},
                                                   {"full", TFaultKind::DiskFull},
                                                   {"short", TFaultKind::ShortWrite},
                                                   {"flush", TFaultKind::FlushError}};
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, ',')) {
    auto it = names.find(part);
    if (it == names.end()) return false;
    kinds.push_back(it->second);
  }
  return !kinds.empty();
}

bool ParseOperations(const std::string& text, std::vector<IoOperation>& ops) {
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, ',')) {
    IoOperation op;
    if (!ParseIoOperation(part, op)) return false;
    ops.push_back(op);
  }
  return !ops.empty();
}

std::string CodeText(uint16_t code) { return code == 0 ? "ok" : std::to_string(code); }

struct IoTotals {
  int Trials = 0;
  int Failed = 0;         // the operation failed with an engine error
  int Returned = 0;       // it returned all the same (the fault hit nothing it needed)
  int WrongSuccess = 0;   // it returned, and its write or its read did not happen as told
  int Usable = 0;         // reading on, inserting and closing all worked
  int ReadRefused = 0;    // reading on failed with an engine error
  int InsertRefused = 0;
  int CloseFailed = 0;
  int LostCommitted = 0;  // writes that had returned, missing after the check's repair

  void Add(const IoTotals& o) {
    Trials += o.Trials;
    Failed += o.Failed;
    Returned += o.Returned;
    WrongSuccess += o.WrongSuccess;
    Usable += o.Usable;
    ReadRefused += o.ReadRefused;
    InsertRefused += o.InsertRefused;
    CloseFailed += o.CloseFailed;
    LostCommitted += o.LostCommitted;
  }
};

void PrintIoRow(const std::string& name, const IoTotals& o) {
  std::cout << std::left << std::setw(10) << name << std::right << std::setw(7) << o.Trials << std::setw(9)
            << o.Failed << std::setw(10) << o.Returned << std::setw(9) << o.WrongSuccess << std::setw(8) << o.Usable
            << std::setw(9) << o.ReadRefused << std::setw(9) << o.InsertRefused << std::setw(9) << o.CloseFailed
            << std::setw(7) << o.LostCommitted << "\n";
}

int RunIo(Common c, const IoSettings& s) {
  std::vector<IoOperation> ops;
  std::vector<TFaultKind> kinds;
  if (!ParseOperations(s.Operations, ops) || !ParseKinds(s.Kinds, kinds)) {
    std::cerr << "tessel-faults: --operations takes open, insert, grow, shrink, delete, close; --kinds takes read, "
                 "write, full, short, flush (separated by commas)\n";
    return 2;
  }
  bool madeDir = false;
  if (!PrepareWorkDirectory(c.Dir, "tessel-faults", madeDir)) return 2;
  const std::string templateDir = c.Dir + "template/";
  const std::string trialDir = c.Dir + "trial/";
  std::cout << "tessel-faults io: operations " << s.Operations << "; faults " << s.Kinds << " at "
            << (s.Every == 1 ? std::string("every point") : "every " + std::to_string(s.Every) + "th point")
            << " of each; " << c.Prefill << " rows in the table, opened shared with forced flushes (close: "
            << "exclusive)\nfiles in " << c.Dir << std::endl;
  const std::vector<Commit> baseline = MakeTemplate(templateDir, c.Prefill);

  Totals totals;
  std::map<std::string, IoTotals> byOperation;
  int failedTrials = 0;
  int trial = 0;
  for (IoOperation op : ops) {
    // The counting run: how many reads, writes and flushes the operation makes.
    IoTrial counting;
    counting.Dir = trialDir;
    counting.Operation = op;
    counting.Baseline = baseline;
    CopyTable(templateDir, trialDir);
    const IoOutcome dry = RunIoTrial(counting);
    std::cout << IoOperationName(op) << ": " << dry.Steps.Reads << " reads, " << dry.Steps.Writes << " writes, "
              << dry.Steps.Flushes << " flushes" << std::endl;
    if (dry.OperationError != 0 || !dry.Error.empty()) {
      std::cout << "    FAILURE: the operation fails without a fault: " << dry.OperationText << dry.Error << "\n";
      ++failedTrials;
      continue;
    }
    for (TFaultKind kind : kinds) {
      const uint64_t points = dry.Steps.Of(tessel::StepClassOf(kind));
      for (uint64_t at = 1; at <= points; at += static_cast<uint64_t>(s.Every)) {
        ++trial;
        if (c.Only != 0 && trial != c.Only) continue;
        IoTrial t = counting;
        t.Fault = true;
        t.Kind = kind;
        t.At = at;
        CopyTable(templateDir, trialDir);
        const IoOutcome out = RunIoTrial(t);
        if (c.Only != 0) CopyTable(trialDir, c.Dir + "damaged-" + std::to_string(trial) + "/");
        TrialSetup check;
        check.Dir = trialDir;
        check.TimeoutSeconds = c.TimeoutSeconds;
        check.Baseline = baseline;
        const json result = RunChecker(check, out.Writer);
        std::vector<std::string> failures = Account(out.Writer, result, c.GapsFail, totals);
        auto fail = [&](const std::string& what) {
          failures.push_back(what);
          ++totals.Failures[what];
        };
        if (!out.FaultFired) fail("the fault was not reached");
        if (out.ReadProblems > 0) fail("the open returned wrong rows");
        if (out.ReadAfterProblems > 0) fail("reading on gave wrong rows");
        IoTotals& o = byOperation[IoOperationName(op)];
        ++o.Trials;
        if (out.OperationError != 0) ++o.Failed;
        else ++o.Returned;
        // A write that returned is among the commits the check compares
        // with; one that is missing or wrong there was reported done wrongly.
        const bool afterWrong = result.contains("after") && result["after"]["problems"].get<int>() > 0;
        if (out.OperationError == 0 && (out.ReadProblems > 0 || afterWrong)) {
          ++o.WrongSuccess;
          fail("the operation reported a success that did not happen");
        }
        if (out.ReadAfter == 0 && out.InsertAfter == 0 && out.CloseAfter == 0) ++o.Usable;
        if (out.ReadAfter != 0) ++o.ReadRefused;
        if (out.InsertAfter != 0) ++o.InsertRefused;
        if (out.CloseAfter != 0) ++o.CloseFailed;
        if (result.contains("after")) o.LostCommitted += result["after"]["missing"].get<int>();
        else fail("the table could not be compared after the repair");
        if (!failures.empty()) {
          ++failedTrials;
          KeepFailed(c.Dir, trialDir, trial);
        }
        if (c.Verbose || !failures.empty() || !KnownGap(result).empty()) {
          std::ostringstream what;
          what << IoOperationName(op) << " with a " << tessel::FaultKindName(kind) << " at step " << at
               << ": operation " << CodeText(out.OperationError) << ", then reading " << CodeText(out.ReadAfter)
               << ", inserting " << CodeText(out.InsertAfter) << ", closing " << CodeText(out.CloseAfter);
          PrintTrial(trial, what.str(), out.Writer, result, failures);
          for (const std::string& d : out.ReadDetails) std::cout << "    " << d << "\n";
          if (!out.Error.empty()) std::cout << "    " << out.Error << "\n";
        }
      }
    }
  }
  PrintTotals(totals, "the fault", failedTrials, c.GapsFail);
  std::cout << "\nper operation: points tried; the operation failed with an engine error or returned; returned\n"
               "wrongly (its write or read did not happen as told); then usable (reading on, inserting and closing\n"
               "worked) or refused with an engine error in reading, inserting, closing; committed writes lost\n"
            << std::left << std::setw(10) << "operation" << std::right << std::setw(7) << "points" << std::setw(9)
            << "failed" << std::setw(10) << "returned" << std::setw(9) << "wrongly" << std::setw(8) << "usable"
            << std::setw(9) << "reading" << std::setw(9) << "insert" << std::setw(9) << "close" << std::setw(7)
            << "lost" << "\n";
  IoTotals all;
  for (const auto& [name, o] : byOperation) {
    PrintIoRow(name, o);
    all.Add(o);
  }
  PrintIoRow("all", all);
  return Finish(failedTrials == 0, madeDir, c);
}

void AddCommon(CLI::App& app, Common& c) {
  app.add_option("--seed", c.Seed, "Seed of every choice");
  app.add_option("--prefill", c.Prefill, "Rows in the table when each trial starts")->check(CLI::Range(1, 100000));
  app.add_option("--timeout", c.TimeoutSeconds, "Seconds a check may take")->check(CLI::Range(1, 3600));
  app.add_flag("--gaps-fail", c.GapsFail, "Count the known gaps of the repair as failures");
  app.add_option("--dir", c.Dir, "Working directory (default: a new temporary one)");
  app.add_flag("--keep", c.Keep, "Keep the working directory");
  app.add_flag("-v,--verbose", c.Verbose, "Print every trial");
  app.add_option("--only", c.Only, "Run trial N alone and keep its files as the fault left them (damaged-N)")
      ->check(CLI::Range(1, 100000000));
}

}  // namespace
}  // namespace tesselstress

int main(int argc, char** argv) {
  using namespace tesselstress;
  CLI::App app{"Makes the faults a process kill cannot make, through the engine's file-system seam, and checks\n"
               "what each left: the table opens (or fails with an engine error), the structure check reports the\n"
               "damage, the repair leaves a sound table with every write that had returned."};
  app.require_subcommand(1);
  Common power;
  PowerSettings powerSettings;
  CLI::App* powerCommand = app.add_subcommand("power", "Cut the power under a writer at random writes and flushes");
  AddCommon(*powerCommand, power);
  powerCommand->add_option("-t,--trials", powerSettings.Trials, "Number of trials")->check(CLI::Range(1, 1000000));
  powerCommand->add_option("--max-steps", powerSettings.MaxSteps, "The cut comes as write or flush 1 to N is entered")
      ->check(CLI::Range(uint64_t{1}, uint64_t{100000000}));
  powerCommand->add_option("--modes", powerSettings.Modes,
                           "What each file keeps of its unflushed writes: all (any of the three), lose, prefix, any");
  Common io;
  io.Prefill = 60;
  IoSettings ioSettings;
  CLI::App* ioCommand = app.add_subcommand("io", "Fail every read, write and flush of each operation in turn");
  AddCommon(*ioCommand, io);
  ioCommand->add_option("--operations", ioSettings.Operations, "open, insert, grow, shrink, delete, close");
  ioCommand->add_option("--kinds", ioSettings.Kinds, "read, write, full, short, flush");
  ioCommand->add_option("--every", ioSettings.Every, "Every nth point of each operation (1: all)")
      ->check(CLI::Range(1, 1000000));
  CLI11_PARSE(app, argc, argv);
  try {
    if (powerCommand->parsed()) return RunPower(power, powerSettings);
    return RunIo(io, ioSettings);
  } catch (const std::exception& e) {
    std::cerr << "tessel-faults: " << e.what() << "\n";
    return 2;
  }
}
