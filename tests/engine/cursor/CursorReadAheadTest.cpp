// Read-ahead while a cursor walks an index record by record: the records
// and BLOBs it will visit next are read under the read lock of the miss
// that needed the first of them, so a walk in key order over records that
// lie scattered in the file needs far fewer reads than records. What the
// walk sees must not change, and a lookup must read no more than before.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "engine/cursor/CursorTestSupport.h"

namespace tessel::testing {
namespace {

constexpr int kSites = 1000;  // more than the record cache holds (471 slots)

std::string UrlOf(int n) {
  // Key order differs from insertion order.
  return "http://" + std::to_string((n * 7919) % kSites + 100000) + ".example/";
}
std::string NoteOf(int n) { return "note " + std::to_string(n) + std::string(static_cast<size_t>(n % 50), '.'); }

class CursorReadAhead : public ::testing::Test {
 protected:
  void SetUp() override {
    env.Create("sites", SitesStructure());
    auto c = env.Open("sites", "", false, true);
    const int note = c->FieldNumber("note");
    for (int n = 0; n < kSites; ++n) {
      Row row(*c);
      row.Set("siteurl", UrlOf(n)).Set("sitename", "site " + std::to_string(n));
      const std::string text = NoteOf(n);
      ASSERT_EQ(c->OpenBlob(note, row.data(), kBlobOpenReadWrite), 0);
      ASSERT_EQ(c->WriteBlob(note, row.data(), 0, static_cast<uint32_t>(text.size()), text.data()), 0);
      c->InsertRecord(row.data(), false);
      c->CloseBlob(note, row.data());
      expected[UrlOf(n)] = text;
    }
    c->Close();
  }

  static std::string Note(TDataCursor& c, Row& row) {
    const int note = c.FieldNumber("note");
    if (c.OpenBlob(note, row.data()) != 0) return "<no blob>";
    uint32_t size = 0;
    c.BlobSize(note, row.data(), &size);
    std::string text(size, '\0');
    uint32_t got = 0;
    c.ReadBlob(note, row.data(), 0, size, text.data(), &got);
    c.CloseBlob(note, row.data());
    return text;
  }

  CursorEnvironment env;
  std::map<std::string, std::string> expected;  // url -> note, in key order
};

// Walks the whole index, collecting (url, note) and counting the steps and
// the note reads that had to go to the file.
struct Walk {
  std::vector<std::pair<std::string, std::string>> seen;
  int stepsThatRead = 0;
  int notesThatRead = 0;
};

TEST_F(CursorReadAhead, WalkInKeyOrderReadsAheadAndSeesEveryRecordAsStored) {
  auto c = env.Open("sites", "siteurl");
  TDataFile& data = c->Table()->Data();
  TBlobFile& blob = c->Table()->Blob();
  auto walk = [&](bool forward) {
    Walk w;
    Row row(*c);
    if (forward) c->GotoFirst();
    else c->GotoLast();
    for (;;) {
      const uint64_t dataReads = data.ReadCalls();
      if ((forward ? c->GetNext(row.data()) : c->GetPrior(row.data())) != 0) break;
      if (data.ReadCalls() != dataReads) ++w.stepsThatRead;
      const uint64_t blobReads = blob.ReadCalls();
      const std::string note = Note(*c, row);
      if (blob.ReadCalls() != blobReads) ++w.notesThatRead;
      w.seen.emplace_back(*row.Text("siteurl"), note);
    }
    return w;
  };
  auto same = [](const auto& a, const auto& b) { return a.first == b.first && a.second == b.second; };

  const Walk forward = walk(true);
  ASSERT_EQ(forward.seen.size(), expected.size());
  EXPECT_TRUE(std::equal(forward.seen.begin(), forward.seen.end(), expected.begin(), same));
  // Key order scatters the records over the file: without read-ahead every
  // step and every note would go to the file (and take the read lock).
  EXPECT_LT(forward.stepsThatRead, kSites / 5);
  // The notes of the records a step reads ahead come with them, under the
  // same read lock: a note read seldom has to go to the file itself.
  EXPECT_LT(forward.notesThatRead, kSites / 50) << forward.notesThatRead;

  const Walk backward = walk(false);
  ASSERT_EQ(backward.seen.size(), expected.size());
  EXPECT_TRUE(std::equal(backward.seen.begin(), backward.seen.end(), expected.rbegin(), same));
  EXPECT_LT(backward.stepsThatRead, kSites / 5);
  EXPECT_LT(backward.notesThatRead, kSites / 50) << backward.notesThatRead;
}

TEST_F(CursorReadAhead, LookupsAndSingleStepsReadOnlyWhatTheyNeed) {
  auto c = env.Open("sites", "siteurl");
  Row row(*c);
  c->GotoFirst();
  // A long walk first, so that the cursor is in the middle of one.
  for (int i = 0; i < 600; ++i) ASSERT_EQ(c->GetNext(row.data()), 0);

  // The first records in key order have left the cache since: a lookup of
  // one reads its slot and its change counter, nothing ahead.
  TDataFile& data = c->Table()->Data();
  Row key(*c);
  key.Set("siteurl", expected.begin()->first);
  const uint64_t before = data.ReadCalls();
  ASSERT_TRUE(c->FindKey(key.data(), false, 0, 0, false, row.data()));
  EXPECT_LE(data.ReadCalls() - before, 2u);
  // A single step after a lookup does not start a walk either.
  const auto second = std::next(expected.begin());
  const uint64_t beforeStep = data.ReadCalls();
  ASSERT_EQ(c->GetNext(row.data()), 0);
  EXPECT_EQ(*row.Text("siteurl"), second->first);
  EXPECT_LE(data.ReadCalls() - beforeStep, 2u);
}

}  // namespace
}  // namespace tessel::testing
