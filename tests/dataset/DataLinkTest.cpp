// What data links hear from the record set, in order, and how
// DisableControls holds it back.
#include <gtest/gtest.h>

#include "MemDataSet.h"

namespace {

using namespace dataset;
using namespace dataset_test;

class DataLinkTest : public ::testing::Test {
 protected:
  DataLinkTest() : ds({{"name", ftString, 20}, {"url", ftString, 40}}) {
    for (const char* name : {"a", "b", "c"}) ds.AddTextRow({name, std::string("http://") + name});
    source.SetDataSet(&ds);
    link.SetDataSource(&source);
  }
  TMemDataSet ds;
  TDataSource source;
  TRecordingLink link;
};

TEST_F(DataLinkTest, NotificationsOfOneEditingCycle) {
  std::vector<std::string> sourceLog;
  source.OnStateChange = [&](TDataSource& s) { sourceLog.push_back(std::to_string(s.State())); };
  ds.Open();
  EXPECT_EQ(link.Take(), "active");
  EXPECT_TRUE(link.Active());
  // Every move and every change of state first asks the links to finish
  // their editing ("check").
  ds.Next();
  EXPECT_EQ(link.Take(), "check, scrolled 1");
  ds.Edit();
  EXPECT_EQ(link.Take(), "check, editing, record");
  ds.FieldByName("name").SetAsString("B");
  EXPECT_EQ(link.Take(), "record name");
  ds.Post();
  EXPECT_EQ(link.Take(), "update, check, browsing, changed");
  ds.Append();
  EXPECT_EQ(link.Take(), "check, editing, changed eof");
  ds.Cancel();
  EXPECT_EQ(link.Take(), "check, browsing, changed");
  ds.Delete();
  EXPECT_EQ(link.Take(), "check, changed");
  ds.Last();
  EXPECT_EQ(link.Take(), "check, changed eof");
  ds.Close();
  EXPECT_EQ(link.Take(), "inactive");
  EXPECT_EQ(sourceLog, (std::vector<std::string>{"1", "2", "1", "3", "1", "0"}));
}

TEST_F(DataLinkTest, LinkWritesItsValueBeforeThePost) {
  ds.Open();
  link.onUpdateData = [&] {
    if (ds.State() == dsEdit) ds.FieldByName("url").SetAsString("http://typed");
  };
  ds.Edit();
  link.log.clear();
  ds.Next();  // the link's pending value makes the record modified, so it is posted
  EXPECT_EQ(ds.StoredText(0, 1), "http://typed");
  // The link's own write does not echo back to it as a record change.
  EXPECT_EQ(link.Take(), "check, update, update, check, browsing, changed, scrolled 1");
}

TEST_F(DataLinkTest, DisabledControlsHearOneChangeAtTheEnd) {
  ds.Open();
  link.log.clear();
  ds.DisableControls();
  ds.DisableControls();
  ds.Next();
  ds.Edit();
  ds.FieldByName("name").SetAsString("x");
  ds.Cancel();
  ds.Last();
  ds.EnableControls();
  EXPECT_EQ(link.Take(), "");
  ds.EnableControls();
  EXPECT_EQ(link.Take(), "changed eof");
  EXPECT_FALSE(ds.ControlsDisabled());

  // A state left changed is reported first.
  ds.DisableControls();
  ds.Edit();
  ds.EnableControls();
  EXPECT_EQ(link.Take(), "editing, changed eof");
  ds.Cancel();
  link.log.clear();

  // Closed and reopened while disabled: a layout change.
  ds.DisableControls();
  ds.Close();
  ds.Open();
  ds.EnableControls();
  EXPECT_EQ(link.Take(), "layout");
}

TEST_F(DataLinkTest, LinksComeAndGo) {
  ds.Open();
  {
    TRecordingLink second;
    second.SetDataSource(&source);
    EXPECT_EQ(second.Take(), "active");
    EXPECT_EQ(source.DataLinkCount(), 2);
  }
  EXPECT_EQ(source.DataLinkCount(), 1);
  ds.Next();  // the destroyed link is not called
  link.SetDataSource(nullptr);
  EXPECT_EQ(link.Take(), "active, check, scrolled 1, inactive");

  TDataSource other;
  link.SetDataSource(&other);
  other.SetDataSet(&ds);
  EXPECT_EQ(link.Take(), "active");
  other.SetEnabled(false);
  EXPECT_EQ(link.Take(), "inactive");
  other.SetDataSet(nullptr);
  other.SetEnabled(true);
  EXPECT_EQ(link.Take(), "");
}

TEST_F(DataLinkTest, AutoEditThroughTheLink) {
  ds.Open();
  EXPECT_TRUE(link.Edit());
  EXPECT_EQ(ds.State(), dsEdit);
  ds.Cancel();
  source.SetAutoEdit(false);
  EXPECT_FALSE(link.Edit());
  EXPECT_EQ(ds.State(), dsBrowse);
  ds.Close();
  EXPECT_FALSE(link.Edit());
}

TEST(DataSetLifetimeTest, DestroyingTheRecordSetDeactivatesItsLinks) {
  TDataSource source;
  TRecordingLink link;
  link.SetDataSource(&source);
  {
    TMemDataSet ds({{"a", ftString, 5}});
    ds.AddTextRow({"x"});
    source.SetDataSet(&ds);
    ds.Open();
  }
  EXPECT_EQ(source.DataSet(), nullptr);
  EXPECT_FALSE(link.Active());
  EXPECT_EQ(link.Take(), "active, inactive");
}

}  // namespace
