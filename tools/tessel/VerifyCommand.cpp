#include "VerifyCommand.h"

#include <iostream>

#include "TableAccess.h"
#include "engine/storage/TableVerify.h"

namespace tesseltool {

const char* const kVerifyCommandDescription =
    "Check the structure of a table (index trees, index entries, record count, free chains, BLOB chains); "
    "--repair fixes what it can (needs exclusive use)";

const char* const kVerifyCommandFooter =
    "Prints one line per error found and a last line with the totals.\n"
    "Exit code 0 when the table is sound (with --repair: when nothing is left after the repair),\n"
    "3 when it is damaged, 1 when it cannot be opened or checked.\n"
    "\n"
    "--repair cuts the data file to the record slots its header counts (the slot of an insert that\n"
    "never completed), raises the header's last record and BLOB identifiers to the highest in use,\n"
    "cuts broken free chains of record slots, index pages and BLOB blocks before the damage,\n"
    "lays the chain of deleted record slots anew through every deleted slot when it leaves some\n"
    "out (with a primary index, inserts reuse deleted slots only through it),\n"
    "clears BLOB fields whose first block is lost or unsound, shortens BLOB values whose chain\n"
    "ends early or reaches a block that claims more bytes than it holds, closes string values that\n"
    "run to the end of their field,\n"
    "sets the active record count, the BLOB field count and the end-of-file positions right, and\n"
    "rebuilds every damaged index tree from the records.\n"
    "It cannot recover: damaged file headers or field descriptors (the table does not open), damaged\n"
    "index definitions, BLOB data behind a broken link, a missing BLOB file, nor records whose key\n"
    "equals another record's in the same index (they stay out of it).\n"
    "Pages of rebuilt trees and of cut chains, and blocks behind a cut, stay in the files unused:\n"
    "the files do not shrink.";

int VerifyTableCommand(const std::string& table, bool repair, const std::optional<std::string>& password) {
  OpenOptions options;
  options.Exclusive = repair;
  options.ForStructureCheck = true;
  options.Password = password;
  OpenedTable opened(table, options);

  tessel::TVerifyOptions verify;
  verify.Repair = repair;
  const tessel::TVerifySummary summary =
      tessel::VerifyTable(opened.Table(), verify, [](const tessel::TVerifyFinding& finding) {
        if (finding.AfterRepair) std::cout << "After repair: ";
        std::cout << finding.Message << '\n';
      });
  opened.Close();

  std::cout << "Checked " << summary.RecordSlots << " record slots (" << summary.ActiveRecords << " active), "
            << summary.IndexesChecked << " indexes, " << summary.BlobValues
            << " BLOB values: " << summary.Total() << " errors found, " << summary.TotalFixed() << " fixed, "
            << summary.NotFixed() << " not fixed";
  if (repair) std::cout << ", " << summary.Remaining << " left after repair";
  std::cout << '\n' << std::flush;
  return summary.Sound() ? 0 : kVerifyDamaged;
}

}  // namespace tesseltool
