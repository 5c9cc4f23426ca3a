// The trials of faults a process kill cannot make, run through the engine's
// file-system seam with the fault-injecting file system over the trial's
// directory:
//
// - A power trial runs a writer in this process (inserts, updates, deletes;
//   the notes grow and shrink with each new version) on a table opened
//   shared with forced flushes, as the program opens its catalogue, and cuts
//   the power as its nth write or flush is entered. What the files were
//   given since their last flush is thrown away as the cut decides.
// - An I/O trial makes one read, write or flush of one operation fail (EIO,
//   ENOSPC, a short write, a failed flush), then uses the table on in the
//   same session: reads it through, inserts once more, closes.
//
// Either way the table is then checked by a separate process as the crash
// trials check it (CheckDamagedTable): opened, checked, repaired, checked
// again, compared with every write that returned, written once more.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CrashTrial.h"
#include "engine/storage/FaultFileSystem.h"

namespace tesselstress {

// ---- Power trials.

struct PowerTrial {
  std::string Dir;      // holds a copy of the template table
  uint64_t Seed = 0;
  uint64_t CutAt = 1;   // the write or flush (counted from the open on) the cut takes the place of
  std::vector<tessel::TLossMode> Modes;  // drawn from per file (all when empty)
  std::vector<Commit> Baseline;
};

struct PowerOutcome {
  WriterReport Writer;
  bool CutDuringWork = false;  // else the writer ran out of work first and the cut came after
  tessel::TPowerLoss Loss;
  std::string Error;           // an error that was no engine error, or one before the cut
};

PowerOutcome RunPowerWriter(const PowerTrial& trial);

// ---- I/O trials.

enum class IoOperation {
  Open,    // open shared and read every record in key order
  Insert,  // one insert
  Grow,    // an update whose note grows
  Shrink,  // an update whose note shrinks
  Delete,  // one delete
  Close,   // an exclusive table's close, which writes back three inserts and an update
};
const char* IoOperationName(IoOperation op);
bool ParseIoOperation(const std::string& name, IoOperation& op);

struct IoTrial {
  std::string Dir;  // holds a copy of the template table
  IoOperation Operation = IoOperation::Insert;
  bool Fault = false;  // false: the counting run without a fault
  tessel::TFaultKind Kind = tessel::TFaultKind::WriteError;
  uint64_t At = 1;     // the step of the kind's class, counted from the operation's start
  std::vector<Commit> Baseline;
};

struct IoOutcome {
  WriterReport Writer;  // the writes that returned; the one that failed in flight
  tessel::TStepCounts Steps;  // of the operation alone
  bool FaultFired = false;
  uint16_t OperationError = 0;  // the engine code the operation failed with, 0 when it returned
  std::string OperationText;
  // What was wrong with the rows the open's read through gave, when it
  // returned (it must give every row of the template as it is), and with
  // the rows reading on gave, when that worked (every write that returned,
  // the failed ones either way).
  int ReadProblems = 0;
  int ReadAfterProblems = 0;
  std::vector<std::string> ReadDetails;
  // The table used on in the same session: the read through, the insert,
  // the close; each the engine code it failed with (0: it worked).
  uint16_t ReadAfter = 0;
  uint16_t InsertAfter = 0;
  uint16_t CloseAfter = 0;
  std::string Error;  // an exception that was no engine error, where it came from
};

IoOutcome RunIoTrial(const IoTrial& trial);

}  // namespace tesselstress
