#include <gtest/gtest.h>

#include "engine/cursor/CursorFilter.h"
#include "engine/cursor/CursorTestSupport.h"

namespace tessel::testing {
namespace {

class Filters : public ::testing::Test {
 protected:
  void SetUp() override {
    env.Create("sites", SitesStructure());
    auto c = env.Open("sites");
    const char* urls[] = {"http://b.org", "http://a.org", "https://c.net", "http://d.org"};
    const char* names[] = {"Bee", "Ant", "Cat", "Dog"};
    for (int i = 0; i < 4; ++i) AddSite(*c, urls[i], names[i]);
    Row row(*c);
    row.Set("siteurl", "ftp://e.org").Set("sitename", "Eel");  // no sitetype
    c->InsertRecord(row.data());
  }
  CursorEnvironment env;
};

TEST_F(Filters, ExpressionTermsCaseAndPartialMatches) {
  auto c = env.Open("sites");
  TFilter* f = c->AddFilter(TExpressionFilter::Parse(*c, "sitename = 'cat'", {true, false}));
  c->ActivateFilter(f);
  EXPECT_TRUE(c->Filtered());
  EXPECT_EQ(c->RecordCount(), 1);
  EXPECT_EQ(Texts(*c, "siteurl"), (std::vector<std::string>{"https://c.net"}));
  c->DropFilter(f);
  EXPECT_EQ(c->RecordCount(), 5);

  TFilter* partial = c->AddFilter(TExpressionFilter::Parse(*c, "siteurl = 'http://' and sitetype = \"web\"",
                                                           {false, true}));
  c->ActivateFilter(partial);
  EXPECT_EQ(Texts(*c, "sitename"), (std::vector<std::string>{"Bee", "Ant", "Dog"}));
  c->DeactivateFilter(partial);

  TFilter* nulls = c->AddFilter(TExpressionFilter::Parse(*c, "[sitetype] = NULL"));
  c->ActivateFilter(nulls);
  EXPECT_EQ(Texts(*c, "sitename"), (std::vector<std::string>{"Eel"}));
}

TEST_F(Filters, BadExpressionsAndForeignHandles) {
  auto c = env.Open("sites");
  EXPECT_EQ(ErrorOf([&] { TExpressionFilter::Parse(*c, "nosuch = 'x'"); }).Code, ec::FilterError);
  EXPECT_EQ(ErrorOf([&] { TExpressionFilter::Parse(*c, "sitename = 'x"); }).Code, ec::FilterError);
  EXPECT_EQ(ErrorOf([&] { TExpressionFilter::Parse(*c, "sitename 'x'"); }).Code, ec::FilterError);
  TExpressionFilter loose({}, {});
  EXPECT_EQ(ErrorOf([&] { c->ActivateFilter(&loose); }).Code, ec::InvalidFilterHandle);
}

TEST_F(Filters, FilterInIndexOrderSkipsEntriesButCountsThemInRecordNumbers) {
  auto c = env.Open("sites", "siteurl");
  // ftp://e, http://a, http://b, http://d, https://c
  TFilter* f = c->AddFilter(std::make_unique<TCallbackFilter>([&](const uint8_t* image) {
    Row row(*c);
    std::memcpy(row.data(), image, c->RecordSize());
    const std::string name = row.Text("sitename").value_or("");
    return name == "Ant" || name == "Dog";
  }));
  c->ActivateFilter(f);
  EXPECT_EQ(c->RecordCount(), 2);
  Row row(*c);
  c->GotoFirst();
  ASSERT_EQ(c->GetNext(row.data()), 0);
  EXPECT_EQ(row.Text("sitename"), "Ant");
  EXPECT_EQ(c->RecordNumber(), 2);  // rank in the index
  ASSERT_EQ(c->GetNext(row.data()), 0);
  EXPECT_EQ(row.Text("sitename"), "Dog");
  EXPECT_EQ(c->RecordNumber(), 4);
  EXPECT_EQ(c->GetNext(row.data()), ec::EndOfFile);
  ASSERT_EQ(c->GetPrior(row.data()), 0);
  EXPECT_EQ(row.Text("sitename"), "Dog");

  // A record written through the cursor is judged by the filter.
  Row added(*c);
  added.Set("siteurl", "http://ant2.org").Set("sitename", "Ant");
  c->InsertRecord(added.data());
  EXPECT_EQ(c->RecordCount(), 3);
  Row current(*c);
  ASSERT_EQ(c->GetCurrent(current.data()), 0);
  EXPECT_EQ(current.Text("siteurl"), "http://ant2.org");

  // Switching the filter off keeps the cursor on its record.
  c->DeactivateFilter(f);
  EXPECT_EQ(c->RecordCount(), 6);
  ASSERT_EQ(c->GetCurrent(current.data()), 0);
  EXPECT_EQ(current.Text("siteurl"), "http://ant2.org");
}

TEST_F(Filters, CloneCarriesIndexRangeFiltersAndRecord) {
  auto c = env.Open("sites", "siteurl");
  TFilter* f = c->AddFilter(TExpressionFilter::Parse(*c, "sitetype = 'web'"));
  c->ActivateFilter(f);
  Row key(*c);
  key.Set("siteurl", "http://b.org");
  ASSERT_TRUE(c->FindKey(key.data()));
  auto clone = c->Clone();
  EXPECT_EQ(clone->CurrentIndexName(), "siteurl");
  EXPECT_EQ(clone->RecordCount(), 4);
  Row row(*clone);
  ASSERT_EQ(clone->GetCurrent(row.data()), 0);
  EXPECT_EQ(row.Text("sitename"), "Bee");
  EXPECT_EQ(c->Table(), clone->Table());  // one shared table object
}

}  // namespace
}  // namespace tessel::testing
