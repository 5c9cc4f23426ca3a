// The record set's navigation and editing cycle over the in-memory
// descendant: BOF/EOF operation by operation, the window of buffers, the
// platform messages, searching, bookmarks and memo fields.
#include <gtest/gtest.h>

#include "MemDataSet.h"

namespace {

using namespace dataset;
using namespace dataset_test;

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no error";
}

std::vector<TColumn> SiteColumns() {
  return {{"sitetype", ftString, 30}, {"siteurl", ftString, 100}, {"sitename", ftString, 60},
          {"login", ftString, 30},    {"password", ftString, 30}, {"note", ftMemo}};
}

// The site table as the application declares it: persistent fields, the URL
// required.
class SiteTableTest : public ::testing::Test {
 protected:
  SiteTableTest() : ds(SiteColumns()) {
    ds.AddField<TStringField>("sitetype", 30);
    ds.AddField<TStringField>("siteurl", 100).SetRequired(true);
    ds.AddField<TStringField>("sitename", 60);
    ds.AddField<TStringField>("login", 30);
    ds.AddField<TStringField>("password", 30);
    ds.AddField<TMemoField>("note");
  }
  void AddSites(int count) {
    for (int i = 1; i <= count; ++i) {
      ds.AddTextRow({"News", "http://s" + std::to_string(i), "Site " + std::to_string(i)});
    }
  }
  std::string Url() { return ds.FieldByName("siteurl").AsString(); }
  // "B", "E", "BE" or "" for the flags.
  std::string Flags() { return std::string(ds.Bof() ? "B" : "") + (ds.Eof() ? "E" : ""); }

  TMemDataSet ds;
  TDataSource source;
};

TEST_F(SiteTableTest, FlagsWhileBrowsing) {
  AddSites(3);
  ds.Open();
  EXPECT_EQ(Flags(), "B");
  EXPECT_EQ(Url(), "http://s1");
  EXPECT_EQ(ds.RecNo(), 1);
  ds.Next();
  EXPECT_EQ(Flags(), "");
  ds.Next();
  EXPECT_EQ(Flags(), "");
  ds.Next();  // at the last record: no move, EOF
  EXPECT_EQ(Flags(), "E");
  EXPECT_EQ(Url(), "http://s3");
  ds.Prior();
  EXPECT_EQ(Flags(), "");
  ds.Prior();
  ds.Prior();
  EXPECT_EQ(Flags(), "B");
  EXPECT_EQ(Url(), "http://s1");
  ds.Last();
  EXPECT_EQ(Flags(), "E");
  EXPECT_EQ(Url(), "http://s3");
  EXPECT_EQ(ds.MoveBy(-5), -2);
  EXPECT_EQ(Flags(), "B");
  EXPECT_EQ(ds.MoveBy(1), 1);
  EXPECT_EQ(Flags(), "");
  ds.First();
  EXPECT_EQ(Flags(), "B");
  ds.SetRecNo(3);
  EXPECT_EQ(Url(), "http://s3");

  // Returning to a bookmark clears both flags; a Prior at the first record
  // sets BOF again without moving (how a grid restores the flags).
  ds.First();
  TBookmark first = ds.Bookmark();
  ds.Last();
  ds.GotoBookmark(first);
  EXPECT_EQ(Flags(), "");
  ds.Prior();
  EXPECT_EQ(Flags(), "B");
  EXPECT_EQ(Url(), "http://s1");
}

TEST_F(SiteTableTest, FlagsOfAnEmptyTable) {
  ds.Open();
  EXPECT_EQ(Flags(), "BE");
  EXPECT_TRUE(ds.IsEmpty());
  ds.First();
  EXPECT_EQ(Flags(), "BE");
  ds.Last();
  EXPECT_EQ(Flags(), "BE");
  EXPECT_EQ(ds.MoveBy(1), 0);
  EXPECT_EQ(ErrorOf([&] { ds.Delete(); }), "Cannot perform this operation on an empty dataset");
  EXPECT_TRUE(ds.FieldByName("siteurl").Value().IsNull());
}

TEST_F(SiteTableTest, AppendKeepsEofUntilPosted) {
  AddSites(2);
  ds.Open();
  ds.Append();
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_EQ(Flags(), "E");
  EXPECT_EQ(ds.RecNo(), -1);
  ds.FieldByName("siteurl").SetAsString("http://new");
  ds.FieldByName("sitetype").SetValue(Variant("Arts & Humanities"));
  ds.Post();
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(Flags(), "");
  EXPECT_EQ(Url(), "http://new");
  EXPECT_EQ(ds.RecNo(), 3);
  ASSERT_EQ(ds.Rows().size(), 3u);
  EXPECT_EQ(ds.StoredText(2, 0), "Arts & Humanities");
  EXPECT_EQ(ds.StoredText(2, 2), std::nullopt);

  ds.Append();
  ds.Cancel();
  EXPECT_EQ(Url(), "http://new");
  EXPECT_EQ(ds.Rows().size(), 3u);
}

TEST_F(SiteTableTest, InsertGoesBeforeTheCurrentRecord) {
  AddSites(3);
  ds.Open();
  ds.Next();
  ds.Insert();
  EXPECT_EQ(ds.State(), dsInsert);
  ds.FieldByName("siteurl").SetAsString("http://mid");
  ds.Post();
  EXPECT_EQ(Url(), "http://mid");
  EXPECT_EQ(ds.StoredText(1, 1), "http://mid");
  EXPECT_EQ(ds.StoredText(2, 1), "http://s2");
  ds.Next();
  EXPECT_EQ(Url(), "http://s2");
}

TEST_F(SiteTableTest, DeleteRereadsAroundTheCurrentRecord) {
  AddSites(2);
  ds.Open();
  ds.Delete();
  EXPECT_EQ(Flags(), "");
  EXPECT_EQ(Url(), "http://s2");
  ds.Delete();
  EXPECT_EQ(Flags(), "BE");
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Rows().empty());
}

TEST_F(SiteTableTest, EditAndPostOrCancel) {
  AddSites(2);
  ds.Open();
  ds.Next();
  ds.Edit();
  EXPECT_EQ(ds.State(), dsEdit);
  ds.FieldByName("sitename").SetAsString("Renamed");
  EXPECT_TRUE(ds.Modified());
  EXPECT_EQ(ds.FieldByName("sitename").OldValue().IsNull(), true);  // no old-value store here
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("sitename").AsString(), "Site 2");
  ds.Edit();
  ds.FieldByName("sitename").SetAsString("Renamed");
  ds.Post();
  EXPECT_EQ(ds.StoredText(1, 2), "Renamed");
  EXPECT_EQ(ds.FieldByName("sitename").AsString(), "Renamed");
  EXPECT_EQ(ds.RecNo(), 2);
}

TEST_F(SiteTableTest, MovingPostsAModifiedRecordAndDropsAnUntouchedOne) {
  AddSites(2);
  ds.Open();
  ds.Edit();
  ds.FieldByName("login").SetAsString("me");
  ds.Next();
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.StoredText(0, 3), "me");

  ds.Append();  // nothing assigned: leaving it cancels it
  ds.First();
  EXPECT_EQ(ds.Rows().size(), 2u);
  EXPECT_EQ(Url(), "http://s1");
}

TEST_F(SiteTableTest, RequiredFieldStopsThePost) {
  ds.Open();
  TRecordingLink link;
  source.SetDataSet(&ds);
  link.SetDataSource(&source);
  ds.Append();
  ds.FieldByName("sitename").SetAsString("No URL");
  link.log.clear();
  EXPECT_EQ(ErrorOf([&] { ds.Post(); }), "Field 'siteurl' must have a value");
  EXPECT_EQ(link.Take(), "update, check, focus siteurl");
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_EQ(ds.FieldByName("sitename").AsString(), "No URL");
  EXPECT_TRUE(ds.Rows().empty());
  ds.FieldByName("siteurl").SetAsString("http://x");
  ds.Post();
  EXPECT_EQ(ds.Rows().size(), 1u);
}

TEST_F(SiteTableTest, StateMessages) {
  AddSites(1);
  EXPECT_EQ(ErrorOf([&] { ds.First(); }), "Cannot perform this operation on a closed dataset");
  EXPECT_EQ(ErrorOf([&] { ds.RecordCount(); }), "Cannot perform this operation on a closed dataset");
  EXPECT_EQ(ErrorOf([&] { ds.Delete(); }), "Cannot perform this operation on a closed dataset");
  EXPECT_EQ(ErrorOf([&] { ds.Edit(); }), "Cannot perform this operation on a closed dataset");
  ds.Open();
  EXPECT_EQ(ErrorOf([&] { ds.Post(); }), "Dataset not in edit or insert mode");
  EXPECT_EQ(ErrorOf([&] { ds.FieldByName("siteurl").SetAsString("x"); }),
            "Dataset not in edit or insert mode");
  EXPECT_EQ(ErrorOf([&] { ds.FieldByName("note").SetAsString("x"); }),
            "Dataset not in edit or insert mode");
  ds.FieldByName("login").SetReadOnly(true);
  ds.Edit();
  EXPECT_EQ(ErrorOf([&] { ds.FieldByName("login").SetAsString("x"); }),
            "Field 'login' cannot be modified");
  ds.Cancel();
  ds.SetReadOnly(true);
  EXPECT_FALSE(ds.FieldByName("siteurl").CanModify());
  for (auto op : {&TDataSet::Append, &TDataSet::Edit, &TDataSet::Delete, &TDataSet::Insert}) {
    EXPECT_EQ(ErrorOf([&] { (ds.*op)(); }), "Cannot modify a read-only dataset");
  }
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.RecordCount(), 1);
}

TEST_F(SiteTableTest, WindowFollowsTheLargestLink) {
  AddSites(6);
  TRecordingLink wide, narrow;
  source.SetDataSet(&ds);
  wide.SetBufferCount(3);
  wide.SetDataSource(&source);
  narrow.SetDataSource(&source);
  ds.Open();
  EXPECT_EQ(wide.RecordCount(), 3);
  EXPECT_EQ(narrow.RecordCount(), 1);
  for (int i = 0; i < 4; ++i) ds.Next();
  EXPECT_EQ(Url(), "http://s5");
  EXPECT_EQ(wide.ActiveRecord(), 2);  // the current record is the window's last
  EXPECT_EQ(narrow.ActiveRecord(), 0);
  ds.Prior();
  ds.Prior();
  ds.Prior();
  EXPECT_EQ(Url(), "http://s2");
  EXPECT_EQ(wide.ActiveRecord(), 0);
  // Each buffered record is the one the link's row shows.
  std::vector<std::string> shown;
  for (int row = 0; row < wide.RecordCount(); ++row) {
    wide.SetActiveRecord(row);
    shown.push_back(Url());
  }
  wide.SetActiveRecord(0);
  EXPECT_EQ(shown, (std::vector<std::string>{"http://s2", "http://s3", "http://s4"}));
  wide.SetBufferCount(1);
  EXPECT_EQ(Url(), "http://s2");
  ds.Next();
  EXPECT_EQ(Url(), "http://s3");
}

TEST_F(SiteTableTest, InsertIntoAFullWindow) {
  AddSites(5);
  TRecordingLink wide;
  source.SetDataSet(&ds);
  wide.SetBufferCount(3);
  wide.SetDataSource(&source);
  ds.Open();
  ds.Next();
  auto shown = [&] {
    std::vector<std::string> urls;
    int active = wide.ActiveRecord();
    for (int row = 0; row < wide.RecordCount(); ++row) {
      wide.SetActiveRecord(row);
      urls.push_back(Url());
    }
    wide.SetActiveRecord(active);
    return urls;
  };
  ds.Insert();  // the new row takes the current one's place; the last one leaves
  EXPECT_EQ(shown(), (std::vector<std::string>{"http://s1", "", "http://s2"}));
  ds.Cancel();
  EXPECT_EQ(Url(), "http://s2");
  EXPECT_EQ(shown(), (std::vector<std::string>{"http://s1", "http://s2", "http://s3"}));
  ds.Insert();
  ds.FieldByName("siteurl").SetAsString("http://new");
  ds.Post();
  EXPECT_EQ(shown(), (std::vector<std::string>{"http://s1", "http://new", "http://s2"}));
  ds.Next();
  ds.Next();
  EXPECT_EQ(Url(), "http://s3");
  EXPECT_EQ(ds.RecNo(), 4);
}

TEST_F(SiteTableTest, LocateAndLookupOnTheGenericPath) {
  ds.AddTextRow({"News", "http://a.example", "Alpha"});
  ds.AddTextRow({"Health", "http://B.example", "Beta", "bee"});
  ds.AddTextRow({"News", "http://c.example", "Gamma"});
  ds.Open();
  EXPECT_TRUE(ds.Locate("siteurl", Variant("http://c.example"), 0));
  EXPECT_EQ(ds.FieldByName("sitename").AsString(), "Gamma");
  EXPECT_EQ(Flags(), "");

  EXPECT_FALSE(ds.Locate("siteurl", Variant("http://b.example"), 0));
  EXPECT_EQ(ds.FieldByName("sitename").AsString(), "Gamma");  // stays where it was
  ds.Next();
  EXPECT_EQ(Flags(), "E");  // the cursor was placed again after the search

  EXPECT_TRUE(ds.Locate("siteurl", Variant("http://b.example"), loCaseInsensitive));
  EXPECT_EQ(ds.FieldByName("sitename").AsString(), "Beta");
  EXPECT_TRUE(ds.Locate("sitename", Variant("Gam*"), loPartialKey));
  EXPECT_EQ(Url(), "http://c.example");
  EXPECT_TRUE(ds.Locate("sitetype;login", Variant::Array({"News", Variant::Null()}), 0));
  EXPECT_EQ(ds.FieldByName("sitename").AsString(), "Alpha");

  TBookmark here = ds.Bookmark();
  EXPECT_TRUE(ds.Lookup("login", Variant("bee"), "sitename;siteurl") ==
              Variant::Array({"Beta", "http://B.example"}));
  EXPECT_TRUE(ds.Lookup("login", Variant("wasp"), "sitename").IsNull());
  EXPECT_EQ(ds.Bookmark(), here);
  EXPECT_EQ(ds.FieldByName("sitename").AsString(), "Alpha");
  ds.Next();
  EXPECT_EQ(ds.FieldByName("sitename").AsString(), "Beta");

  ds.Edit();
  ds.FieldByName("login").SetAsString("changed");
  EXPECT_TRUE(ds.Locate("sitename", Variant("Alpha"), 0));  // posts first
  EXPECT_EQ(ds.StoredText(1, 3), "changed");
  EXPECT_EQ(ErrorOf([&] { ds.Locate("nope", Variant(1), 0); }), "Field 'nope' not found");
}

TEST_F(SiteTableTest, Bookmarks) {
  AddSites(4);
  ds.Open();
  ds.Next();
  TBookmark second = ds.GetBookmark();
  ASSERT_EQ(second.size(), 4u);
  ds.Last();
  TBookmark last = ds.Bookmark();
  EXPECT_EQ(ds.CompareBookmarks(second, last), -1);
  EXPECT_EQ(ds.CompareBookmarks(TBookmark(), last), 1);
  EXPECT_EQ(ds.CompareBookmarks(last, TBookmark()), -1);
  ds.SetBookmark(second);
  EXPECT_EQ(Url(), "http://s2");
  EXPECT_EQ(Flags(), "");
  EXPECT_TRUE(ds.BookmarkValid(second));

  ds.Delete();
  EXPECT_FALSE(ds.BookmarkValid(second));
  EXPECT_EQ(ErrorOf([&] { ds.GotoBookmark(second); }), "Record not found");
  EXPECT_EQ(ErrorOf([&] { ds.GotoBookmark("xy"); }), "Record not found");
  ds.Append();
  EXPECT_EQ(ds.Bookmark(), "");  // a new row has no bookmark
  ds.Cancel();
}

TEST_F(SiteTableTest, MemoThroughStreams) {
  ds.AddTextRow({"News", "http://m", "Memo", std::nullopt, std::nullopt, "first note"});
  ds.Open();
  TField& note = ds.FieldByName("note");
  EXPECT_EQ(note.AsString(), "first note");
  EXPECT_EQ(note.DisplayText(), "(MEMO)");
  ds.Edit();
  note.SetAsString("");
  EXPECT_TRUE(static_cast<TBlobField&>(note).Modified());
  EXPECT_TRUE(note.IsNull());
  EXPECT_EQ(note.DisplayText(), "(Memo)");
  note.SetAsString("second");
  EXPECT_EQ(ds.StoredText(0, 5), "first note");  // stored only when posted
  int closes = ds.closeBlobCalls;
  ds.Post();
  EXPECT_EQ(ds.closeBlobCalls, closes + 1);
  EXPECT_FALSE(static_cast<TBlobField&>(note).Modified());
  EXPECT_EQ(ds.StoredText(0, 5), "second");
  EXPECT_EQ(note.AsString(), "second");

  ds.Edit();
  note.SetValue(Variant("discarded"));
  ds.Cancel();
  EXPECT_EQ(note.AsString(), "second");
  EXPECT_TRUE(note.Value() == Variant("second"));
}

TEST_F(SiteTableTest, FilterRecordHandler) {
  AddSites(5);
  ds.SetOnFilterRecord([](TDataSet& set, bool& accept) {
    accept = set.FieldByName("siteurl").AsString().back() % 2 == 1;  // odd numbers
  });
  ds.Open();
  ds.SetFiltered(true);
  std::vector<std::string> urls;
  for (ds.First(); !ds.Eof(); ds.Next()) urls.push_back(Url());
  EXPECT_EQ(urls, (std::vector<std::string>{"http://s1", "http://s3", "http://s5"}));
}

}  // namespace
