// Structure checks of one index's B+-tree and of its chain of free pages.
// They report what they find as text and never fail on damaged pages.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace tessel {

class TKeyContext;
class TPageStore;

struct TIndexCheckResult {
  std::vector<std::string> Findings;
  int32_t EntryCount = 0;   // leaf entries reached
  int Levels = 0;           // 0 for an empty index
  int PageCount = 0;        // tree pages reached
  std::set<int32_t> Pages;  // their positions
  bool Ok() const { return Findings.empty(); }
};

// Walks the tree of ctx's index: page types (root 0 or 3, inner 1, leaves
// 2, all leaves on one level), entry counts within capacity, byte sizes of
// compressed leaves, key order within and across leaves, node keys equal to
// the first key below them, subtree counts, the left and right links of
// every level, and no page reached twice.
TIndexCheckResult CheckIndexTree(TPageStore& store, const TKeyContext& ctx);

// Walks the index's free chain: positions inside the file, no loop, free
// pages without entries, none of them part of the tree (when treePages is
// given).
std::vector<std::string> CheckFreeChain(TPageStore& store, int index,
                                        const std::set<int32_t>* treePages = nullptr);

}  // namespace tessel
