#include "StressModel.h"

#include <algorithm>
#include <set>
#include <sstream>
#include <utility>

namespace tesselstress {
namespace {

constexpr size_t kMaxDetails = 20;

struct History {
  int Inserts = 0;
  std::map<int32_t, std::vector<Commit>> Versions;  // by version written
  std::vector<Commit> Deletes;
};

std::string Describe(const Commit& c) {
  std::ostringstream text;
  text << static_cast<char>(c.Kind) << " id " << c.Id << " version " << c.Version << " by process " << c.Writer
       << " (write " << c.Seq << ")";
  return text.str();
}

void Note(CheckReport& report, const std::string& line) {
  if (report.Details.size() < kMaxDetails) report.Details.push_back(line);
}

// The checks of one id against its committed history and the row the table
// holds for it (none when absent).
void CheckId(int32_t id, const History& h, const Row* row, bool tornAllowed, CheckReport& r) {
  const std::string name = "id " + std::to_string(id) + ": ";
  if (h.Inserts > 1) {
    ++r.DoubleInserts;
    Note(r, name + std::to_string(h.Inserts) + " committed inserts");
  }
  int32_t last = 0;
  for (const auto& [version, writes] : h.Versions) {
    if (writes.size() > 1) {
      r.LostUpdates += static_cast<int>(writes.size()) - 1;
      Note(r, name + "version " + std::to_string(version) + " committed " + std::to_string(writes.size()) +
                  " times: " + Describe(writes[0]) + " and " + Describe(writes[1]));
    }
    last = std::max(last, version);
  }
  if (h.Inserts > 0) {
    for (int32_t v = 1; v <= last; ++v) {
      if (h.Versions.count(v) == 0) {
        ++r.VersionGaps;
        Note(r, name + "version " + std::to_string(v) + " never committed, version " + std::to_string(last) +
                    " was");
      }
    }
  }
  for (const Commit& d : h.Deletes) {
    if (d.Version != last) {
      ++r.StaleDeletes;
      Note(r, name + Describe(d) + " but version " + std::to_string(last) + " was committed");
    }
  }
  const bool expected = h.Inserts > 0 && h.Deletes.empty();
  if (expected) ++r.ExpectedRows;
  if (row == nullptr) {
    if (expected) {
      ++r.Missing;
      Note(r, name + "missing; last committed write: " + Describe(h.Versions.rbegin()->second.front()));
    }
    return;
  }
  ++r.RowsChecked;
  const std::string torn = CheckRow(*row);
  if (!torn.empty() && !tornAllowed) {
    ++r.TornRows;
    Note(r, torn);
  }
  if (!expected) {
    ++r.Extra;
    Note(r, name + "in the table (version " + std::to_string(row->Version) + ") but " +
                (h.Inserts == 0 ? std::string("never reported inserted") : "reported deleted"));
    return;
  }
  if (row->Version < last) {
    ++r.Stale;
    Note(r, name + "the table holds version " + std::to_string(row->Version) + ", version " +
                std::to_string(last) + " was committed: " + Describe(h.Versions.at(last).front()));
  } else if (row->Version > last) {
    ++r.Unreported;
    Note(r, name + "the table holds version " + std::to_string(row->Version) + " (process " +
                std::to_string(row->Writer) + ", write " + std::to_string(row->Seq) +
                "), the last reported committed is " + std::to_string(last));
  } else {
    const auto& writes = h.Versions.at(last);
    const bool match = std::any_of(writes.begin(), writes.end(), [&](const Commit& c) {
      return c.Writer == row->Writer && c.Seq == row->Seq;
    });
    if (!match) {
      ++r.WrongWriter;
      Note(r, name + "version " + std::to_string(last) + " names process " + std::to_string(row->Writer) +
                  " write " + std::to_string(row->Seq) + ", committed was " + Describe(writes.front()));
    }
  }
}

void Add(History& h, const Commit& c) {
  if (c.Kind == OpKind::Delete) {
    h.Deletes.push_back(c);
    return;
  }
  if (c.Kind == OpKind::Insert) ++h.Inserts;
  h.Versions[c.Version].push_back(c);
}

void Merge(CheckReport& into, const CheckReport& from) {
  into.RowsChecked += from.RowsChecked;
  into.ExpectedRows += from.ExpectedRows;
  into.Missing += from.Missing;
  into.Extra += from.Extra;
  into.Stale += from.Stale;
  into.Unreported += from.Unreported;
  into.WrongWriter += from.WrongWriter;
  into.LostUpdates += from.LostUpdates;
  into.VersionGaps += from.VersionGaps;
  into.StaleDeletes += from.StaleDeletes;
  into.DoubleInserts += from.DoubleInserts;
  into.DuplicateStamps += from.DuplicateStamps;
  into.TornRows += from.TornRows;
  for (const std::string& d : from.Details) Note(into, d);
}

}  // namespace

std::string FormatCommit(const Commit& c) {
  return std::string(1, static_cast<char>(c.Kind)) + " " + std::to_string(c.Id) + " " + std::to_string(c.Version) +
         " " + std::to_string(c.Writer) + " " + std::to_string(c.Seq);
}

std::optional<Commit> ParseCommit(const std::string& line) {
  std::istringstream in(line);
  char kind = 0;
  Commit c;
  if (!(in >> kind >> c.Id >> c.Version >> c.Writer >> c.Seq)) return std::nullopt;
  if (kind != 'I' && kind != 'U' && kind != 'D') return std::nullopt;
  std::string rest;
  if (in >> rest) return std::nullopt;
  c.Kind = static_cast<OpKind>(kind);
  return c;
}

CheckReport CheckContents(const std::vector<Commit>& commits, const std::vector<Row>& rows,
                          const std::optional<Commit>& inFlight) {
  return CheckContents(commits, rows, inFlight ? std::vector<Commit>{*inFlight} : std::vector<Commit>{});
}

CheckReport CheckContents(const std::vector<Commit>& commits, const std::vector<Row>& rows,
                          const std::vector<Commit>& inFlight) {
  CheckReport report;
  std::map<int32_t, History> histories;
  std::set<std::pair<int32_t, int32_t>> stamps;
  for (const Commit& c : commits) {
    Add(histories[c.Id], c);
    if (!stamps.insert({c.Writer, c.Seq}).second) {
      ++report.DuplicateStamps;
      Note(report, "process " + std::to_string(c.Writer) + " reported write " + std::to_string(c.Seq) + " twice");
    }
  }
  for (const Commit& c : inFlight) histories[c.Id];  // checked even when it has no committed write

  std::map<int32_t, const Row*> byId;
  for (const Row& row : rows) {
    if (!byId.emplace(row.Id, &row).second) {
      ++report.Extra;
      Note(report, "id " + std::to_string(row.Id) + ": more than one row");
    }
  }

  for (const auto& [id, history] : histories) {
    auto found = byId.find(id);
    const Row* row = found == byId.end() ? nullptr : found->second;
    auto undecided = std::find_if(inFlight.begin(), inFlight.end(), [&](const Commit& c) { return c.Id == id; });
    if (undecided != inFlight.end()) {
      // Either side of the write that was under way is right; its row may
      // be half written.
      CheckReport before;
      CheckId(id, history, row, true, before);
      History after = history;
      Add(after, *undecided);
      CheckReport applied;
      CheckId(id, after, row, true, applied);
      if (before.Problems() == 0) {
        Merge(report, before);
      } else if (applied.Problems() == 0) {
        Merge(report, applied);
        report.InFlightApplied = true;
      } else if (row != nullptr && !CheckRow(*row).empty()) {
        ++report.RowsChecked;
        ++report.TornInFlight;
        Note(report, "id " + std::to_string(id) + ": the row of the write under way is torn: " + CheckRow(*row));
      } else {
        Merge(report, before);
      }
    } else {
      CheckId(id, history, row, false, report);
    }
  }
  for (const auto& [id, row] : byId) {
    if (histories.count(id) != 0) continue;
    ++report.RowsChecked;
    ++report.Extra;
    Note(report, "id " + std::to_string(id) + ": in the table (version " + std::to_string(row->Version) +
                     ") but never reported inserted");
    const std::string torn = CheckRow(*row);
    if (!torn.empty()) {
      ++report.TornRows;
      Note(report, torn);
    }
  }
  return report;
}

std::vector<Commit> Prefill(const std::string& tablePath, int count) {
  std::vector<Commit> commits;
  StressConnection::Options options;
  options.Exclusive = true;
  StressConnection conn(tablePath, options);
  for (int i = 1; i <= count; ++i) {
    conn.Table().Append();
    conn.Assign(MakeRow(i, 1, 0, i));
    conn.Table().Post();
    commits.push_back({OpKind::Insert, i, 1, 0, i});
  }
  conn.Close();
  return commits;
}

}  // namespace tesselstress
