// File > Import Bookmarks in the window on a copy of the sample catalogue:
// the real dialog, driven without its event loop, over the window's record
// set; the file dialog and the browser profiles answered by the test.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>

#include "MainWindowSupport.h"
#include "app/ImportDialog.h"
#include "app/MainMenus.h"

namespace marrowick {
namespace {

using namespace marrowick::testing;

class TFakeFileDialog : public IBookmarkFileDialog {
 public:
  std::deque<std::optional<std::string>> answers;
  std::optional<std::string> Execute() override {
    if (answers.empty()) return std::nullopt;
    std::optional<std::string> answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

// Builds the real dialog over the window's record set and hands it to the
// test's script instead of showing it.
class TScriptedImportDialog : public IImportDialog {
 public:
  std::function<void(TfrmImport&)> script;
  TFakeFileDialog files;
  std::vector<bookmarks::TBrowserProfile> profiles;
  int runs = 0;

  bool Execute(dataset::TDataSet& table) override {
    ++runs;
    TImportDialogServices services;
    services.FileDialog = &files;
    services.FindProfiles = [this] { return profiles; };
    TfrmImport dialog(table, services);
    if (script) script(dialog);
    return dialog.Counts().has_value();
  }
};

std::string Netscape(const std::string& body) {
  return "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
         "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
         "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n" +
         body + "</DL><p>\n";
}

std::string Folder(const std::string& name, const std::vector<std::pair<std::string, std::string>>& sites) {
  std::string html = "<DT><H3>" + name + "</H3>\n<DL><p>\n";
  for (const auto& [title, url] : sites) html += "<DT><A HREF=\"" + url + "\" ADD_DATE=\"1\">" + title + "</A>\n";
  return html + "</DL><p>\n";
}

class ImportDialogTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    importDialogService_ = &importer_;
  }

  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_.Path() / name;
    WriteBytes(path, bytes);
    return path.string();
  }

  void Import() { form_->Menus().ImportBookmarks1->trigger(); }

  TScriptedImportDialog importer_;
};

TEST_F(ImportDialogTest, PreviewGuessesAndSkipsAndTheImportHonoursAChangedCategory) {
  const std::string file = WriteFile(
      "bookmarks.html",
      Netscape(Folder("News", {{"AP", kFirstUrl}, {"Daily News", "https://news.example/"}}) +
               Folder("Dev tools", {{"Compiler Explorer", "https://dev.example/"},
                                    {"Daily News again", "https://news.example/"}}) +
               Folder("Stuff", {{"Caf&eacute; stuff", "https://stuff.example/"}})));
  ShowForm();
  ClickSite(kFirstUrl);
  const std::size_t before = ReadSites(program_).size();

  importer_.script = [&](TfrmImport& dialog) {
    EXPECT_FALSE(dialog.ImportButton()->isEnabled());  // nothing chosen yet
    importer_.files.answers.push_back(file);
    dialog.FileButton()->click();

    QTableWidget* folders = dialog.FolderTable();
    ASSERT_EQ(folders->rowCount(), 3);
    const char* names[] = {"News", "Dev tools", "Stuff"};
    const char* sites[] = {"2", "2", "1"};
    const char* guesses[] = {"News", "Computers & Internet", "Personal"};
    for (int row = 0; row < 3; ++row) {
      EXPECT_EQ(folders->item(row, 0)->text().toStdString(), names[row]);
      EXPECT_EQ(folders->item(row, 1)->text().toStdString(), sites[row]);
      ASSERT_NE(dialog.CategoryBox(row), nullptr);
      EXPECT_EQ(dialog.CategoryBox(row)->count(), 15);
      EXPECT_EQ(dialog.CategoryBox(row)->currentText().toStdString(), guesses[row]);
    }
    EXPECT_TRUE(dialog.SkippedLabel()->text().startsWith("2 sites skipped: 1 in the catalogue already, 1 twice"))
        << dialog.SkippedLabel()->text().toStdString();
    const QString details = dialog.DetailsText()->toPlainText();
    EXPECT_TRUE(details.contains(QString::fromLatin1(kFirstUrl) + "  (in the catalogue already)"));
    EXPECT_TRUE(details.contains("https://news.example/  (earlier in the list)"));
    EXPECT_FALSE(dialog.DetailsText()->isVisibleTo(&dialog));
    dialog.DetailsButton()->click();
    EXPECT_TRUE(dialog.DetailsText()->isVisibleTo(&dialog));
    EXPECT_EQ(dialog.TotalLabel()->text(), "3 sites to import.");

    dialog.CategoryBox(2)->setCurrentText("Recreation & Sports");
    ASSERT_TRUE(dialog.ImportButton()->isEnabled());
    dialog.ImportButton()->click();
    ASSERT_TRUE(dialog.Counts().has_value());
    EXPECT_EQ(dialog.Counts()->Inserted, 3);
    EXPECT_EQ(dialog.Counts()->Skipped, 2);
    EXPECT_EQ(dialog.ProgressBar()->value(), 3);
    EXPECT_TRUE(dialog.StatusLabel()->text().startsWith("Inserted: 3\nSkipped: 2"));
    EXPECT_EQ(dialog.CancelButton()->text(), "Close");
    EXPECT_FALSE(dialog.ImportButton()->isEnabled());  // one import per dialog
  };
  Import();
  ASSERT_EQ(importer_.runs, 1);
  EXPECT_TRUE(boxes_.errors.empty());

  const auto stored = ReadSites(program_);
  EXPECT_EQ(stored.size(), before + 3);
  EXPECT_EQ(stored.at("https://news.example/").at("sitetype"), "News");
  EXPECT_EQ(stored.at("https://news.example/").at("sitename"), "Daily News");
  EXPECT_EQ(stored.at("https://dev.example/").at("sitetype"), "Computers & Internet");
  EXPECT_EQ(stored.at("https://stuff.example/").at("sitetype"), "Recreation & Sports");
  EXPECT_EQ(stored.at("https://stuff.example/").at("sitename"), "Caf\xE9 stuff");

  // The grid shows the new sites and keeps the focus where it was.
  for (const char* url : {"https://news.example/", "https://dev.example/", "https://stuff.example/"}) {
    EXPECT_NE(SiteRow(url), nullptr) << url;
  }
  EXPECT_EQ(CurrentUrl(), kFirstUrl);
  EXPECT_EQ(Grid().FocusedNode(), SiteRow(kFirstUrl));
}

TEST_F(ImportDialogTest, CancelMidwayKeepsWhatWasInsertedAndReportsIt) {
  std::vector<std::pair<std::string, std::string>> sites;
  for (int i = 0; i < 20; ++i) sites.push_back({"Site " + std::to_string(i), "https://s" + std::to_string(i) + ".example/"});
  const std::string file = WriteFile("many.html", Netscape(Folder("Recipes", sites)));
  CreateForm();
  const std::size_t before = ReadSites(program_).size();

  importer_.script = [&](TfrmImport& dialog) {
    ASSERT_TRUE(dialog.LoadFile(file));
    std::vector<int> seen;
    QObject::connect(&dialog, &TfrmImport::progressed, &dialog, [&](int done, int total) {
      seen.push_back(done);
      EXPECT_EQ(total, 20);
      EXPECT_TRUE(dialog.Importing());
      if (done == 5) dialog.CancelButton()->click();
    });
    dialog.ImportButton()->click();
    EXPECT_EQ(seen.back(), 5);
    ASSERT_TRUE(dialog.Counts().has_value());
    EXPECT_EQ(dialog.Counts()->Inserted, 5);
    EXPECT_TRUE(dialog.Counts()->Cancelled);
    EXPECT_EQ(dialog.Counts()->NotReached, 15);
    EXPECT_TRUE(dialog.StatusLabel()->text().contains("Cancelled: 15 not imported"))
        << dialog.StatusLabel()->text().toStdString();
    EXPECT_EQ(dialog.result(), 0);  // still open: the cancel stopped the import only
  };
  Import();

  const auto stored = ReadSites(program_);
  EXPECT_EQ(stored.size(), before + 5);
  for (int i = 0; i < 20; ++i) {
    const std::string url = "https://s" + std::to_string(i) + ".example/";
    EXPECT_EQ(stored.count(url), i < 5 ? 1u : 0u) << url;
    EXPECT_EQ(SiteRow(url) != nullptr, i < 5) << url;
  }
}

TEST_F(ImportDialogTest, ABrowserProfileIsPreviewedAndAnUnreadableFileSaysWhy) {
  const std::string chromium = WriteFile(
      "Bookmarks",
      R"({"version": 1, "roots": {"bookmark_bar": {"type": "folder", "name": "Bookmarks bar", "children": [
           {"type": "folder", "name": "Banking", "children": [
             {"type": "url", "name": "My bank", "url": "https://bank.example/"}]}]}}})");
  importer_.profiles = {{"Chromium", "Default", chromium, bookmarks::TBrowserFamily::Chromium}};
  CreateForm();

  importer_.script = [&](TfrmImport& dialog) {
    ASSERT_EQ(dialog.ProfileList()->count(), 1);
    EXPECT_EQ(dialog.ProfileList()->item(0)->text(), "Chromium (Default)");
    dialog.ProfileList()->setCurrentRow(0);
    ASSERT_EQ(dialog.FolderTable()->rowCount(), 1);
    EXPECT_EQ(dialog.FolderTable()->item(0, 0)->text(), "Bookmarks bar / Banking");
    EXPECT_EQ(dialog.CategoryBox(0)->currentText(), "Business & Economy");
    EXPECT_TRUE(dialog.ImportButton()->isEnabled());

    importer_.files.answers.push_back((dir_.Path() / "missing.html").string());
    dialog.FileButton()->click();
    EXPECT_EQ(dialog.FolderTable()->rowCount(), 0);
    EXPECT_FALSE(dialog.ImportButton()->isEnabled());
    EXPECT_TRUE(dialog.StatusLabel()->text().contains("missing.html")) << dialog.StatusLabel()->text().toStdString();
  };
  const std::size_t before = ReadSites(program_).size();
  Import();
  EXPECT_EQ(importer_.runs, 1);
  EXPECT_EQ(ReadSites(program_).size(), before);
}

TEST_F(ImportDialogTest, TheCatalogueGoesOutAsBookmarksAndComesBackIntoAnEmptyOne) {
  const std::map<std::string, TStoredSite> sample = ReadSites(program_);
  const std::string file = (dir_.Path() / "sites.html").string();
  CreateForm();
  TExportChoice choice;
  choice.Format = TExportFormat::Bookmarks;
  exportDialog_.answers.push_back(choice);
  saveDialog_.answers.push_back(file);
  form_->Menus().Export1->trigger();
  ASSERT_EQ(saveDialog_.requests.size(), 1u);
  EXPECT_EQ(saveDialog_.requests[0], (TSaveDialogRequest{"Export to Bookmarks", "*.html", "html", true}));
  EXPECT_TRUE(boxes_.errors.empty());

  form_.reset();
  EmptyCatalogue();
  CreateForm();
  importer_.script = [&](TfrmImport& dialog) {
    ASSERT_TRUE(dialog.LoadFile(file));
    EXPECT_EQ(dialog.FolderTable()->rowCount(), 15);
    dialog.ImportButton()->click();
    ASSERT_TRUE(dialog.Counts().has_value());
    EXPECT_EQ(dialog.Counts()->Inserted, static_cast<int>(sample.size()));
  };
  Import();

  const std::map<std::string, TStoredSite> back = ReadSites(program_);
  ASSERT_EQ(back.size(), sample.size());
  for (const auto& [url, site] : sample) {
    ASSERT_EQ(back.count(url), 1u) << url;
    EXPECT_EQ(back.at(url).at("sitetype"), site.at("sitetype")) << url;
    EXPECT_EQ(back.at(url).at("sitename"), site.at("sitename")) << url;
    EXPECT_NE(SiteRow(url), nullptr) << url;
  }
}

}  // namespace
}  // namespace marrowick
