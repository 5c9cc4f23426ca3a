// Two processes on the same table files: record locks, changed records and
// other users' inserts. The second process is forked before the first opens
// anything and is stepped through its part with single-byte commands.
#include <gtest/gtest.h>

#include "engine/cursor/CursorTestSupport.h"

namespace tessel::testing {
namespace {

// What the other process does to the numbers table, command by command:
// 'o' open, 'l' lock record 1 (edit), 'u' unlock it, 'm' change record 1's
// name, 'i' insert a record, 'q' close. Answers 'y' on success, 'n' on a
// refusal.
int OtherProcess(const std::string& path, const std::function<char()>& wait,
                 const std::function<void(char)>& reply) {
  TDataSession session;
  session.LockRetryCount = 0;
  session.LockWaitTime = 0;
  TDataDirectory& directory = session.OpenDirectory("", path);
  TDataCursor cursor(directory);
  cursor.SetTableName("numbers");
  std::vector<uint8_t> row;
  auto gotoFirstRecord = [&] {
    cursor.GotoFirst();
    row.assign(cursor.RecordSize(), 0);
    return cursor.GetNext(row.data()) == 0;
  };
  for (char command = wait(); command != 0; command = wait()) {
    bool ok = true;
    try {
      switch (command) {
        case 'o':
          cursor.Open();
          break;
        case 'l':
          ok = gotoFirstRecord() && cursor.GetCurrent(row.data(), true) == 0;
          break;
        case 'u':
          cursor.UnlockRecord(0);
          break;
        case 'm': {
          ok = gotoFirstRecord() && cursor.GetCurrent(row.data(), true) == 0;
          uint8_t name[21] = "changed";
          cursor.PutFieldValue(2, row.data(), name);
          cursor.ModifyRecord(row.data());
          break;
        }
        case 'i':
          AddNumber(cursor, 100, "other", 100);
          break;
        case 'q':
          cursor.Close();
          break;
        default:
          ok = false;
      }
    } catch (const ETesselEngineError&) {
      ok = false;
    }
    reply(ok ? 'y' : 'n');
  }
  return 0;
}

class TwoProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    env.Create("numbers", NumbersStructure());
    auto c = env.Open("numbers");
    for (int i = 1; i <= 3; ++i) AddNumber(*c, i, "n" + std::to_string(i), i);
  }
  std::unique_ptr<Child> StartOther() {
    const std::string path = env.Path();
    return std::make_unique<Child>(
        [path](const auto& wait, const auto& reply) { return OtherProcess(path, wait, reply); });
  }
  CursorEnvironment env;
};

TEST_F(TwoProcesses, EditOfARecordChangedElsewhereFailsAndLocksNothing) {
  auto other = StartOther();
  auto c = env.Open("numbers");
  Row row(*c);
  c->GotoFirst();
  ASSERT_EQ(c->GetNext(row.data()), 0);
  EXPECT_EQ(row.Text("name"), "n1");

  ASSERT_EQ(other->Ask('o'), 'y');
  ASSERT_EQ(other->Ask('m'), 'y');

  const RaisedError e = ErrorOf([&] { c->GetCurrent(row.data(), true); });
  EXPECT_EQ(e.Code, ec::RecordChanged);
  EXPECT_EQ(c->Table()->RecordLocksHeld(), 0);
  EXPECT_FALSE(c->Table()->HoldsReadLock());
  // The other process can lock the record: nothing was left behind here.
  EXPECT_EQ(other->Ask('l'), 'y');
  EXPECT_EQ(other->Ask('u'), 'y');
  // The next read shows the new contents.
  ASSERT_EQ(c->GetCurrent(row.data()), 0);
  EXPECT_EQ(row.Text("name"), "changed");
  EXPECT_EQ(other->Ask('q'), 'y');
  EXPECT_EQ(other->Finish(), 0);
}

TEST_F(TwoProcesses, RecordLockedElsewhereIsRefusedAtOnce) {
  auto other = StartOther();
  auto c = env.Open("numbers");
  ASSERT_EQ(other->Ask('o'), 'y');
  ASSERT_EQ(other->Ask('l'), 'y');

  env.Session().LockRetryCount = 0;
  c->GotoFirst();
  Row row(*c);
  ASSERT_EQ(c->GetNext(row.data()), 0);
  const RaisedError e = ErrorOf([&] { c->GetCurrent(row.data(), true); });
  EXPECT_EQ(e.Code, ec::RecordLocked);
  EXPECT_NE(e.Message.find("is in use by another user"), std::string::npos);
  EXPECT_EQ(c->Table()->RecordLocksHeld(), 0);
  EXPECT_FALSE(c->Table()->HoldsReadLock());
  // A delete of that record is refused the same way and changes nothing.
  const std::vector<uint8_t> before = env.Files("numbers");
  EXPECT_EQ(ErrorOf([&] { c->DeleteRecord(); }).Code, ec::RecordLocked);
  EXPECT_EQ(env.Files("numbers"), before);
  EXPECT_FALSE(c->Table()->HoldsWriteLock());

  ASSERT_EQ(other->Ask('u'), 'y');
  EXPECT_EQ(c->GetCurrent(row.data(), true), 0);
  c->UnlockRecord(0);
  EXPECT_EQ(other->Ask('q'), 'y');
  EXPECT_EQ(other->Finish(), 0);
}

TEST_F(TwoProcesses, AnInsertElsewhereShowsAfterTheNextChangeDetection) {
  auto other = StartOther();
  auto c = env.Open("numbers");
  EXPECT_EQ(c->RecordCount(), 3);
  ASSERT_EQ(other->Ask('o'), 'y');
  ASSERT_EQ(other->Ask('i'), 'y');

  // The count takes no lock and looks for nothing; cached reads neither.
  EXPECT_EQ(c->RecordCount(), 3);
  c->GotoFirst();
  EXPECT_EQ(c->RecordCount(), 3);
  c->Refresh();
  EXPECT_EQ(c->RecordCount(), 4);
  EXPECT_EQ(Ints(*c, "id"), (std::vector<int32_t>{1, 2, 3, 100}));
  EXPECT_EQ(other->Ask('i'), 'n');  // id 100 again: a duplicate key there
  EXPECT_EQ(other->Ask('q'), 'y');
  EXPECT_EQ(other->Finish(), 0);
}

TEST_F(TwoProcesses, StrictDetectionLooksAtEveryRead) {
  auto other = StartOther();
  env.Session().StrictChangeDetection = true;
  auto c = env.Open("numbers");
  c->GotoRecordNumber(3);
  ASSERT_EQ(other->Ask('o'), 'y');
  ASSERT_EQ(other->Ask('i'), 'y');
  EXPECT_EQ(c->RecordCount(), 3);
  Row row(*c);
  ASSERT_EQ(c->GetCurrent(row.data()), 0);  // a read: the change is seen
  EXPECT_EQ(row.Int("id"), 3);
  EXPECT_EQ(c->RecordCount(), 4);
  EXPECT_FALSE(c->Table()->HoldsReadLock());
  EXPECT_EQ(other->Ask('q'), 'y');
  EXPECT_EQ(other->Finish(), 0);
}

TEST_F(TwoProcesses, ACacheMissNoticesTheChangeAndRepositions) {
  auto other = StartOther();
  auto c = env.Open("numbers");
  c->GotoFirst();
  Row row(*c);
  ASSERT_EQ(c->GetNext(row.data()), 0);
  ASSERT_EQ(other->Ask('o'), 'y');
  ASSERT_EQ(other->Ask('i'), 'y');
  // Drop what this process holds in memory, so the next step must read the
  // file; the read lock it takes finds the other process's change.
  c->Table()->Index().DropPages();
  c->Table()->Data().DropRecords();
  ASSERT_EQ(c->GetNext(row.data()), 0);
  EXPECT_EQ(row.Int("id"), 2);
  EXPECT_EQ(c->RecordCount(), 4);
  EXPECT_FALSE(c->Table()->HoldsReadLock());
  EXPECT_EQ(other->Ask('q'), 'y');
  EXPECT_EQ(other->Finish(), 0);
}

// A cursor opened on a table another cursor of this program holds open,
// with everything it needs already cached, still starts from the files as
// they are: another process's insert is there from its first step.
TEST_F(TwoProcesses, ALaterCursorOpenedStraightOnAnIndexSeesChangesMadeElsewhere) {
  auto other = StartOther();
  auto first = env.Open("numbers", "byvalue");
  EXPECT_EQ(first->RecordCount(), 3);
  ASSERT_EQ(other->Ask('o'), 'y');
  ASSERT_EQ(other->Ask('i'), 'y');
  ASSERT_EQ(other->Ask('q'), 'y');

  TDataCursor later(env.Directory());
  later.SetTableName("numbers");
  later.SetOpenIndexChooser([](TDataCursor&) { return std::string("byvalue"); });
  later.Open();
  EXPECT_EQ(later.Table(), first->Table());
  EXPECT_EQ(later.RecordCount(), 4);
  Row row(later);
  int rows = 0;
  int last = 0;
  while (later.GetNext(row.data()) == 0) {
    ++rows;
    last = row.Int("value").value_or(-1);
  }
  EXPECT_EQ(rows, 4);
  EXPECT_EQ(last, 100);
  EXPECT_FALSE(later.Table()->HoldsReadLock());
  EXPECT_EQ(other->Finish(), 0);
}

}  // namespace
}  // namespace tessel::testing
