// Random sequences of inserts, edits (category changes included) and
// deletes through the record set, through the grid and by another process,
// interleaved with sorting, grouping, expanding and focusing. After every
// step: the focused row is the current record's, a delete reached the
// focused row's record or nothing, and, unless another process changed the
// table since the grid last read it, the tree equals a model read straight
// from the table (same groups in the column's direction, same rows with the
// same strings, in the sort column's order when there is one).
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "grid/model/GridTestSupport.h"

namespace grid {
namespace {

using namespace grid::testing;
using dataset::Variant;

struct TRowText {
  std::string type, name, url, login;
  bool operator<(const TRowText& o) const { return url < o.url; }
  bool operator==(const TRowText& o) const = default;
};

class GridPropertyTest : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override {
    CreateCatalogue(dir.Dir());
    FillCatalogue(dir.Dir(), GeneratedSites(40, 6));
    table = std::make_unique<TSiteTable>(dir.Dir());
    t().Open();
    grid = ProgramGrid(table.get());
    grid->SetMessageBoxes(&boxes);
    rng.seed(GetParam());
  }
  tessel::TTesselTable& t() { return table->Table(); }

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
  std::string Category() {
    int i = Pick(8);
    return i == 7 ? std::string() : Categories()[static_cast<std::size_t>(i)];
  }
  std::string NewUrl() { return "https://new" + std::to_string(next++) + ".example/"; }
  std::vector<TDBGridNode*> DataRows() {
    std::vector<TDBGridNode*> rows;
    for (TTreeListNode* n = grid->GetFirstNode(); n != nullptr; n = n->GetNext()) {
      if (!n->HasChildren()) rows.push_back(static_cast<TDBGridNode*>(n));
    }
    return rows;
  }
  TDBGridNode* FocusRandomRow() {
    std::vector<TDBGridNode*> rows = DataRows();
    if (rows.empty()) return nullptr;
    TDBGridNode* row = rows[static_cast<std::size_t>(Pick(static_cast<int>(rows.size())))];
    grid->FocusRow(row);
    TTreeListNode* focused = TCustomDBGrid::FirstDataNode(grid->FocusedNode());
    return grid->IsLiveNode(focused) ? static_cast<TDBGridNode*>(focused) : nullptr;
  }
  std::set<std::string> Urls() {
    std::set<std::string> urls;
    for (const TSite& s : ReadSites(dir.Dir())) urls.insert(s.url);
    return urls;
  }
  void CancelPending() {
    if (t().State() == dataset::dsEdit || t().State() == dataset::dsInsert) t().Cancel();
  }

  // The tree against the table.
  void ExpectTreeMatchesTable(const std::string& step) {
    std::vector<TSite> sites = ReadSites(dir.Dir());
    TTreeListColumn* sortColumn = grid->GetSortedColumn();
    int nameIndex = grid->FindColumn("SiteName")->Index();
    int urlIndex = grid->FindColumn("SiteUrl")->Index();
    int typeIndex = grid->FindColumn("SiteCategory")->Index();
    int loginIndex = grid->FindColumn("SiteLogin")->Index();
    auto order = [&](std::vector<TRowText>& rows) {
      if (sortColumn == nullptr) {
        std::sort(rows.begin(), rows.end());
        return;
      }
      const std::string& by = sortColumn->Name();
      bool down = sortColumn->Sorted() == csDown;
      auto key = [&](const TRowText& r) -> const std::string& {
        return by == "SiteName" ? r.name : by == "SiteCategory" ? r.type : r.url;
      };
      std::sort(rows.begin(), rows.end(), [&](const TRowText& a, const TRowText& b) {
        const std::string& x = key(a);
        const std::string& y = key(b);
        if (x != y) return down ? x > y : x < y;
        return a.url < b.url;
      });
    };
    auto text = [&](TTreeListNode* n) {
      auto* d = static_cast<TDBGridNode*>(n);
      return TRowText{d->Strings(typeIndex), d->Strings(nameIndex), d->Strings(urlIndex), d->Strings(loginIndex)};
    };
    // (group value, rows) as the grid shows them and as the model wants.
    std::vector<std::pair<std::string, std::vector<TRowText>>> shown, model;
    bool grouped = grid->GroupColumnCount() > 0;
    if (grouped) {
      for (int i = 0; i < grid->Count(); ++i) {
        TTreeListNode* g = grid->GetNode(i);
        ASSERT_TRUE(g->HasChildren()) << step;
        std::vector<TRowText> rows;
        for (int c = 0; c < g->Count(); ++c) rows.push_back(text(g->Items(c)));
        if (sortColumn == nullptr) std::sort(rows.begin(), rows.end());
        shown.push_back({static_cast<TDBGridNode*>(g)->Strings(typeIndex), rows});
      }
      std::map<std::string, std::vector<TRowText>> groups;
      for (const TSite& s : sites) groups[s.type].push_back({s.type, s.name, s.url, s.login});
      for (auto& [type, rows] : groups) {
        order(rows);
        model.push_back({type, rows});
      }
      if (grid->FindColumn("SiteCategory")->Sorted() == csDown) std::reverse(model.begin(), model.end());
    } else {
      std::vector<TRowText> rows;
      for (int i = 0; i < grid->Count(); ++i) rows.push_back(text(grid->GetNode(i)));
      if (sortColumn == nullptr) std::sort(rows.begin(), rows.end());
      shown.push_back({"", rows});
      std::vector<TRowText> all;
      for (const TSite& s : sites) all.push_back({s.type, s.name, s.url, s.login});
      order(all);
      model.push_back({"", all});
    }
    ASSERT_EQ(shown.size(), model.size()) << step;
    for (std::size_t i = 0; i < shown.size(); ++i) {
      EXPECT_EQ(shown[i].first, model[i].first) << step;
      ASSERT_EQ(shown[i].second.size(), model[i].second.size()) << step << " group " << model[i].first;
      for (std::size_t r = 0; r < shown[i].second.size(); ++r) {
        EXPECT_EQ(shown[i].second[r].url, model[i].second[r].url) << step;
        EXPECT_EQ(shown[i].second[r].name, model[i].second[r].name) << step;
        EXPECT_EQ(shown[i].second[r].type, model[i].second[r].type) << step;
        EXPECT_EQ(shown[i].second[r].login, model[i].second[r].login) << step;
      }
    }
  }

  TempDir dir;
  std::unique_ptr<TSiteTable> table;
  std::unique_ptr<TDBGrid> grid;
  marrowick::fakes::TFakeMessageBoxes boxes;
  std::mt19937 rng;
  int next = 0;
};

TEST_P(GridPropertyTest, TreeFocusAndTableAgreeAfterEveryStep) {
  bool outsideChanges = false;
  std::string history;
  for (int step = 0; step < 120; ++step) {
    int action = Pick(16);
    std::string what;
    std::set<std::string> before;
    std::string focusedUrl;
    bool deleting = false;
    try {
      switch (action) {
        case 0:
        case 1: {  // edit through the record set, as the site dialog does
          what = "record set edit";
          if (FocusRandomRow() == nullptr) break;
          ASSERT_TRUE(FocusOnCurrentRecord(*grid, t())) << what;
          t().Edit();
          if (Pick(2) == 0) t().FieldByName("sitetype").SetAsString(Category());
          t().FieldByName("sitename").SetAsString("Edited " + std::to_string(step));
          if (Pick(3) == 0) t().FieldByName("login").SetAsString("login" + std::to_string(step));
          t().Post();
          break;
        }
        case 2: {  // insert through the record set
          what = "record set insert";
          t().Append();
          SetSite(t(), {Category(), NewUrl(), "Added " + std::to_string(step)});
          t().Post();
          break;
        }
        case 3: {  // delete through the record set
          what = "record set delete";
          TDBGridNode* row = FocusRandomRow();
          if (row == nullptr || t().IsEmpty()) break;
          before = Urls();
          focusedUrl = table->CurrentUrl();
          deleting = true;
          t().Delete();
          break;
        }
        case 4: {  // Ctrl+Del in the grid
          what = "grid delete";
          TDBGridNode* row = FocusRandomRow();
          if (row == nullptr) break;
          before = Urls();
          focusedUrl = row->KeyValue.IsString() ? row->KeyValue.ToString() : std::string();
          deleting = true;
          grid->KeyDown(TGridKey::Delete, ssCtrl);
          break;
        }
        case 5: {  // cell edit in the grid, posted by moving on
          what = "grid cell edit";
          if (FocusRandomRow() == nullptr) break;
          grid->SetFocusedColumn(grid->FindColumn(Pick(2) == 0 ? "SiteName" : "SiteCategory")->Index());
          if (grid->ShowEditor() && grid->SetEditorText(Pick(4) == 0 ? "" : "Cell " + std::to_string(step))) {
            grid->HideEditor();
            t().Post();
          }
          break;
        }
        case 6: {  // Insert key, the values as a dialog would put them
          what = "grid insert";
          FocusRandomRow();
          if (!grid->InsertRecord()) break;
          t().FieldByName("siteurl").SetAsString(NewUrl());
          t().FieldByName("sitename").SetAsString("Inserted " + std::to_string(step));
          t().Post();
          break;
        }
        case 7: {  // header clicks
          what = "sort";
          const char* names[] = {"SiteName", "SiteUrl", "SiteCategory"};
          grid->ColumnClick(grid->FindColumn(names[Pick(3)]), Pick(4) == 0);
          break;
        }
        case 8: {  // grouping
          what = "grouping";
          TTreeListColumn* category = grid->FindColumn("SiteCategory");
          if (category->GroupIndex() >= 0) {
            grid->DragGroupColumnOut(category);
          } else {
            grid->DropOnGroupPanel(category, 0);
          }
          break;
        }
        case 9:
        case 10: {  // another process
          std::vector<TSite> sites = ReadSites(dir.Dir());
          int kind = Pick(3);
          if (kind == 0 && !sites.empty()) {
            what = "other process delete";
            ASSERT_EQ(OtherProcessDelete(dir.Dir(), sites[static_cast<std::size_t>(Pick(static_cast<int>(sites.size())))].url), 0);
          } else if (kind == 1 && !sites.empty()) {
            what = "other process update";
            const TSite& s = sites[static_cast<std::size_t>(Pick(static_cast<int>(sites.size())))];
            std::string type = Category();
            std::string set = "{\"sitename\": \"Other " + std::to_string(step) + "\", \"sitetype\": " +
                              (type.empty() ? std::string("null") : "\"" + type + "\"") + "}";
            ASSERT_EQ(OtherProcessUpdate(dir.Dir(), s.url, set), 0);
          } else {
            what = "other process insert";
            ASSERT_EQ(OtherProcessInsert(dir.Dir(), "{\"siteurl\": \"" + NewUrl() + "\", \"sitename\": \"Outside\", \"sitetype\": \"News\"}"), 0);
          }
          outsideChanges = true;
          break;
        }
        case 11: {  // the grid reads the table again
          what = "refresh";
          if (Pick(2) == 0) {
            grid->RefreshGroupList();
          } else {
            grid->ReLoadGroupList();
          }
          outsideChanges = false;
          break;
        }
        case 12: {  // expand or collapse a group
          what = "expand";
          if (grid->Count() > 0) {
            TTreeListNode* g = grid->GetNode(Pick(grid->Count()));
            if (g->HasChildren()) g->SetExpanded(!g->Expanded());
          }
          break;
        }
        default: {  // the user moves around
          what = "focus";
          if (Pick(2) == 0) {
            FocusRandomRow();
          } else {
            grid->KeyDown(Pick(2) == 0 ? TGridKey::Down : TGridKey::Up);
          }
          break;
        }
      }
    } catch (const std::exception&) {
      // Refused work (a record changed or deleted elsewhere, a duplicate
      // URL) leaves nothing half done.
      CancelPending();
    }
    history += std::to_string(step) + ":" + what + " ";
    std::string label = "step " + std::to_string(step) + " (" + what + ") after " + history;
    if (deleting) {
      std::set<std::string> after = Urls();
      for (const std::string& url : before) {
        if (after.count(url) == 0) {
          EXPECT_EQ(url, focusedUrl) << label << ": deleted another row's record";
        }
      }
    }
    ASSERT_EQ(t().State(), dataset::dsBrowse) << label;
    EXPECT_TRUE(FocusOnCurrentRecord(*grid, t())) << label;
    if (!outsideChanges) ExpectTreeMatchesTable(label);
  }
  grid->RefreshGroupList();
  ExpectTreeMatchesTable("final refresh");
  grid->ReLoadGroupList();
  ExpectTreeMatchesTable("final reload");
}

INSTANTIATE_TEST_SUITE_P(Seeds, GridPropertyTest, ::testing::Range(1u, 9u));

}  // namespace
}  // namespace grid
