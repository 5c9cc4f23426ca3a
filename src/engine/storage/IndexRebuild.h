// Rebuilding index trees from the records, for a table whose index pages can
// no longer be trusted. Needs the table for exclusive use.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tessel {

class TDataTable;
class TIndexFile;
class TKeyContext;

struct TIndexRebuildResult {
  int Slot = 0;
  int32_t KeysInserted = 0;
  // Records left out because their key equals the key of a record inserted
  // before them (values that a unique index cannot hold twice, or damaged
  // record identifiers). The index stays without them.
  std::vector<int32_t> LeftOut;
};

// The index slots a table uses: the primary index (when there is one), the
// secondary indexes and "Sys Deleted", in slot order.
std::vector<int> UsedIndexSlots(const TDataTable& table);

// Whether the descriptor of a used index can be keyed: key fields that name
// fields of the table and no BLOB, a compression mode of 0 to 3, and a key
// length equal to what the fields give (5 for "Sys Deleted"). When not,
// problem (if given) says what is wrong.
bool IndexDefinitionSound(const TDataTable& table, int slot, std::string* problem = nullptr);

// Lays the tree of one index down anew: its root and free chain are reset
// and the keys of every active record (of every record slot for "Sys
// Deleted") are sorted in memory and laid down in one pass (a table with
// more keys than a rebuild holds in memory has them inserted one by one, in
// record-number order). Of equal keys the one of the lowest record number
// stays; the others are left out and reported. The pages of the old tree
// and of its free chain are abandoned: they stay in the file unused. Raises
// "table '%s' must be opened exclusively" unless the table is open
// exclusively, "Access denied to table '%s'" when it is read-only, and
// "Header information corrupt in table '%s'" for an unsound definition. The
// new pages and the header reach the file with the next write-back.
TIndexRebuildResult RebuildIndex(TDataTable& table, int slot);

// Lays the empty tree of index slot down from the keys of record slots 1 to
// last: keyOf(r, key) fills key (the index's key length) and answers whether
// slot r has a key in this index. The keys are sorted in memory and the
// tree laid down in one pass, in long runs of pages; more keys than a
// rebuild holds in memory go in one by one, in slot order. Equal keys all
// go in when keepEqual is on; otherwise the one of the lowest slot stays
// and the others are left out and reported.
TIndexRebuildResult LayIndexDown(TIndexFile& index, int slot, const TKeyContext& context, int32_t last,
                                 bool keepEqual, const std::function<bool(int32_t, uint8_t*)>& keyOf);

// Every used index in turn.
std::vector<TIndexRebuildResult> RebuildAllIndexes(TDataTable& table);

}  // namespace tessel
