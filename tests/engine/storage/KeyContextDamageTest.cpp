// Index descriptors from a damaged index header, refused as header
// corruption when a key context is made for them: an index of a table
// without key fields (no search could build a key over no fields), and a
// non-unique index whose key length leaves no room for the record identifier
// after its key (no page could store such keys).
#include <gtest/gtest.h>

#include <functional>

#include "IndexTestSupport.h"
#include "engine/base/TesselError.h"
#include "engine/storage/IndexKey.h"

namespace tessel {
namespace {

using indextest::MakeIndex;
using indextest::TTestFields;

uint16_t CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ETesselEngineError& e) {
    return e.Code();
  }
  return 0;
}

TEST(KeyContextDamageTest, AnIndexWithoutKeyFieldsIsHeaderCorruption) {
  TTestFields table;
  table.Add(ftInteger, 4);
  TIndexDesc desc = MakeIndex(table, {1}, false);
  desc.FieldCount = 0;  // the key length still names one field and the identifier
  for (int slot : {0, 1, 7}) {
    EXPECT_EQ(CodeOf([&] { TKeyContext(desc, slot, table.Fields, nullptr, "t"); }), ec::HeaderCorrupt) << slot;
  }
  // An empty primary slot is no index; a sound descriptor is taken; a
  // context without a table's fields works on raw keys of the key length.
  EXPECT_EQ(CodeOf([&] { TKeyContext(TIndexDesc{}, 0, table.Fields, nullptr, "t"); }), 0);
  EXPECT_EQ(CodeOf([&] { TKeyContext(MakeIndex(table, {1}, false), 1, table.Fields, nullptr, "t"); }), 0);
  EXPECT_EQ(CodeOf([&] { TKeyContext(desc, 1, {}, nullptr, "t"); }), 0);
}

TEST(KeyContextDamageTest, ANonUniqueKeyMustHoldTheIdentifierAfterAKeyByte) {
  for (uint16_t length : {1, 2, 3, 4}) {
    TIndexDesc desc;
    desc.KeyLength = length;
    desc.Unique = 0;
    EXPECT_EQ(CodeOf([&] { TKeyContext(desc, 1, {}, nullptr, "t"); }), ec::HeaderCorrupt) << length;
    // A unique key of that length holds no identifier.
    desc.Unique = 1;
    EXPECT_EQ(CodeOf([&] { TKeyContext(desc, 1, {}, nullptr, "t"); }), 0) << length;
  }
  TIndexDesc shortest;
  shortest.KeyLength = 5;
  EXPECT_EQ(CodeOf([&] { TKeyContext(shortest, 1, {}, nullptr, "t"); }), 0);
}

}  // namespace
}  // namespace tessel
