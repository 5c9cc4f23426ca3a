// A cursor opened straight on an index (SetOpenIndexChooser): it stands
// where a cursor opened on index 0 stands after SelectIndex, without reading
// the records in physical order first; and the files are opened under their
// exact names with no look-up first.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/cursor/CursorTestSupport.h"
#include "engine/storage/MemoryFile.h"

namespace tessel::testing {
namespace {

std::string Url(int i) { return "https://site" + std::to_string(100000 + (i * 7919) % 1000) + ".example"; }

void FillSites(CursorEnvironment& env, int count) {
  env.Create("sites", SitesStructure());
  auto writer = env.Open("sites");
  for (int i = 0; i < count; ++i) AddSite(*writer, Url(i), "n" + std::to_string(i));
  writer->Close();
}

std::unique_ptr<TDataCursor> OpenOn(CursorEnvironment& env, const std::string& index) {
  auto cursor = std::make_unique<TDataCursor>(env.Directory());
  cursor->SetTableName("sites");
  cursor->SetOpenIndexChooser([index](TDataCursor&) { return index; });
  cursor->Open();
  return cursor;
}

TEST(CursorOpenOnIndex, StandsOnTheChosenIndexLikeASelectionAfterTheOpen) {
  CursorEnvironment env;
  FillSites(env, 600);

  auto chosen = OpenOn(env, "SITEURL");
  EXPECT_EQ(chosen->CurrentIndexName(), "siteurl");
  EXPECT_FALSE(chosen->PhysicalOrder());
  EXPECT_FALSE(chosen->BitmapMode());
  EXPECT_TRUE(chosen->Bof());
  EXPECT_FALSE(chosen->Eof());
  EXPECT_EQ(chosen->RecordCount(), 600);
  // Only the first record in key order was read, no run of slots in
  // physical order, and the read lock of the open is given back.
  EXPECT_EQ(chosen->Table()->Data().CachedRecordCount(), 1u);
  EXPECT_FALSE(chosen->Table()->HoldsReadLock());
  const std::vector<std::string> viaChooser = Texts(*chosen, "siteurl");
  chosen->Close();

  auto selected = env.Open("sites", "siteurl");
  EXPECT_EQ(Texts(*selected, "siteurl"), viaChooser);
  ASSERT_EQ(viaChooser.size(), 600u);
  EXPECT_TRUE(std::is_sorted(viaChooser.begin(), viaChooser.end()));

  // A second cursor on the shared table opens the same way.
  auto second = OpenOn(env, "siteurl");
  EXPECT_EQ(second->Table(), selected->Table());
  EXPECT_EQ(Texts(*second, "siteurl"), viaChooser);
}

TEST(CursorOpenOnIndex, TheChooserCanAskForThePhysicalOrderOfIndexZero) {
  CursorEnvironment env;
  FillSites(env, 20);
  auto cursor = OpenOn(env, "");
  EXPECT_TRUE(cursor->PhysicalOrder());
  EXPECT_TRUE(cursor->BitmapMode());
  EXPECT_EQ(cursor->RecordCount(), 20);
  Row row(*cursor);
  ASSERT_EQ(cursor->GetNext(row.data()), 0);
  EXPECT_EQ(row.Text("siteurl"), Url(0));
}

TEST(CursorOpenOnIndex, AnUnknownIndexOrAFailingChooserFailsTheOpenAndReleasesTheTable) {
  CursorEnvironment env;
  FillSites(env, 5);
  TDataCursor cursor(env.Directory());
  cursor.SetTableName("sites");
  cursor.SetOpenIndexChooser([](TDataCursor&) { return std::string("nosuch"); });
  const auto unknown = ErrorOf([&] { cursor.Open(); });
  EXPECT_EQ(unknown.Code, ec::InvalidIndexName);
  EXPECT_FALSE(cursor.IsOpen());
  EXPECT_EQ(env.Directory().TableCount(), 0);

  cursor.SetOpenIndexChooser([](TDataCursor&) -> std::string { throw std::runtime_error("no index wanted"); });
  EXPECT_THROW(cursor.Open(), std::runtime_error);
  EXPECT_FALSE(cursor.IsOpen());
  EXPECT_EQ(env.Directory().TableCount(), 0);

  // After the failures the table opens, unlocked, for the next cursor.
  cursor.SetOpenIndexChooser([](TDataCursor& c) { return c.Indexes().back().Name; });
  cursor.Open();
  EXPECT_EQ(cursor.CurrentIndexName(), "siteurl");
  EXPECT_FALSE(cursor.Table()->HoldsReadLock());
  EXPECT_EQ(Texts(cursor, "siteurl").size(), 5u);
}

TEST(CursorOpenOnIndex, AnEncryptedTableStillAsksForItsPasswordOutsideTheReadLock) {
  CursorEnvironment env;
  TTableStructure s = NumbersStructure();
  s.Encrypted = true;
  s.Password = "Secret7";
  env.Create("locked", s);
  TDataCursor cursor(env.Directory());
  cursor.SetTableName("locked");
  bool lockedWhileAsked = true;
  cursor.SetPasswordRequest([&] {
    lockedWhileAsked = env.Directory().FindTable("locked", false)->HoldsReadLock();
    env.Session().AddPassword("Secret7");
    return true;
  });
  cursor.SetOpenIndexChooser([](TDataCursor&) { return std::string("byname"); });
  cursor.Open();
  EXPECT_FALSE(lockedWhileAsked);
  EXPECT_EQ(cursor.CurrentIndexName(), "byname");
  EXPECT_TRUE(cursor.Eof() && cursor.Bof());  // empty
}

// A file system that counts the look-ups an open makes, and whose files
// may be written or not, as their attribute says.
struct TFileListHolder {
  TMemoryFileList list;
};

class TCountingFiles : private TFileListHolder, public TMemoryFileSystem {
 public:
  TCountingFiles() : TMemoryFileSystem(list) {}
  int OpenFile(const std::string& path, const TFileOpenOptions& options, std::unique_ptr<TFile>& file) override {
    ++opens;
    if (options.Write && !writable) return EACCES;
    return TMemoryFileSystem::OpenFile(path, options, file);
  }
  int Exists(const std::string& path) override {
    ++existsAsked;
    return TMemoryFileSystem::Exists(path);
  }
  int ListDirectory(const std::string& directory, std::vector<std::string>& names) override {
    ++listings;
    return TMemoryFileSystem::ListDirectory(directory, names);
  }
  bool IsWritable(const std::string&) override { return writable; }
  void Reset() { opens = existsAsked = listings = 0; }
  bool writable = true;
  int opens = 0;
  int existsAsked = 0;
  int listings = 0;
};

TEST(CursorOpenOnIndex, FilesAreOpenedUnderTheirExactNameWithoutALookUpFirst) {
  auto files = std::make_shared<TCountingFiles>();
  TDataSession session;
  session.SetFileSystem(files);
  TDataDirectory& directory = session.OpenDirectory("", "/tables");
  {
    TTableStructure s = SitesStructure();
    TDataTable::CheckStructure(s, true, "sites");
    TDataTable table("/tables/", "sites", files);
    table.CreateFiles(s);
    table.CloseFiles();
  }
  auto open = [&](const std::string& name) {
    auto cursor = std::make_unique<TDataCursor>(directory);
    cursor->SetTableName(name);
    cursor->Open();
    return cursor;
  };

  files->Reset();
  open("sites").reset();
  EXPECT_EQ(files->opens, 3);
  EXPECT_EQ(files->listings, 0);
  EXPECT_EQ(files->existsAsked, 1);  // whether the table has its BLOB file

  // The store finds names without regard to case; a file system that does
  // not (the operating system's) is listed once per file that misses.
  files->Reset();
  auto reader = open("SITES");
  EXPECT_EQ(files->listings, 0);
  EXPECT_FALSE(reader->FilesReadOnly());
  reader.reset();

  files->writable = false;
  files->Reset();
  auto refused = open("sites");
  EXPECT_TRUE(refused->ReadOnly());
  EXPECT_TRUE(refused->FilesReadOnly());
  EXPECT_EQ(files->opens, 3);  // each file opened read-only at once
  refused.reset();
  session.ReleaseDirectory(&directory);
}

}  // namespace
}  // namespace tessel::testing
