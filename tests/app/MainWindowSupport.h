// The main window on a copy of the sample catalogue in a temporary
// directory: the real record set, grid and notes pane; the dialogs, the
// save dialog, the message boxes, the shell, the notification area, the
// check's dialogs and the timers answered by fakes (the timers run only when
// a test moves their clock); the table checked afterwards through the
// engine.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QTest>

#include "app/DBMemo.h"
#include "app/ExportCommandSupport.h"
#include "app/MainForm.h"
#include "app/QtTestApplication.h"
#include "app/SiteCommands.h"
#include "app/SiteRecordSet.h"
#include "dataset/DataSet.h"
#include "engine/components/Session.h"
#include "engine/components/TesselTable.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/TableTestSupport.h"
#include "grid/model/DBGrid.h"
#include "grid/qt/DBGridWidget.h"
#include "grid/qt/GridItemModel.h"
#include "grid/qt/GridRowsView.h"
#include "support/FakePlatform.h"
#include "support/FakeTimers.h"
#include "support/MemorySettingsStore.h"

namespace marrowick::testing {

// ---- fakes of the dialogs ----

class TFakeSiteDialog : public ISiteDialog {
 public:
  // What each run was loaded with: nothing for Add, the site for Edit.
  std::vector<std::optional<TSiteRecordValues>> runs;
  // The answers of the next runs, in order; Cancel when none is left.
  std::deque<std::optional<TSiteValues>> answers;
  // Runs while the dialog is open (the tray menu stays usable then).
  std::function<void()> during;

  std::optional<TSiteValues> Execute(const TSiteRecordValues* site) override {
    runs.push_back(site != nullptr ? std::optional<TSiteRecordValues>(*site) : std::nullopt);
    if (during) during();
    if (answers.empty()) return std::nullopt;
    std::optional<TSiteValues> answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

class TFakeExportDialog : public IExportDialog {
 public:
  int runs = 0;
  std::deque<std::optional<TExportChoice>> answers;
  std::optional<TExportChoice> Execute() override {
    ++runs;
    if (answers.empty()) return std::nullopt;
    std::optional<TExportChoice> answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

class TFakeSaveDialog : public ISaveDialog {
 public:
  std::vector<TSaveDialogRequest> requests;
  std::deque<std::optional<std::string>> answers;
  std::optional<std::string> Execute(const TSaveDialogRequest& request) override {
    requests.push_back(request);
    if (answers.empty()) return std::nullopt;
    std::optional<std::string> answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

class TFakeCheckDialogs : public ICheckDialogs {
 public:
  std::vector<std::string> titles;         // each progress shown
  std::vector<int> steps;                  // every progress report
  std::vector<TCatalogueCheckReport> reports;
  std::vector<bool> offered;               // whether each report offered the repair
  std::deque<bool> answers;                // Repair (true) or Close; Close when none is left
  bool inProgress = false;

  void BeginProgress(const std::string& title) override {
    titles.push_back(title);
    inProgress = true;
  }
  void Progress(int permille) override { steps.push_back(permille); }
  void EndProgress() override { inProgress = false; }
  bool ShowReport(const TCatalogueCheckReport& report, bool offerRepair) override {
    reports.push_back(report);
    offered.push_back(offerRepair);
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer && offerRepair;
  }
};

// ---- the table through the engine ----

// One site as stored; a null field reads as "<null>".
using TStoredSite = std::map<std::string, std::string>;

// Every site of the catalogue in dir, by URL, read through a session and a
// read-only record set of their own (the window may have the table open).
inline std::map<std::string, TStoredSite> ReadSites(const fs::path& dir) {
  std::map<std::string, TStoredSite> sites;
  tessel::TComponentOwner owner;
  auto session = std::make_unique<tessel::TTesselSession>(&owner);
  session->SetSessionName("check");
  auto table = std::make_unique<tessel::TTesselTable>(&owner);
  table->SetSessionName("check");
  table->SetReadOnly(true);
  table->SetTableName((dir / "linksdata.dat").string());
  table->Open();
  for (table->First(); !table->Eof(); table->Next()) {
    TStoredSite site;
    for (const char* name : {"sitetype", "siteurl", "sitename", "login", "password", "note"}) {
      dataset::TField& field = table->FieldByName(name);
      site[name] = field.IsNull() ? "<null>" : field.AsString();
    }
    sites[site["siteurl"]] = site;
  }
  table->Close();
  table.reset();
  session.reset();
  return sites;
}

inline TSiteValues Site(std::string name, std::string url, std::string category, std::string login = {},
                        std::string password = {}) {
  return {std::move(name), std::move(url), std::move(category), std::move(login), std::move(password)};
}

// ---- the fixture ----

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApplication();
    program_ = dir_.Path() / "program";
    CopyCatalogue(program_);
    for (const char* name : {"MARROWICK.HLP", "marrowick.png"}) {
      fs::copy_file(fs::path(kProgramDir) / name, program_ / name, fs::copy_options::overwrite_existing);
    }
  }
  void TearDown() override {
    form_.reset();
    QCoreApplication::processEvents();
  }

  // A catalogue without sites in place of the sample.
  void EmptyCatalogue() {
    for (const char* name : kCatalogueFiles) fs::remove(program_ / name);
    tessel::TTableStructure s = tessel::testing::CatalogueStructure();
    tessel::TDataTable::CheckStructure(s, true, "linksdata");
    tessel::TDataTable table(program_.string() + "/", "linksdata");
    table.CreateFiles(s);
    table.FlushTable(false, true, true);
    table.CloseFiles(true);
  }

  TMainForm& CreateForm() {
    form_.reset();
    TMainFormServices services;
    services.Table = std::make_unique<TSiteRecordSet>();
    services.CreateSettings = fakes::TMemorySettingsStore::Factory(store_);
    services.MessageBoxes = &boxes_;
    services.ProgramDirectory = [this] { return program_.string() + "/"; };
    services.QuitApplication = [this] { ++quits_; };
    services.SiteDialog = &siteDialog_;
    services.ExportDialog = &exportDialog_;
    services.SaveDialog = &saveDialog_;
    services.Shell = &shell_;
    services.Clipboard = &clipboard_;
    services.Colors = &colors_;
    services.TrayAvailable = [this] { return trayPresent_; };
    services.Timers = &timers_;
    services.CheckDialogs = &checkDialogs_;
    if (clipboardService_ != nullptr) services.Clipboard = clipboardService_;
    services.ImportDialog = importDialogService_;
    form_ = std::make_unique<TMainForm>(std::move(services));
    form_->Create();
    return *form_;
  }

  // Shown and laid out, as the user sees it.
  TMainForm& ShowForm() {
    TMainForm& form = form_ ? *form_ : CreateForm();
    form.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
    QCoreApplication::processEvents();
    return form;
  }
  // Shown and made the active window, so that keys reach it.
  TMainForm& ShowActive() {
    TMainForm& form = ShowForm();
    QApplication::setActiveWindow(&form);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    return form;
  }

  grid::TDBGrid& Grid() { return form_->DBGrid1(); }
  dataset::TDataSet& Table() { return *form_->RecordSet(); }
  std::string CurrentUrl() { return Table().FieldByName("siteurl").AsString(); }

  // The row of the site with this URL; none when the grid has none.
  grid::TTreeListNode* SiteRow(const std::string& url) {
    std::vector<grid::TTreeListNode*> pending;
    for (int i = 0; i < Grid().Count(); ++i) pending.push_back(Grid().GetNode(i));
    while (!pending.empty()) {
      grid::TTreeListNode* node = pending.back();
      pending.pop_back();
      if (!node->HasChildren()) {
        auto* data = grid::TCustomDBGrid::AsDBNode(node);
        if (!data->KeyValue.IsNull() && data->KeyValue.ToString() == url) return node;
      }
      for (int i = 0; i < node->Count(); ++i) pending.push_back(node->Items(i));
    }
    return nullptr;
  }

  // Clicks the site's row in its name cell, its group opened first, as the
  // user would.
  void ClickSite(const std::string& url) {
    grid::TTreeListNode* node = SiteRow(url);
    ASSERT_NE(node, nullptr) << url;
    Grid().MakeNodeVisible(node);
    QCoreApplication::processEvents();
    grid::qt::TDBGridWidget* widget = form_->GridWidget();
    widget->RowsView()->scrollTo(widget->Model()->IndexOf(node));
    QCoreApplication::processEvents();
    const QRect cell = widget->CellRect(node, Grid().FindColumn("SiteName")->Index());
    ASSERT_FALSE(cell.isEmpty()) << url;
    QTest::mouseClick(widget->RowsView()->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QCoreApplication::processEvents();
    ASSERT_EQ(CurrentUrl(), url);
  }

  static std::string FileMode(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "missing";
    char text[8];
    std::snprintf(text, sizeof text, "%04o", st.st_mode & 07777);
    return text;
  }

  // A site of the sample: in "News", the first in URL order.
  static constexpr const char* kFirstUrl = "https://apnews.com/";

  TTempDir dir_;
  fs::path program_;
  fakes::TMemorySettingsState store_;
  fakes::TFakeMessageBoxes boxes_;
  fakes::TFakeShell shell_;
  fakes::TFakeClipboard clipboard_;
  // The clipboard the window is given instead of clipboard_, when set.
  platform::IClipboard* clipboardService_ = nullptr;
  // The import dialog the window is given, when set.
  IImportDialog* importDialogService_ = nullptr;
  fakes::TFakeTimers timers_;
  TFakeCheckDialogs checkDialogs_;
  platform::TStandardColorScheme colors_;
  TFakeSiteDialog siteDialog_;
  TFakeExportDialog exportDialog_;
  TFakeSaveDialog saveDialog_;
  bool trayPresent_ = true;
  int quits_ = 0;
  std::unique_ptr<TMainForm> form_;
};

}  // namespace marrowick::testing
