// Values the pick list puts into the field at once, and typing that goes on
// in the same editor afterwards: each later value or text must still reach
// the field.
#include <gtest/gtest.h>

#include "grid/model/GridTestSupport.h"

namespace grid {
namespace {

using namespace grid::testing;

TEST(EditorValueTest, AValueTakenAtOnceDoesNotSwallowLaterTyping) {
  TempDir dir;
  CreateCatalogue(dir.Dir());
  FillCatalogue(dir.Dir(), {{"News", "https://n1.example/", "N1"}, {"Health", "https://h1.example/", "H1"}});
  TSiteTable table(dir.Dir());
  table.Table().Open();
  auto grid = ProgramGrid(&table);
  grid->FocusRow(DataNodeOf(*grid, "https://n1.example/"));
  grid->SetFocusedColumn(grid->FindColumn("SiteCategory")->Index());

  ASSERT_TRUE(grid->ShowEditor());
  ASSERT_TRUE(grid->PickAccept("Health"));
  // The field holds the value while the editor is still open.
  EXPECT_EQ(table.Table().State(), dataset::dsEdit);
  EXPECT_EQ(table.Table().FieldByName("sitetype").AsString(), "Health");
  EXPECT_EQ(grid->EditorText(), "Health");

  // A second value in the same editor reaches the field too.
  ASSERT_TRUE(grid->PickAccept("Science"));
  EXPECT_EQ(table.Table().FieldByName("sitetype").AsString(), "Science");
  ASSERT_TRUE(grid->SetEditorText("Health & Fitness"));
  grid->HideEditor();
  EXPECT_EQ(table.Table().FieldByName("sitetype").AsString(), "Health & Fitness");
  table.Table().Post();
  EXPECT_EQ(ReadSites(dir.Dir())[1].type, "Health & Fitness");
}

TEST(EditorValueTest, AReadOnlyCellRefusesAValue) {
  TempDir dir;
  CreateCatalogue(dir.Dir());
  FillCatalogue(dir.Dir(), {{"News", "https://n1.example/", "N1"}});
  TSiteTable table(dir.Dir());
  table.Table().Open();
  auto grid = ProgramGrid(&table);
  grid->FocusRow(DataNodeOf(*grid, "https://n1.example/"));
  grid->SetFocusedColumn(grid->FindColumn("SiteCategory")->Index());
  grid->FindColumn("SiteCategory")->SetReadOnly(true);
  ASSERT_TRUE(grid->ShowEditor());
  EXPECT_FALSE(grid->PickAccept("Health"));
  EXPECT_EQ(table.Table().State(), dataset::dsBrowse);
  EXPECT_EQ(grid->EditorText(), "News");
}

}  // namespace
}  // namespace grid
