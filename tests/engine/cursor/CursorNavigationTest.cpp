#include <gtest/gtest.h>

#include "engine/cursor/CursorFilter.h"
#include "engine/cursor/CursorTestSupport.h"

namespace tessel::testing {
namespace {

// The same walks in index order (primary, non-unique secondary) and in
// physical order.
enum class Mode { Primary, Secondary, Physical };

class Navigation : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override { env.Create("numbers", NumbersStructure()); }

  std::unique_ptr<TDataCursor> OpenInMode() {
    auto c = env.Open("numbers");
    if (GetParam() == Mode::Secondary) c->SelectIndex("byvalue");
    if (GetParam() == Mode::Physical) c->SelectIndexNumber(kNoIndex);
    return c;
  }
  // ids 1..n, value = id * 10 (so every mode sees the same order).
  void Fill(int n) {
    auto c = env.Open("numbers");
    for (int i = 1; i <= n; ++i) AddNumber(*c, i, "n" + std::to_string(i), i * 10);
  }

  CursorEnvironment env;
};

TEST_P(Navigation, EmptyTableHasNoCurrentRecordAndCountsZero) {
  auto c = OpenInMode();
  c->GotoFirst();
  EXPECT_TRUE(c->Bof());
  EXPECT_TRUE(c->Eof());
  std::vector<uint8_t> buffer(c->RecordSize(), 0xEE);
  EXPECT_EQ(c->GetNext(buffer.data()), ec::EndOfFile);
  EXPECT_EQ(buffer, std::vector<uint8_t>(c->RecordSize(), 0));
  EXPECT_EQ(c->GetCurrent(buffer.data()), ec::NoCurrentRecord);
  EXPECT_EQ(c->GetPrior(nullptr), ec::BOF);
  EXPECT_EQ(c->RecordNumber(), 0);
  EXPECT_EQ(c->RecordCount(), 0);
  c->GotoLast();
  EXPECT_EQ(c->GetCurrent(nullptr), ec::NoCurrentRecord);
  std::vector<uint8_t> zeros(c->BookmarkSize(), 0), bookmark(c->BookmarkSize(), 0xEE);
  c->GetBookmark(bookmark.data());
  EXPECT_EQ(bookmark, zeros);
}

TEST_P(Navigation, OneRecordSequence) {
  Fill(1);
  auto c = OpenInMode();
  Row row(*c);
  c->GotoFirst();
  EXPECT_EQ(c->GetCurrent(nullptr), ec::BOF);
  ASSERT_EQ(c->GetNext(row.data()), 0);
  EXPECT_EQ(row.Int("id"), 1);
  EXPECT_EQ(c->RecordNumber(), 1);
  EXPECT_EQ(c->GetNext(row.data()), ec::EndOfFile);
  EXPECT_TRUE(c->Eof());
  EXPECT_EQ(c->GetCurrent(nullptr), ec::EndOfFile);
  ASSERT_EQ(c->GetPrior(row.data()), 0);
  EXPECT_EQ(row.Int("id"), 1);
  EXPECT_EQ(c->GetPrior(row.data()), ec::BOF);
  EXPECT_TRUE(c->Bof());
  EXPECT_FALSE(c->Eof());
  ASSERT_EQ(c->GetNext(row.data()), 0);
  EXPECT_EQ(row.Int("id"), 1);
}

TEST_P(Navigation, WalksBothWaysWithRecordNumbers) {
  Fill(7);
  auto c = OpenInMode();
  EXPECT_EQ(c->RecordCount(), 7);
  EXPECT_EQ(Ints(*c, "id"), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7}));
  Row row(*c);
  c->GotoLast();
  std::vector<int32_t> back;
  while (c->GetPrior(row.data()) == 0) {
    back.push_back(*row.Int("id"));
    EXPECT_EQ(c->RecordNumber(), *row.Int("id"));
  }
  EXPECT_EQ(back, (std::vector<int32_t>{7, 6, 5, 4, 3, 2, 1}));
}

TEST_P(Navigation, GotoRecordNumberAndMoveBy) {
  Fill(5);
  auto c = OpenInMode();
  c->GotoRecordNumber(3);
  EXPECT_FALSE(c->Bof() || c->Eof());
  EXPECT_EQ(c->RecordNumber(), 3);
  EXPECT_EQ(CurrentInt(*c, "id"), 3);
  c->MoveBy(2);
  EXPECT_EQ(CurrentInt(*c, "id"), 5);
  c->MoveBy(1);
  EXPECT_TRUE(c->Eof());
  c->MoveBy(-10);
  EXPECT_TRUE(c->Bof());
  EXPECT_EQ(CurrentInt(*c, "id"), 1);  // stays on the last record reached

  c->GotoRecordNumber(6);
  EXPECT_TRUE(c->Eof());
  EXPECT_FALSE(c->Bof());
  c->GotoRecordNumber(0);
  if (GetParam() == Mode::Physical) {
    EXPECT_TRUE(c->Eof());  // no 0th set bit
  } else {
    EXPECT_TRUE(c->Bof());
    EXPECT_FALSE(c->Eof());
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, Navigation, ::testing::Values(Mode::Primary, Mode::Secondary, Mode::Physical),
                         [](const auto& info) {
                           return info.param == Mode::Primary     ? "Primary"
                                  : info.param == Mode::Secondary ? "Secondary"
                                                                  : "Physical";
                         });

// ---------------------------------------------------------------------------

class Positions : public ::testing::Test {
 protected:
  void SetUp() override {
    env.Create("numbers", NumbersStructure());
    auto c = env.Open("numbers");
    // Inserted out of order; values repeat.
    const int32_t ids[] = {5, 1, 4, 2, 3, 6};
    const int32_t values[] = {20, 30, 10, 20, 40, 20};
    for (int i = 0; i < 6; ++i) AddNumber(*c, ids[i], "n" + std::to_string(ids[i]), values[i]);
  }
  CursorEnvironment env;
};

TEST_F(Positions, IndexOrderAndPhysicalOrder) {
  auto c = env.Open("numbers");
  EXPECT_EQ(Ints(*c, "id"), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
  c->SelectIndex("BYVALUE");
  // Equal values in record identifier order (insertion order).
  EXPECT_EQ(Ints(*c, "id"), (std::vector<int32_t>{4, 5, 2, 6, 1, 3}));
  c->SelectIndexNumber(kNoIndex);
  EXPECT_TRUE(c->PhysicalOrder());
  EXPECT_EQ(c->BookmarkSize(), 4);
  EXPECT_EQ(Ints(*c, "id"), (std::vector<int32_t>{5, 1, 4, 2, 3, 6}));
}

TEST_F(Positions, SelectIndexKeepsTheRecordAndRefusesUnknownNames) {
  auto c = env.Open("numbers");
  c->GotoRecordNumber(3);  // id 3
  c->SelectIndex("byvalue");
  EXPECT_EQ(CurrentInt(*c, "id"), 3);
  EXPECT_EQ(c->RecordNumber(), 6);  // value 40 sorts last

  const uint8_t before = c->CurrentIndexNumber();
  c->SelectIndex("ByValue");  // same index in other letters: nothing happens
  EXPECT_EQ(c->CurrentIndexNumber(), before);

  Row start(*c), end(*c);
  start.Set("value", 20);
  end.Set("value", 20);
  c->SetRange(start.data(), 1, end.data(), 1);
  EXPECT_EQ(c->RecordCount(), 3);
  const RaisedError e = ErrorOf([&] { c->SelectIndex("nosuch"); });
  EXPECT_EQ(e.Code, ec::InvalidIndexName);
  EXPECT_NE(e.Message.find("'nosuch'"), std::string::npos);
  EXPECT_EQ(c->CurrentIndexName(), "byvalue");
  EXPECT_FALSE(c->RangeActive());
  EXPECT_EQ(c->RecordCount(), 6);
}

TEST_F(Positions, RangesLimitTheRecordSet) {
  auto c = env.Open("numbers", "byvalue");
  Row start(*c), end(*c);
  start.Set("value", 20);
  end.Set("value", 30);
  c->SetRange(start.data(), 1, end.data(), 1);
  EXPECT_EQ(c->RecordCount(), 4);
  EXPECT_EQ(Ints(*c, "id"), (std::vector<int32_t>{5, 2, 6, 1}));
  c->GotoRecordNumber(1);
  EXPECT_EQ(CurrentInt(*c, "id"), 5);
  c->GotoRecordNumber(5);
  EXPECT_TRUE(c->Eof());
  c->GotoLast();
  Row row(*c);
  ASSERT_EQ(c->GetPrior(row.data()), 0);
  EXPECT_EQ(row.Int("id"), 1);
  EXPECT_EQ(c->RecordNumber(), 4);

  // Start above end: nothing.
  c->SetRange(end.data(), 1, start.data(), 1);
  EXPECT_EQ(c->RecordCount(), 0);
  c->GotoFirst();
  EXPECT_TRUE(c->Bof() && c->Eof());

  // An open end.
  c->SetRange(end.data(), 1, nullptr, 0);
  EXPECT_EQ(Ints(*c, "id"), (std::vector<int32_t>{1, 3}));
  c->CancelRange();
  EXPECT_EQ(c->RecordCount(), 6);
}

TEST_F(Positions, FindKeyExactNearestAndPrefix) {
  auto c = env.Open("numbers");
  Row key(*c), out(*c);
  key.Set("id", 4);
  EXPECT_TRUE(c->FindKey(key.data(), false, 0, 0, false, out.data()));
  EXPECT_EQ(out.Int("value"), 10);
  key.Set("id", 9);
  EXPECT_FALSE(c->FindKey(key.data()));
  EXPECT_EQ(CurrentInt(*c, "id"), 4);  // an exact miss stays
  EXPECT_FALSE(c->FindKey(key.data(), false, 0, 0, true));
  EXPECT_EQ(CurrentInt(*c, "id"), 6);  // nearest past the end: the last record
  EXPECT_FALSE(c->Eof());

  // A non-unique index matches on the fields: the first of the equal keys.
  c->SelectIndex("byvalue");
  key.Set("value", 20);
  EXPECT_TRUE(c->FindKey(key.data()));
  EXPECT_EQ(CurrentInt(*c, "id"), 5);
  key.Set("value", 25);
  EXPECT_FALSE(c->FindKey(key.data()));
  EXPECT_EQ(CurrentInt(*c, "id"), 1);  // on the next greater value

  // A partial string key.
  c->SelectIndex("byname");
  key.Set("name", "n3");
  EXPECT_TRUE(c->FindKey(key.data(), false, 0, 1, false));
  EXPECT_EQ(CurrentInt(*c, "id"), 1);  // "n1" is the first name beginning with "n"
  key.Set("name", "x");
  EXPECT_FALSE(c->FindKey(key.data(), false, 0, 1, false));
}

TEST_F(Positions, FindKeyWithFewerFieldsAndDescendingFiller) {
  auto c = env.Open("numbers", "byvalue");
  Row key(*c);
  key.Set("value", 20);
  const std::vector<uint8_t> low = c->BuildSearchKey(key.data(), false, 1, 0, false);
  const std::vector<uint8_t> high = c->BuildSearchKey(key.data(), false, 1, 0, true);
  ASSERT_EQ(low.size(), 9u);  // null byte, 4 value bytes, 4 identifier bytes
  EXPECT_EQ((std::vector<uint8_t>(low.begin(), low.begin() + 5)), (std::vector<uint8_t>{1, 0x80, 0, 0, 20}));
  EXPECT_EQ((std::vector<uint8_t>(low.begin() + 5, low.end())), (std::vector<uint8_t>(4, 0x00)));
  EXPECT_EQ((std::vector<uint8_t>(high.begin() + 5, high.end())), (std::vector<uint8_t>(4, 0xFF)));
}

TEST_F(Positions, RecordCountIsTakenFromTheHeaderWithoutReadingRecords) {
  auto c = env.Open("numbers");
  auto& data = c->Table()->Data();
  c->GotoFirst();
  data.DropRecords();
  EXPECT_EQ(c->RecordCount(), 6);
  EXPECT_EQ(data.CachedRecordCount(), 0u);
}

}  // namespace
}  // namespace tessel::testing
