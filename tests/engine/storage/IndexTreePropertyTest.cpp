// Long random insert and delete sequences against an ordered model, with the
// full structure check along the way, in every compression mode, unique and
// not, ascending and descending, over string, integer and float keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "IndexTestSupport.h"
#include "engine/storage/IndexCheck.h"
#include "engine/storage/IndexTree.h"
#include "engine/storage/TableLocale.h"
#include "support/MemoryPageStore.h"

namespace tessel {
namespace {

using indextest::MakeIndex;
using indextest::TTestFields;
using indextest::TTestRow;

enum class KeyKind { String, Integer, Float, StringInteger, Huge };

struct Config {
  const char* Name;
  KeyKind Kind;
  uint8_t Compression;
  bool Unique;
  bool DescendingIndex;
  bool DescendingField;
  int Steps;       // random operations before the tree is emptied
  int CheckEvery;  // structure check interval (1 = after every step)
  bool Locale = false;
  bool Encrypted = false;  // pages scrambled in the store
};

// One configuration's index in a memory store, run against a model.
class TPropertyRun {
 public:
  static constexpr int kIndex = 3;

  explicit TPropertyRun(const Config& config) {
    config_ = config;
    std::vector<int> keyFields;
    switch (config.Kind) {
      case KeyKind::String:
        // Two long strings: 504-byte keys, 7 entries per node.
        keyFields = {fields_.Add(ftString, 251), fields_.Add(ftString, 251)};
        break;
      case KeyKind::Integer:
        // The number, then bytes that follow from it: about 20 entries per page.
        keyFields = {fields_.Add(ftInteger, 4), fields_.Add(ftBytes, 150)};
        break;
      case KeyKind::Float:
        keyFields = {fields_.Add(ftFloat, 8), fields_.Add(ftBytes, 150)};
        break;
      case KeyKind::StringInteger:
        keyFields = {fields_.Add(ftString, 101), fields_.Add(ftInteger, 4)};
        break;
      case KeyKind::Huge:
        for (int i = 0; i < 4; ++i) keyFields.push_back(fields_.Add(ftString, 251));
        keyFields.push_back(fields_.Add(ftInteger, 4));
        break;
    }
    desc_ =
        MakeIndex(fields_, keyFields, config.Unique, config.Compression, config.DescendingIndex,
                  config.Locale, config.DescendingField ? std::vector<int>{0} : std::vector<int>{});
    keyFields_ = keyFields;
    if (config.Locale) locale_ = std::make_unique<TTableLocale>(0x0409, 0);
    ctx_ = std::make_unique<TKeyContext>(desc_, kIndex, fields_.Fields, locale_.get(), "P");
    // Later runs start from the free chain the earlier ones left.
    storage_ = std::make_unique<TMemoryPageStore>("P", config.Encrypted);
    storage_->Header().Indexes[kIndex] = desc_;
    model_ = decltype(model_)(KeyLess{ctx_.get()});
  }

  int MaxLevels() const { return maxLevels_; }
  int32_t Root() const { return storage_->Root(kIndex); }

  // Random inserts and deletes in growing and shrinking phases, then every
  // key deleted; the tree is checked against the model along the way.
  void Run(uint32_t seed) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    TIndexTree tree(*storage_, *ctx_);
    std::vector<std::vector<uint8_t>> keys;  // the model's keys, for random picks
    int32_t nextId = 1;
    const int steps = config_.Steps;

    auto remove = [&](size_t pick) {
      const std::vector<uint8_t> key = keys[pick];
      ASSERT_TRUE(tree.KeyExists(key.data()));
      tree.DeleteKey(key.data());
      model_.erase(key);
      keys[pick] = keys.back();
      keys.pop_back();
    };

    for (int step = 1; step <= steps; ++step) {
      const bool growing = (step / 200) % 3 != 2;
      const bool insert = keys.empty() || static_cast<int>(rng() % 100) < (growing ? 70 : 25);
      if (insert) {
        const int32_t id = nextId++;
        const TTestRow row = RandomRow(rng, id);
        const std::vector<uint8_t> key = ctx_->BuildKey(row.data());
        const bool present = model_.count(key) != 0;
        ASSERT_EQ(tree.KeyExists(key.data()), present);
        if (present) continue;  // a unique index refuses it
        tree.InsertKey(key.data(), id);
        model_.emplace(key, id);
        keys.push_back(key);
        ASSERT_TRUE(tree.KeyExists(key.data()));
      } else {
        remove(rng() % keys.size());
        if (::testing::Test::HasFatalFailure()) return;
      }
      if (step % config_.CheckEvery == 0) {
        Verify(tree, step % (config_.CheckEvery * 10) == 0, step);
        if (::testing::Test::HasFatalFailure()) return;
        CheckBounds(tree, ctx_->BuildKey(RandomRow(rng, nextId).data()));
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
    Verify(tree, true, steps);
    // Empty the tree: every collapse down to the last key.
    while (!keys.empty()) {
      remove(rng() % keys.size());
      if (::testing::Test::HasFatalFailure()) return;
      if (keys.size() % 97 == 0 || config_.CheckEvery == 1) Verify(tree, false, -1);
      if (::testing::Test::HasFatalFailure()) return;
    }
    Verify(tree, true, -1);
    EXPECT_EQ(storage_->Root(kIndex), 0);
  }

 private:
  // A row with random values; duplicates of field values are frequent.
  TTestRow RandomRow(std::mt19937& rng, int32_t id) {
    TTestRow row(fields_);
    row.Id(id);
    auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
    const int first = keyFields_[0];
    switch (config_.Kind) {
      case KeyKind::String: {
        // Sixteen classes by first letter: even ones short (a few bytes once
        // compressed), odd ones long, so that a compressed leaf split by
        // entry count can leave one half too large.
        const char letter = static_cast<char>('a' + rng() % 16);
        std::string text(1, letter);
        std::string second;
        if ((letter - 'a') % 2 == 0) {
          for (int i = static_cast<int>(rng() % 5); i > 0; --i)
            text += static_cast<char>('a' + rng() % 4);
        } else {
          for (int i = 150 + static_cast<int>(rng() % 100); i > 1; --i) {
            text += static_cast<char>((chance(80) ? 'a' : 'A') + rng() % 4);
          }
          for (int i = 150 + static_cast<int>(rng() % 100); i > 0; --i) {
            second += static_cast<char>('a' + rng() % 4);
          }
        }
        if (chance(2)) {
          row.Null(first);
        } else {
          row.Str(first, text);
        }
        if (second.empty()) {
          row.Null(keyFields_[1]);
        } else {
          row.Str(keyFields_[1], second);
        }
        break;
      }
      case KeyKind::Huge: {
        std::string text;
        for (int i = static_cast<int>(rng() % 190); i > 0; --i)
          text += static_cast<char>('a' + rng() % 4);
        if (text.empty()) {
          row.Null(first);
        } else {
          row.Str(first, text);
        }
        row.Int(keyFields_.back(), static_cast<int32_t>(rng() % 7));
        break;
      }
      case KeyKind::Integer:
      case KeyKind::Float: {
        static const double kSpecial[] = {0.0, -0.0, -2.5, -1.0, 1e300, -1e300, 1e-300};
        const int32_t number = static_cast<int32_t>(rng() % 4001) - 2000;
        // The bytes after the number follow from its key encoding, so that
        // -0 and +0 make the same key.
        uint8_t encoded[8] = {};
        if (chance(2)) {
          row.Null(first);
        } else if (config_.Kind == KeyKind::Integer) {
          row.Int(first, number);
          EncodeKeyInt32(number, encoded);
        } else {
          const double value = chance(10) ? kSpecial[rng() % 7] : number / 8.0;
          row.Float(first, value);
          EncodeKeyDouble(value, encoded);
        }
        std::vector<uint8_t> tail(150);
        std::mt19937 fill(static_cast<uint32_t>(GetU64(encoded) % 1000003));
        for (auto& b : tail) b = static_cast<uint8_t>(fill());
        row.Bytes(keyFields_[1], tail);
        break;
      }
      case KeyKind::StringInteger: {
        std::string text;
        for (int i = static_cast<int>(rng() % 101); i > 0; --i)
          text += static_cast<char>('a' + rng() % 3);
        if (text.empty()) {
          row.Null(first);
        } else {
          row.Str(first, text);
        }
        row.Int(keyFields_[1], static_cast<int32_t>(rng() % 50) - 25);
        break;
      }
    }
    return row;
  }

  int FreeChainLength() {
    int length = 0;
    for (int32_t at = storage_->FreeHead(kIndex); at != 0 && length < 100000; ++length) {
      TPageRef page(*storage_, storage_->GetPage(kIndex, at));
      at = page->Right;
    }
    return length;
  }

  // The structure check, plus a comparison with the model when full is set.
  void Verify(TIndexTree& tree, bool full, int step) {
    SCOPED_TRACE(::testing::Message() << "step " << step);
    const TIndexCheckResult result = CheckIndexTree(*storage_, *ctx_);
    ASSERT_TRUE(result.Ok()) << result.Findings.front();
    ASSERT_EQ(result.EntryCount, static_cast<int32_t>(model_.size()));
    ASSERT_EQ(tree.EntryCount(), static_cast<int32_t>(model_.size()));
    ASSERT_TRUE(CheckFreeChain(*storage_, kIndex, &result.Pages).empty());
    // Every page ever allocated is in the tree or on the free chain.
    ASSERT_EQ(result.PageCount + FreeChainLength(), storage_->EndOfFile() / kPageSize - 1);
    ASSERT_EQ(storage_->PagesInUse(), 0u);
    ASSERT_EQ(storage_->EncodeFailures(), 0u);
    maxLevels_ = std::max(maxLevels_, result.Levels);
    if (!full) return;

    TTreePosition at = tree.AtOrdinal(1);
    int32_t ordinal = 0;
    for (const auto& [key, record] : model_) {
      ++ordinal;
      ASSERT_TRUE(at.Valid()) << ordinal;
      ASSERT_EQ(at.Ordinal, ordinal);
      int32_t stored = 0;
      ASSERT_EQ(tree.KeyAt(at, &stored), key) << ordinal;
      ASSERT_EQ(stored, record);
      at = tree.Next(at);
    }
    ASSERT_FALSE(at.Valid());
  }

  void CheckBounds(TIndexTree& tree, const std::vector<uint8_t>& probe) {
    const auto lower = model_.lower_bound(probe);
    const auto upper = model_.upper_bound(probe);
    const auto below = static_cast<int32_t>(std::distance(model_.begin(), lower));
    const TTreePosition first = tree.LowerBound(probe.data());
    ASSERT_EQ(first.Ordinal, below + 1);
    ASSERT_EQ(first.Valid(), lower != model_.end());
    if (first.Valid()) {
      ASSERT_EQ(tree.KeyAt(first), lower->first);
    }
    const TTreePosition last = tree.UpperBound(probe.data());
    ASSERT_EQ(last.Ordinal, static_cast<int32_t>(std::distance(model_.begin(), upper)));
    ASSERT_EQ(last.Valid(), upper != model_.begin());
    if (last.Valid()) {
      ASSERT_EQ(tree.KeyAt(last), std::prev(upper)->first);
    }
  }

  struct KeyLess {
    const TKeyContext* Ctx;
    bool operator()(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) const {
      return Ctx->CompareKeys(a.data(), b.data()) < 0;
    }
  };

  Config config_{};
  TTestFields fields_;
  std::vector<int> keyFields_;
  TIndexDesc desc_;
  std::unique_ptr<TTableLocale> locale_;
  std::unique_ptr<TKeyContext> ctx_;
  std::unique_ptr<TMemoryPageStore> storage_;
  std::map<std::vector<uint8_t>, int32_t, KeyLess> model_{KeyLess{nullptr}};
  int maxLevels_ = 0;
};

// Runs each configuration with each seed (later seeds start from the free
// chain the earlier ones left) and returns the deepest tree seen. Stats
// accumulate in TreeStats(); compressed leaves must never merge or share.
int RunAll(const std::vector<Config>& configs, std::initializer_list<uint32_t> seeds) {
  int levels = 0;
  for (const Config& config : configs) {
    SCOPED_TRACE(config.Name);
    const TTreeStats before = TreeStats();
    TPropertyRun run(config);
    for (uint32_t seed : seeds) {
      run.Run(seed);
      if (::testing::Test::HasFatalFailure()) return levels;
    }
    levels = std::max(levels, run.MaxLevels());
    const TTreeStats& after = TreeStats();
    if (config.Compression != 0) {
      EXPECT_EQ(after.LeafMergesLeft, before.LeafMergesLeft);
      EXPECT_EQ(after.LeafMergesRight, before.LeafMergesRight);
      EXPECT_EQ(after.LeafRedistributionsLeft, before.LeafRedistributionsLeft);
      EXPECT_EQ(after.LeafRedistributionsRight, before.LeafRedistributionsRight);
    }
  }
  return levels;
}

void ExpectSplitsAndCollapses(const TTreeStats& s) {
  EXPECT_GT(s.LeafSplits, 0u);
  EXPECT_GT(s.RootSplits, 0u);
  EXPECT_GT(s.FirstKeyUpdates, 0u);
  EXPECT_GT(s.RootCollapses, 0u);
  EXPECT_GT(s.RootLeavesFreed, 0u);
}

void ExpectLeafRebalancing(const TTreeStats& s) {
  EXPECT_GT(s.LeafMergesLeft, 0u);
  EXPECT_GT(s.LeafMergesRight, 0u);
  EXPECT_GT(s.LeafRedistributionsLeft, 0u);
  EXPECT_GT(s.LeafRedistributionsRight, 0u);
}

// Long string keys (504 bytes, 7 entries per node): trees of three and more
// levels in every compression mode, both directions.
TEST(IndexTreePropertyTest, LongStringKeysInEveryMode) {
  TreeStats() = TTreeStats{};
  const int levels = RunAll(
      {
          {"PlainUnique", KeyKind::String, 0, true, false, false, 700, 10},
          {"PlainMultiDescendingIndex", KeyKind::String, 0, false, true, false, 700, 10},
          {"LeadUniqueDescendingField", KeyKind::String, 1, true, false, true, 700, 10},
          {"LeadMulti", KeyKind::String, 1, false, false, false, 700, 10},
          {"TrailUnique", KeyKind::String, 2, true, false, false, 700, 10},
          {"TrailMultiDescendingField", KeyKind::String, 2, false, false, true, 700, 10},
          {"BothUniqueDescendingIndex", KeyKind::String, 3, true, true, false, 700, 10},
          {"BothMulti", KeyKind::String, 3, false, false, false, 700, 10},
      },
      {11, 29, 47});
  if (HasFatalFailure()) return;
  EXPECT_GE(levels, 3);
  const TTreeStats& s = TreeStats();
  ExpectSplitsAndCollapses(s);
  ExpectLeafRebalancing(s);
  EXPECT_GT(s.NodeSplits, 0u);
  EXPECT_GT(s.NodeMergesLeft, 0u);
  EXPECT_GT(s.NodeMergesRight, 0u);
  EXPECT_GT(s.NodeRedistributionsLeft, 0u);
  EXPECT_GT(s.NodeRedistributionsRight, 0u);
  EXPECT_GT(s.EmptyLeavesFreed, 0u);
  EXPECT_GT(s.CompressedSplitMoves, 0u);
}

// Numbers first in the key: integer and float encodings (negative values,
// -0, null) under the tree's operations.
TEST(IndexTreePropertyTest, NumericKeys) {
  TreeStats() = TTreeStats{};
  RunAll(
      {
          {"IntegerPlainUnique", KeyKind::Integer, 0, true, false, false, 1000, 20},
          {"IntegerLeadMultiDescendingField", KeyKind::Integer, 1, false, false, true, 1000, 20},
          {"IntegerTrailMultiDescendingIndex", KeyKind::Integer, 2, false, true, false, 1000, 20},
          {"IntegerBothUnique", KeyKind::Integer, 3, true, false, false, 1000, 20},
          {"FloatPlainMultiDescendingField", KeyKind::Float, 0, false, false, true, 1000, 20},
          {"FloatBothUniqueDescendingIndex", KeyKind::Float, 3, true, true, false, 1000, 20},
          {"StringIntegerBothMulti", KeyKind::StringInteger, 3, false, false, true, 1000, 20},
      },
      {5, 17});
  if (HasFatalFailure()) return;
  ExpectSplitsAndCollapses(TreeStats());
  ExpectLeafRebalancing(TreeStats());
  EXPECT_GT(TreeStats().EmptyLeavesFreed, 0u);
}

// Short runs checked after every single step, on scrambled pages.
TEST(IndexTreePropertyTest, EveryStepChecked) {
  TreeStats() = TTreeStats{};
  Config plain{"PlainUnique", KeyKind::String, 0, true, false, false, 200, 1};
  Config both{"BothMultiDescendingField", KeyKind::String, 3, false, false, true, 200, 1};
  plain.Encrypted = both.Encrypted = true;
  RunAll({plain, both}, {3});
  if (HasFatalFailure()) return;
  ExpectSplitsAndCollapses(TreeStats());
}

// The largest keys: three entries per node, so nodes of a single entry,
// only children and deep trees.
TEST(IndexTreePropertyTest, LargestKeys) {
  TreeStats() = TTreeStats{};
  const int levels = RunAll(
      {
          {"HugePlain", KeyKind::Huge, 0, true, false, false, 500, 5},
          {"HugeBothMulti", KeyKind::Huge, 3, false, false, false, 500, 5},
      },
      {7, 13});
  if (HasFatalFailure()) return;
  EXPECT_GE(levels, 4);
  ExpectSplitsAndCollapses(TreeStats());
  EXPECT_GT(TreeStats().OnlyChildrenFreed, 0u);
}

// A table locale: string parts ordered by its collation, keys upper-cased.
TEST(IndexTreePropertyTest, LocaleCollation) {
  if (!TTableLocale::IsInstalled(0x0409, 0)) GTEST_SKIP() << "no collation for 0x0409";
  TreeStats() = TTreeStats{};
  Config lead{"LeadUniqueDescendingField", KeyKind::String, 1, true, false, true, 600, 10};
  Config plain{"PlainMulti", KeyKind::String, 0, false, false, false, 600, 10};
  lead.Locale = plain.Locale = true;
  RunAll({lead, plain}, {23});
  if (HasFatalFailure()) return;
  ExpectSplitsAndCollapses(TreeStats());
}

}  // namespace
}  // namespace tessel
