#include "TrialReport.h"

#include <filesystem>
#include <iomanip>
#include <iostream>

#include "StressTable.h"

namespace tesselstress {

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

int Get(const json& j, const char* member, const char* field) {
  if (!j.contains(member) || !j[member].contains(field)) return 0;
  return j[member][field].get<int>();
}

std::string ErrorLine(const json& e) {
  return std::to_string(e.value("code", 0)) + " " + e.value("text", std::string());
}

}  // namespace

std::vector<Commit> MakeTemplate(const std::string& dir, int rows) {
  fs::create_directories(dir);
  CreateStressTable(dir, kCrashTableName);
  return Prefill(dir + kCrashTableName, rows);
}

void CopyTable(const std::string& from, const std::string& to) {
  fs::remove_all(to);
  fs::create_directories(to);
  for (const auto& entry : fs::directory_iterator(from)) fs::copy_file(entry.path(), to / entry.path().filename());
}

// What an interruption can leave that the repair does not put right: a
// table that does not open even for the repair; a slot whose record
// identifier the header does not know after the repair (the next insert
// would hand it out again, and two records would then share the keys of
// "Sys Deleted" and the order of equal keys elsewhere); and (power cuts
// only) the slot of the write under way torn by the cut, which the format
// cannot tell from a whole one. Empty when none.
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
  if (r.contains("after") && r["after"].value("tornInFlight", 0) > 0)
    return "the slot of the write under way torn at a sector boundary (part old, part new; no checksum tells)";
  return {};
}

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
    const bool repaired = r.contains("repair") && r["repair"]["sound"].get<bool>();
    outcome = "open refused: engine error " + std::to_string(r["open"].get<int>()) +
              (repaired ? ", repaired" : ", not repaired");
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

void PrintTrial(int trial, const std::string& what, const WriterReport& w, const json& r,
                const std::vector<std::string>& failures) {
  std::cout << "trial " << trial << ": " << what << ", " << w.Committed.size()
            << " writes returned, in flight: "
            << (w.InFlight ? FormatCommit(*w.InFlight) : std::string("none"));
  for (const Commit& c : w.AlsoInFlight) std::cout << ", " << FormatCommit(c);
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
    if (gap.rfind("record identifier", 0) == 0 && r.contains("identifiers"))
      std::cout << " (header " << r["identifiers"]["last"] << ", slot " << r["identifiers"]["slot"] << " carries "
                << r["identifiers"]["highest"] << ")";
    std::cout << "\n";
  }
  for (const std::string& f : failures) std::cout << "    FAILURE: " << f << "\n";
}

void PrintTotals(const Totals& totals, const std::string& event, int failedTrials, bool gapsFail) {
  std::cout << "\n" << totals.Trials << " trials; writes returned before " << event << ": " << totals.Committed
            << " in all\n" << event << " fell during: ";
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
  std::cout << "known gaps of the repair" << (gapsFail ? "" : " (reported, not counted as failures)") << ":";
  if (totals.Gaps.empty()) std::cout << " none";
  std::cout << "\n";
  for (const auto& [gap, n] : totals.Gaps) std::cout << "  " << gap << ": " << n << "\n";
  std::cout << "failed trials: " << failedTrials << "\n";
  for (const auto& [failure, n] : totals.Failures) std::cout << "  " << failure << ": " << n << "\n";
}

}  // namespace tesselstress
