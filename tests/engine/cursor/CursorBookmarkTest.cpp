#include <gtest/gtest.h>

#include "engine/cursor/CursorTestSupport.h"

namespace tessel::testing {
namespace {

class Bookmarks : public ::testing::Test {
 protected:
  void SetUp() override {
    env.Create("numbers", NumbersStructure());
    auto c = env.Open("numbers");
    for (int i = 1; i <= 5; ++i) AddNumber(*c, i, "n" + std::to_string(i), i * 10);
  }
  CursorEnvironment env;
};

TEST_F(Bookmarks, IndexBookmarkIsTheKeyAndComparesInIndexOrder) {
  auto c = env.Open("numbers");
  EXPECT_EQ(c->BookmarkSize(), 5);  // null byte and integer
  c->GotoRecordNumber(2);
  const std::vector<uint8_t> two = c->Bookmark();
  EXPECT_EQ(two, (std::vector<uint8_t>{1, 0x80, 0, 0, 2}));
  c->GotoRecordNumber(4);
  const std::vector<uint8_t> four = c->Bookmark();
  EXPECT_EQ(c->CompareBookmarks(two.data(), four.data()), -1);
  EXPECT_EQ(c->CompareBookmarks(four.data(), two.data()), 1);
  EXPECT_EQ(c->CompareBookmarks(two.data(), two.data()), 0);
  EXPECT_TRUE(c->GotoBookmark(two.data(), false));
  EXPECT_EQ(CurrentInt(*c, "id"), 2);
  EXPECT_EQ(c->RecordNumber(), 2);
}

TEST_F(Bookmarks, PhysicalBookmarkIsTheRecordNumber) {
  auto c = env.Open("numbers");
  c->SelectIndexNumber(kNoIndex);
  c->GotoRecordNumber(3);
  const std::vector<uint8_t> three = c->Bookmark();
  EXPECT_EQ(three, (std::vector<uint8_t>{3, 0, 0, 0}));
  c->GotoRecordNumber(5);
  const std::vector<uint8_t> five = c->Bookmark();
  EXPECT_EQ(c->CompareBookmarks(three.data(), five.data()), -1);
  EXPECT_TRUE(c->GotoBookmark(three.data(), false));
  EXPECT_EQ(CurrentInt(*c, "id"), 3);
}

TEST_F(Bookmarks, BookmarkOfADeletedRecordFindsTheFollower) {
  auto reader = env.Open("numbers", "byvalue");
  reader->GotoRecordNumber(3);
  const std::vector<uint8_t> three = reader->Bookmark();

  auto writer = env.Open("numbers");
  Row key(*writer);
  key.Set("id", 3);
  ASSERT_TRUE(writer->FindKey(key.data()));
  writer->DeleteRecord();

  EXPECT_FALSE(reader->GotoBookmark(three.data(), false));
  EXPECT_EQ(CurrentInt(*reader, "id"), 4);
  EXPECT_FALSE(reader->Bof() || reader->Eof());
  EXPECT_TRUE(reader->GotoBookmark(three.data(), true));  // loose always answers true
  EXPECT_EQ(CurrentInt(*reader, "id"), 4);
}

TEST_F(Bookmarks, LooseReturnKeepsTheCracks) {
  auto c = env.Open("numbers");
  c->GotoFirst();
  const std::vector<uint8_t> first = c->Bookmark();
  c->GotoRecordNumber(3);
  // A cursor on the BOF crack goes back to it when the entry found is the first.
  c->GotoFirst();
  EXPECT_TRUE(c->GotoBookmark(first.data(), true));
  EXPECT_TRUE(c->Bof());
  // From the EOF crack, a bookmark of a middle record: the crack is left.
  c->GotoLast();
  c->GotoRecordNumber(5);
  const std::vector<uint8_t> last = c->Bookmark();
  c->GotoLast();
  c->GotoBookmark(last.data(), true);
  EXPECT_TRUE(c->Eof());
  c->GotoLast();
  c->GotoBookmark(first.data(), true);
  EXPECT_FALSE(c->Eof() || c->Bof());
  EXPECT_EQ(CurrentInt(*c, "id"), 1);
  // A strict goto clears both flags.
  c->GotoFirst();
  EXPECT_TRUE(c->GotoBookmark(first.data(), false));
  EXPECT_FALSE(c->Bof());
}

TEST_F(Bookmarks, BookmarksSurviveInsertsBeforeThem) {
  auto c = env.Open("numbers");
  c->GotoRecordNumber(3);
  const std::vector<uint8_t> three = c->Bookmark();
  auto other = env.Open("numbers");
  AddNumber(*other, 0, "zero", 0);
  EXPECT_TRUE(c->GotoBookmark(three.data(), false));
  EXPECT_EQ(CurrentInt(*c, "id"), 3);
  EXPECT_EQ(c->RecordNumber(), 4);
  EXPECT_EQ(c->RecordCount(), 6);
}

}  // namespace
}  // namespace tessel::testing
