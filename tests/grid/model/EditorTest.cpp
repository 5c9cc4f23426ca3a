// The editors' decisions the grid makes: the pick list completing and
// accepting categories, the hyperlink handing its address to the shell,
// clicks on cells and rows, and what the editor may hold.
#include <gtest/gtest.h>

#include "grid/model/GridTestSupport.h"

namespace grid {
namespace {

using namespace grid::testing;

class EditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateCatalogue(dir.Dir());
    FillCatalogue(dir.Dir(), {{"Health", "https://h1.example/", "H1"}, {"News", "https://n1.example/", "N1"},
                              {"News", "https://n2.example/", "N2", "", "", "  "}});
    table = std::make_unique<TSiteTable>(dir.Dir());
    table->Table().Open();
    grid = ProgramGrid(table.get());
    grid->SetShell(&shell);
  }
  void FocusCell(const std::string& url, const char* column) {
    grid->FocusRow(DataNodeOf(*grid, url));
    grid->SetFocusedColumn(grid->FindColumn(column)->Index());
  }
  TempDir dir;
  std::unique_ptr<TSiteTable> table;
  std::unique_ptr<TDBGrid> grid;
  marrowick::fakes::TFakeShell shell;
};

TEST_F(EditorTest, TypingInTheCategoryCompletesAndStoresAtOnce) {
  FocusCell("https://h1.example/", "SiteCategory");
  ASSERT_TRUE(grid->ShowEditor());
  EXPECT_EQ(grid->GetEditLimit(), 30);
  auto item = grid->PickComplete("ne");
  ASSERT_TRUE(item.has_value());
  EXPECT_EQ(*item, "News");
  EXPECT_EQ(grid->EditorText(), "News");
  EXPECT_EQ(table->Table().FieldByName("sitetype").AsString(), "News");
  // A text no item begins with stands as typed.
  EXPECT_FALSE(grid->PickComplete("zz").has_value());
  ASSERT_TRUE(grid->SetEditorText("Hobbies"));
  grid->HideEditor();
  EXPECT_EQ(table->Table().FieldByName("sitetype").AsString(), "Hobbies");
  table->Table().Post();
  EXPECT_NE(GroupOf(*grid, "Hobbies"), nullptr);
  EXPECT_TRUE(FocusOnCurrentRecord(*grid, table->Table()));
}

TEST_F(EditorTest, TheOpeningListSelectsIgnoringCaseAndEnterStoresTheItem) {
  FocusCell("https://h1.example/", "SiteCategory");
  ASSERT_TRUE(grid->ShowEditor());
  ASSERT_TRUE(grid->SetEditorText("health"));
  EXPECT_EQ(grid->PickListSelection(), 6);
  auto* pick = dynamic_cast<TDBTreeListPickColumn*>(grid->FindColumn("SiteCategory"));
  ASSERT_NE(pick, nullptr);
  EXPECT_EQ(pick->ListRowCount(), 7);
  ASSERT_TRUE(grid->PickAccept(pick->Items()[6]));
  EXPECT_EQ(table->Table().FieldByName("sitetype").AsString(), "Health");
}

TEST_F(EditorTest, TheLinkGoesToTheShellUnlessItIsBlank) {
  FocusCell("https://n1.example/", "SiteUrl");
  ASSERT_TRUE(grid->KeyDown(TGridKey::Enter));
  EXPECT_TRUE(grid->StartLink());
  EXPECT_EQ(shell.opened, (std::vector<std::string>{"https://n1.example/"}));
  grid->CancelEditor();
  // A blank address opens nothing.
  auto* link = dynamic_cast<TDBTreeListHyperLinkColumn*>(grid->FindColumn("SiteUrl"));
  EXPECT_FALSE(link->StartLink("   ", shell));
  EXPECT_EQ(shell.opened.size(), 1u);
}

TEST_F(EditorTest, ClicksFocusCellsAndASecondClickAsksForTheEditor) {
  TDBGridNode* row = DataNodeOf(*grid, "https://n2.example/");
  int name = grid->FindColumn("SiteName")->Index();
  EXPECT_FALSE(grid->CellClick(row, name));
  EXPECT_EQ(table->CurrentUrl(), "https://n2.example/");
  EXPECT_TRUE(grid->CellClick(row, name));
  TTreeListNode* group = GroupOf(*grid, "Health");
  grid->ToggleExpanded(group);
  EXPECT_TRUE(group->Expanded());
  grid->ToggleExpanded(group);
  EXPECT_FALSE(group->Expanded());
  // Group rows take no editor; hidden columns neither.
  grid->FocusRow(group);
  EXPECT_FALSE(grid->ShowEditor());
  grid->FocusRow(row);
  grid->SetFocusedColumn(grid->FindColumn("SiteLogin")->Index());
  EXPECT_FALSE(grid->ShowEditor());
}

TEST_F(EditorTest, AReadOnlyColumnRefusesTheFirstChange) {
  FocusCell("https://h1.example/", "SiteName");
  grid->FindColumn("SiteName")->SetReadOnly(true);
  ASSERT_TRUE(grid->ShowEditor());
  EXPECT_FALSE(grid->SetEditorText("x"));
  EXPECT_EQ(table->Table().State(), dataset::dsBrowse);
  EXPECT_EQ(grid->EditorText(), "H1");
}

}  // namespace
}  // namespace grid
