// The help viewer on the shipped help file: opened at "welcome" from the
// file name in any letter case, links followed inside the file with Back,
// links to the web handed to the shell, and a help text for every command
// of the program. A missing file leaves the viewer closed.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include <QApplication>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>
#include <QUrl>

#include "app/HelpViewer.h"
#include "app/QtTestApplication.h"
#include "support/FakePlatform.h"

namespace marrowick {
namespace {

// The program directory as the program names it, with its trailing '/'.
const std::string kProgramDir = std::string(MARROWICK_PROGRAM_DIR) + "/";

// Every anchor name the document defines.
std::set<std::string> AnchorsOf(const QTextDocument& document) {
  std::set<std::string> anchors;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      for (const QString& name : it.fragment().charFormat().anchorNames()) anchors.insert(name.toStdString());
    }
  }
  return anchors;
}

class HelpViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestApplication();
    viewer_ = std::make_unique<THelpViewer>(shell_, kProgramDir);
  }
  fakes::TFakeShell shell_;
  std::unique_ptr<THelpViewer> viewer_;
};

TEST_F(HelpViewerTest, OpensTheShippedFileAtWelcomeWhateverTheCaseOfItsName) {
  // The Help command names the file in lower case; it is shipped in upper.
  ASSERT_TRUE(viewer_->ShowTopic("marrowick.hlp", "welcome"));
  EXPECT_TRUE(viewer_->isVisible());
  EXPECT_EQ(viewer_->windowTitle(), "Marrowick Help");
  EXPECT_EQ(viewer_->HelpFilePath(), kProgramDir + "MARROWICK.HLP");
  EXPECT_EQ(viewer_->Browser()->source().fragment(), "welcome");
  EXPECT_EQ(viewer_->Browser()->documentTitle(), "Marrowick Help");
  EXPECT_TRUE(viewer_->Browser()->toPlainText().contains(QStringLiteral("Welcome to Marrowick")));
  EXPECT_TRUE(AnchorsOf(*viewer_->Browser()->document()).count("welcome"));
}

TEST_F(HelpViewerTest, HasHelpForEveryCommandKeyAndWindowOfTheProgram) {
  ASSERT_TRUE(viewer_->ShowTopic(kHelpFileName, kHelpContentsTopic));
  const std::set<std::string> anchors = AnchorsOf(*viewer_->Browser()->document());
  for (const char* topic :
       {"welcome", "main-window", "toolbar", "file-export", "file-exit", "sites-add", "sites-edit", "sites-delete",
        "sites-view", "view-columns", "help-help", "help-about", "site-dialog", "export-dialog", "notes", "grid",
        "grid-keys", "grid-mouse", "grid-editing", "grouping", "popup-menu", "tray", "passwords", "installing"})
    EXPECT_TRUE(anchors.count(topic)) << topic;

  // Every link of the contents leads to a topic that exists.
  const QString html = viewer_->Browser()->document()->toHtml();
  QRegularExpression link(QStringLiteral("href=\"#([^\"]+)\""));
  int links = 0;
  for (auto match = link.globalMatch(html); match.hasNext(); ++links) {
    const std::string target = match.next().captured(1).toStdString();
    EXPECT_TRUE(anchors.count(target)) << "a link to the missing topic " << target;
  }
  EXPECT_GT(links, 30);

  // The texts the program shows are named as they stand.
  const QString text = viewer_->Browser()->toPlainText();
  for (const char* phrase : {"Delete record?", "Links information not found please redownload or reinstall Marrowick",
                             "Export to HTML", "Export to Excel", "Export to TXT", "Ctrl+Del", "Ctrl+Enter"})
    EXPECT_TRUE(text.contains(QString::fromLatin1(phrase))) << phrase;
}

TEST_F(HelpViewerTest, LinksMoveWithinTheFileAndBackReturns) {
  viewer_->resize(500, 300);
  ASSERT_TRUE(viewer_->ShowTopic(kHelpFileName, "welcome"));
  EXPECT_FALSE(viewer_->BackButton()->isEnabled());

  const int top = viewer_->Browser()->verticalScrollBar()->value();
  emit viewer_->Browser()->anchorClicked(QUrl(QStringLiteral("#tray")));
  EXPECT_EQ(viewer_->Browser()->source().fragment(), "tray");
  EXPECT_GT(viewer_->Browser()->verticalScrollBar()->value(), top + 500);  // scrolled down to it
  EXPECT_TRUE(viewer_->BackButton()->isEnabled());

  viewer_->BackButton()->click();
  EXPECT_EQ(viewer_->Browser()->source().fragment(), "welcome");
  EXPECT_TRUE(viewer_->ForwardButton()->isEnabled());

  emit viewer_->Browser()->anchorClicked(QUrl(QStringLiteral("#grid-keys")));
  viewer_->ContentsButton()->click();
  EXPECT_EQ(viewer_->Browser()->source().fragment(), "welcome");
  EXPECT_EQ(viewer_->Browser()->verticalScrollBar()->value(), top);
  EXPECT_TRUE(shell_.opened.empty());
}

TEST_F(HelpViewerTest, WebLinksGoToTheShellAndOtherFilesAreNotLoaded) {
  ASSERT_TRUE(viewer_->ShowTopic(kHelpFileName, "welcome"));
  const QUrl shown = viewer_->Browser()->source();

  emit viewer_->Browser()->anchorClicked(QUrl(QStringLiteral("https://www.example.org/")));
  ASSERT_EQ(shell_.opened.size(), 1u);
  EXPECT_EQ(shell_.opened[0], "https://www.example.org/");
  EXPECT_EQ(viewer_->Browser()->source(), shown);

  emit viewer_->Browser()->anchorClicked(QUrl(QStringLiteral("file:///etc/passwd")));
  emit viewer_->Browser()->anchorClicked(QUrl(QStringLiteral("other.html")));
  EXPECT_EQ(viewer_->Browser()->source(), shown);
  EXPECT_EQ(shell_.opened.size(), 1u);
}

TEST_F(HelpViewerTest, AMissingHelpFileLeavesTheViewerClosed) {
  QTemporaryDir empty;
  THelpViewer viewer(shell_, empty.path().toStdString() + "/");
  EXPECT_FALSE(viewer.ShowTopic(kHelpFileName, "welcome"));
  EXPECT_FALSE(viewer.isVisible());
  EXPECT_FALSE(ResolveHelpFile("", kProgramDir).has_value());
  EXPECT_FALSE(ResolveHelpFile("NOPE.HLP", kProgramDir).has_value());
  EXPECT_EQ(ResolveHelpFile(kProgramDir + "Marrowick.Hlp", "/elsewhere/"),
            kProgramDir + "MARROWICK.HLP");
}

}  // namespace
}  // namespace marrowick
