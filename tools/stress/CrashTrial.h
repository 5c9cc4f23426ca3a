// One crash trial: a writer process killed with SIGKILL at a random moment,
// then the table opened, checked, repaired and checked again by a separate
// process (so that a crash of the engine on the damaged files is seen as one
// and does not end the run).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "StressModel.h"

namespace tesselstress {

constexpr const char* kCrashTableName = "crash.dat";
// The writer's process number in the rows it writes.
constexpr int32_t kCrashWriter = 1;

struct TrialSetup {
  std::string Dir;       // the trial's directory (with '/'), holding a copy of the template table
  uint64_t Seed = 0;     // the trial's own seed
  // When the writer is killed: after DelayMicros of writing, or (when
  // KillAtWrite is above 0) as it enters its KillAtWrite-th file write, which
  // then never happens. The second needs ptrace; it makes every boundary
  // between two writes as likely as any other, however long the disk takes
  // to flush.
  int64_t DelayMicros = 0;
  int64_t KillAtWrite = 0;
  int TimeoutSeconds = 120;  // for the writer's start and for the check
  bool WriteThrough = true;  // the writer's session forces buffer flushes
  // What the template holds: owner 0's rows, each inserted as version 1.
  std::vector<Commit> Baseline;
};

// What the writer reported before it was killed.
struct WriterReport {
  bool Started = false;
  std::vector<Commit> Committed;
  std::optional<Commit> InFlight;  // begun, not reported done
  // Further writes that failed and may or may not have happened (the fault
  // trials), each of its own id.
  std::vector<Commit> AlsoInFlight;
  std::string Error;               // the writer stopped on an error of its own
  int ExitSignal = 0;
  int64_t WritesBeforeKill = -1;  // file writes made (write mode)
};

// Starts the writer, kills it after the delay and collects its reports.
WriterReport RunWriter(const TrialSetup& setup);

// Runs the check in a child process and answers its result (see
// CheckDamagedTable); a crash, a hang or a missing answer is described in
// the result's "checker" member.
nlohmann::json RunChecker(const TrialSetup& setup, const WriterReport& writer);

// The check itself, in the current process: open through the record set,
// read and compare, structure check, repair, check again, compare again,
// write once more. Every step records its engine error instead of raising.
nlohmann::json CheckDamagedTable(const std::string& dir, const std::vector<Commit>& commits,
                                 const std::vector<Commit>& inFlight);

}  // namespace tesselstress
