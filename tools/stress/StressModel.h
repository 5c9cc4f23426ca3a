// What the processes report they committed, and the check of a table's
// final contents against it.
//
// The order of writes to one record is fixed by its record lock: an update
// reads the record's version under the lock and writes version + 1, so the
// committed writes of one id form a chain 1, 2, ..., n whatever process made
// them, and the row must hold the last link. A delete names the version it
// removed, which must be the last one. Two committed writes of the same
// version mean one overwrote the other unseen (a lost update).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "StressTable.h"

namespace tesselstress {

enum class OpKind : char { Insert = 'I', Update = 'U', Delete = 'D' };

// One committed write: its Post or Delete returned.
struct Commit {
  OpKind Kind = OpKind::Insert;
  int32_t Id = 0;
  int32_t Version = 0;  // written (insert, update) or removed (delete)
  int32_t Writer = 0;
  int32_t Seq = 0;
};

// One journal line: "I id version writer seq" (likewise U and D).
std::string FormatCommit(const Commit& commit);
std::optional<Commit> ParseCommit(const std::string& line);

struct CheckReport {
  int RowsChecked = 0;
  int ExpectedRows = 0;
  int Missing = 0;        // committed and not deleted, but not in the table
  int Extra = 0;          // in the table, but never inserted or deleted since
  int Stale = 0;          // the row holds an older version than the last committed update
  int Unreported = 0;     // the row holds a version no process reported committed
  int WrongWriter = 0;    // the row's version was committed by another write than it names
  int LostUpdates = 0;    // two committed writes of the same version of one id
  int VersionGaps = 0;    // a version missing from a chain (written on uncommitted data)
  int StaleDeletes = 0;   // a delete that removed an older version than the last committed
  int DoubleInserts = 0;  // one id inserted more than once
  int DuplicateStamps = 0;  // one (writer, seq) reported twice
  int TornRows = 0;       // derived fields that do not fit the row
  // The in-flight write (crash trials) was found applied.
  bool InFlightApplied = false;
  // Rows of a write under way that are neither side of it but torn (part
  // of the slot new, part old): a power cut in the middle of the slot's
  // write tears it at a sector boundary, and no checksum tells. Not counted
  // among the problems.
  int TornInFlight = 0;
  std::vector<std::string> Details;  // the first problems, one line each

  int Problems() const {
    return Missing + Extra + Stale + Unreported + WrongWriter + LostUpdates + VersionGaps + StaleDeletes +
           DoubleInserts + DuplicateStamps + TornRows;
  }
};

// Checks the rows of a table against the committed writes. inFlight is a
// write that was under way when its process died: for its id the table may
// show the state before or after it, and its row may be torn.
CheckReport CheckContents(const std::vector<Commit>& commits, const std::vector<Row>& rows,
                          const std::optional<Commit>& inFlight = std::nullopt);
// The same with several writes that failed or were under way, of distinct
// ids: each may show either side.
CheckReport CheckContents(const std::vector<Commit>& commits, const std::vector<Row>& rows,
                          const std::vector<Commit>& inFlight);

// Lays down count rows of owner 0 in the table at tablePath (opened
// exclusively), each inserted as version 1, so that a run has rows to meet
// on from its first operation; answers those inserts.
std::vector<Commit> Prefill(const std::string& tablePath, int count);

}  // namespace tesselstress
