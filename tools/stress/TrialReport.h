// What the trials that end a writer's work at a random moment have in
// common: the template table, the classification of each trial's check, its
// printout and the totals (tessel-crash kills the writer; tessel-faults cuts
// the power under it or fails one of its reads, writes or flushes).
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "CrashTrial.h"
#include "engine/storage/TableVerify.h"

namespace tesselstress {

// Lays down the stress table in dir with rows rows of owner 0, each
// inserted as version 1; answers those inserts.
std::vector<Commit> MakeTemplate(const std::string& dir, int rows);
// Replaces the directory to by a copy of the files in from.
void CopyTable(const std::string& from, const std::string& to);

struct Totals {
  int Trials = 0;
  std::map<std::string, int> Outcomes;
  std::map<std::string, int> Failures;
  std::map<std::string, int> InFlight;  // kind of write the event fell in
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

// What an interruption can leave that the repair does not put right (empty
// when nothing).
std::string KnownGap(const nlohmann::json& r);
// Classifies one trial's check and adds it to the totals; answers the
// failures.
std::vector<std::string> Account(const WriterReport& writer, const nlohmann::json& r, bool gapsFail, Totals& t);
// One trial's lines; what says how its writing ended.
void PrintTrial(int trial, const std::string& what, const WriterReport& w, const nlohmann::json& r,
                const std::vector<std::string>& failures);
// The figures of a run; event names what ended each trial's writing ("the
// kill", "the power cut").
void PrintTotals(const Totals& totals, const std::string& event, int failedTrials, bool gapsFail);

}  // namespace tesselstress
