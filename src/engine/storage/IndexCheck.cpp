#include "engine/storage/IndexCheck.h"

#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "engine/storage/IndexKey.h"
#include "engine/storage/IndexPage.h"
#include "engine/storage/IndexTree.h"

namespace tessel {

namespace {

constexpr int kMaxCheckDepth = 64;

std::string PageName(int32_t position) { return "page " + std::to_string(position); }

class TTreeWalker {
 public:
  TTreeWalker(TPageStore& store, const TKeyContext& ctx, TIndexCheckResult& result)
      : store_(store), ctx_(ctx), result_(result) {}

  void Run() {
    const int32_t root = store_.Root(ctx_.Slot());
    if (root == 0) return;
    Visit(root, 0);
    CheckLinks();
    result_.Levels = static_cast<int>(levels_.size());
  }

 private:
  struct LevelPage {
    int32_t Position;
    int32_t Left;
    int32_t Right;
  };
  // What a parent needs to know of a child's subtree.
  struct Summary {
    bool CountKnown = false;
    int32_t Count = 0;
    std::vector<uint8_t> FirstKey;  // empty when the page could not be read
  };
  struct ChildEntry {
    int32_t Position;
    int32_t SubCount;
    std::vector<uint8_t> Key;
  };

  void Find(const std::string& text) { result_.Findings.push_back(text); }

  Summary Visit(int32_t position, int depth) {
    Summary summary;
    if (depth >= kMaxCheckDepth) {
      Find(PageName(position) + ": tree deeper than " + std::to_string(kMaxCheckDepth) + " levels");
      return summary;
    }
    if (!result_.Pages.insert(position).second) {
      Find(PageName(position) + ": reached twice");
      return summary;
    }
    // The page is read, checked and copied out, then given back before its
    // children are visited, so the walk holds one page at a time.
    std::vector<ChildEntry> children;
    bool leaf = false;
    try {
      TPageRef page(store_, store_.GetPage(ctx_.Slot(), position));
      leaf = page->IsLeaf();
      ++result_.PageCount;
      if (static_cast<size_t>(depth) >= levels_.size())
        levels_.resize(static_cast<size_t>(depth) + 1);
      levels_[static_cast<size_t>(depth)].push_back({position, page->Left, page->Right});
      CheckPage(*page, depth);
      if (page->Count() == 0) return summary;
      const int length = page->KeyLength;
      summary.FirstKey.assign(page->Key(1), page->Key(1) + length);
      if (leaf) {
        CheckLeafLevel(*page, depth);
        summary.CountKnown = true;
        summary.Count = page->Count();
        result_.EntryCount += page->Count();
        return summary;
      }
      for (int i = 1; i <= page->Count(); ++i) {
        children.push_back({page->Value(i), page->SubCount(i),
                            std::vector<uint8_t>(page->Key(i), page->Key(i) + length)});
      }
    } catch (const std::exception& error) {
      Find(PageName(position) + ": cannot be read (" + error.what() + ")");
      return summary;
    }

    summary.CountKnown = true;
    for (size_t i = 0; i < children.size(); ++i) {
      const ChildEntry& entry = children[i];
      const Summary child = Visit(entry.Position, depth + 1);
      const std::string where = PageName(position) + " entry " + std::to_string(i + 1);
      if (!child.FirstKey.empty() && child.FirstKey != entry.Key) {
        Find(where + ": key differs from the first key of " + PageName(entry.Position));
      }
      if (child.CountKnown) {
        if (child.Count != entry.SubCount) {
          Find(where + ": subtree count " + std::to_string(entry.SubCount) + ", " +
               std::to_string(child.Count) + " entries below");
        }
        summary.Count += child.Count;
      } else {
        summary.CountKnown = false;
      }
    }
    return summary;
  }

  void CheckPage(const TPage& page, int depth) {
    const std::string name = PageName(page.Position);
    const bool root = depth == 0;
    if (root && !page.IsRoot()) {
      Find(name + ": root has page type " + std::to_string(page.PageType));
    } else if (!root && page.IsRoot()) {
      Find(name + ": page type " + std::to_string(page.PageType) + " below the root");
    }
    if (page.Count() == 0) {
      Find(name + ": no entries");
      return;
    }
    if (page.IsCompressedLeaf()) {
      int32_t bytes = 0;
      for (int i = 1; i <= page.Count(); ++i) {
        bytes += page.CompressedEntryBytes(page.Lead(i), page.Trail(i));
      }
      if (bytes != page.ByteSize) {
        Find(name + ": byte size " + std::to_string(page.ByteSize) + ", entries take " +
             std::to_string(bytes));
      }
      if (bytes > kPageEntryBytes) Find(name + ": entries exceed the page");
    } else {
      if (page.Count() > page.Capacity()) {
        Find(name + ": " + std::to_string(page.Count()) + " entries, capacity " +
             std::to_string(page.Capacity()));
      }
      if (page.ByteSize != 0) Find(name + ": byte size " + std::to_string(page.ByteSize));
    }
    for (int i = 2; i <= page.Count(); ++i) {
      if (ctx_.CompareKeys(page.Key(i - 1), page.Key(i)) >= 0) {
        Find(name + ": entries " + std::to_string(i - 1) + " and " + std::to_string(i) +
             " out of order");
      }
    }
  }

  void CheckLeafLevel(const TPage& page, int depth) {
    const std::string name = PageName(page.Position);
    if (leafLevel_ < 0) {
      leafLevel_ = depth;
    } else if (leafLevel_ != depth) {
      Find(name + ": leaf on level " + std::to_string(depth) + ", others on level " +
           std::to_string(leafLevel_));
    }
    if (!lastLeafKey_.empty() && ctx_.CompareKeys(lastLeafKey_.data(), page.Key(1)) >= 0) {
      Find(name + ": first key not above the last key of the leaf before it");
    }
    lastLeafKey_.assign(page.Key(page.Count()), page.Key(page.Count()) + page.KeyLength);
  }

  void CheckLinks() {
    for (size_t level = 0; level < levels_.size(); ++level) {
      const std::vector<LevelPage>& pages = levels_[level];
      for (size_t j = 0; j < pages.size(); ++j) {
        const std::string name = PageName(pages[j].Position);
        const int32_t left = j == 0 ? 0 : pages[j - 1].Position;
        const int32_t right = j + 1 == pages.size() ? 0 : pages[j + 1].Position;
        if (pages[j].Left != left) {
          Find(name + ": left link " + std::to_string(pages[j].Left) + ", expected " +
               std::to_string(left));
        }
        if (pages[j].Right != right) {
          Find(name + ": right link " + std::to_string(pages[j].Right) + ", expected " +
               std::to_string(right));
        }
      }
    }
  }

  TPageStore& store_;
  const TKeyContext& ctx_;
  TIndexCheckResult& result_;
  std::vector<std::vector<LevelPage>> levels_;
  int leafLevel_ = -1;
  std::vector<uint8_t> lastLeafKey_;
};

}  // namespace

TIndexCheckResult CheckIndexTree(TPageStore& store, const TKeyContext& ctx) {
  TIndexCheckResult result;
  try {
    TTreeWalker(store, ctx, result).Run();
  } catch (const std::exception& error) {
    result.Findings.push_back(std::string("check stopped: ") + error.what());
  }
  return result;
}

std::vector<std::string> CheckFreeChain(TPageStore& store, int index,
                                        const std::set<int32_t>* treePages) {
  std::vector<std::string> findings;
  std::set<int32_t> seen;
  try {
    for (int32_t position = store.FreeHead(index); position != 0;) {
      const std::string name = "free " + PageName(position);
      if (!seen.insert(position).second) {
        findings.push_back(name + ": chain loops");
        break;
      }
      if (treePages != nullptr && treePages->count(position) != 0) {
        findings.push_back(name + ": also part of the tree");
      }
      try {
        TPageRef page(store, store.GetPage(index, position));
        if (page->Count() != 0) {
          findings.push_back(name + ": holds " + std::to_string(page->Count()) + " entries");
        }
        position = page->Right;
      } catch (const std::exception& error) {
        findings.push_back(name + ": cannot be read (" + error.what() + ")");
        break;
      }
    }
  } catch (const std::exception& error) {
    findings.push_back(std::string("check stopped: ") + error.what());
  }
  return findings;
}

}  // namespace tessel
