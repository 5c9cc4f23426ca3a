#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <QCoreApplication>

#include "app/ErrorDisplay.h"
#include "app/MainForm.h"
#include "app/QtTestApplication.h"
#include "app/SiteTable.h"
#include "platform/qt/MessageBoxes.h"
#include "platform/qt/ProgramDirectory.h"
#include "platform/qt/SettingsStore.h"
#include "support/FakePlatform.h"
#include "support/MemorySettingsStore.h"

namespace marrowick {
namespace {

const std::string kKey = "Software\\Tolvane\\Marrowick";

// ---- fakes ----

struct FakeTableState {
  std::vector<std::string> calls;
  std::optional<std::string> openError;
  bool active = false;
};

class FakeSiteTable : public ISiteTable {
 public:
  explicit FakeSiteTable(FakeTableState& state) : state_(state) {}
  void SetTableName(const std::string& name) override { state_.calls.push_back("name " + name); }
  void SetActive(bool active) override {
    state_.calls.push_back(active ? "open" : "close");
    if (active && state_.openError) throw std::runtime_error(*state_.openError);
    state_.active = active;
  }
  bool Active() const override { return state_.active; }

 private:
  FakeTableState& state_;
};

using FakeStoreState = fakes::TMemorySettingsState;
using FakeMessageBoxes = fakes::TFakeMessageBoxes;

class TestForm : public TMainForm {
 public:
  TestForm(TMainFormServices services, int& syncs) : TMainForm(std::move(services)), syncs_(syncs) {}

 protected:
  void SyncColumnsMenu() override { ++syncs_; }

 private:
  int& syncs_;
};

// ---- fixture ----

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestApplication();
    char pattern[] = "/tmp/marrowick-startup-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // The shipped table, with the letter case and the mode it is shipped with.
  void PutTableFile() {
    std::ofstream(dir_ + "linksdata.DAT") << "table";
    std::filesystem::permissions(dir_ + "linksdata.DAT", std::filesystem::perms(0600));
  }

  void Store(const std::string& name, const std::string& value) { store_.keys[kKey][name] = value; }

  std::unique_ptr<TestForm> CreateForm(platform::SettingsStoreFactory settings = {}) {
    TMainFormServices services;
    services.Table = std::make_unique<FakeSiteTable>(table_);
    services.CreateSettings = settings ? std::move(settings) : [this] {
      return std::unique_ptr<platform::ISettingsStore>(new fakes::TMemorySettingsStore(store_));
    };
    services.MessageBoxes = &boxes_;
    services.ProgramDirectory = [this] { return dir_; };
    services.QuitApplication = [this] { ++quits_; };
    auto form = std::make_unique<TestForm>(std::move(services), syncs_);
    // Building the window, the grid reads its stored layout; what follows
    // is the start's own use of the store.
    store_.log.clear();
    store_.accessors = 0;
    form->Create();
    return form;
  }

  static void ExpectPlacement(TMainForm& form, int left, int top, int width, int height) {
    EXPECT_EQ(form.FrameLeft(), left);
    EXPECT_EQ(form.FrameTop(), top);
    EXPECT_EQ(form.FrameWidth(), width);
    EXPECT_EQ(form.FrameHeight(), height);
  }

  std::string dir_;
  FakeTableState table_;
  FakeStoreState store_;
  FakeMessageBoxes boxes_;
  int syncs_ = 0;
  int quits_ = 0;
};

// ---- start-up ----

TEST_F(StartupTest, FirstStartOpensTheTableSilentlyAtTheDesignPlacement) {
  PutTableFile();
  auto form = CreateForm();

  EXPECT_EQ(form->windowTitle(), "Marrowick");
  EXPECT_EQ(form->ProgramDir(), dir_);
  // The name asked for is found whatever its letter case on disk.
  EXPECT_EQ(table_.calls, (std::vector<std::string>{"name " + dir_ + "linksdata.dat", "open"}));
  EXPECT_TRUE(form->DBTable().Active());
  EXPECT_TRUE(boxes_.errors.empty());
  EXPECT_TRUE(boxes_.notices.empty());
  ExpectPlacement(*form, 242, 70, 528, 399);
  EXPECT_TRUE(store_.keys.count(kKey));
  EXPECT_EQ(store_.log, (std::vector<std::string>{"open " + kKey + " create", "read Top",
                                                  "read Left", "read Height", "read Width",
                                                  "close"}));
  EXPECT_EQ(syncs_, 1);
}

TEST_F(StartupTest, MissingValuesKeepTheirDesignValueAndTheRestIsApplied) {
  PutTableFile();
  Store("Height", "450");
  auto form = CreateForm();
  EXPECT_TRUE(boxes_.errors.empty());
  ExpectPlacement(*form, 242, 70, 528, 450);
  EXPECT_EQ(syncs_, 1);
}

TEST_F(StartupTest, StoredSizeBelowTheMinimumIsRaised) {
  PutTableFile();
  Store("Top", "10");
  Store("Left", "20");
  Store("Height", "250");
  Store("Width", "400");
  auto form = CreateForm();
  EXPECT_TRUE(boxes_.errors.empty());
  ExpectPlacement(*form, 20, 10, 500, 300);
}

TEST_F(StartupTest, NonNumericValueStopsTheRestoreWithOneError) {
  PutTableFile();
  Store("Top", "100");
  Store("Left", "abc");
  Store("Height", "450");
  Store("Width", "600");
  auto form = CreateForm();

  EXPECT_EQ(boxes_.errors, std::vector<std::string>{"'abc' is not a valid integer value."});
  // Top was applied before the error; the rest keeps the design values.
  ExpectPlacement(*form, 242, 100, 528, 399);
  EXPECT_EQ(syncs_, 0);
  EXPECT_TRUE(form->DBTable().Active());
}

TEST_F(StartupTest, PlacementValuesAreStrictDecimalIntegers) {
  PutTableFile();
  // An empty optional marks a text the conversion must refuse.
  const std::pair<const char*, std::optional<int>> cases[] = {
      {"+80", 80},    {"-5", -5},     {"0070", 70},  {" 70", {}},        {"70 ", {}},
      {"7O", {}},     {"0x10", {}},   {"1.5", {}},   {"-", {}},          {"2147483648", {}},
      {"99999999999", {}}};
  for (const auto& [text, value] : cases) {
    SCOPED_TRACE(text);
    store_ = {};
    boxes_ = {};
    Store("Top", text);
    auto form = CreateForm();
    if (value) {
      EXPECT_TRUE(boxes_.errors.empty());
      EXPECT_EQ(form->FrameTop(), *value);
    } else {
      EXPECT_EQ(boxes_.errors,
                std::vector<std::string>{"'" + std::string(text) + "' is not a valid integer value."});
      EXPECT_EQ(form->FrameTop(), 70);
    }
  }
}

TEST_F(StartupTest, MissingTableIsReportedAndLeavesTheTableClosed) {
  auto form = CreateForm();
  EXPECT_EQ(boxes_.notices,
            std::vector<std::string>{"Links information not found please redownload or reinstall Marrowick"});
  EXPECT_TRUE(boxes_.errors.empty());
  EXPECT_TRUE(table_.calls.empty());
  EXPECT_FALSE(form->DBTable().Active());
  EXPECT_EQ(store_.accessors, 0);
  EXPECT_EQ(syncs_, 0);
  ExpectPlacement(*form, 242, 70, 528, 399);
}

TEST_F(StartupTest, ADirectoryIsNotTheTable) {
  std::filesystem::create_directory(dir_ + "LINKSDATA.dat");
  auto form = CreateForm();
  EXPECT_EQ(boxes_.notices.size(), 1u);
  EXPECT_TRUE(table_.calls.empty());
}

TEST_F(StartupTest, TableOpenFailureIsShownAndTheWindowStillOpens) {
  PutTableFile();
  Store("Top", "5");
  table_.openError = "Access denied to table 'linksdata.dat'";
  auto form = CreateForm();
  // The message ends with a quote, which sorts before '.', so no full stop.
  EXPECT_EQ(boxes_.errors, std::vector<std::string>{"Access denied to table 'linksdata.dat'"});
  EXPECT_FALSE(form->DBTable().Active());
  EXPECT_EQ(store_.accessors, 0);
  EXPECT_EQ(syncs_, 0);
  ExpectPlacement(*form, 242, 70, 528, 399);
}

// ---- ending ----

TEST_F(StartupTest, CloseStoresThePlacementAndTheNextStartRestoresIt) {
  PutTableFile();
  {
    auto form = CreateForm();
    form->SetFrameLeft(300);
    form->SetFrameTop(120);
    form->SetFrameWidth(640);
    form->SetFrameHeight(480);
    store_.log.clear();
    form->close();
    EXPECT_EQ(store_.log,
              (std::vector<std::string>{"lazy off", "open " + kKey + " create", "write Top=120",
                                        "write Left=300", "write Height=480", "write Width=640",
                                        "close"}));
  }
  auto next = CreateForm();
  EXPECT_TRUE(boxes_.errors.empty());
  ExpectPlacement(*next, 300, 120, 640, 480);
}

TEST_F(StartupTest, ExitClosesTheTableAndDoesNotSaveThePlacement) {
  PutTableFile();
  auto form = CreateForm();
  form->SetFrameLeft(400);
  store_.log.clear();
  table_.calls.clear();

  form->Exit1Click();
  EXPECT_EQ(table_.calls, std::vector<std::string>{"close"});
  EXPECT_FALSE(form->DBTable().Active());
  EXPECT_EQ(quits_, 1);
  form.reset();  // the window is destroyed without being closed
  // Only the grid stores its layout as it goes; the placement is not stored.
  for (const std::string& entry : store_.log) EXPECT_EQ(entry.find("open " + kKey + " "), std::string::npos);
  EXPECT_FALSE(store_.keys[kKey].count("Left"));
}

// ---- size and frame ----

TEST_F(StartupTest, ResizingBelowTheMinimumSnapsBack) {
  auto form = CreateForm();
  form->SetFrameWidth(100);  // hidden: no resize event arrives, the rule holds anyway
  EXPECT_EQ(form->FrameWidth(), 500);

  form->show();
  form->resize(400, 200);
  QCoreApplication::processEvents();
  EXPECT_EQ(form->FrameWidth(), 500);
  EXPECT_EQ(form->FrameHeight(), 300);

  form->resize(form->width(), 350);
  QCoreApplication::processEvents();
  EXPECT_EQ(form->FrameWidth(), 500);
  EXPECT_EQ(form->height(), 350);
}

TEST_F(StartupTest, AFramedWindowKeepsItsStoredFrameSizeFromStartToStart) {
  PutTableFile();
  Store("Height", "420");
  Store("Width", "610");
  for (int start = 0; start < 2; ++start) {
    SCOPED_TRACE(start);
    auto form = CreateForm();
    form->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(form->FrameWidth(), 610);
    EXPECT_EQ(form->FrameHeight(), 420);
    form->close();
    EXPECT_EQ(store_.keys[kKey]["Width"], "610");
    EXPECT_EQ(store_.keys[kKey]["Height"], "420");
  }
}

TEST_F(StartupTest, PlacementRoundTripsThroughTheRealStore) {
  char pattern[] = "/tmp/marrowick-config-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string config = pattern;
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  PutTableFile();
  {
    auto form = CreateForm(platform::CreateSettingsStore);
    EXPECT_TRUE(boxes_.errors.empty());
    form->SetFrameLeft(33);
    form->SetFrameTop(44);
    form->close();
  }
  platform::TQtSettingsStore store;
  ASSERT_TRUE(store.OpenKey(kKey, false));
  EXPECT_EQ(store.ReadString("Left"), "33");
  EXPECT_EQ(store.ReadString("Top"), "44");
  EXPECT_EQ(store.ReadString("Width"), "528");
  auto next = CreateForm(platform::CreateSettingsStore);
  ExpectPlacement(*next, 33, 44, 528, 399);
  ::unsetenv("XDG_CONFIG_HOME");
  std::filesystem::remove_all(config);
}

// ---- error display ----

TEST(ErrorDisplayTest, AppendsAFullStopOnlyAfterCharactersSortingAfterIt) {
  EXPECT_EQ(ErrorDisplayText(""), "");
  EXPECT_EQ(ErrorDisplayText("Invalid variant type conversion"), "Invalid variant type conversion.");
  EXPECT_EQ(ErrorDisplayText("Done."), "Done.");
  EXPECT_EQ(ErrorDisplayText("Stop!"), "Stop!");
  EXPECT_EQ(ErrorDisplayText("table 'x'"), "table 'x'");
  EXPECT_EQ(ErrorDisplayText("path /"), "path /.");
  EXPECT_EQ(ErrorDisplayText("caf\xE9"), "caf\xE9.");  // bytes compare unsigned
}

TEST(ErrorDisplayTest, RunShowsAnEscapingErrorOnce) {
  FakeMessageBoxes boxes;
  TErrorDisplay display(boxes);
  bool ran = false;
  EXPECT_TRUE(display.Run([&] { ran = true; }));
  EXPECT_TRUE(ran);
  EXPECT_TRUE(boxes.errors.empty());

  EXPECT_FALSE(display.Run([] { throw std::runtime_error("Cannot perform this operation on a closed dataset"); }));
  EXPECT_EQ(boxes.errors,
            std::vector<std::string>{"Cannot perform this operation on a closed dataset."});
}

// ---- program directory ----

TEST(ProgramDirectoryTest, IsTheExecutablesDirectoryWithItsDelimiter) {
  const std::string expected =
      std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/";
  EXPECT_EQ(platform::ProgramDirectory(), expected);
  EXPECT_EQ(platform::ExtractFilePath("/a/b/c.dat"), "/a/b/");
  EXPECT_EQ(platform::ExtractFilePath("c.dat"), "");
}

TEST(ProgramDirectoryTest, FilesAreFoundWithoutRegardToLetterCase) {
  char pattern[] = "/tmp/marrowick-case-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = std::string(pattern) + "/";
  std::ofstream(dir + "linksdata.DAT") << "x";
  EXPECT_TRUE(platform::FileExistsIgnoringCase(dir + "linksdata.DAT"));
  EXPECT_TRUE(platform::FileExistsIgnoringCase(dir + "linksdata.dat"));
  EXPECT_TRUE(platform::FileExistsIgnoringCase(dir + "LinksData.Dat"));
  EXPECT_FALSE(platform::FileExistsIgnoringCase(dir + "linksdata.da"));
  EXPECT_FALSE(platform::FileExistsIgnoringCase(dir + "linksdata.datx"));
  EXPECT_FALSE(platform::FileExistsIgnoringCase(dir + "missing/linksdata.dat"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace marrowick
