// The bulk load of an exclusive cursor: slots and BLOBs appended, keys kept
// in memory, the index trees laid down from the sorted keys. A table loaded
// so must be the table that inserts one by one make: the same slots and
// BLOB blocks byte for byte, the same records in every index's order, and a
// structure check that finds nothing; and it must go on taking inserts and
// deletes as any table does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/cursor/CursorTestSupport.h"
#include "engine/storage/IndexFile.h"
#include "engine/storage/IndexRebuild.h"
#include "engine/storage/TableVerify.h"

namespace tessel::testing {
namespace {

// Distinct urls in an order unrelated to insertion, some of them long, so
// that compressed leaves hold different counts.
std::string Url(int i) {
  std::string url = "https://h" + std::to_string((i * 7919) % 100003) + ".example/";
  url.append(static_cast<size_t>(i % 37), static_cast<char>('a' + i % 26));
  return url;
}

void InsertSites(TDataCursor& cursor, int count, int from = 0) {
  for (int i = from; i < from + count; ++i) {
    Row row(cursor);
    row.Set("siteurl", Url(i)).Set("sitename", "name " + std::to_string(i % 50)).Set("sitetype", "t");
    if (i % 3 != 0) {
      const std::string note(static_cast<size_t>(40 + i % 700), static_cast<char>('A' + i % 26));
      ASSERT_EQ(cursor.OpenBlob(cursor.FieldNumber("note"), row.data(), kBlobOpenReadWrite), 0);
      ASSERT_EQ(cursor.WriteBlob(cursor.FieldNumber("note"), row.data(), 0, static_cast<uint32_t>(note.size()),
                                 note.data()),
                0);
    }
    cursor.InsertRecord(row.data());
    cursor.CloseBlob(cursor.FieldNumber("note"), row.data());
  }
}

// Deletes the sites Url(0), Url(step), Url(2 * step) ... below count.
void DeleteEvery(TDataCursor& cursor, int count, int step) {
  Row key(cursor);
  for (int i = 0; i < count; i += step) {
    key.Set("siteurl", Url(i));
    ASSERT_TRUE(cursor.FindKey(key.data())) << Url(i);
    cursor.DeleteRecord();
  }
}

// The catalogue's structure plus a non-unique index on sitename, a unique
// index on sitetype and url with both compressions, and a descending one.
TTableStructure LoadStructure() {
  TTableStructure s = SitesStructure();
  TIndexDesc byName = Index("byname", {3}, false);
  TIndexDesc packed = Index("packed", {1, 2}, true);
  packed.Compression = 3;
  TIndexDesc down = Index("down", {2}, true);
  down.Descending = 1;
  s.Secondary.push_back(byName);
  s.Secondary.push_back(packed);
  s.Secondary.push_back(down);
  return s;
}

// Every index's order as (url, slot) pairs, and physical order.
std::vector<std::vector<std::pair<std::string, int32_t>>> Orders(CursorEnvironment& env) {
  std::vector<std::vector<std::pair<std::string, int32_t>>> orders;
  auto cursor = env.Open("t");
  for (const std::string index : {"", "siteurl", "byname", "packed", "down"}) {
    cursor->SelectIndex(index);
    std::vector<std::pair<std::string, int32_t>> order;
    Row row(*cursor);
    cursor->GotoFirst();
    while (cursor->GetNext(row.data()) == 0)
      order.emplace_back(row.Text("siteurl").value_or("?"), cursor->PhysicalRecordNumber());
    orders.push_back(std::move(order));
  }
  return orders;
}

TVerifySummary Check(CursorEnvironment& env) {
  auto cursor = env.Open("t", {}, true);
  return VerifyTable(*cursor->Table(), {});
}

// The files from the field descriptors on (the headers carry the time of
// their last write).
std::vector<uint8_t> Body(const std::string& path, size_t from) {
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(from, bytes.size())));
  return bytes;
}

TEST(CursorBulkLoad, TheTreesLaidDownFromSortedKeysHoldWhatInsertsOneByOneMake) {
  constexpr int kRows = 3000;  // the url index three levels deep
  CursorEnvironment incremental, bulk;
  incremental.Create("t", LoadStructure());
  bulk.Create("t", LoadStructure());
  {
    auto c = incremental.Open("t", {}, false, true);
    InsertSites(*c, kRows);
  }
  {
    auto c = bulk.Open("t", {}, false, true);
    ASSERT_TRUE(c->BeginBulkLoad());
    EXPECT_TRUE(c->BulkLoading());
    InsertSites(*c, kRows);
    c->EndBulkLoad();
    EXPECT_FALSE(c->BulkLoading());
    EXPECT_TRUE(c->Bof());
    EXPECT_EQ(c->RecordCount(), kRows);
  }

  const auto expected = Orders(incremental);
  EXPECT_EQ(Orders(bulk), expected);
  ASSERT_EQ(expected[1].size(), static_cast<size_t>(kRows));
  EXPECT_EQ(Body(bulk.Path() + "t.DAT", 127), Body(incremental.Path() + "t.DAT", 127));
  EXPECT_EQ(Body(bulk.Path() + "t.BLB", 512), Body(incremental.Path() + "t.BLB", 512));

  const TVerifySummary check = Check(bulk);
  EXPECT_TRUE(check.Sound()) << check.Total() << " findings";
  EXPECT_EQ(check.ActiveRecords, kRows);
  EXPECT_EQ(check.IndexesChecked, 5);  // four secondary indexes and "Sys Deleted"

  // Full pages take inserts and deletes as any other.
  {
    auto c = bulk.Open("t", "siteurl");
    InsertSites(*c, 400, kRows);
    ASSERT_NO_FATAL_FAILURE(DeleteEvery(*c, kRows, 4));
  }
  const TVerifySummary after = Check(bulk);
  EXPECT_TRUE(after.Sound()) << after.Total() << " findings";
  EXPECT_EQ(after.ActiveRecords, kRows + 400 - kRows / 4);
}

TEST(CursorBulkLoad, ARebuildLaysEveryTreeDownFromSortedKeysInTheOrderItHad) {
  // A language driver, names that sort one way by collation and another by
  // bytes, and a descending index: the sort must follow what the trees
  // compare by.
  TTableStructure s = LoadStructure();
  s.LanguageId = 0x0409;
  CursorEnvironment env;
  env.Create("t", s);
  constexpr int kRows = 2000;
  {
    auto c = env.Open("t", "siteurl", false, true);
    const char* const kNames[] = {"name ", "Name ", "\xc3\xa9t\xc3\xa9 ", "Ete ", "ete "};
    for (int i = 0; i < kRows; ++i) {
      Row row(*c);
      row.Set("siteurl", Url(i)).Set("sitename", kNames[i % 5] + std::to_string(i % 50)).Set("sitetype", "t");
      c->InsertRecord(row.data());
    }
    ASSERT_NO_FATAL_FAILURE(DeleteEvery(*c, kRows, 7));
  }
  const auto before = Orders(env);
  {
    auto c = env.Open("t", {}, false, true);
    for (const TIndexRebuildResult& result : RebuildAllIndexes(*c->Table()))
      EXPECT_TRUE(result.LeftOut.empty()) << "slot " << result.Slot;
  }
  EXPECT_EQ(Orders(env), before);
  const TVerifySummary check = Check(env);
  EXPECT_TRUE(check.Sound()) << check.Total() << " findings";
  EXPECT_EQ(check.ActiveRecords, kRows - (kRows + 6) / 7);
}

TEST(CursorBulkLoad, UniqueKeysAreCheckedInMemoryAndARefusedRowLeavesNoTrace) {
  CursorEnvironment env;
  env.Create("t", LoadStructure());
  {
    auto c = env.Open("t", {}, false, true);
    ASSERT_TRUE(c->BeginBulkLoad());
    InsertSites(*c, 50);
    Row again(*c);
    again.Set("siteurl", Url(7)).Set("sitetype", "other");
    const auto dup = ErrorOf([&] { c->InsertRecord(again.data()); });
    EXPECT_EQ(dup.Code, ec::DuplicateKey);
    EXPECT_EQ(dup.Message, "Duplicate key found in index 'siteurl' of table 't.DAT'");
    EXPECT_TRUE(c->BulkLoading());
    InsertSites(*c, 10, 50);
  }
  const TVerifySummary check = Check(env);
  EXPECT_TRUE(check.Sound());
  EXPECT_EQ(check.RecordSlots, 60);
  EXPECT_EQ(check.ActiveRecords, 60);
}

TEST(CursorBulkLoad, OnlyAnEmptyTableOpenExclusivelyForWritingTakesOne) {
  CursorEnvironment env;
  env.Create("t", LoadStructure());
  {
    auto shared = env.Open("t");
    EXPECT_FALSE(shared->BeginBulkLoad());
  }
  {
    auto readOnly = env.Open("t", {}, true, true);
    EXPECT_FALSE(readOnly->BeginBulkLoad());
  }
  {
    auto c = env.Open("t", {}, false, true);
    ASSERT_TRUE(c->BeginBulkLoad());
    EXPECT_FALSE(c->BeginBulkLoad());  // one at a time
    InsertSites(*c, 5);
  }  // closed: the trees are laid down
  {
    auto c = env.Open("t", {}, false, true);
    EXPECT_FALSE(c->BeginBulkLoad());  // records in it now
    EXPECT_EQ(c->RecordCount(), 5);
  }
  // A table with a language driver checks unique keys through its
  // collation, which equal bytes do not tell: no bulk load.
  TTableStructure localised = LoadStructure();
  localised.LanguageId = 0x0409;
  env.Create("l", localised);
  auto c = env.Open("l", {}, false, true);
  EXPECT_FALSE(c->BeginBulkLoad());
}

TEST(CursorBulkLoad, AnyOtherOperationEndsTheLoadFirst) {
  CursorEnvironment env;
  env.Create("t", LoadStructure());
  auto c = env.Open("t", "siteurl", false, true);
  ASSERT_TRUE(c->BeginBulkLoad());
  InsertSites(*c, 200);
  EXPECT_TRUE(c->BulkLoading());
  // A search finds what the load inserted.
  Row key(*c);
  key.Set("siteurl", Url(123));
  EXPECT_TRUE(c->FindKey(key.data()));
  EXPECT_FALSE(c->BulkLoading());
  EXPECT_EQ(c->RecordCount(), 200);
  // The inserts that follow go one by one.
  InsertSites(*c, 20, 200);
  EXPECT_EQ(c->RecordCount(), 220);
  const std::vector<std::string> urls = Texts(*c, "siteurl");
  ASSERT_EQ(urls.size(), 220u);
  EXPECT_TRUE(std::is_sorted(urls.begin(), urls.end()));
}

TEST(CursorBulkLoad, APrimaryIndexAndANonUniqueIndexAreLaidDownToo) {
  CursorEnvironment env;
  env.Create("numbers", NumbersStructure());
  {
    auto c = env.Open("numbers", {}, false, true);
    ASSERT_TRUE(c->BeginBulkLoad());
    for (int i = 0; i < 2000; ++i) AddNumber(*c, (i * 811) % 2003, "n" + std::to_string(i), i % 17);
    EXPECT_EQ(ErrorOf([&] { AddNumber(*c, 811, "again", 1); }).Code, ec::DuplicateKey);
  }
  auto c = env.Open("numbers");
  const std::vector<int32_t> ids = Ints(*c, "id");
  ASSERT_EQ(ids.size(), 2000u);
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
  c->SelectIndex("byvalue");
  const std::vector<int32_t> values = Ints(*c, "value");
  EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
  EXPECT_TRUE(VerifyTable(*c->Table(), {}).Sound());
}

}  // namespace
}  // namespace tessel::testing
