#include "platform/qt/SettingsStore.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "app/QtTestApplication.h"

namespace marrowick::platform {
namespace {

// Puts an environment variable back as it was.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestApplication();
    char pattern[] = "/tmp/marrowick-settings-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    env_.emplace("XDG_CONFIG_HOME", dir_.c_str());
  }
  void TearDown() override {
    env_.reset();
    std::filesystem::remove_all(dir_);
  }

  std::string ConfigFile() const { return dir_ + "/Tolvane/Marrowick.conf"; }

  std::string FileText() const {
    std::ifstream in(ConfigFile(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string dir_;
  std::optional<ScopedEnv> env_;
};

TEST_F(SettingsStoreTest, FileLivesUnderXdgConfigHomeOrHomeConfig) {
  EXPECT_EQ(SettingsFilePath(), ConfigFile());
  {
    ScopedEnv noXdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(SettingsFilePath(), "/home/someone/.config/Tolvane/Marrowick.conf");
  }
  {
    ScopedEnv emptyXdg("XDG_CONFIG_HOME", "");
    ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(SettingsFilePath(), "/home/someone/.config/Tolvane/Marrowick.conf");
  }
}

TEST_F(SettingsStoreTest, KeyPathsBecomeGroups) {
  EXPECT_EQ(SettingsGroupForKey("Software\\Tolvane\\Marrowick"), "Software/Tolvane/Marrowick");
  EXPECT_EQ(SettingsGroupForKey("\\Software\\Tolvane\\Marrowick\\grid\\"),
            "Software/Tolvane/Marrowick/grid");
  EXPECT_EQ(SettingsGroupForKey("\\"), "");
  EXPECT_EQ(SettingsGroupForKey(""), "");
}

TEST_F(SettingsStoreTest, WriteWithoutLazyWritingReachesTheFileAtOnce) {
  TQtSettingsStore store;
  store.SetLazyWrite(false);
  ASSERT_TRUE(store.OpenKey("Software\\Tolvane\\Marrowick", true));
  store.WriteString("Top", "70");
  // The accessor is still open: the value must already be on disk.
  const std::string text = FileText();
  EXPECT_NE(text.find("[Software]"), std::string::npos) << text;
  EXPECT_NE(text.find("Tolvane\\Marrowick\\Top=70"), std::string::npos) << text;
  store.WriteString("Left", "-1");
  EXPECT_NE(FileText().find("Tolvane\\Marrowick\\Left=-1"), std::string::npos);
}

TEST_F(SettingsStoreTest, ValuesReadBackAsWrittenAndMissingOnesReadEmpty) {
  {
    TQtSettingsStore store;
    ASSERT_TRUE(store.OpenKey("\\Software\\Tolvane\\Marrowick", true));
    store.WriteString("Top", "70");
    store.WriteString("Note", "a, b");
    store.WriteString("Text", "caf\xE9 \x80");  // Windows-1252 bytes
    store.CloseKey();
  }
  // Stored as Unicode text in the file.
  EXPECT_NE(FileText().find("caf\xC3\xA9 \xE2\x82\xAC"), std::string::npos) << FileText();

  TQtSettingsStore store;
  ASSERT_TRUE(store.OpenKey("Software\\Tolvane\\Marrowick", false));
  EXPECT_EQ(store.ReadString("Top"), "70");
  EXPECT_EQ(store.ReadString("Note"), "a, b");
  EXPECT_EQ(store.ReadString("Text"), "caf\xE9 \x80");
  EXPECT_EQ(store.ReadString("Width"), "");
}

TEST_F(SettingsStoreTest, MissingKeysAreCreatedOnlyWhenAsked) {
  TQtSettingsStore store;
  EXPECT_FALSE(store.KeyExists("\\Software\\Tolvane\\Marrowick"));
  EXPECT_FALSE(store.OpenKey("\\Software\\Tolvane\\Marrowick", false));
  EXPECT_EQ(store.CurrentKey(), "");

  ASSERT_TRUE(store.OpenKey("\\Software\\Tolvane\\Marrowick", true));
  EXPECT_EQ(store.CurrentKey(), "Software/Tolvane/Marrowick");
  // A relative path opens below the open key.
  ASSERT_TRUE(store.OpenKey("grid\\Columns", true));
  EXPECT_EQ(store.CurrentKey(), "Software/Tolvane/Marrowick/grid/Columns");
  store.WriteString("Visible", "1");
  store.CloseKey();

  EXPECT_TRUE(store.KeyExists("\\Software\\Tolvane\\Marrowick"));
  EXPECT_TRUE(store.KeyExists("\\Software\\Tolvane\\Marrowick\\grid"));
  EXPECT_FALSE(store.KeyExists("\\Software\\Tolvane\\Marrowick\\gri"));
  ASSERT_TRUE(store.OpenKey("\\Software\\Tolvane\\Marrowick\\grid\\Columns", false));
  EXPECT_EQ(store.ReadString("Visible"), "1");
}

}  // namespace
}  // namespace marrowick::platform
