// The notes pane: it shows the current site's note, typing puts the site
// into edit, Escape throws the typing away, and what is typed is stored when
// the user moves to another site, adds one, leaves through File > Exit, the
// window's close button or the tray's Exit; a post that fails there is shown
// and the program goes on with the text still in the pane.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>

#include "app/MainWindowSupport.h"

namespace marrowick {
namespace {

using namespace marrowick::testing;

class NotesPaneTest : public MainWindowTest {
 protected:
  void Type(const char* text) {
    TDBMemo* memo = form_->DBMemo1();
    memo->setFocus(Qt::MouseFocusReason);
    QCoreApplication::processEvents();
    memo->moveCursor(QTextCursor::End);
    QTest::keyClicks(memo, text);
  }
  std::string StoredNote(const std::string& url) { return ReadSites(program_).at(url).at("note"); }
};

TEST_F(NotesPaneTest, ShowsTheCurrentSitesNoteAndStoresTypingWhenTheUserMovesOn) {
  TMainForm& form = ShowActive();
  ClickSite("https://www.reuters.com/");
  const std::string before = StoredNote("https://www.reuters.com/");
  EXPECT_EQ(form.DBMemo1()->toPlainText().toStdString(), before);
  EXPECT_EQ(Table().State(), dataset::dsBrowse);

  Type(" One.");
  QTest::keyClick(form.DBMemo1(), Qt::Key_Return);
  QTest::keyClicks(form.DBMemo1(), "Two.");
  EXPECT_EQ(Table().State(), dataset::dsEdit);  // the first keystroke began the edit
  ClickSite("https://www.bbc.com/news");
  // Line breaks are stored as CR LF.
  EXPECT_EQ(StoredNote("https://www.reuters.com/"), before + " One.\r\nTwo.");
  EXPECT_EQ(form.DBMemo1()->toPlainText().toStdString(), StoredNote("https://www.bbc.com/news"));

  // Adding a site stores the typing first.
  Type(" Three.");
  siteDialog_.answers.push_back(Site("New", "https://new.example/", "News"));
  form.Menus().Add1->trigger();
  EXPECT_EQ(StoredNote("https://www.bbc.com/news").substr(StoredNote("https://www.bbc.com/news").size() - 7),
            " Three.");
  EXPECT_EQ(StoredNote("https://new.example/"), "<null>");
}

TEST_F(NotesPaneTest, EscapeThrowsTheTypingAway) {
  TMainForm& form = ShowActive();
  ClickSite("https://www.reuters.com/");
  const std::string before = StoredNote("https://www.reuters.com/");
  Type(" discarded");
  QTest::keyClick(form.DBMemo1(), Qt::Key_Escape);
  EXPECT_EQ(form.DBMemo1()->toPlainText().toStdString(), before);
  ClickSite("https://www.bbc.com/news");
  EXPECT_EQ(StoredNote("https://www.reuters.com/"), before);
}

TEST_F(NotesPaneTest, NotesTypedBeforeEachWayOutAreStored) {
  struct TWayOut {
    const char* name;
    std::function<void(TMainForm&)> leave;
  };
  const TWayOut ways[] = {
      {"File > Exit", [](TMainForm& form) { form.Menus().Exit1->trigger(); }},
      {"close button", [](TMainForm& form) { form.close(); }},
      {"tray Exit", [](TMainForm& form) { form.TrayMenu()->actions()[3]->trigger(); }},
  };
  for (const TWayOut& way : ways) {
    SCOPED_TRACE(way.name);
    quits_ = 0;
    TMainForm& form = ShowActive();
    ClickSite("https://www.reuters.com/");
    Type(way.name);
    way.leave(form);
    EXPECT_TRUE(boxes_.errors.empty());
    EXPECT_EQ(quits_, 1);
    form_.reset();
    const std::string note = StoredNote("https://www.reuters.com/");
    EXPECT_EQ(note.substr(note.size() - std::string(way.name).size()), way.name);
  }
}

TEST_F(NotesPaneTest, AFailingPostKeepsTheProgramRunningWithTheTextInPlace) {
  TMainForm& form = ShowActive();
  ClickSite("https://www.reuters.com/");
  // A new site with a name but no URL, and a note for it.
  QTest::keyClick(form.GridWidget()->RowsView(), Qt::Key_Insert);
  ASSERT_NE(form.GridWidget()->Editor(), nullptr);
  QTest::keyClicks(form.GridWidget()->Editor(), "Nameless");
  Type("kept");
  ASSERT_EQ(Table().State(), dataset::dsInsert);

  const std::string refused = "Field 'siteurl' must have a value.";
  form.Menus().Exit1->trigger();
  EXPECT_EQ(boxes_.errors, std::vector<std::string>{refused});
  EXPECT_EQ(quits_, 0);
  EXPECT_TRUE(form.DBTable().Active());
  EXPECT_EQ(form.DBMemo1()->toPlainText(), "kept");

  EXPECT_FALSE(form.close());
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(boxes_.errors.size(), 2u);
  EXPECT_FALSE(store_.keys["Software\\Tolvane\\Marrowick"].count("Top"));  // the window did not close

  form.TrayMenu()->actions()[3]->trigger();
  EXPECT_EQ(boxes_.errors.size(), 3u);
  EXPECT_EQ(quits_, 0);
  EXPECT_EQ(form.DBMemo1()->toPlainText(), "kept");

  // Add stores the pending site first; its refusal comes before the dialog.
  form.Menus().Add1->trigger();
  EXPECT_TRUE(siteDialog_.runs.empty());
  EXPECT_EQ(boxes_.errors.size(), 4u);

  // Given a URL, the same way out stores the site with its note.
  Table().FieldByName("siteurl").SetAsString("https://nameless.example/");
  form.Menus().Exit1->trigger();
  EXPECT_EQ(quits_, 1);
  form_.reset();
  EXPECT_EQ(StoredNote("https://nameless.example/"), "kept");
}

}  // namespace
}  // namespace marrowick
