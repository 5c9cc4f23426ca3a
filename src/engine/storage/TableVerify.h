// The engine's own structure check of a whole table, and its repair.
//
// The check covers the end-of-file positions of the index and BLOB files,
// the data header's BLOB field count and the index definitions; the chain
// of deleted record slots (which, with a primary index, must hold every
// deleted slot); every record slot's deleted flag and the active record
// count; every string value of an active record (closed within its field);
// every BLOB value of every active record (the chain check) and the chain
// of free BLOB blocks; every index tree (page types and capacities, key
// order within and across leaves, node keys equal to the first key below
// them, subtree counts, neighbour links, no page shared between trees),
// every index's entries against the records (each active record indexed
// exactly once under the key its values give; every record slot once in
// "Sys Deleted"), and every index's chain of free pages. Walks are bounded
// and positions range-checked, so a damaged file gives findings, never a
// hang or a crash.
//
// Repair (exclusive use) fixes what can be fixed in place: a data file
// longer than its header counts is cut to the counted slots, one shorter
// has its header count the whole slots it holds (a torn last one is cut),
// last record and BLOB identifiers below ones in use are raised, broken
// chains are cut before the damage (the blocks or pages behind the cut are
// no longer reused; the chain of deleted slots is laid anew through every
// deleted slot when it leaves any out), BLOB fields whose first block is lost are
// cleared, chains that end early get the length they hold, an unclosed
// string value is closed at its field's size, a wrong active record count,
// BLOB field count or end-of-file position is set right, and every damaged
// index tree is rebuilt from the records (its old pages stay in the file
// unused). It cannot recover damaged headers or field descriptors (the
// table does not open), damaged index definitions, BLOB data behind a cut,
// a missing BLOB file, nor records whose key equals another record's in an
// index that cannot hold both.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tessel {

class TDataTable;

enum class TVerifyArea : uint8_t {
  Files,         // end-of-file positions, the index header's counts, index definitions
  Records,       // deleted flags and the active record count
  FreeSlots,     // the data file's chain of deleted slots
  IndexTree,     // the structure of an index tree
  IndexEntries,  // index entries that do not match the records
  FreePages,     // an index's chain of free pages
  BlobChain,     // the block chain of a BLOB value
  FreeBlocks,    // the BLOB file's chain of free blocks
};
constexpr int kVerifyAreaCount = 8;
const char* VerifyAreaName(TVerifyArea area);

// How far a check has come, in thousandths of the whole run (a repair's
// two passes included): rising, never repeated, 1000 at the end.
using TVerifyProgress = std::function<void(int permille)>;

struct TVerifyOptions {
  // Fix what can be fixed; needs the table open exclusively.
  bool Repair = false;
  // Told how far the check has come, as it goes (none: not told).
  TVerifyProgress Progress;
};

struct TVerifyFinding {
  TVerifyArea Area = TVerifyArea::Files;
  int IndexSlot = -1;        // the index concerned, -1 for none
  int32_t RecordNumber = 0;  // the record slot concerned, 0 for none
  bool Fixed = false;
  // Found by the check that runs after a repair: what the repair left.
  bool AfterRepair = false;
  // One line, ending in ", error fixed" or ", error not fixed".
  std::string Message;
};

using TVerifyCallback = std::function<void(const TVerifyFinding& finding)>;

struct TVerifySummary {
  // Findings of the check (of the repairing pass when repairing), by area.
  std::array<int, kVerifyAreaCount> Found{};
  std::array<int, kVerifyAreaCount> Fixed{};
  bool Repaired = false;  // a repair was asked for
  // Findings of the check that follows a repair.
  int Remaining = 0;
  int32_t RecordSlots = 0;
  int32_t ActiveRecords = 0;
  int IndexesChecked = 0;
  int BlobValues = 0;
  std::vector<int> RebuiltIndexes;  // index slots laid down anew

  int Total() const;
  int TotalFixed() const;
  int NotFixed() const { return Total() - TotalFixed(); }
  int FoundIn(TVerifyArea area) const { return Found[static_cast<size_t>(area)]; }
  int FixedIn(TVerifyArea area) const { return Fixed[static_cast<size_t>(area)]; }
  // No damage found, or (after a repair) none left.
  bool Sound() const { return Repaired ? Remaining == 0 : Total() == 0; }
};

// Checks the table and hands every finding to onFinding. A shared table is
// checked under its read lock. With Repair the table must be open
// exclusively ("table '%s' must be opened exclusively") and writable
// ("Access denied to table '%s'"); the fixes are written to the files and a
// second, check-only pass then tells what is left (AfterRepair findings,
// Remaining). Damage found in the files is reported, never raised: a part
// of the check that cannot go on (a file that cannot be read, say) is one
// finding and the other parts still run. Raised are a lock that cannot be
// had and a failure to write the fixes.
TVerifySummary VerifyTable(TDataTable& table, const TVerifyOptions& options,
                           const TVerifyCallback& onFinding = {});

}  // namespace tessel
