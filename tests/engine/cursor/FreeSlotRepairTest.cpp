// The repair of a table whose data header names a live slot as the first
// free one. A power cut tore the slot write of an insert that reused the
// last deleted slot (only its first bytes, the deleted flag among them,
// reached the disk; the rest still holds the deleted record) and lost its
// header write. The insert never returned, the delete did: the repair
// must give the slot back to the free chain, not bring the deleted record
// back to life.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CursorTestSupport.h"
#include "engine/storage/TableVerify.h"

namespace tessel {
namespace {

using testing::AddNumber;
using testing::CursorEnvironment;
using testing::Ints;

constexpr const char* kName = "n";
constexpr int32_t kRows = 12;
constexpr int64_t kRecordSize = 9 + 5 + 22 + 5;

TVerifySummary Verify(const std::string& dir, bool repair, std::string& lines) {
  TDataTable table(dir, kName);
  table.Settings.Exclusive = repair;
  table.OpenFiles();
  table.ValidateHeaders(true);
  TVerifyOptions options;
  options.Repair = repair;
  const TVerifySummary summary =
      VerifyTable(table, options, [&](const TVerifyFinding& f) { lines += f.Message + "\n"; });
  table.CloseFiles(repair);
  return summary;
}

// Deletes the record with this id.
void DeleteId(CursorEnvironment& env, int32_t id) {
  auto cursor = env.Open(kName);
  cursor->GotoFirst();
  do {
    ASSERT_EQ(cursor->GetNext(nullptr), 0);
  } while (testing::CurrentInt(*cursor, "id") != id);
  cursor->DeleteRecord(true);
  cursor->Close();
}

TEST(FreeSlotRepairTest, ALiveSlotTheHeaderNamesAsFreeIsDeletedAgainByTheRepair) {
  CursorEnvironment env;
  env.Create(kName, testing::NumbersStructure());
  {
    auto cursor = env.Open(kName);
    for (int32_t id = 1; id <= kRows; ++id) AddNumber(*cursor, id, "n" + std::to_string(id), id);
    cursor->Close();
  }
  DeleteId(env, 5);
  DeleteId(env, 9);  // the chain: header, slot 9, slot 5
  ASSERT_FALSE(::testing::Test::HasFatalFailure());
  const std::string data = env.Path() + kName + ".DAT";
  const int64_t slot9 = static_cast<int64_t>(testing::ReadFileBytes(data).size()) - (kRows - 8) * kRecordSize;
  testing::PatchFileBytes(data, slot9, {0});  // the torn insert's deleted flag

  std::string lines;
  const TVerifySummary check = Verify(env.Path(), false, lines);
  EXPECT_NE(lines.find("Free record chain: the data header links to physical record # 9, which is not deleted, "
                       "error not fixed"),
            std::string::npos)
      << lines;
  EXPECT_EQ(check.ActiveRecords, kRows - 1);

  lines.clear();
  const TVerifySummary repair = Verify(env.Path(), true, lines);
  EXPECT_TRUE(repair.Sound()) << lines;
  EXPECT_NE(lines.find("physical record # 9, which is not deleted, error fixed"), std::string::npos) << lines;
  lines.clear();
  EXPECT_EQ(Verify(env.Path(), false, lines).Total(), 0) << lines;

  std::vector<int32_t> expected;
  for (int32_t id = 1; id <= kRows; ++id)
    if (id != 5 && id != 9) expected.push_back(id);
  for (const char* index : {"", "byvalue"}) {  // both in id order
    SCOPED_TRACE(std::string("index '") + index + "'");
    auto cursor = env.Open(kName, index);
    EXPECT_EQ(Ints(*cursor, "id"), expected);
    cursor->Close();
  }

  // Both freed slots are handed out again, then the file grows.
  const size_t length = testing::ReadFileBytes(data).size();
  {
    auto cursor = env.Open(kName);
    for (int32_t id = 20; id <= 22; ++id) AddNumber(*cursor, id, "n" + std::to_string(id), id);
    cursor->Close();
  }
  EXPECT_EQ(testing::ReadFileBytes(data).size(), length + static_cast<size_t>(kRecordSize));
  lines.clear();
  EXPECT_EQ(Verify(env.Path(), false, lines).Total(), 0) << lines;
  auto cursor = env.Open(kName);
  expected.insert(expected.end(), {20, 21, 22});
  EXPECT_EQ(Ints(*cursor, "id"), expected);
  cursor->Close();
}

}  // namespace
}  // namespace tessel
