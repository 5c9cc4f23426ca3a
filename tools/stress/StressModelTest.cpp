// The check of final contents against committed writes: it must pass a
// sound history and catch each kind of fault the drivers look for.
#include <gtest/gtest.h>

#include "StressModel.h"

namespace tesselstress {
namespace {

Commit I(int32_t id, int32_t writer, int32_t seq) { return {OpKind::Insert, id, 1, writer, seq}; }
Commit U(int32_t id, int32_t version, int32_t writer, int32_t seq) {
  return {OpKind::Update, id, version, writer, seq};
}
Commit D(int32_t id, int32_t version, int32_t writer, int32_t seq) {
  return {OpKind::Delete, id, version, writer, seq};
}

// Process 1 inserts 1000001 and 1000002, process 2 updates the first twice
// (versions 2 and 3), process 1 deletes the second.
std::vector<Commit> History() {
  return {I(1000001, 1, 1), I(1000002, 1, 2), U(1000001, 2, 2, 1), U(1000001, 3, 2, 2), D(1000002, 1, 1, 3)};
}

TEST(StressModel, SoundHistoryPasses) {
  const CheckReport r = CheckContents(History(), {MakeRow(1000001, 3, 2, 2)});
  EXPECT_EQ(r.Problems(), 0) << (r.Details.empty() ? "" : r.Details[0]);
  EXPECT_EQ(r.ExpectedRows, 1);
  EXPECT_EQ(r.RowsChecked, 1);
}

TEST(StressModel, CatchesEachFault) {
  // An update made on a version someone else had already replaced.
  auto lost = History();
  lost.push_back(U(1000001, 3, 1, 9));
  EXPECT_EQ(CheckContents(lost, {MakeRow(1000001, 3, 2, 2)}).LostUpdates, 1);
  // The table lost the last committed update.
  EXPECT_EQ(CheckContents(History(), {MakeRow(1000001, 2, 2, 1)}).Stale, 1);
  // The table shows a write nobody reported committed.
  EXPECT_EQ(CheckContents(History(), {MakeRow(1000001, 4, 3, 1)}).Unreported, 1);
  // The right version, written by someone else.
  EXPECT_EQ(CheckContents(History(), {MakeRow(1000001, 3, 3, 7)}).WrongWriter, 1);
  // Missing, deleted-but-present and never-inserted rows.
  EXPECT_EQ(CheckContents(History(), {}).Missing, 1);
  EXPECT_EQ(CheckContents(History(), {MakeRow(1000001, 3, 2, 2), MakeRow(1000002, 1, 1, 2)}).Extra, 1);
  EXPECT_EQ(CheckContents(History(), {MakeRow(1000001, 3, 2, 2), MakeRow(5, 1, 0, 5)}).Extra, 1);
  // A delete of a version that was no longer the last.
  auto staleDelete = History();
  staleDelete.push_back(U(1000002, 2, 2, 3));
  EXPECT_EQ(CheckContents(staleDelete, {MakeRow(1000001, 3, 2, 2)}).StaleDeletes, 1);
  // Version 2 never committed, yet version 3 was written on it.
  const std::vector<Commit> gap = {I(1000001, 1, 1), U(1000001, 3, 2, 1)};
  EXPECT_EQ(CheckContents(gap, {MakeRow(1000001, 3, 2, 1)}).VersionGaps, 1);
  // One stamp reported twice, and one id inserted twice.
  const std::vector<Commit> twice = {I(1000001, 1, 1), I(1000001, 1, 1)};
  const CheckReport r = CheckContents(twice, {MakeRow(1000001, 1, 1, 1)});
  EXPECT_EQ(r.DuplicateStamps, 1);
  EXPECT_EQ(r.DoubleInserts, 1);
}

TEST(StressModel, TornRowIsCaught) {
  Row row = MakeRow(1000001, 3, 2, 2);
  EXPECT_EQ(CheckRow(row), "");
  row.Note += "x";
  EXPECT_NE(CheckRow(row).find("note"), std::string::npos);
  EXPECT_EQ(CheckContents(History(), {row}).TornRows, 1);
  row = MakeRow(1000001, 3, 2, 2);
  row.Payload[0] = row.Payload[0] == '0' ? '1' : '0';
  EXPECT_NE(CheckRow(row).find("payload"), std::string::npos);
}

TEST(StressModel, InFlightWriteMayOrMayNotHaveHappened) {
  const Commit update = U(1000001, 4, 1, 9);
  CheckReport r = CheckContents(History(), {MakeRow(1000001, 3, 2, 2)}, update);
  EXPECT_EQ(r.Problems(), 0);
  EXPECT_FALSE(r.InFlightApplied);
  r = CheckContents(History(), {MakeRow(1000001, 4, 1, 9)}, update);
  EXPECT_EQ(r.Problems(), 0);
  EXPECT_TRUE(r.InFlightApplied);
  // Its row may be half written (a lost note) ...
  Row torn = MakeRow(1000001, 4, 1, 9);
  torn.Note.clear();
  EXPECT_EQ(CheckContents(History(), {torn}, update).Problems(), 0);
  // ... but not another record's.
  EXPECT_EQ(CheckContents(History(), {torn}, U(1000002, 2, 1, 9)).Problems(), 2);
  // An insert under way: absent or present.
  const Commit insert = I(1000003, 1, 9);
  EXPECT_EQ(CheckContents(History(), {MakeRow(1000001, 3, 2, 2)}, insert).Problems(), 0);
  EXPECT_EQ(CheckContents(History(), {MakeRow(1000001, 3, 2, 2), MakeRow(1000003, 1, 1, 9)}, insert).Problems(), 0);
  // A delete under way: present or absent; an older version is still wrong.
  const Commit del = D(1000001, 3, 1, 9);
  EXPECT_EQ(CheckContents(History(), {}, del).Problems(), 0);
  EXPECT_EQ(CheckContents(History(), {MakeRow(1000001, 3, 2, 2)}, del).Problems(), 0);
  EXPECT_GT(CheckContents(History(), {MakeRow(1000001, 2, 2, 1)}, del).Problems(), 0);
}

// A power cut can tear the slot of an insert that reuses a deleted slot:
// the start of the row is the new one, the rest the deleted record's. The
// row is counted apart, not as a problem; a whole row that is neither side
// of the write still is one.
TEST(StressModel, TornRowOfTheWriteUnderWayIsCountedApart) {
  const Commit insert = I(1000003, 1, 9);
  Row torn = MakeRow(1000002, 1, 1, 2);
  torn.Id = 1000003;
  ASSERT_NE(CheckRow(torn), "");
  CheckReport r = CheckContents(History(), {MakeRow(1000001, 3, 2, 2), torn}, insert);
  EXPECT_EQ(r.Problems(), 0);
  EXPECT_EQ(r.TornInFlight, 1);
  EXPECT_EQ(CheckContents(History(), {MakeRow(1000001, 3, 2, 2), torn}).Problems(), 2);
  r = CheckContents(History(), {MakeRow(1000001, 3, 2, 2), MakeRow(1000003, 1, 2, 5)}, insert);
  EXPECT_GT(r.Problems(), 0);
  EXPECT_EQ(r.TornInFlight, 0);
}

TEST(StressModel, JournalLines) {
  const Commit c = U(2000017, 5, 2, 44);
  EXPECT_EQ(FormatCommit(c), "U 2000017 5 2 44");
  const auto parsed = ParseCommit(FormatCommit(c));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->Kind, OpKind::Update);
  EXPECT_EQ(parsed->Id, 2000017);
  EXPECT_EQ(parsed->Version, 5);
  EXPECT_EQ(parsed->Writer, 2);
  EXPECT_EQ(parsed->Seq, 44);
  EXPECT_FALSE(ParseCommit("X 1 2 3 4"));
  EXPECT_FALSE(ParseCommit("I 1 2 3"));
  EXPECT_FALSE(ParseCommit("I 1 2 3 4 5"));
}

}  // namespace
}  // namespace tesselstress
