// The window's site table: the session and record set as the program sets
// them up, on a real catalogue table in a temporary directory.
#include "app/SiteRecordSet.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "dataset/Variant.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/TableTestSupport.h"

namespace marrowick {
namespace {

namespace fs = std::filesystem;

class SiteRecordSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/site-recordset-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = std::string(tmpl) + "/";
    tessel::TTableStructure s = tessel::testing::CatalogueStructure();
    tessel::TDataTable::CheckStructure(s, true, "linksdata");
    tessel::TDataTable t(dir_, "linksdata");
    t.CreateFiles(s);
    t.FlushTable(false, true, true);
    t.CloseFiles(true);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string dir_;
};

TEST_F(SiteRecordSetTest, OpensAddsAndKeepsSites) {
  {
    TSiteRecordSet sites;
    sites.SetTableName(dir_ + "linksdata.dat");  // found whatever the case of the extension
    sites.SetActive(true);
    ASSERT_TRUE(sites.Active());
    auto& table = sites.Table();
    EXPECT_EQ(table.RecordCount(), 0);

    table.Append();
    table.FieldByName("sitetype").SetAsString("News");
    table.FieldByName("sitename").SetAsString("BBC News");
    table.FieldByName("siteurl").SetAsString("https://www.bbc.com/news");
    table.FieldByName("note").SetAsString("World and UK news.");
    table.Post();
    EXPECT_EQ(table.RecordCount(), 1);

    // A site without a URL is refused before the engine is reached.
    table.Append();
    table.FieldByName("sitename").SetAsString("Nameless");
    try {
      table.Post();
      ADD_FAILURE() << "posted without a URL";
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), "Field 'siteurl' must have a value");
    }
    table.Cancel();
    sites.SetActive(false);
    EXPECT_FALSE(sites.Active());
  }
  TSiteRecordSet again;
  again.SetTableName(dir_ + "linksdata.dat");
  again.SetActive(true);
  auto& table = again.Table();
  ASSERT_EQ(table.RecordCount(), 1);
  table.First();
  EXPECT_EQ(table.FieldByName("siteurl").AsString(), "https://www.bbc.com/news");
  EXPECT_EQ(table.FieldByName("note").AsString(), "World and UK news.");
  EXPECT_TRUE(table.FieldByName("login").Value().IsNull());
}

TEST_F(SiteRecordSetTest, ClosedTableRefusesWork) {
  TSiteRecordSet sites;
  try {
    sites.Table().Append();
    ADD_FAILURE() << "appended to a closed table";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Cannot perform this operation on a closed dataset");
  }
}

}  // namespace
}  // namespace marrowick
