// Changes of another process met in the middle of a cursor's work: while
// the cursor catches up with a change made through another cursor of its own
// program (the operation starts over instead of letting the cursor's
// internal restart signal escape), and while it loads a BLOB that the other
// process rewrote (the record was changed, the table is not corrupt).
#include <gtest/gtest.h>

#include "engine/cursor/CursorTestSupport.h"

namespace tessel::testing {
namespace {

// The other process: 'o' opens the numbers table, 'i' inserts the next
// record (ids 100000, 100001, ...), 'q' closes. Answers 'y' or 'n'.
int Inserter(const std::string& path, const std::function<char()>& wait, const std::function<void(char)>& reply) {
  TDataSession session;
  session.LockRetryCount = 0;
  TDataDirectory& directory = session.OpenDirectory("", path);
  TDataCursor cursor(directory);
  cursor.SetTableName("numbers");
  int32_t next = 100000;
  for (char command = wait(); command != 0; command = wait()) {
    bool ok = true;
    try {
      if (command == 'o') cursor.Open();
      else if (command == 'i') AddNumber(cursor, next, "other" + std::to_string(next), next), ++next;
      else if (command == 'q') cursor.Close();
      else ok = false;
    } catch (const ETesselEngineError&) {
      ok = false;
    }
    reply(ok ? 'y' : 'n');
  }
  return 0;
}

constexpr int kRecords = 3000;

TEST(CursorOtherUserChange, MetWhileCatchingUpWithAnotherCursorOfTheProgram) {
  CursorEnvironment env;
  env.Create("numbers", NumbersStructure());
  {
    auto c = env.Open("numbers");
    // Enough records for a tree of several levels.
    for (int i = 1; i <= kRecords; ++i) AddNumber(*c, i, "n" + std::to_string(i), i);
  }
  const std::string path = env.Path();
  Child other([path](const auto& wait, const auto& reply) { return Inserter(path, wait, reply); });
  ASSERT_EQ(other.Ask('o'), 'y');

  auto first = env.Open("numbers");
  auto second = env.Open("numbers");
  // The first cursor stands on the last record, the second on the first:
  // they hold different leaves of the primary index.
  Row row(*first);
  first->GotoLast();
  ASSERT_EQ(first->GetPrior(row.data()), 0);
  second->GotoFirst();
  ASSERT_EQ(second->GetNext(row.data()), 0);

  // The second cursor sees the other process's first insert: the shared
  // table drops its caches and takes the new headers.
  ASSERT_EQ(other.Ask('i'), 'y');
  second->Refresh();
  // Then the other process changes the table again, and the first cursor,
  // catching up with what the second one saw, has to read its leaf anew.
  ASSERT_EQ(other.Ask('i'), 'y');
  Row key(*first);
  key.Set("id", 2);
  bool found = false;
  EXPECT_NO_THROW(found = first->FindKey(key.data()));
  EXPECT_TRUE(found);
  EXPECT_EQ(CurrentInt(*first, "id"), 2);
  const std::vector<int32_t> ids = Ints(*first, "id");
  ASSERT_EQ(ids.size(), kRecords + 2u);
  EXPECT_EQ(ids.back(), 100001);

  EXPECT_EQ(other.Ask('q'), 'y');
  EXPECT_EQ(other.Finish(), 0);
}

// The other process: 'o' opens the sites table, 'm' gives the first record
// a new note (written over the old note's blocks), 'd' deletes the last
// record (its note's blocks go to the free chain), 'q' closes.
int NoteWriter(const std::string& path, const std::function<char()>& wait, const std::function<void(char)>& reply) {
  TDataSession session;
  session.LockRetryCount = 0;
  TDataDirectory& directory = session.OpenDirectory("", path);
  TDataCursor cursor(directory);
  cursor.SetTableName("sites");
  for (char command = wait(); command != 0; command = wait()) {
    bool ok = true;
    try {
      if (command == 'o') {
        cursor.Open();
      } else if (command == 'm') {
        Row row(cursor);
        cursor.GotoFirst();
        ok = cursor.GetNext(row.data()) == 0 && cursor.GetCurrent(row.data(), true) == 0;
        const int note = cursor.FieldNumber("note");
        const std::string text = "the second note, a little longer than the first";
        ok = ok && cursor.OpenBlob(note, row.data(), kBlobOpenReadWrite) == 0 &&
             cursor.WriteBlob(note, row.data(), 0, static_cast<uint32_t>(text.size()), text.data()) == 0;
        if (ok) cursor.ModifyRecord(row.data());
        cursor.CloseBlob(note, row.data());
      } else if (command == 'd') {
        Row row(cursor);
        cursor.GotoLast();
        ok = cursor.GetPrior(row.data()) == 0;
        if (ok) cursor.DeleteRecord();
      } else if (command == 'q') {
        cursor.Close();
      } else {
        ok = false;
      }
    } catch (const ETesselEngineError&) {
      ok = false;
    }
    reply(ok ? 'y' : 'n');
  }
  return 0;
}

std::string ReadNote(TDataCursor& cursor, uint8_t* image) {
  const int note = cursor.FieldNumber("note");
  if (cursor.OpenBlob(note, image) != 0) return "<not opened>";
  uint32_t size = 0;
  cursor.BlobSize(note, image, &size);
  std::string text(size, '\0');
  uint32_t read = 0;
  cursor.ReadBlob(note, image, 0, size, text.data(), &read);
  cursor.CloseBlob(note, image);
  text.resize(read);
  return text;
}

void AddSiteWithNote(TDataCursor& c, const std::string& url, const std::string& text) {
  Row row(c);
  row.Set("siteurl", url);
  const int note = c.FieldNumber("note");
  ASSERT_EQ(c.OpenBlob(note, row.data(), kBlobOpenReadWrite), 0);
  ASSERT_EQ(c.WriteBlob(note, row.data(), 0, static_cast<uint32_t>(text.size()), text.data()), 0);
  c.InsertRecord(row.data());
  c.CloseBlob(note, row.data());
}

TEST(CursorOtherUserChange, BlobRewrittenByAnotherUserIsAChangedRecord) {
  CursorEnvironment env;
  env.Create("sites", SitesStructure());
  {
    auto c = env.Open("sites");
    AddSiteWithNote(*c, "http://x.org", "first note");
  }
  const std::string path = env.Path();
  Child other([path](const auto& wait, const auto& reply) { return NoteWriter(path, wait, reply); });
  ASSERT_EQ(other.Ask('o'), 'y');

  // The record is read (and cached) before the other process rewrites its
  // note; its BLOB blocks are not.
  auto c = env.Open("sites");
  Row row(*c);
  c->GotoFirst();
  ASSERT_EQ(c->GetNext(row.data()), 0);
  ASSERT_EQ(other.Ask('m'), 'y');

  const RaisedError e = ErrorOf([&] { ReadNote(*c, row.data()); });
  EXPECT_EQ(e.Code, ec::RecordChanged) << e.Message;
  // Read again, the record shows the new note.
  c->GotoFirst();
  ASSERT_EQ(c->GetNext(row.data()), 0);
  EXPECT_EQ(ReadNote(*c, row.data()), "the second note, a little longer than the first");

  EXPECT_EQ(other.Ask('q'), 'y');
  EXPECT_EQ(other.Finish(), 0);
}

TEST(CursorOtherUserChange, BlobOfARecordDeletedByAnotherUserIsNotReadAsAMix) {
  CursorEnvironment env;
  env.Create("sites", SitesStructure());
  {
    // Notes of three and two blocks.
    auto c = env.Open("sites");
    AddSiteWithNote(*c, "http://a.org", std::string(1200, 'a'));
    AddSiteWithNote(*c, "http://b.org", std::string(600, 'b'));
  }
  const std::string path = env.Path();
  Child other([path](const auto& wait, const auto& reply) { return NoteWriter(path, wait, reply); });
  ASSERT_EQ(other.Ask('o'), 'y');

  auto c = env.Open("sites");
  Row row(*c);
  c->GotoFirst();
  ASSERT_EQ(c->GetNext(row.data()), 0);
  ASSERT_EQ(row.Text("siteurl"), "http://a.org");
  // Both records go; the first block of a.org's note still names its value,
  // but its next link now leads into the free chain, to b.org's blocks.
  ASSERT_EQ(other.Ask('d'), 'y');
  ASSERT_EQ(other.Ask('d'), 'y');

  std::string text;
  const RaisedError e = ErrorOf([&] { text = ReadNote(*c, row.data()); });
  EXPECT_EQ(e.Code, ec::RecordChanged) << e.Message << " / read " << text.size() << " bytes";

  EXPECT_EQ(other.Ask('q'), 'y');
  EXPECT_EQ(other.Finish(), 0);
}

}  // namespace
}  // namespace tessel::testing
