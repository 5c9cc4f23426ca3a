// The settings file is readable and writable by its owner alone: created so
// by the first write, kept so when QSettings rewrites it, and narrowed when
// an older file was readable by others.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include <QFileInfo>
#include <QTemporaryDir>

#include "app/QtTestApplication.h"
#include "platform/qt/SettingsStore.h"

namespace marrowick {
namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

class SettingsFileModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestApplication();
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.path().toStdString() + "/Tolvane/Marrowick.conf";
  }
  QTemporaryDir dir_;
  std::string path_;
};

TEST_F(SettingsFileModeTest, TheFirstWriteCreatesAPrivateFileThatStaysPrivate) {
  {
    platform::TQtSettingsStore store(path_);
    store.SetLazyWrite(false);
    ASSERT_TRUE(store.OpenKey("Software\\Tolvane\\Marrowick", true));
    store.WriteString("Top", "70");
    EXPECT_EQ(ModeOf(path_), 0600u);
    store.WriteString("Left", "242");  // rewritten through a new file
    EXPECT_EQ(ModeOf(path_), 0600u);
  }
  {
    // Lazy writes reach the file when the accessor goes.
    platform::TQtSettingsStore store(path_);
    ASSERT_TRUE(store.OpenKey("\\Software\\Tolvane\\Marrowick\\grid", true));
    store.WriteString("Width", "184");
  }
  EXPECT_EQ(ModeOf(path_), 0600u);
  platform::TQtSettingsStore reader(path_);
  ASSERT_TRUE(reader.OpenKey("Software\\Tolvane\\Marrowick", false));
  EXPECT_EQ(reader.ReadString("Left"), "242");
}

TEST_F(SettingsFileModeTest, AFileOthersCouldReadIsNarrowed) {
  {
    platform::TQtSettingsStore store(path_);
    store.SetLazyWrite(false);
    store.OpenKey("Software\\Tolvane\\Marrowick", true);
    store.WriteString("Top", "70");
  }
  ASSERT_EQ(::chmod(path_.c_str(), 0644), 0);
  platform::TQtSettingsStore reader(path_);  // even an accessor that only reads
  EXPECT_EQ(ModeOf(path_), 0600u);
  reader.OpenKey("Software\\Tolvane\\Marrowick", false);
  EXPECT_EQ(reader.ReadString("Top"), "70");
}

TEST_F(SettingsFileModeTest, ReadingAloneCreatesNoFile) {
  platform::TQtSettingsStore reader(path_);
  reader.OpenKey("Software\\Tolvane\\Marrowick", true);
  EXPECT_EQ(reader.ReadString("Top"), "");
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path_)));
}

}  // namespace
}  // namespace marrowick
