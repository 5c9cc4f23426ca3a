// File > Export from the window: the save dialog asked per format, exactly
// the chosen columns written, the grid's columns and check marks as they
// were afterwards (also when the export fails, which names the file and the
// reason), and cancelling either dialog changing nothing.
#include <QAction>

#include "app/MainWindowSupport.h"
#include "app/WindowExport.h"

namespace marrowick {
namespace {

using namespace marrowick::testing;

class WindowExportTest : public MainWindowTest {
 protected:
  std::vector<bool> Visibility() {
    std::vector<bool> shown;
    for (const char* name : {"SiteCategory", "SiteName", "SiteUrl", "SiteLogin", "SitePassword"}) {
      shown.push_back(Grid().FindColumn(name)->Visible());
    }
    return shown;
  }
  std::vector<bool> Marks() {
    const TMainMenus& m = form_->Menus();
    return {m.Category1->isChecked(), m.SiteName1->isChecked(), m.SiteURL1->isChecked(), m.SiteLogin1->isChecked(),
            m.SitePassword1->isChecked()};
  }
  void Export(TExportChoice choice, const std::string& file) {
    exportDialog_.answers.push_back(choice);
    saveDialog_.answers.push_back(file);
    form_->Menus().Export1->trigger();
  }
  std::string Out(const std::string& name) { return (dir_.Path() / name).string(); }
};

TEST_F(WindowExportTest, EachFormatAsksTheSaveDialogItsWayAndWritesItsFile) {
  CreateForm();
  const std::pair<TExportFormat, TSaveDialogRequest> formats[] = {
      {TExportFormat::Html, {"Export to HTML", "*.HTML", "HTML", true}},
      {TExportFormat::Excel, {"Export to Excel", "*.xls", "xls", true}},
      {TExportFormat::Text, {"Export to TXT", "*.TXT", "TXT", true}},
  };
  for (const auto& [format, request] : formats) {
    TExportChoice choice;
    choice.Format = format;
    const std::string file = Out("sites." + request.DefaultExtension);
    Export(choice, file);
    EXPECT_EQ(saveDialog_.requests.back(), request);
    EXPECT_TRUE(fs::exists(file)) << file;
  }
  EXPECT_TRUE(boxes_.errors.empty());
  EXPECT_EQ(ReadBytes(Out("sites.xls")).substr(0, 2), std::string("\x09\x04", 2));  // a BIFF4 worksheet
  EXPECT_NE(ReadBytes(Out("sites.HTML")).find("Associated Press"), std::string::npos);
}

TEST_F(WindowExportTest, ExactlyTheChosenColumnsAreWrittenAndTheGridIsPutBack) {
  CreateForm();
  for (int i = 0; i < Grid().Count(); ++i) Grid().GetNode(i)->Expand(true);
  const std::vector<bool> before = Visibility();
  const std::vector<bool> marks = Marks();
  ASSERT_EQ(before, (std::vector<bool>{true, true, true, false, false}));

  // Password and login hidden in the grid but chosen; the name not chosen.
  TExportChoice choice;
  choice.Format = TExportFormat::Text;
  choice.Name = false;
  Export(choice, Out("chosen.TXT"));
  EXPECT_TRUE(boxes_.errors.empty());
  EXPECT_EQ(ReadBytes(Out("chosen.TXT")),
            ExpectedText({{"Site Category", CategoryCell}, {"Site Url", UrlCell}, {"Site Login", LoginCell},
                          {"Site Password", PasswordCell}},
                         true));
  EXPECT_EQ(Visibility(), before);
  EXPECT_EQ(Marks(), marks);

  // Without the category, the grouping stays: group lines, no category cells.
  choice = {};
  choice.Format = TExportFormat::Text;
  choice.Category = false;
  choice.Login = false;
  choice.Password = false;
  Export(choice, Out("grouped.TXT"));
  EXPECT_EQ(ReadBytes(Out("grouped.TXT")), ExpectedText({{"Site Name", NameCell}, {"Site Url", UrlCell}}, true));
  EXPECT_EQ(Visibility(), before);
}

TEST_F(WindowExportTest, AFailedExportNamesTheFileAndReasonAndLeavesTheColumnsAsTheyWere) {
  CreateForm();
  const std::vector<bool> before = Visibility();
  const std::string file = Out("missing/sites.HTML");
  TExportChoice choice;  // every column checked
  Export(choice, file);
  ASSERT_EQ(boxes_.errors.size(), 1u);
  EXPECT_NE(boxes_.errors[0].find(file), std::string::npos) << boxes_.errors[0];
  EXPECT_NE(boxes_.errors[0].find("No such file or directory"), std::string::npos) << boxes_.errors[0];
  EXPECT_EQ(Visibility(), before);
  EXPECT_FALSE(fs::exists(dir_.Path() / "missing"));
}

TEST_F(WindowExportTest, CancellingEitherDialogChangesNothing) {
  CreateForm();
  const std::vector<bool> before = Visibility();
  exportDialog_.answers.push_back(std::nullopt);
  form_->Menus().Export1->trigger();
  EXPECT_EQ(exportDialog_.runs, 1);
  EXPECT_TRUE(saveDialog_.requests.empty());

  TExportChoice choice;
  choice.Url = false;
  exportDialog_.answers.push_back(choice);
  saveDialog_.answers.push_back(std::nullopt);
  form_->Menus().Export1->trigger();
  EXPECT_EQ(saveDialog_.requests.size(), 1u);
  EXPECT_EQ(Visibility(), before);
  EXPECT_TRUE(boxes_.errors.empty());
}

}  // namespace
}  // namespace marrowick
