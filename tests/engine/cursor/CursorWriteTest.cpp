#include <gtest/gtest.h>

#include "platform/core/Exceptions.h"
#include "engine/cursor/CursorTestSupport.h"
#include "engine/storage/IndexFile.h"

namespace tessel::testing {
namespace {

class Writes : public ::testing::Test {
 protected:
  void SetUp() override {
    env.Create("numbers", NumbersStructure());
    env.Create("checked", CheckedStructure());
    env.Create("sites", SitesStructure());
  }
  CursorEnvironment env;
};

// ---------------------------------------------------------------------------
// Placement after writes

TEST_F(Writes, InsertPlacesTheCursorOnTheNewRecord) {
  auto c = env.Open("numbers", "byvalue");
  AddNumber(*c, 1, "a", 30);
  AddNumber(*c, 2, "b", 10);
  AddNumber(*c, 3, "c", 20);
  EXPECT_EQ(CurrentInt(*c, "id"), 3);
  EXPECT_EQ(c->RecordNumber(), 2);
  EXPECT_FALSE(c->Bof() || c->Eof());
  EXPECT_EQ(c->RecordCount(), 3);
  EXPECT_EQ(c->Table()->Index().Header.ActiveRecordCount, 3);
  // Record identifiers count up from the header's last one.
  Row row(*c);
  ASSERT_EQ(c->GetCurrent(row.data()), 0);
  EXPECT_EQ(GetI32(row.data() + 5), 3);
}

TEST_F(Writes, AKeyChangeMovesTheRecordInIndexOrder) {
  auto c = env.Open("numbers", "byvalue");
  for (int i = 1; i <= 4; ++i) AddNumber(*c, i, "n" + std::to_string(i), i * 10);
  c->GotoRecordNumber(1);
  Row row(*c);
  ASSERT_EQ(c->GetCurrent(row.data(), true), 0);
  row.Set("value", 35);
  c->ModifyRecord(row.data());
  EXPECT_EQ(CurrentInt(*c, "id"), 1);
  EXPECT_EQ(c->RecordNumber(), 3);
  EXPECT_EQ(Ints(*c, "id"), (std::vector<int32_t>{2, 3, 1, 4}));
  EXPECT_EQ(c->Table()->RecordLocksHeld(), 0);  // the post released the edit's lock
}

TEST_F(Writes, ModifyWithoutKeyChangeLeavesTheIndexFileAlone) {
  auto c = env.Open("numbers");
  AddNumber(*c, 1, "a", 10);
  const std::vector<uint8_t> indexBefore = ReadFileBytes(env.Path() + "numbers.IDX");
  const std::vector<uint8_t> dataBefore = ReadFileBytes(env.Path() + "numbers.DAT");
  Row row(*c);
  ASSERT_EQ(c->GetCurrent(row.data(), true), 0);
  row.Set("value", 10);  // same value: every key stays
  c->ModifyRecord(row.data());
  EXPECT_EQ(ReadFileBytes(env.Path() + "numbers.IDX"), indexBefore);
  EXPECT_NE(ReadFileBytes(env.Path() + "numbers.DAT"), dataBefore);  // header counter moved
}

TEST_F(Writes, DeletingTheLastRecordLeavesTheEofCrackAndAMiddleOneTheFollower) {
  auto c = env.Open("numbers", "byvalue");
  for (int i = 1; i <= 4; ++i) AddNumber(*c, i, "n" + std::to_string(i), i * 10);
  c->GotoRecordNumber(2);
  c->DeleteRecord();
  EXPECT_EQ(CurrentInt(*c, "id"), 3);
  EXPECT_FALSE(c->Bof() || c->Eof());
  EXPECT_EQ(c->RecordNumber(), 2);
  c->GotoRecordNumber(3);
  c->DeleteRecord();
  EXPECT_TRUE(c->Eof());
  EXPECT_EQ(c->GetCurrent(nullptr), ec::EndOfFile);
  Row row(*c);
  ASSERT_EQ(c->GetPrior(row.data()), 0);
  EXPECT_EQ(row.Int("id"), 3);
  EXPECT_EQ(c->RecordCount(), 2);
  EXPECT_EQ(Ints(*c, "id"), (std::vector<int32_t>{1, 3}));
  EXPECT_EQ(c->Table()->RecordLocksHeld(), 0);
}

TEST_F(Writes, PhysicalOrderDeleteAndInsert) {
  auto c = env.Open("sites");
  for (const char* url : {"a", "b", "c", "d"}) AddSite(*c, url);
  c->GotoRecordNumber(2);
  c->DeleteRecord();
  Row row(*c);
  ASSERT_EQ(c->GetCurrent(row.data()), 0);
  EXPECT_EQ(row.Text("siteurl"), "c");
  // Without a primary index a new record always takes a new slot at the end.
  AddSite(*c, "e");
  EXPECT_EQ(c->PhysicalRecordNumber(), 5);
  EXPECT_EQ(c->RecordNumber(), 4);
  EXPECT_EQ(Texts(*c, "siteurl"), (std::vector<std::string>{"a", "c", "d", "e"}));
  EXPECT_EQ(c->Table()->Data().PhysicalRecordCount(), 5);
}

TEST_F(Writes, AnInsertReusesADeletedSlotWhenThereIsAPrimaryIndex) {
  auto c = env.Open("numbers");
  for (int i = 1; i <= 3; ++i) AddNumber(*c, i, "n" + std::to_string(i), i);
  c->GotoRecordNumber(2);
  c->DeleteRecord();
  AddNumber(*c, 9, "nine", 9);
  EXPECT_EQ(c->PhysicalRecordNumber(), 2);
  EXPECT_EQ(c->Table()->Data().PhysicalRecordCount(), 3);
  EXPECT_EQ(Ints(*c, "id"), (std::vector<int32_t>{1, 3, 9}));
  // The slot's "Sys Deleted" entry was replaced: physical order sees it.
  c->SelectIndexNumber(kNoIndex);
  EXPECT_EQ(Ints(*c, "id"), (std::vector<int32_t>{1, 9, 3}));
}

TEST_F(Writes, WritesInsideARangeKeepCountsAndPlacement) {
  auto c = env.Open("numbers", "byvalue");
  for (int i = 1; i <= 6; ++i) AddNumber(*c, i, "n" + std::to_string(i), i * 10);
  Row start(*c), end(*c);
  start.Set("value", 20);
  end.Set("value", 40);
  c->SetRange(start.data(), 1, end.data(), 1);
  ASSERT_EQ(c->RecordCount(), 3);
  AddNumber(*c, 7, "n7", 25);
  EXPECT_EQ(c->RecordCount(), 4);
  EXPECT_EQ(c->RecordNumber(), 2);
  AddNumber(*c, 8, "n8", 90);  // outside: placed on the EOF crack of the range
  EXPECT_EQ(c->RecordCount(), 4);
  EXPECT_TRUE(c->Eof());
  EXPECT_EQ(Ints(*c, "id"), (std::vector<int32_t>{2, 7, 3, 4}));
  c->GotoRecordNumber(4);
  c->DeleteRecord();
  EXPECT_TRUE(c->Eof());
  EXPECT_EQ(c->RecordCount(), 3);
  c->CancelRange();
  EXPECT_EQ(c->RecordCount(), 7);
}

TEST_F(Writes, ExclusiveWritesReachTheFilesAtClose) {
  {
    auto c = env.Open("numbers", {}, false, true);
    AddNumber(*c, 1, "one", 1);
    Row row(*c);
    ASSERT_EQ(c->GetCurrent(row.data(), true), 0);  // no lock is taken
    EXPECT_EQ(c->Table()->RecordLocksHeld(), 0);
    row.Set("value", 2);
    c->ModifyRecord(row.data());
  }
  auto c = env.Open("numbers");
  EXPECT_EQ(Ints(*c, "value"), (std::vector<int32_t>{2}));
}

TEST_F(Writes, UnlockingARecordThatIsNotLockedFails) {
  auto c = env.Open("numbers");
  AddNumber(*c, 1, "one", 1);
  EXPECT_EQ(ErrorOf([&] { c->UnlockRecord(0); }).Code, ec::CannotUnlock);
}

TEST_F(Writes, GotoSameRecordAcrossIndexes) {
  auto a = env.Open("numbers");
  for (int i = 1; i <= 3; ++i) AddNumber(*a, i, "n" + std::to_string(i), 40 - i * 10);
  auto b = env.Open("numbers", "byname");
  a->GotoRecordNumber(2);
  EXPECT_EQ(b->GotoSameRecord(*a), 0);
  EXPECT_EQ(CurrentInt(*b, "id"), 2);
  Row start(*b);
  start.Set("name", "n3");
  b->SetRange(start.data(), 1, start.data(), 1);
  EXPECT_EQ(b->GotoSameRecord(*a), ec::RecordNotFound);
}

// ---------------------------------------------------------------------------
// Refusals: nothing changes, in memory or in the files

class Refusals : public Writes {
 protected:
  void SetUp() override {
    Writes::SetUp();
    auto c = env.Open("checked");
    Row row(*c);
    row.Set("code", 5).Set("label", "five");
    c->InsertRecord(row.data());
    row.Set("code", 6).Set("label", "six");
    c->InsertRecord(row.data());
  }

  // Runs a refused write and checks that files, counts and locks are as before.
  void ExpectRefused(TDataCursor& c, uint16_t code, const std::function<void()>& write,
                     const std::string& inMessage = {}) {
    const std::vector<uint8_t> before = env.Files(c.TableName().substr(0, c.TableName().size() - 4));
    const int32_t count = c.RecordCount();
    const int32_t slots = c.Table()->Data().PhysicalRecordCount();
    const int32_t lastId = c.Table()->Data().Header.LastAutoIncValue;
    const RaisedError e = ErrorOf(write);
    EXPECT_EQ(e.Code, code) << e.Message;
    if (!inMessage.empty()) {
      EXPECT_NE(e.Message.find(inMessage), std::string::npos) << e.Message;
    }
    EXPECT_EQ(c.RecordCount(), count);
    EXPECT_EQ(c.Table()->Data().PhysicalRecordCount(), slots);
    EXPECT_EQ(c.Table()->Data().Header.LastAutoIncValue, lastId);
    EXPECT_FALSE(c.Table()->HoldsWriteLock());
    EXPECT_FALSE(c.Table()->HoldsReadLock());
    // Whatever the refusal left in the caches would reach the files now.
    c.Table()->FlushTable(false, false, false);
    EXPECT_EQ(env.Files(c.TableName().substr(0, c.TableName().size() - 4)), before);
  }
};

TEST_F(Refusals, ConstraintsRequiredMinimumMaximum) {
  auto c = env.Open("checked");
  Row row(*c);
  row.Set("code", 7).Set("label", "   ");  // only blanks: null
  ExpectRefused(*c, ec::ValueRequired, [&] { c->InsertRecord(row.data()); }, "'label'");
  row.Set("label", "seven").Null("code");  // null counts as 0
  ExpectRefused(*c, ec::BelowMinimum, [&] { c->InsertRecord(row.data()); }, "'code'");
  row.Set("code", 101);
  ExpectRefused(*c, ec::AboveMaximum, [&] { c->InsertRecord(row.data()); }, "'code'");
  // The same checks on a modify keep the edit's lock.
  c->GotoRecordNumber(1);
  Row edit(*c);
  ASSERT_EQ(c->GetCurrent(edit.data(), true), 0);
  edit.Set("code", 0);
  const std::vector<uint8_t> before = env.Files("checked");
  EXPECT_EQ(ErrorOf([&] { c->ModifyRecord(edit.data()); }).Code, ec::BelowMinimum);
  EXPECT_EQ(env.Files("checked"), before);
  EXPECT_EQ(c->Table()->RecordLocksHeld(), 1);
  edit.Set("code", 50);
  c->ModifyRecord(edit.data());
  EXPECT_EQ(c->Table()->RecordLocksHeld(), 0);
}

TEST_F(Refusals, DuplicateKeysNameTheFirstUniqueIndex) {
  auto c = env.Open("checked");
  Row row(*c);
  row.Set("code", 5).Set("label", "six");  // duplicates in both indexes
  ExpectRefused(*c, ec::DuplicateKey, [&] { c->InsertRecord(row.data()); },
                "Duplicate key found in index 'bycode' of table 'checked.DAT'");
  row.Set("code", 9);
  ExpectRefused(*c, ec::DuplicateKey, [&] { c->InsertRecord(row.data()); }, "index 'bylabel'");

  // A modify may keep its own key but not take another record's.
  c->SelectIndex("bycode");
  c->GotoRecordNumber(1);
  Row edit(*c);
  ASSERT_EQ(c->GetCurrent(edit.data(), true), 0);
  edit.Set("label", "six");
  ExpectRefused(*c, ec::DuplicateKey, [&] { c->ModifyRecord(edit.data()); }, "'bylabel'");
  c->UnlockRecord(0);

  // The primary index has no name.
  auto n = env.Open("numbers");
  AddNumber(*n, 1, "one", 1);
  Row dup(*n);
  dup.Set("id", 1).Set("name", "other").Set("value", 2);
  ExpectRefused(*n, ec::DuplicateKey, [&] { n->InsertRecord(dup.data()); }, "index '' of table");
}

TEST_F(Refusals, ReadOnlyCursor) {
  auto c = env.Open("checked", {}, true);
  Row row(*c);
  row.Set("code", 8).Set("label", "eight");
  ExpectRefused(*c, ec::AccessDenied, [&] { c->InsertRecord(row.data()); });
  c->GotoRecordNumber(1);
  ExpectRefused(*c, ec::AccessDenied, [&] { c->DeleteRecord(); });
}

TEST_F(Refusals, ARecordChangedByAnotherCursorSinceItWasRead) {
  auto a = env.Open("checked");
  auto b = env.Open("checked");
  a->GotoRecordNumber(1);
  Row stale(*a);
  ASSERT_EQ(a->GetCurrent(stale.data()), 0);

  b->GotoRecordNumber(1);
  Row edit(*b);
  ASSERT_EQ(b->GetCurrent(edit.data(), true), 0);
  // While b edits, a cannot lock the record.
  EXPECT_EQ(ErrorOf([&] { a->GetCurrent(nullptr, true); }).Code, ec::RecordLocked);
  edit.Set("label", "FIVE");
  b->ModifyRecord(edit.data());

  stale.Set("label", "mine");
  ExpectRefused(*a, ec::RecordChanged, [&] { a->ModifyRecord(stale.data()); });
  // The refusal read the record again: now it can be changed.
  ASSERT_EQ(a->GetCurrent(stale.data(), true), 0);
  EXPECT_EQ(stale.Text("label"), "FIVE");
  a->UnlockRecord(0);

  ASSERT_EQ(b->GetCurrent(edit.data(), true), 0);
  edit.Set("label", "Five");
  b->ModifyRecord(edit.data());
  ExpectRefused(*a, ec::RecordChanged, [&] { a->DeleteRecord(); });
}

// ---------------------------------------------------------------------------
// New records and fields

TEST_F(Writes, InitRecordAppliesDefaults) {
  auto c = env.Open("checked");
  Row row(*c);
  EXPECT_EQ(row.Text("label"), "none");
  uint8_t flag[2] = {};
  EXPECT_FALSE(c->GetFieldValue(3, row.data(), flag));
  EXPECT_EQ(GetU16(flag), 1);
  EXPECT_FALSE(row.Int("code").has_value());
}

TEST_F(Writes, BadBooleanDefaultIsAConversionError) {
  TTableStructure s = CheckedStructure();
  s.Fields[2].Default = "TRUE";
  env.Create("bad", s);
  auto c = env.Open("bad");
  // The stored default is changed behind the table's back.
  const_cast<TFieldDesc&>(c->Field(3)).Default = "maybe";
  std::vector<uint8_t> image(c->RecordSize());
  try {
    c->InitRecord(image.data());
    FAIL();
  } catch (const dataset::EConvertError& e) {
    EXPECT_STREQ(e.what(), "'maybe' is not a valid boolean value");
  }
}

// A BCD field's default and limits are converted at the field's decimals,
// as the table's structure check accepted them.
TEST_F(Writes, BcdDefaultAndLimitsAtTheFieldsDecimals) {
  TTableStructure s;
  s.Fields = {Field(1, "whole", ftBCD), Field(2, "cents", ftBCD)};
  s.Fields[0].Default = "5000000000000000";
  s.Fields[0].Maximum = "5000000000000000";
  s.Fields[1].DeclaredDecimals = 2;
  s.Fields[1].Default = "-12.345";
  s.Fields[1].Minimum = "-12.35";
  env.Create("amounts", s);
  auto c = env.Open("amounts");
  std::vector<uint8_t> image(c->RecordSize());
  c->InitRecord(image.data());
  uint8_t value[8] = {};
  ASSERT_FALSE(c->GetFieldValue(1, image.data(), value));
  EXPECT_EQ(GetI64(value), 5000000000000000);
  ASSERT_FALSE(c->GetFieldValue(2, image.data(), value));
  EXPECT_EQ(GetI64(value), -1235);  // half away from zero
  c->CheckConstraints(image.data());

  PutI64(value, 5000000000000001);
  c->PutFieldValue(1, image.data(), value);
  EXPECT_EQ(ErrorOf([&] { c->CheckConstraints(image.data()); }).Code, ec::AboveMaximum);
  PutI64(value, 5000000000000000);
  c->PutFieldValue(1, image.data(), value);
  PutI64(value, -1236);
  c->PutFieldValue(2, image.data(), value);
  EXPECT_EQ(ErrorOf([&] { c->CheckConstraints(image.data()); }).Code, ec::BelowMinimum);
}

// ---------------------------------------------------------------------------
// BLOBs

TEST_F(Writes, BlobWrittenAtPostAndReadInChunks) {
  auto c = env.Open("sites");
  Row row(*c);
  row.Set("siteurl", "http://x.org");
  const int note = c->FieldNumber("note");
  ASSERT_EQ(c->OpenBlob(note, row.data(), kBlobOpenReadWrite), 0);
  EXPECT_TRUE(c->GetFieldValue(note, row.data(), nullptr));  // empty buffer: null
  ASSERT_EQ(c->WriteBlob(note, row.data(), 0, 10, "0123456789"), 0);
  EXPECT_FALSE(c->GetFieldValue(note, row.data(), nullptr));
  c->InsertRecord(row.data());
  c->CloseBlob(note, row.data());

  Row read(*c);
  ASSERT_EQ(c->GetCurrent(read.data()), 0);
  uint8_t position[4] = {};
  ASSERT_FALSE(c->GetFieldValue(note, read.data(), position));
  EXPECT_EQ(GetI32(position), 512);  // the first block of the BLOB file
  ASSERT_EQ(c->OpenBlob(note, read.data()), 0);
  uint32_t size = 0;
  EXPECT_EQ(c->BlobSize(note, read.data(), &size), 0);
  EXPECT_EQ(size, 10u);
  std::vector<uint32_t> got;
  std::vector<uint16_t> codes;
  std::string text;
  for (uint32_t offset = 0; offset < 10; offset += 3) {
    char chunk[3];
    uint32_t n = 0;
    codes.push_back(c->ReadBlob(note, read.data(), offset, 3, chunk, &n));
    got.push_back(n);
    text.append(chunk, n);
  }
  EXPECT_EQ(got, (std::vector<uint32_t>{3, 3, 3, 1}));
  EXPECT_EQ(codes, (std::vector<uint16_t>{0, 0, 0, ec::EndOfBlob}));
  EXPECT_EQ(text, "0123456789");
  c->CloseBlob(note, read.data());

  // Deleting the record frees its blocks: the next BLOB reuses them.
  c->DeleteRecord();
  EXPECT_EQ(c->Table()->Blob().Header.FreeBlock, 512);
}

}  // namespace
}  // namespace tessel::testing
