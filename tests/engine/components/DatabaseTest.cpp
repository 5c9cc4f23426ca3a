// Databases and engine directories: the database a session makes for a
// record set's directory path, program databases and their rules, sharing of
// directory and table objects, and the directory's refusals.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/core/Exceptions.h"
#include "engine/components/Database.h"
#include "engine/components/Session.h"
#include "engine/components/SessionList.h"
#include "engine/storage/DataDirectory.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/TableTestSupport.h"

namespace tessel {
namespace {

using testing::ErrorOf;
using testing::TempDir;

constexpr const char* kTable = "linksdata.dat";

std::string DatabaseErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const dataset::EDatabaseError& e) {
    return e.what();
  }
  return {};
}

std::string Canonical(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  std::string result = resolved ? resolved : path;
  free(resolved);
  return result + "/";
}

void CreateCatalogue(const std::string& dir, const std::string& name = kTable) {
  TTableStructure s = testing::CatalogueStructure();
  TDataTable::CheckStructure(s, true, name);
  TDataTable t(dir, name);
  t.CreateFiles(s);
  t.CloseFiles(true);
}

// A record set as far as its database is concerned.
class FakeRecordSet : public TDatabaseClient {
 public:
  FakeRecordSet(std::string session, std::string database, TComponentOwner* owner = nullptr)
      : session_(std::move(session)), database_(std::move(database)), owner_(owner) {}
  void Open() { use.SetFlag(TDatabaseUse::dbfOpened, true, session_, database_, owner_); }
  void Close() { use.SetFlag(TDatabaseUse::dbfOpened, false, session_, database_, owner_); }
  void CloseForDatabase() override {
    ++closedForDatabase;
    Close();
  }

  TDatabaseUse use{*this};
  int closedForDatabase = 0;

 private:
  std::string session_;
  std::string database_;
  TComponentOwner* owner_;
};

TEST(TablePathTest, SplitsAFullPath) {
  TTablePath p = SplitTablePath("/opt/marrowick/linksdata.dat");
  EXPECT_TRUE(p.HasDirectory);
  EXPECT_EQ(p.DatabaseName, "/opt/marrowick/");
  EXPECT_EQ(p.TableName, "linksdata.dat");
  p = SplitTablePath("linksdata.dat");
  EXPECT_FALSE(p.HasDirectory);
  EXPECT_EQ(p.TableName, "linksdata.dat");
  p = SplitTablePath("");
  EXPECT_TRUE(p.HasDirectory);
  EXPECT_EQ(p.DatabaseName, "");
  EXPECT_EQ(p.TableName, "");
}

// The program's own way in: a table path makes the session create a database
// for the directory, which goes again when the table closes.
TEST(DatabaseTest, FullTablePathMakesATemporaryDatabase) {
  TempDir dir;
  CreateCatalogue(dir.Dir());
  TTesselSession ses;
  ses.SetSessionName("ses");
  ses.SetForceBufferFlush(true);
  ses.SetKeepConnections(false);

  const TTablePath path = SplitTablePath(dir.Dir() + kTable);
  FakeRecordSet rs("ses", path.DatabaseName);
  rs.Open();
  EXPECT_TRUE(ses.Active());
  EXPECT_TRUE(Sessions().DefaultSession().Active());
  ASSERT_EQ(ses.DatabaseCount(), 1);
  TTesselDatabase* db = rs.use.Database();
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db, &ses.Databases(0));
  EXPECT_TRUE(db->Temporary());
  EXPECT_TRUE(db->Connected());
  EXPECT_EQ(db->DatabaseName(), dir.Dir());
  EXPECT_FALSE(db->KeepConnection());
  EXPECT_EQ(db->RefCount(), 1);
  EXPECT_EQ(db->DataSetCount(), 1);
  EXPECT_EQ(&db->DataSets(0), &rs);
  EXPECT_EQ(rs.use.Session(), &ses);
  TDataDirectory* directory = rs.use.Directory();
  ASSERT_NE(directory, nullptr);
  EXPECT_EQ(directory->Alias(), "");
  EXPECT_EQ(directory->ResolvedPath(), Canonical(dir.Dir()));
  EXPECT_EQ(ses.Handle()->DirectoryCount(), 1);

  TDataTable& table = directory->AcquireTable(path.TableName);
  EXPECT_TRUE(table.Settings.WriteThrough);
  EXPECT_EQ(table.DataFileName(), Canonical(dir.Dir()) + "linksdata.DAT");
  directory->ReleaseTable(table);

  rs.Close();
  EXPECT_EQ(rs.use.Database(), nullptr);
  EXPECT_EQ(ses.DatabaseCount(), 0);
  EXPECT_EQ(ses.Handle()->DirectoryCount(), 0);
}

TEST(DatabaseTest, KeepConnectionsHoldsTheDatabaseUntilTheSessionEnds) {
  TempDir dir;
  TTesselSession ses;
  ses.SetSessionName("keeper");
  FakeRecordSet rs("keeper", dir.Dir());
  rs.Open();
  TTesselDatabase* db = rs.use.Database();
  rs.Close();
  ASSERT_EQ(ses.DatabaseCount(), 1);
  EXPECT_TRUE(db->Connected());
  EXPECT_EQ(db->RefCount(), 0);

  rs.Open();
  EXPECT_EQ(rs.use.Database(), db);
  // Deactivating closes the record set and frees the database.
  ses.SetActive(false);
  EXPECT_EQ(rs.closedForDatabase, 1);
  EXPECT_EQ(rs.use.Database(), nullptr);
  EXPECT_EQ(ses.DatabaseCount(), 0);
}

TEST(DatabaseTest, TwoRecordSetsOnOnePathShareDatabaseDirectoryAndTable) {
  TempDir dir;
  CreateCatalogue(dir.Dir());
  TTesselSession ses;
  ses.SetSessionName("sharing");
  ses.SetKeepConnections(false);
  FakeRecordSet a("sharing", dir.Dir());
  FakeRecordSet b("SHARING", dir.Dir());
  a.Open();
  b.Open();
  ASSERT_EQ(a.use.Database(), b.use.Database());
  EXPECT_EQ(a.use.Database()->RefCount(), 2);
  TDataDirectory* directory = a.use.Directory();

  TDataTable& t1 = directory->AcquireTable(kTable);
  TDataTable& t2 = directory->AcquireTable(kTable);
  EXPECT_EQ(&t1, &t2);
  EXPECT_EQ(t1.OpenCount(), 2);
  const testing::RaisedError e = ErrorOf([&] { directory->AcquireTable(kTable, {.Exclusive = true}); });
  EXPECT_EQ(e.Code, ec::AccessDenied);
  EXPECT_EQ(e.Message, "Access denied to table 'linksdata.dat'");
  EXPECT_EQ(t1.OpenCount(), 2);
  directory->ReleaseTable(t1);
  directory->ReleaseTable(t2);
  EXPECT_EQ(directory->TableCount(), 0);

  a.Close();
  EXPECT_EQ(ses.DatabaseCount(), 1);
  b.Close();
  EXPECT_EQ(ses.DatabaseCount(), 0);
}

// ---------------------------------------------------------------------------
// Engine directory objects

class DataDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateCatalogue(dir_.Dir()); }
  TempDir dir_;
  TDataSession engine_;
};

TEST_F(DataDirectoryTest, OneTableObjectPerTableName) {
  TDataDirectory& d = engine_.OpenDirectory("", dir_.Dir());
  TDataTable& a = d.AcquireTable("linksdata");
  TDataTable& b = d.AcquireTable(" LINKSDATA.DAT ");
  EXPECT_EQ(&a, &b);
  EXPECT_EQ(a.OpenCount(), 2);
  EXPECT_EQ(d.FindTable("linksdata.Dat"), &a);
  EXPECT_EQ(d.FindTable("linksdata", true), nullptr);
  EXPECT_FALSE(a.Settings.WriteThrough);
  d.ReleaseTable(a);
  EXPECT_EQ(d.TableCount(), 1);
  EXPECT_EQ(b.OpenCount(), 1);
  d.ReleaseTable(b);
  EXPECT_EQ(d.TableCount(), 0);
  EXPECT_EQ(d.FindTable("linksdata"), nullptr);
}

TEST_F(DataDirectoryTest, ExclusiveOpensRefuseSharing) {
  TDataDirectory& d = engine_.OpenDirectory("", dir_.Dir());
  TDataTable& t = d.AcquireTable(kTable, {.Exclusive = true});
  EXPECT_EQ(ErrorOf([&] { d.AcquireTable(kTable); }).Code, ec::AccessDenied);
  EXPECT_EQ(ErrorOf([&] { d.AcquireTable(kTable, {.Exclusive = true}); }).Code, ec::AccessDenied);
  EXPECT_EQ(t.OpenCount(), 1);
  d.ReleaseTable(t);
  TDataTable& again = d.AcquireTable(kTable);
  EXPECT_FALSE(again.IsExclusive());
  d.ReleaseTable(again);
}

TEST_F(DataDirectoryTest, AFailedOpenLeavesNothingBehind) {
  TDataDirectory& d = engine_.OpenDirectory("", dir_.Dir());
  EXPECT_EQ(ErrorOf([&] { d.AcquireTable("missing.dat"); }).Code, ec::InvalidPath);
  EXPECT_EQ(d.TableCount(), 0);
}

TEST_F(DataDirectoryTest, ReleasingWhatIsNotHeldIsRefused) {
  TDataDirectory& d = engine_.OpenDirectory("", dir_.Dir());
  TDataTable stray(dir_.Dir(), kTable);
  const testing::RaisedError e = ErrorOf([&] { d.ReleaseTable(stray); });
  EXPECT_EQ(e.Code, ec::AccessDenied);
  TDataSession other;
  TDataDirectory& foreign = other.OpenDirectory("", dir_.Dir());
  EXPECT_EQ(engine_.ReleaseDirectory(&foreign), ec::AccessDenied);
  EXPECT_EQ(engine_.ReleaseDirectory(nullptr), ec::AccessDenied);
  EXPECT_EQ(engine_.DirectoryCount(), 1);
}

TEST_F(DataDirectoryTest, DeleteAndRenameOfAnOpenTableAreRefused) {
  CreateCatalogue(dir_.Dir(), "other.dat");
  TDataDirectory& d = engine_.OpenDirectory("", dir_.Dir());
  TDataTable& t = d.AcquireTable(kTable);
  testing::RaisedError e = ErrorOf([&] { d.DeleteTable("LinksData"); });
  EXPECT_EQ(e.Code, ec::AccessDenied);
  EXPECT_EQ(e.Message, "Access denied to table 'LinksData'");
  EXPECT_EQ(ErrorOf([&] { d.RenameTable(kTable, "renamed.dat"); }).Code, ec::AccessDenied);
  // Nor may another table be renamed onto the open one.
  EXPECT_EQ(ErrorOf([&] { d.RenameTable("other.dat", kTable); }).Code, ec::AccessDenied);
  EXPECT_TRUE(std::filesystem::exists(dir_.Dir() + "linksdata.DAT"));
  EXPECT_TRUE(std::filesystem::exists(dir_.Dir() + "other.DAT"));
  d.ReleaseTable(t);

  d.RenameTable(kTable, "renamed.dat");
  EXPECT_TRUE(std::filesystem::exists(dir_.Dir() + "renamed.DAT"));
  EXPECT_TRUE(std::filesystem::exists(dir_.Dir() + "renamed.IDX"));
  EXPECT_FALSE(std::filesystem::exists(dir_.Dir() + "linksdata.DAT"));
  d.DeleteTable("renamed.dat");
  EXPECT_FALSE(std::filesystem::exists(dir_.Dir() + "renamed.DAT"));
  EXPECT_FALSE(std::filesystem::exists(dir_.Dir() + "renamed.IDX"));
  EXPECT_FALSE(std::filesystem::exists(dir_.Dir() + "renamed.BLB"));
}

TEST_F(DataDirectoryTest, DirectoryObjectsByResolvedPath) {
  const std::string base = dir_.Dir();
  std::filesystem::create_directory(base + "sub");
  std::filesystem::create_directory_symlink(base + "sub", base + "link");
  TDataDirectory& a = engine_.OpenDirectory("", base + "sub");
  TDataDirectory& b = engine_.OpenDirectory("", "  " + base + "link/  ");
  TDataDirectory& c = engine_.OpenDirectory("", base + "sub/../sub/");
  EXPECT_EQ(&a, &b);
  EXPECT_EQ(&a, &c);
  EXPECT_EQ(a.UseCount(), 3);
  EXPECT_EQ(a.ResolvedPath(), Canonical(base + "sub"));
  EXPECT_EQ(a.Path(), base + "sub");
  EXPECT_EQ(&a.Session(), &engine_);

  EXPECT_EQ(engine_.ReleaseDirectory(&a), ec::OK);
  EXPECT_EQ(engine_.ReleaseDirectory(&a), ec::OK);
  EXPECT_EQ(engine_.DirectoryCount(), 1);
  EXPECT_EQ(engine_.ReleaseDirectory(&a), ec::OK);
  EXPECT_EQ(engine_.DirectoryCount(), 0);
}

TEST_F(DataDirectoryTest, EmptyPathIsTheWorkingDirectory) {
  TDataDirectory& a = engine_.OpenDirectory("", "");
  TDataDirectory& b = engine_.OpenDirectory("", "   ");
  EXPECT_EQ(&a, &b);
  EXPECT_EQ(a.ResolvedPath(), Canonical(engine_.WorkingDir()));
}

TEST_F(DataDirectoryTest, DirectoriesDifferingInCaseStayApart) {
  // Linux directories are case-sensitive: sharing one directory object would
  // hand one directory's tables to cursors of the other.
  const std::string base = dir_.Dir();
  std::filesystem::create_directory(base + "Data");
  std::filesystem::create_directory(base + "data");
  TDataDirectory& upper = engine_.OpenDirectory("", base + "Data");
  TDataDirectory& lower = engine_.OpenDirectory("", base + "data");
  EXPECT_NE(&upper, &lower);
}

TEST_F(DataDirectoryTest, UnresolvablePathStaysAsGiven) {
  TDataDirectory& d = engine_.OpenDirectory("alias", "/nonexistent/marrowick");
  EXPECT_EQ(d.ResolvedPath(), "/nonexistent/marrowick/");
  EXPECT_EQ(d.Alias(), "alias");
}

// ---------------------------------------------------------------------------
// Program databases

TEST(FormDatabaseTest, NameRules) {
  TTesselDatabase db;
  EXPECT_EQ(db.EngineVersion(), "2.00");
  EXPECT_TRUE(db.KeepConnection());
  EXPECT_EQ(db.Session(), &Sessions().DefaultSession());
  EXPECT_EQ(DatabaseErrorOf([&] { db.Open(); }), "Database name is missing.");
  EXPECT_EQ(DatabaseErrorOf([&] { db.SetDatabaseName("/tmp/data"); }), "Database name /tmp/data is not valid.");
  EXPECT_EQ(DatabaseErrorOf([&] { db.SetDatabaseName("c:data"); }), "Database name c:data is not valid.");
  db.SetDatabaseName("catalogue");
  TTesselDatabase second;
  EXPECT_EQ(DatabaseErrorOf([&] { second.SetDatabaseName("CATALOGUE"); }),
            "Database name CATALOGUE already exists.");
  // Handle-shared databases may share a name.
  db.SetHandleShared(true);
  second.SetHandleShared(true);
  second.SetDatabaseName("CATALOGUE");
  EXPECT_EQ(second.DatabaseName(), "CATALOGUE");
}

TEST(FormDatabaseTest, ConnectsToItsDirectoryUnderItsAlias) {
  TempDir dir;
  TTesselSession ses;
  ses.SetSessionName("formses");
  TTesselDatabase db;
  db.SetSessionName("formses");
  EXPECT_EQ(db.Session(), &ses);
  db.SetDatabaseName("catalogue");
  db.SetDirectory(dir.Dir());
  int beforeConnect = 0;
  db.BeforeConnect = [&](TTesselDatabase&) { ++beforeConnect; };
  db.Open();
  EXPECT_EQ(beforeConnect, 1);
  EXPECT_TRUE(ses.Active());
  ASSERT_NE(db.Handle(), nullptr);
  EXPECT_EQ(db.Handle()->Alias(), "catalogue");
  EXPECT_EQ(db.Handle()->ResolvedPath(), Canonical(dir.Dir()));
  EXPECT_EQ(&db.Handle()->Session(), ses.Handle());

  const std::string open = "Cannot perform this operation on an open database.";
  EXPECT_EQ(DatabaseErrorOf([&] { db.SetDatabaseName("other"); }), open);
  EXPECT_EQ(DatabaseErrorOf([&] { db.SetDirectory("/tmp"); }), open);
  EXPECT_EQ(DatabaseErrorOf([&] { db.SetSessionName("Default"); }), open);

  // A record set naming the alias uses this database.
  FakeRecordSet rs("formses", "CATALOGUE");
  rs.Open();
  EXPECT_EQ(rs.use.Database(), &db);
  EXPECT_EQ(db.RefCount(), 1);
  rs.Close();
  EXPECT_TRUE(db.Connected());  // KeepConnection
  db.SetKeepConnection(false);
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(ses.Handle()->DirectoryCount(), 0);

  // Without KeepConnection the last close disconnects; the database stays.
  rs.Open();
  EXPECT_TRUE(db.Connected());
  rs.Close();
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(ses.DatabaseCount(), 1);
}

TEST(FormDatabaseTest, DisconnectClosesItsRecordSets) {
  TempDir dir;
  TTesselSession ses;
  ses.SetSessionName("closing");
  TTesselDatabase db;
  db.SetSessionName("closing");
  db.SetDatabaseName("cat");
  db.SetDirectory(dir.Dir());
  FakeRecordSet a("closing", "cat");
  FakeRecordSet b("closing", "cat");
  a.Open();
  b.Open();
  b.use.SetFlag(TDatabaseUse::dbfFieldList, true, "closing", "cat");
  EXPECT_EQ(db.RefCount(), 2);
  db.Close();
  EXPECT_EQ(a.closedForDatabase, 1);
  EXPECT_EQ(b.closedForDatabase, 1);
  EXPECT_EQ(a.use.Database(), nullptr);
  // b kept a reason; it is let go all the same.
  EXPECT_EQ(b.use.Database(), nullptr);
  EXPECT_EQ(db.RefCount(), 0);
  EXPECT_EQ(db.DataSetCount(), 0);
  EXPECT_FALSE(db.Connected());
}

TEST(FormDatabaseTest, AnUnusedSessionMadeDatabaseGivesWayToAProgramDatabase) {
  TempDir dir;
  TTesselSession ses;
  ses.SetSessionName("giveway");
  FakeRecordSet rs("giveway", "alias1");
  rs.Open();
  TTesselDatabase db;
  db.SetSessionName("giveway");
  EXPECT_EQ(DatabaseErrorOf([&] { db.SetDatabaseName("alias1"); }), "Database name alias1 already exists.");
  rs.Close();  // KeepConnections keeps it, unused
  ASSERT_EQ(ses.DatabaseCount(), 2);
  db.SetDatabaseName("alias1");
  EXPECT_EQ(ses.DatabaseCount(), 1);
  EXPECT_EQ(&ses.Databases(0), &db);
}

TEST(FormDatabaseTest, HandleSharedDatabasesShareOneDirectory) {
  TempDir dir;
  TTesselSession ses;
  ses.SetSessionName("shared");
  TTesselDatabase a, b;
  for (TTesselDatabase* db : {&a, &b}) {
    db->SetSessionName("shared");
    db->SetHandleShared(true);
    db->SetDatabaseName("common");
  }
  a.SetDirectory(dir.Dir());
  a.Open();
  b.Open();
  EXPECT_EQ(a.Handle(), b.Handle());
  EXPECT_EQ(a.Handle()->UseCount(), 2);
  a.Close();
  ASSERT_NE(b.Handle(), nullptr);
  EXPECT_EQ(b.Handle()->UseCount(), 1);
  EXPECT_EQ(b.Handle()->ResolvedPath(), Canonical(dir.Dir()));
  b.Close();
  EXPECT_EQ(ses.Handle()->DirectoryCount(), 0);
}

TEST(FormDatabaseTest, OpenDatabasePrefersTheOwnersHandleSharedDatabase) {
  TempDir dir;
  TComponentOwner form;
  TTesselSession ses;
  ses.SetSessionName("owned");
  TTesselDatabase db(&form);
  db.SetSessionName("owned");
  db.SetHandleShared(true);
  db.SetDatabaseName("shr");
  db.SetDirectory(dir.Dir());
  FakeRecordSet rs("owned", "SHR", &form);
  rs.Open();
  EXPECT_EQ(rs.use.Database(), &db);
  rs.Close();
}

TEST(FormDatabaseTest, DeactivationDisconnectsProgramDatabasesAndFreesSessionMadeOnes) {
  TempDir dir;
  TTesselSession ses;
  ses.SetSessionName("ending");
  ses.SetKeepConnections(false);
  TTesselDatabase db;
  db.SetSessionName("ending");
  db.SetDatabaseName("cat");
  db.SetDirectory(dir.Dir());
  FakeRecordSet onForm("ending", "cat");
  FakeRecordSet onPath("ending", dir.Dir());
  onForm.Open();
  onPath.Open();
  EXPECT_EQ(ses.DatabaseCount(), 2);
  ses.SetActive(false);
  EXPECT_EQ(onForm.closedForDatabase, 1);
  EXPECT_EQ(onPath.closedForDatabase, 1);
  EXPECT_FALSE(db.Connected());
  ASSERT_EQ(ses.DatabaseCount(), 1);
  EXPECT_EQ(&ses.Databases(0), &db);
}

TEST(FormDatabaseTest, ADatabaseOutlivingItsSessionFindsItAgainByName) {
  TTesselDatabase db;
  {
    TTesselSession ses;
    ses.SetSessionName("shortlived");
    db.SetSessionName("shortlived");
    EXPECT_EQ(db.Session(), &ses);
  }
  EXPECT_EQ(db.Session(), nullptr);
  TTesselSession again;
  again.SetSessionName("shortlived");
  db.SetDatabaseName("x");
  db.SetDirectory("/tmp");
  db.Open();
  EXPECT_EQ(db.Session(), &again);
  db.Close();
}

TEST(FormDatabaseTest, UnknownSessionNameOnConnect) {
  TTesselDatabase db;
  db.SetSessionName("nobody");
  db.SetDatabaseName("x");
  EXPECT_EQ(DatabaseErrorOf([&] { db.Open(); }), "Session name nobody is not valid.");
  FakeRecordSet rs("nobody", "/tmp/");
  EXPECT_EQ(DatabaseErrorOf([&] { rs.Open(); }), "Session name nobody is not valid.");
  EXPECT_EQ(rs.use.Flags(), 0u);
}

}  // namespace
}  // namespace tessel
