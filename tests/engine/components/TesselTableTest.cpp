// The table record set on real table files: opening through a session and
// the database it makes, the flags and notifications the grid relies on,
// writes that reach the files, searches through the cursor, a clone and a
// filter, BLOB streams, locks between two sessions, and the messages.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/DataSetMessages.h"
#include "dataset/FieldKinds.h"
#include "dataset/MemDataSet.h"
#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/components/Session.h"
#include "engine/components/TesselTable.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/TableTestSupport.h"

namespace tessel {
namespace {

using namespace dataset;
using dataset_test::TRecordingLink;

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return {};
}

uint16_t EngineCodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ETesselEngineError& e) {
    return e.Code();
  }
  return 0;
}

// Exposes the active row, so that a test can look at the record image.
class TTestTable : public TTesselTable {
 public:
  using TTesselTable::TTesselTable;
  const uint8_t* Row() const { return ActiveRow(); }
};

struct Site {
  std::string type, url, name, note;
};

const std::vector<Site> kSites = {
    {"News", "https://c.example/", "Charlie", "third"},
    {"Arts", "https://a.example/", "Alpha", "first"},
    {"News", "https://b.example/", "Bravo", ""},
    {"Sport", "https://d.example/", "Alpha", "fourth"},
};

class TesselTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session_ = std::make_unique<TTesselSession>();
    session_->SetSessionName("ses");
    session_->SetForceBufferFlush(true);
    session_->SetKeepConnections(false);
    TTableStructure s = testing::CatalogueStructure();
    s.Secondary.push_back(testing::Index("sitename", {3}, false));
    s.Secondary.push_back(testing::Index("sitetype", {1}, false));
    Create(s, "linksdata.dat");
  }
  void TearDown() override { session_.reset(); }

  void Create(TTableStructure s, const std::string& name) {
    TDataTable::CheckStructure(s, true, name);
    TDataTable t(dir_.Dir(), name);
    t.CreateFiles(s);
    t.CloseFiles(true);
  }

  std::string Path(const std::string& name = "linksdata.dat") const { return dir_.Dir() + name; }

  std::unique_ptr<TTestTable> NewTable(const std::string& indexFields = "siteurl",
                                       const std::string& sessionName = "ses") {
    auto table = std::make_unique<TTestTable>();
    table->SetSessionName(sessionName);
    table->SetIndexFieldNames(indexFields);
    table->SetTableName(Path());
    return table;
  }

  static void Add(TTesselTable& t, const Site& s) {
    t.Append();
    t.FieldByName("sitetype").SetAsString(s.type);
    t.FieldByName("siteurl").SetAsString(s.url);
    t.FieldByName("sitename").SetAsString(s.name);
    if (!s.note.empty()) t.FieldByName("note").SetAsString(s.note);
    t.Post();
  }

  void Fill() {
    auto t = NewTable();
    t->Open();
    for (const Site& s : kSites) Add(*t, s);
  }

  // The urls in the record set's order.
  static std::vector<std::string> Urls(TTesselTable& t) {
    std::vector<std::string> urls;
    for (t.First(); !t.Eof(); t.Next()) urls.push_back(t.FieldByName("siteurl").AsString());
    return urls;
  }

  testing::TempDir dir_;
  std::unique_ptr<TTesselSession> session_;
};

TEST_F(TesselTableTest, FullPathOpensThroughADatabaseTheSessionMakes) {
  auto t = NewTable();
  EXPECT_EQ(t->DatabaseName(), dir_.Dir());
  EXPECT_EQ(t->TableName(), "linksdata.dat");
  EXPECT_EQ(t->EngineVersion(), "2.00");

  t->Open();
  ASSERT_EQ(session_->DatabaseCount(), 1);
  EXPECT_TRUE(session_->Databases(0).Temporary());
  EXPECT_EQ(t->Database(), &session_->Databases(0));
  EXPECT_EQ(t->Cursor()->CurrentIndexName(), "siteurl");
  EXPECT_EQ(t->RecordCount(), 0);
  EXPECT_TRUE(t->Bof());
  EXPECT_TRUE(t->Eof());
  EXPECT_TRUE(t->IsEmpty());
  // Field definitions from the descriptors; siteurl is required.
  ASSERT_EQ(t->FieldDefs().Count(), 6);
  EXPECT_EQ(t->FieldDefs()[5].DataType(), ftMemo);
  EXPECT_TRUE(t->FieldByName("siteurl").Required());
  EXPECT_EQ(t->FieldByName("siteurl").Size(), 100);

  t->Close();
  EXPECT_EQ(session_->DatabaseCount(), 0);
  EXPECT_EQ(t->DatabaseFlags(), 0u);
}

TEST_F(TesselTableTest, MessagesOfAClosedOrMisusedTable) {
  auto t = NewTable();
  t->AddField<TStringField>("siteurl", 100);
  const std::string closed = msg::DataSetClosed;
  EXPECT_EQ(MessageOf([&] { t->Append(); }), closed);
  EXPECT_EQ(MessageOf([&] { t->Delete(); }), closed);
  EXPECT_EQ(MessageOf([&] { t->Edit(); }), closed);
  EXPECT_EQ(MessageOf([&] { t->RecordCount(); }), closed);
  // The values of a closed table are null, and null has no text.
  EXPECT_EQ(MessageOf([&] { t->FieldByName("siteurl").Value().ToString(); }), "Invalid variant type conversion");

  TTesselTable unnamed;
  unnamed.SetSessionName("ses");
  EXPECT_EQ(MessageOf([&] { unnamed.Open(); }), "Missing table name.");

  auto noIndex = NewTable("login");
  EXPECT_EQ(MessageOf([&] { noIndex->Open(); }), "No index for fields 'login'");
  EXPECT_FALSE(noIndex->Active());
  EXPECT_EQ(noIndex->DatabaseFlags(), 0u);
  EXPECT_EQ(session_->DatabaseCount(), 0);

  t->Open();
  EXPECT_EQ(MessageOf([&] { t->SetTableName(Path()); }), std::string(msg::DataSetOpen));
  EXPECT_EQ(MessageOf([&] { t->Delete(); }), std::string(msg::DataSetEmpty));
  EXPECT_EQ(MessageOf([&] { t->FieldByName("siteurl").SetAsString("x"); }), std::string(msg::NotEditing));

  TDataSource source;
  source.SetDataSet(t.get());
  t->Close();
  EXPECT_EQ(MessageOf([&] { t->SetMasterSource(&source); }), "Circular datalinks are not allowed");
}

TEST_F(TesselTableTest, DescendingIndexIsNeverChosenForIndexFieldNames) {
  TTableStructure s = testing::CatalogueStructure();
  s.Secondary[0].Descending = 1;
  Create(s, "desc.dat");
  TTesselTable t;
  t.SetSessionName("ses");
  t.SetIndexFieldNames("siteurl");
  t.SetTableName(Path("desc.dat"));
  EXPECT_EQ(MessageOf([&] { t.Open(); }), "No index for fields 'siteurl'");
  t.SetIndexName("siteurl");
  t.Open();
  EXPECT_TRUE(t.Cursor()->IndexDescending());
}

TEST_F(TesselTableTest, RequiredFieldStopsThePostBeforeTheEngine) {
  auto t = NewTable();
  t->Open();
  t->Append();
  t->FieldByName("sitename").SetAsString("No address");
  t->FieldByName("siteurl").SetAsString("   ");  // blanks are stored as null
  EXPECT_EQ(MessageOf([&] { t->Post(); }), "Field 'siteurl' must have a value");
  EXPECT_EQ(t->State(), dsInsert);
  EXPECT_EQ(t->FieldByName("sitename").AsString(), "No address");
  t->FieldByName("siteurl").SetAsString("https://x.example/");
  t->Post();
  EXPECT_EQ(t->RecordCount(), 1);
  // An empty entry reads back as null.
  EXPECT_TRUE(t->FieldByName("login").IsNull());
}

TEST_F(TesselTableTest, AppendEditDeleteReachTheFiles) {
  Fill();
  EXPECT_EQ(session_->DatabaseCount(), 0);  // all closed: the files hold it all

  {
    auto t = NewTable();
    t->Open();
    EXPECT_EQ(Urls(*t), (std::vector<std::string>{"https://a.example/", "https://b.example/",
                                                  "https://c.example/", "https://d.example/"}));
    ASSERT_TRUE(t->Locate("siteurl", Variant("https://c.example/"), 0));
    EXPECT_EQ(t->FieldByName("note").AsString(), "third");
    t->Edit();
    t->FieldByName("sitename").SetAsString("Charlie II");
    EXPECT_EQ(t->FieldByName("sitename").OldValue().ToString(), "Charlie");
    t->FieldByName("siteurl").SetAsString("https://0.example/");  // the key moves
    t->FieldByName("note").SetAsString("changed");
    t->Post();
    EXPECT_EQ(t->FieldByName("siteurl").AsString(), "https://0.example/");
    EXPECT_EQ(t->RecNo(), 1);
    ASSERT_TRUE(t->Locate("siteurl", Variant("https://b.example/"), 0));
    t->Delete();
    // The record that followed the deleted one is current.
    EXPECT_EQ(t->FieldByName("siteurl").AsString(), "https://d.example/");
  }

  auto t = NewTable();
  t->Open();
  EXPECT_EQ(t->RecordCount(), 3);
  EXPECT_EQ(Urls(*t), (std::vector<std::string>{"https://0.example/", "https://a.example/", "https://d.example/"}));
  t->First();
  EXPECT_EQ(t->FieldByName("sitename").AsString(), "Charlie II");
  EXPECT_EQ(t->FieldByName("note").AsString(), "changed");
  EXPECT_EQ(t->FieldByName("sitetype").AsString(), "News");
  t->Next();
  EXPECT_EQ(t->FieldByName("note").AsString(), "first");
}

TEST_F(TesselTableTest, BofAndEofFollowEachOperation) {
  Fill();
  auto t = NewTable();
  t->Open();
  auto flags = [&] { return std::string(t->Bof() ? "B" : "-") + (t->Eof() ? "E" : "-"); };
  EXPECT_EQ(flags(), "B-");  // opening sets BOF
  t->Next();
  EXPECT_EQ(flags(), "--");
  t->Last();
  EXPECT_EQ(flags(), "-E");
  t->MoveBy(-1);
  EXPECT_EQ(flags(), "--");
  t->MoveBy(-10);
  EXPECT_EQ(flags(), "B-");
  t->First();
  EXPECT_EQ(flags(), "B-");
  t->MoveBy(10);
  EXPECT_EQ(flags(), "-E");

  t->Append();
  EXPECT_EQ(flags(), "-E");  // EOF stays set while the appended record is inserted
  t->FieldByName("siteurl").SetAsString("https://e.example/");
  t->Post();
  EXPECT_EQ(flags(), "--");
  t->Append();
  t->Cancel();
  EXPECT_EQ(flags(), "--");
  t->First();
  ASSERT_TRUE(t->Locate("siteurl", Variant("https://c.example/"), 0));
  EXPECT_EQ(flags(), "--");
  t->Delete();
  EXPECT_EQ(flags(), "--");
  while (!t->IsEmpty()) t->Delete();
  EXPECT_EQ(flags(), "BE");
}

TEST_F(TesselTableTest, DataLinksHearTheChangesInOrder) {
  Fill();
  auto t = NewTable();
  TDataSource source;
  source.SetDataSet(t.get());
  TRecordingLink link;
  link.SetDataSource(&source);
  t->Open();
  EXPECT_EQ(link.Take(), "active");

  t->Append();
  EXPECT_EQ(link.Take(), "check, editing, changed eof");
  t->FieldByName("siteurl").SetAsString("https://e.example/");
  EXPECT_EQ(link.Take(), "record siteurl");
  t->Post();
  // The data change comes after the re-read: the flags are clear.
  EXPECT_EQ(link.Take(), "update, check, browsing, changed");

  t->Edit();
  EXPECT_EQ(link.Take(), "check, editing, record");
  t->FieldByName("note").SetAsString("a note");
  EXPECT_EQ(link.Take(), "record note");
  t->Cancel();
  EXPECT_EQ(link.Take(), "check, browsing, changed");

  t->Next();
  EXPECT_EQ(link.Take(), "check, scrolled 0");
  t->Delete();
  EXPECT_EQ(link.Take(), "check, changed");
  t->Close();
  EXPECT_EQ(link.Take(), "inactive");
}

TEST_F(TesselTableTest, LocateThroughTheCursorACloneAndAFilter) {
  Fill();
  auto t = NewTable();
  t->Open();
  TDataTable* table = t->Cursor()->Table();
  t->First();

  // The current index serves: the record set's own cursor searches.
  ASSERT_TRUE(t->Locate("siteurl", Variant("https://c.example/"), 0));
  EXPECT_EQ(t->FieldByName("sitename").AsString(), "Charlie");
  EXPECT_EQ(t->RecNo(), 3);
  EXPECT_EQ(table->OpenCount(), 1);
  ASSERT_TRUE(t->Locate("siteurl", Variant("https://b.ex"), loPartialKey));
  EXPECT_EQ(t->FieldByName("sitename").AsString(), "Bravo");
  EXPECT_FALSE(t->Locate("siteurl", Variant("https://zzz/"), 0));
  EXPECT_EQ(t->FieldByName("sitename").AsString(), "Bravo");  // stays

  // Another index: a clone on the sitename index finds the first Alpha in
  // that order, and the record set moves to it.
  ASSERT_TRUE(t->Locate("sitename", Variant("Alpha"), 0));
  EXPECT_EQ(t->FieldByName("siteurl").AsString(), "https://a.example/");
  EXPECT_EQ(t->RecNo(), 1);
  EXPECT_EQ(table->OpenCount(), 2);
  ASSERT_TRUE(t->Locate("sitename;sitetype", Variant::Array({Variant("Alpha"), Variant("Sport")}), 0));
  EXPECT_EQ(t->FieldByName("siteurl").AsString(), "https://d.example/");
  ASSERT_TRUE(t->Locate("sitename", Variant("Ch"), loPartialKey));
  EXPECT_EQ(t->FieldByName("siteurl").AsString(), "https://c.example/");

  // No index for login, nor a case-insensitive one for siteurl: the filter.
  ASSERT_TRUE(t->Locate("siteurl", Variant("HTTPS://B.EXAMPLE/"), loCaseInsensitive));
  EXPECT_EQ(t->FieldByName("sitename").AsString(), "Bravo");
  EXPECT_EQ(t->RecNo(), 2);
  ASSERT_TRUE(t->Locate("sitetype", Variant("spo"), loPartialKey | loCaseInsensitive));
  EXPECT_EQ(t->FieldByName("siteurl").AsString(), "https://d.example/");
  ASSERT_TRUE(t->Locate("sitetype;login", Variant::Array({Variant("Arts"), Variant::Null()}), 0));
  EXPECT_EQ(t->FieldByName("siteurl").AsString(), "https://a.example/");
  EXPECT_FALSE(t->Locate("login", Variant("nobody"), 0));
  EXPECT_FALSE(t->Cursor()->Filtered());  // the search filter is gone again

  // Lookup answers without moving the record set.
  t->Last();
  const int recNo = t->RecNo();
  Variant found = t->Lookup("siteurl", Variant("https://b.example/"), "sitename;sitetype");
  ASSERT_TRUE(found.IsArray());
  EXPECT_EQ(found[0].ToString(), "Bravo");
  EXPECT_EQ(found[1].ToString(), "News");
  EXPECT_EQ(t->Lookup("sitename", Variant("Charlie"), "note").ToString(), "third");
  EXPECT_TRUE(t->Lookup("siteurl", Variant("https://none/"), "sitename").IsNull());
  EXPECT_EQ(t->RecNo(), recNo);
  EXPECT_EQ(t->FieldByName("siteurl").AsString(), "https://d.example/");
}

TEST_F(TesselTableTest, MemoThroughBlobStreams) {
  auto t = NewTable();
  t->Open();
  // Longer than one 512-byte block, and with bytes of the upper half.
  std::string longNote;
  for (int i = 0; i < 300; ++i) longNote += "line " + std::to_string(i) + " \xE9\n";
  ASSERT_GT(longNote.size(), 2000u);
  Add(*t, {"News", "https://long.example/", "Long", longNote});
  Add(*t, {"News", "https://short.example/", "Short", "short"});
  t->Close();

  t->Open();
  ASSERT_TRUE(t->Locate("siteurl", Variant("https://long.example/"), 0));
  TField& note = t->FieldByName("note");
  EXPECT_EQ(note.AsString(), longNote);

  // A read stream attaches a buffer to the browse row and lets it go again.
  const TFieldDesc& desc = t->Cursor()->Field(note.FieldNo());
  const std::vector<uint8_t> before(t->Row() + desc.RecordOffset, t->Row() + desc.RecordOffset + 9);
  EXPECT_GT(GetI32(before.data() + 1), 0);
  {
    std::unique_ptr<TStream> stream = t->CreateBlobStream(note, bmRead);
    EXPECT_LT(GetI32(t->Row() + desc.RecordOffset + 1), 0);
    EXPECT_EQ(stream->Size(), static_cast<int64_t>(longNote.size()));
    char chunk[700];
    EXPECT_EQ(stream->Read(chunk, 700), 700);
    EXPECT_EQ(std::string(chunk, 700), longNote.substr(0, 700));
    stream->Seek(-10, soEnd);
    EXPECT_EQ(stream->Read(chunk, 700), 10);  // a short read at the end
    EXPECT_EQ(stream->Read(chunk, 700), 0);
    EXPECT_EQ(MessageOf([&] { t->CreateBlobStream(note, bmWrite); }), std::string(msg::NotEditing));
  }
  EXPECT_EQ(std::vector<uint8_t>(t->Row() + desc.RecordOffset, t->Row() + desc.RecordOffset + 9), before);

  // Writing in the middle of the value through a read-write stream.
  t->Edit();
  {
    std::unique_ptr<TStream> stream = t->CreateBlobStream(note, bmReadWrite);
    stream->Seek(5, soBeginning);
    stream->Write("XYZ", 3);
    stream->Seek(3000, soBeginning);
    stream->Truncate();
  }
  EXPECT_TRUE(static_cast<TBlobField&>(note).Modified());
  t->Post();
  std::string expected = longNote;
  expected.replace(5, 3, "XYZ");
  expected.resize(3000);
  EXPECT_EQ(note.AsString(), expected);

  // Clearing the memo makes it null; the other record's note is untouched.
  t->Edit();
  note.Clear();
  t->Post();
  EXPECT_TRUE(note.IsNull());
  t->Close();
  t->Open();
  ASSERT_TRUE(t->Locate("siteurl", Variant("https://long.example/"), 0));
  EXPECT_TRUE(t->FieldByName("note").IsNull());
  ASSERT_TRUE(t->Locate("siteurl", Variant("https://short.example/"), 0));
  EXPECT_EQ(t->FieldByName("note").AsString(), "short");
}

TEST_F(TesselTableTest, RecordNumbersAndBookmarks) {
  Fill();
  auto t = NewTable();
  t->Open();
  t->First();
  EXPECT_EQ(t->RecNo(), 1);
  t->Next();
  EXPECT_EQ(t->RecNo(), 2);
  const TBookmark second = t->GetBookmark();
  t->SetRecNo(4);
  EXPECT_EQ(t->FieldByName("siteurl").AsString(), "https://d.example/");
  t->SetRecNo(9);  // no such record: the record set stays
  EXPECT_EQ(t->RecNo(), 4);
  EXPECT_EQ(t->CompareBookmarks(TBookmark(), second), 1);
  EXPECT_EQ(t->CompareBookmarks(second, TBookmark()), -1);
  EXPECT_EQ(t->CompareBookmarks(second, t->GetBookmark()), -1);
  t->GotoBookmark(second);
  EXPECT_EQ(t->FieldByName("siteurl").AsString(), "https://b.example/");

  t->Append();
  EXPECT_EQ(t->RecNo(), -1);
  t->Cancel();

  t->GotoBookmark(second);
  t->Delete();
  EXPECT_FALSE(t->BookmarkValid(second));
  EXPECT_EQ(MessageOf([&] { t->GotoBookmark(second); }), "Record not found");
}

// The longest key the format allows: key fields of 1036 bytes and the
// record identifier of a non-unique index, 1040 bytes in all. Rows, their
// bookmarks and key searches must hold all of it.
TEST_F(TesselTableTest, BookmarksAndSearchesAtTheLongestKey) {
  TTableStructure s;
  s.Fields = {testing::Field(1, "a", ftString, 250), testing::Field(2, "b", ftString, 250),
              testing::Field(3, "c", ftString, 250), testing::Field(4, "d", ftString, 250),
              testing::Field(5, "e", ftString, 26)};
  s.Secondary = {testing::Index("k", {1, 2, 3, 4, 5}, false)};
  Create(s, "wide.dat");

  auto t = std::make_unique<TTestTable>();
  t->SetSessionName("ses");
  t->SetTableName(Path("wide.dat"));
  t->SetIndexName("k");
  t->Open();
  // Equal keys but for the last field, so that the record identifiers
  // decide the order of the equal ones.
  constexpr int kCount = 240;
  auto text = [](char c, int i, size_t length) {
    std::string value(length, c);
    const std::string number = std::to_string(1000 + i % 120);
    value.replace(length - number.size(), number.size(), number);
    return value;
  };
  for (int i = 0; i < kCount; ++i) {
    t->Append();
    for (const char* name : {"a", "b", "c", "d"}) t->FieldByName(name).SetAsString(text(name[0], i, 250));
    t->FieldByName("e").SetAsString(text('e', i, 26));
    t->Post();
  }

  std::vector<TBookmark> marks;
  std::vector<std::string> lasts;
  for (t->First(); !t->Eof(); t->Next()) {
    marks.push_back(t->GetBookmark());
    lasts.push_back(t->FieldByName("e").AsString());
    ASSERT_EQ(marks.back().size(), 1040u);
  }
  ASSERT_EQ(marks.size(), static_cast<size_t>(kCount));
  for (size_t i = 1; i < marks.size(); ++i) EXPECT_EQ(t->CompareBookmarks(marks[i - 1], marks[i]), -1) << i;
  for (size_t i = marks.size(); i-- > 0;) {
    t->GotoBookmark(marks[i]);
    EXPECT_EQ(t->GetBookmark(), marks[i]) << i;
    EXPECT_EQ(t->FieldByName("e").AsString(), lasts[i]) << i;
  }

  // A search and a range over every field of the key.
  const std::vector<Variant> key = {Variant(text('a', 7, 250)), Variant(text('b', 7, 250)),
                                    Variant(text('c', 7, 250)), Variant(text('d', 7, 250)),
                                    Variant(text('e', 7, 26))};
  EXPECT_TRUE(t->FindKey(key));
  EXPECT_EQ(t->FieldByName("e").AsString(), text('e', 7, 26));
  t->SetRange(key, key);
  EXPECT_EQ(t->RecordCount(), 2);
  t->CancelRange();
  t->Close();
}

TEST_F(TesselTableTest, KeySearchesAndRanges) {
  Fill();
  auto t = NewTable("");
  t->SetIndexName("sitetype");
  t->Open();
  EXPECT_EQ(t->IndexFieldNames(), "");
  EXPECT_EQ(t->IndexName(), "sitetype");
  EXPECT_TRUE(t->FindKey({Variant("News")}));
  EXPECT_EQ(t->FieldByName("sitetype").AsString(), "News");
  EXPECT_FALSE(t->FindKey({Variant("Nothing")}));
  t->FindNearest({Variant("O")});
  EXPECT_EQ(t->FieldByName("sitetype").AsString(), "Sport");

  t->SetKey();
  EXPECT_EQ(MessageOf([&] { t->FieldByName("sitename").SetAsString("x"); }),
            "Field 'sitename' is not indexed and cannot be modified");
  t->Cancel();
  EXPECT_EQ(t->State(), dsBrowse);

  t->SetRange({Variant("News")}, {Variant("News")});
  EXPECT_EQ(t->RecordCount(), 2);
  EXPECT_EQ(Urls(*t).size(), 2u);
  // Only a start: the end stays open.
  t->SetRangeStart();
  t->FieldByName("sitetype").SetAsString("News");
  t->SetRangeEnd();
  t->ApplyRange();
  EXPECT_EQ(t->RecordCount(), 3);
  t->CancelRange();
  EXPECT_EQ(t->RecordCount(), 4);

  // Switching the index while open re-reads the window in the new order.
  t->SetIndexFieldNames("sitename");
  EXPECT_EQ(t->IndexName(), "");
  t->First();
  EXPECT_EQ(t->FieldByName("sitename").AsString(), "Alpha");
  t->Last();
  EXPECT_EQ(t->FieldByName("sitename").AsString(), "Charlie");
  EXPECT_EQ(MessageOf([&] { t->SetIndexFieldNames("login"); }), "No index for fields 'login'");

  const std::vector<TTesselIndexDef>& defs = t->IndexDefs();
  ASSERT_EQ(defs.size(), 3u);
  EXPECT_EQ(defs[0].Name, "siteurl");
  EXPECT_TRUE(defs[0].Unique);
  EXPECT_EQ(defs[2].Fields, "sitetype");

  // While closed, a cursor is opened for the purpose.
  auto closed = NewTable();
  ASSERT_EQ(closed->IndexDefs().size(), 3u);
  EXPECT_EQ(closed->IndexDefs()[1].Name, "sitename");
  EXPECT_FALSE(closed->IndexDefs()[1].Unique);
  EXPECT_EQ(closed->DatabaseFlags(), 0u);
}

TEST_F(TesselTableTest, PersistentFieldsAsTheProgramDeclaresThem) {
  Fill();
  auto t = NewTable();
  t->AddField<TStringField>("sitetype", 30);
  t->AddField<TStringField>("siteurl", 100).SetRequired(true);
  t->AddField<TStringField>("sitename", 60);
  t->Open();
  EXPECT_FALSE(t->DefaultFields());
  EXPECT_EQ(t->FieldCount(), 3);
  ASSERT_TRUE(t->Locate("siteurl", Variant("https://a.example/"), 0));
  // A copy takes the note, which no field of this record set shows.
  t->SetCopyOnAppend(true);
  t->Append();
  t->FieldByName("siteurl").SetAsString("https://copy.example/");
  t->Post();
  t->Close();

  auto all = NewTable();
  all->Open();
  ASSERT_TRUE(all->Locate("siteurl", Variant("https://copy.example/"), 0));
  EXPECT_EQ(all->FieldByName("note").AsString(), "first");
  EXPECT_EQ(all->FieldByName("sitename").AsString(), "Alpha");

  auto wrongSize = NewTable();
  wrongSize->AddField<TStringField>("siteurl", 50);
  EXPECT_EQ(MessageOf([&] { wrongSize->Open(); }), "Size mismatch for field 'siteurl', expecting: 50 actual: 100");
  auto unknown = NewTable();
  unknown->AddField<TStringField>("colour", 10);
  EXPECT_EQ(MessageOf([&] { unknown->Open(); }), "Field 'colour' not found");
  EXPECT_FALSE(unknown->Active());
}

TEST_F(TesselTableTest, FiltersNarrowTheRecordSet) {
  Fill();
  auto t = NewTable();
  t->Open();
  t->SetFilter("sitetype = 'News'");
  t->SetFiltered(true);
  EXPECT_FALSE(t->IsSequenced());
  EXPECT_EQ(Urls(*t), (std::vector<std::string>{"https://b.example/", "https://c.example/"}));
  t->SetOnFilterRecord([](TDataSet& ds, bool& accept) { accept = ds.FieldByName("sitename").AsString() != "Bravo"; });
  EXPECT_EQ(Urls(*t), (std::vector<std::string>{"https://c.example/"}));
  t->SetFiltered(false);
  EXPECT_EQ(Urls(*t).size(), 4u);

  // The Find operations use the filter without narrowing the record set.
  t->SetOnFilterRecord(nullptr);
  ASSERT_TRUE(t->FindFirst());
  EXPECT_EQ(t->FieldByName("siteurl").AsString(), "https://b.example/");
  ASSERT_TRUE(t->FindNext());
  EXPECT_EQ(t->FieldByName("siteurl").AsString(), "https://c.example/");
  EXPECT_FALSE(t->FindNext());
  t->First();
  ASSERT_TRUE(t->FindNext());  // from a record the filter refuses
  EXPECT_EQ(t->FieldByName("siteurl").AsString(), "https://b.example/");
  ASSERT_TRUE(t->FindLast());
  EXPECT_EQ(t->FieldByName("siteurl").AsString(), "https://c.example/");
  ASSERT_TRUE(t->FindPrior());
  EXPECT_EQ(t->FieldByName("siteurl").AsString(), "https://b.example/");
  EXPECT_EQ(t->RecordCount(), 4);

  // A filter set before opening is in force from the first record on.
  auto preset = NewTable();
  preset->SetFilter("sitename = 'Alpha'");
  preset->SetFiltered(true);
  preset->Open();
  EXPECT_EQ(preset->RecordCount(), 2);
  EXPECT_EQ(preset->FieldByName("siteurl").AsString(), "https://a.example/");
  EXPECT_EQ(Urls(*preset), (std::vector<std::string>{"https://a.example/", "https://d.example/"}));
}

TEST_F(TesselTableTest, CopyOnAppendStartsFromTheCurrentRecord) {
  Fill();
  auto t = NewTable();
  t->SetCopyOnAppend(true);
  t->Open();
  ASSERT_TRUE(t->Locate("siteurl", Variant("https://d.example/"), 0));
  t->Append();
  EXPECT_EQ(t->FieldByName("sitename").AsString(), "Alpha");
  EXPECT_EQ(t->FieldByName("note").AsString(), "fourth");
  t->FieldByName("siteurl").SetAsString("https://e.example/");
  t->Post();
  t->Close();
  t->Open();
  ASSERT_TRUE(t->Locate("siteurl", Variant("https://e.example/"), 0));
  EXPECT_EQ(t->FieldByName("sitetype").AsString(), "Sport");
  EXPECT_EQ(t->FieldByName("note").AsString(), "fourth");
  ASSERT_TRUE(t->Locate("siteurl", Variant("https://d.example/"), 0));
  EXPECT_EQ(t->FieldByName("note").AsString(), "fourth");
}

TEST_F(TesselTableTest, TwoSessionsMeetAtTheRecordLocks) {
  Fill();
  TTesselSession other;
  other.SetSessionName("ses2");
  other.SetLockRetryCount(0);
  session_->SetLockRetryCount(0);
  auto a = NewTable();
  auto b = NewTable("siteurl", "ses2");
  a->Open();
  b->Open();
  ASSERT_TRUE(a->Locate("siteurl", Variant("https://a.example/"), 0));
  ASSERT_TRUE(b->Locate("siteurl", Variant("https://a.example/"), 0));

  a->Edit();
  EXPECT_EQ(EngineCodeOf([&] { b->Edit(); }), ec::RecordLocked);
  EXPECT_EQ(b->State(), dsBrowse);
  a->FieldByName("sitename").SetAsString("Alpha by a");
  a->Post();

  // b read the record before a changed it: its edit is refused, and the
  // next read shows a's value.
  EXPECT_EQ(EngineCodeOf([&] { b->Edit(); }), ec::RecordChanged);
  b->Refresh();
  EXPECT_EQ(b->FieldByName("sitename").AsString(), "Alpha by a");
  b->Edit();
  b->FieldByName("sitename").SetAsString("Alpha by b");
  b->Post();
  a->Refresh();
  EXPECT_EQ(a->FieldByName("sitename").AsString(), "Alpha by b");

  // Exclusive use keeps the other session out.
  a->Close();
  a->SetExclusive(true);
  b->Close();
  a->Open();
  EXPECT_EQ(EngineCodeOf([&] { b->Open(); }), ec::AccessDenied);
}

TEST_F(TesselTableTest, EmptyTableNeedsExclusiveUse) {
  Fill();
  auto t = NewTable();
  t->Open();
  EXPECT_EQ(EngineCodeOf([&] { t->EmptyTable(); }), ec::NeedExclusive);
  t->Close();
  t->SetExclusive(true);
  t->Open();
  t->EmptyTable();
  EXPECT_TRUE(t->IsEmpty());
  EXPECT_EQ(t->RecordCount(), 0);
  Add(*t, kSites[0]);
  t->Close();
  t->EmptyTable();  // closed: opened exclusively for the purpose
  t->SetExclusive(false);
  t->Open();
  EXPECT_EQ(t->RecordCount(), 0);
}

}  // namespace
}  // namespace tessel
