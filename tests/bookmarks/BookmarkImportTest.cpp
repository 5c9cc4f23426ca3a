// Bookmarks into the catalogue: the plan (guessed categories, names cut or
// made from the host, addresses too long, in the catalogue or twice in the
// list), the import through the record set (one pass, progress, cancel,
// refusals, an error that stops it, the grid reading the table once), a
// file of 10,000 bookmarks, and the round trip through the "bookmarks"
// export of the sample catalogue.
#include <gtest/gtest.h>

#include "BookmarkTestSupport.h"
#include "bookmarks/BookmarkImport.h"
#include "bookmarks/BrowserProfiles.h"
#include "bookmarks/NetscapeFormat.h"
#include "export/ExportFile.h"
#include "grid/model/GridRowSource.h"
#include "grid/model/GridTestSupport.h"

namespace bookmarks {
namespace {

using namespace bookmarks::testing;
using grid::testing::TSite;

std::string Status(TBookmarkStatus s) {
  switch (s) {
    case TBookmarkStatus::New: return "new";
    case TBookmarkStatus::InCatalogue: return "in catalogue";
    case TBookmarkStatus::TwiceInList: return "twice";
    case TBookmarkStatus::UrlTooLong: return "too long";
  }
  return "?";
}

TBookmarkList SampleList() {
  TBookmarkList list;
  const std::string longUrl = "https://long.example/" + std::string(80, 'x');  // 101 bytes
  list.Add({"Bookmarks bar", "News"}, {"Daily", "https://daily.example/"});
  list.Add({"Bookmarks bar", "News"}, {"Old one", "https://old.example/"});
  list.Add({"Bookmarks bar", "News"}, {std::string(70, 'T') + "   end", "https://long-title.example/"});
  list.Add({"Bookmarks bar"}, {"", "https://user@host.example:8080/path"});
  list.Add({"Bookmarks bar"}, {"Daily again", "https://daily.example/"});
  list.Add({"Bookmarks bar"}, {"Too long", longUrl});
  list.Add({"Bookmarks bar"}, {"Trailing blank", "https://tb.example/ "});
  list.MissingUrl = 2;
  list.NotSites = 1;
  return list;
}

class ImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    grid::testing::CreateCatalogue(dir.Dir());
    grid::testing::FillCatalogue(dir.Dir(), {{"News", "https://old.example/", "Old"}});
    table = std::make_unique<grid::testing::TSiteTable>(dir.Dir());
    table->Table().Open();
  }
  tessel::TTesselTable& t() { return table->Table(); }

  grid::testing::TempDir dir;
  std::unique_ptr<grid::testing::TSiteTable> table;
  TCategoryGuesser guesser{grid::testing::Categories()};
};

TEST_F(ImportTest, PlanGuessesCutsAndFindsDuplicates) {
  TImportPlan plan = MakeImportPlan(SampleList(), guesser, CatalogueLookup(t()), "Personal");
  ASSERT_EQ(plan.Folders.size(), 2u);
  EXPECT_EQ(plan.Folders[0].PathText, "Bookmarks bar / News");
  EXPECT_EQ(plan.Folders[0].Category, "News");
  EXPECT_TRUE(plan.Folders[0].Guess.has_value());
  EXPECT_EQ(plan.Folders[1].Category, "Personal");  // the fallback
  EXPECT_FALSE(plan.Folders[1].Guess.has_value());
  EXPECT_EQ(plan.Folders[1].Bookmarks, 4);
  std::vector<std::string> lines;
  for (const TPlannedBookmark& b : plan.Bookmarks) lines.push_back(b.Name + "|" + b.Url + "|" + Status(b.Status));
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Daily|https://daily.example/|new",
                       "Old one|https://old.example/|in catalogue",
                       std::string(60, 'T') + "|https://long-title.example/|new",
                       "host.example|https://user@host.example:8080/path|new",
                       "Daily again|https://daily.example/|twice",
                       "Too long|https://long.example/" + std::string(80, 'x') + "|too long",
                       "Trailing blank|https://tb.example/ |new",
                   }));
  EXPECT_EQ(plan.Count(TBookmarkStatus::New), 4);
  EXPECT_EQ(plan.MissingUrl, 2);
  EXPECT_EQ(plan.NotSites, 1);
  // The caller's choices: a folder left out, a bookmark left out.
  plan.Folders[1].Category = "";
  plan.Bookmarks[0].Chosen = false;
  std::vector<TSiteToImport> sites = plan.SitesToImport();
  ASSERT_EQ(sites.size(), 1u);
  EXPECT_EQ(sites[0].Url, "https://long-title.example/");
  EXPECT_EQ(sites[0].Category, "News");
}

TEST_F(ImportTest, InsertsInOnePassWithProgressAndRefusals) {
  auto grid = grid::testing::ProgramGrid(table.get());
  std::vector<TSiteToImport> sites = {
      {"News", "Daily", "https://daily.example/"},
      {"News", "Old", "https://old.example/"},                     // in the catalogue
      {"Health", std::string(70, 'n'), "https://long-name.example/"},  // name cut to 60
      {"Science", "Long", "https://l.example/" + std::string(90, 'x')},
      {"A category longer than thirty letters", "Cat", "https://cat.example/"},
      {"News", "Daily twice", "https://daily.example/"},            // inserted just before
  };
  std::vector<std::pair<int, int>> calls;
  TImportResult result = ImportSites(t(), sites, [&](int done, int total) {
    calls.emplace_back(done, total);
    return true;
  });
  EXPECT_EQ(result.Inserted, 3);
  EXPECT_FALSE(result.Cancelled);
  EXPECT_TRUE(result.Error.empty()) << result.Error;
  ASSERT_EQ(result.Refused.size(), 3u);
  EXPECT_EQ(result.Refused[0].Url, "https://old.example/");
  EXPECT_EQ(result.Refused[0].Why, TBookmarkStatus::InCatalogue);
  EXPECT_EQ(result.Refused[1].Why, TBookmarkStatus::UrlTooLong);
  EXPECT_EQ(result.Refused[2].Url, "https://daily.example/");
  ASSERT_EQ(calls.size(), 7u);
  EXPECT_EQ(calls.front(), std::make_pair(0, 6));
  EXPECT_EQ(calls.back(), std::make_pair(6, 6));

  std::vector<TSite> stored = grid::testing::ReadSites(dir.Dir());
  ASSERT_EQ(stored.size(), 4u);
  EXPECT_EQ(stored[0].url, "https://cat.example/");
  EXPECT_EQ(stored[0].type, "A category longer than thirty");  // cut, blank dropped
  EXPECT_EQ(stored[2].name, std::string(60, 'n'));
  // The grid, whose record set's controls were off meanwhile, shows every
  // site, and its focus is on the current record.
  // (New rows go to the end of their groups, as in any refresh.)
  std::vector<std::string> lines = grid::testing::TreeLines(*grid), model = grid::testing::ModelLines(stored);
  std::sort(lines.begin(), lines.end());
  std::sort(model.begin(), model.end());
  EXPECT_EQ(lines, model);
  EXPECT_TRUE(grid::testing::FocusOnCurrentRecord(*grid, t()));
}

TEST_F(ImportTest, CancelKeepsWhatWasInsertedAndAnErrorStopsTheImport) {
  std::vector<TSiteToImport> sites;
  for (int i = 0; i < 5; ++i) sites.push_back({"News", "S" + std::to_string(i), "https://s" + std::to_string(i) + ".example/"});
  TImportResult cancelled = ImportSites(t(), sites, [](int done, int) { return done < 2; });
  EXPECT_TRUE(cancelled.Cancelled);
  EXPECT_EQ(cancelled.Inserted, 2);
  EXPECT_EQ(cancelled.NotReached, 3);
  EXPECT_EQ(grid::testing::ReadSites(dir.Dir()).size(), 3u);
  EXPECT_EQ(t().State(), dataset::dsBrowse);

  // The rest, with the first two refused as there already.
  TImportResult rest = ImportSites(t(), sites);
  EXPECT_EQ(rest.Inserted, 3);
  EXPECT_EQ(rest.Refused.size(), 2u);

  // A table opened read-only: the first insert fails, nothing is half
  // done, and the error is told.
  t().Close();
  t().SetReadOnly(true);
  t().Open();
  TImportResult failed = ImportSites(t(), {{"News", "X", "https://x.example/"}, {"News", "Y", "https://y.example/"}});
  EXPECT_EQ(failed.Inserted, 0);
  EXPECT_FALSE(failed.Error.empty());
  EXPECT_EQ(failed.NotReached, 2);
  EXPECT_EQ(t().State(), dataset::dsBrowse);
  EXPECT_EQ(grid::testing::ReadSites(dir.Dir()).size(), 6u);
}

TEST(ImportManyTest, TenThousandBookmarksFromAFile) {
  TScratch scratch;
  const std::string file = scratch.Write("bookmarks.html", ManyBookmarks(100, 100));
  TBookmarkList list = ReadBookmarkFile(file);
  ASSERT_EQ(list.BookmarkCount(), 10000);
  grid::testing::TempDir dir;
  grid::testing::CreateCatalogue(dir.Dir());
  // A session that writes back at close, as a bulk load would.
  tessel::TTesselSession session;
  session.SetSessionName("bulk");
  session.SetForceBufferFlush(false);
  session.SetKeepConnections(false);
  tessel::TTesselTable table;
  table.SetSessionName("bulk");
  table.SetIndexFieldNames("siteurl");
  table.SetTableName(dir.Dir() + "linksdata.dat");
  table.SetExclusive(true);
  table.Open();
  TImportPlan plan =
      MakeImportPlan(list, TCategoryGuesser(grid::testing::Categories()), CatalogueLookup(table), "Reference");
  EXPECT_EQ(plan.Count(TBookmarkStatus::New), 10000);
  TImportResult result = ImportSites(table, plan.SitesToImport());
  EXPECT_EQ(result.Inserted, 10000);
  table.Close();
  std::vector<TSite> stored = grid::testing::ReadSites(dir.Dir(), "bulk");
  ASSERT_EQ(stored.size(), 10000u);
  EXPECT_EQ(stored.front().url, "https://site0-0.example/");
  EXPECT_EQ(stored.front().type, "Reference");
  EXPECT_EQ(stored.front().name, "Site 0.0");
}

// The sample catalogue written as bookmarks (the URL column hidden, the
// groups collapsed, a quick find set) and read into an empty catalogue:
// every site comes back under its category with its name and URL.
TEST(RoundTripTest, SampleCatalogueThroughABookmarkFile) {
  grid::testing::TempDir source;
  grid::testing::MakeSampleCatalogue(source.Dir());
  TScratch scratch;
  const std::string file = scratch.Path("sites.html");
  std::vector<TSite> sites;
  {
    grid::testing::TSiteTable table(source.Dir());
    sites = grid::testing::ReadSites(source.Dir());
    ASSERT_EQ(sites.size(), 66u);
    table.Table().Open();
    auto grid = grid::testing::ProgramGrid(&table);
    grid->FindColumn("SiteUrl")->SetVisible(false);
    grid->SetFilterText("museum");
    grid::TGridRowSource rows(*grid);
    exports::ExportToFile(rows, file, exports::TExportFormat::Bookmarks, marrowick::platform::TStandardColorScheme());
  }
  grid::testing::TempDir target;
  grid::testing::CreateCatalogue(target.Dir());
  grid::testing::TSiteTable table(target.Dir(), "target");
  table.Table().Open();
  TImportPlan plan = MakeImportPlan(ReadBookmarkFile(file), TCategoryGuesser(grid::testing::Categories()),
                                    CatalogueLookup(table.Table()), "Personal");
  for (const TPlannedFolder& folder : plan.Folders) EXPECT_TRUE(folder.Guess.has_value()) << folder.PathText;
  TImportResult result = ImportSites(table.Table(), plan.SitesToImport());
  EXPECT_EQ(result.Inserted, 66);
  EXPECT_TRUE(result.Refused.empty());
  table.Table().Close();
  std::vector<TSite> back = grid::testing::ReadSites(target.Dir(), "target");
  ASSERT_EQ(back.size(), sites.size());
  for (std::size_t i = 0; i < sites.size(); ++i) {
    EXPECT_EQ(back[i].url, sites[i].url);
    EXPECT_EQ(back[i].type, sites[i].type) << sites[i].url;
    EXPECT_EQ(back[i].name, sites[i].name) << sites[i].url;
  }
  // Importing the same file again adds nothing.
  grid::testing::TSiteTable again(target.Dir(), "again");
  again.Table().Open();
  TImportPlan second = MakeImportPlan(ReadBookmarkFile(file), TCategoryGuesser(grid::testing::Categories()),
                                      CatalogueLookup(again.Table()), "Personal");
  EXPECT_EQ(second.Count(TBookmarkStatus::InCatalogue), 66);
  EXPECT_TRUE(second.SitesToImport().empty());
}

}  // namespace
}  // namespace bookmarks
