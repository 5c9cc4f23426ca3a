// Editing cells of the sample catalogue with the keyboard and the mouse as a
// person does: typing starts the editor, moving away posts, Enter stores and
// edits on, Esc restores, the category's pick list completes and drops down,
// the URL's link opens through the shell, a second click opens the editor
// once the double-click time has passed, and leaving the grid ends an
// untouched insertion. Each case checks the table afterwards.
#include <gtest/gtest.h>

#include <QInputMethodEvent>
#include <QListWidget>
#include <QTimer>
#include <QToolButton>

#include "grid/qt/GridWidgetTestSupport.h"
#include "grid/qt/InplaceEdit.h"

namespace grid::qt {
namespace {

using namespace grid::qt::testing;

const std::string kBbc = "https://www.bbc.com/news";
const std::string kReuters = "https://www.reuters.com/";

std::string SiteField(const std::string& dir, const std::string& url, std::string TSite::*field) {
  for (const TSite& s : ReadSites(dir)) {
    if (s.url == url) return s.*field;
  }
  return "(missing)";
}

class EditingTest : public GridWidgetTest {
 protected:
  void SetUp() override { Open(); }
  std::string Editor() { return widget->Editor() ? widget->Editor()->text().toStdString() : "(closed)"; }
};

TEST_F(EditingTest, TypingStartsTheEditorAndMovingAwayPosts) {
  ClickCell(Row(kBbc), Col("SiteName"));
  EXPECT_EQ(table->CurrentUrl(), kBbc);
  Type("World");
  ASSERT_NE(widget->Editor(), nullptr);
  EXPECT_EQ(widget->Editor()->objectName(), "InplaceEdit");
  // The first character replaced the selected text.
  EXPECT_EQ(Editor(), "World");
  EXPECT_EQ(t().State(), dataset::dsEdit);
  EXPECT_EQ(SiteField(dir.Dir(), kBbc, &TSite::name), "BBC News");
  Key(Qt::Key_Down);
  EXPECT_EQ(widget->Editor(), nullptr);
  EXPECT_EQ(t().State(), dataset::dsBrowse);
  EXPECT_EQ(SiteField(dir.Dir(), kBbc, &TSite::name), "World");
  EXPECT_EQ(core->GetNodeString(Row(kBbc), Col("SiteName")), "World");
  EXPECT_EQ(table->CurrentUrl(), kReuters);
  // The keyboard focus came back to the rows.
  EXPECT_EQ(QApplication::focusWidget(), widget->RowsView());
  EXPECT_TRUE(errors.empty());
}

TEST_F(EditingTest, AComposedCharacterStartsTheEditorToo) {
  ClickCell(Row(kBbc), Col("SiteName"));
  QInputMethodEvent composed;
  composed.setCommitString(QString::fromUtf8("\u00e9"));
  QCoreApplication::sendEvent(QApplication::focusWidget(), &composed);
  ASSERT_NE(widget->Editor(), nullptr);
  Type("t");
  EXPECT_EQ(widget->Editor()->text(), QString::fromUtf8("\u00e9t"));
  Key(Qt::Key_Down);
  // Stored as the table's Windows-1252 bytes.
  EXPECT_EQ(SiteField(dir.Dir(), kBbc, &TSite::name), "\xe9t");
}

TEST_F(EditingTest, EnterStoresAndEditsOnEscRestores) {
  ClickCell(Row(kBbc), Col("SiteName"));
  Key(Qt::Key_F2);
  ASSERT_NE(widget->Editor(), nullptr);
  Key(Qt::Key_End);
  Type(" Online");
  Key(Qt::Key_Return);
  // Stored into the field, the editor open again on the same cell.
  EXPECT_EQ(t().FieldByName("sitename").AsString(), "BBC News Online");
  ASSERT_NE(widget->Editor(), nullptr);
  EXPECT_EQ(Editor(), "BBC News Online");
  // Esc in the editor: back to the field's text, closed, nothing else.
  Type("x");
  Key(Qt::Key_Escape);
  EXPECT_EQ(widget->Editor(), nullptr);
  EXPECT_EQ(t().State(), dataset::dsEdit);
  EXPECT_EQ(t().FieldByName("sitename").AsString(), "BBC News Online");
  // Esc without the editor: the change typed last is dropped by reading the
  // record into its row again; the next one cancels the record's edit.
  Key(Qt::Key_Escape);
  EXPECT_EQ(t().State(), dataset::dsEdit);
  EXPECT_EQ(core->GetNodeString(Row(kBbc), Col("SiteName")), "BBC News Online");
  Key(Qt::Key_Escape);
  EXPECT_EQ(t().State(), dataset::dsBrowse);
  EXPECT_EQ(t().FieldByName("sitename").AsString(), "BBC News");
  EXPECT_EQ(core->GetNodeString(Row(kBbc), Col("SiteName")), "BBC News");
  EXPECT_EQ(SiteField(dir.Dir(), kBbc, &TSite::name), "BBC News");
}

TEST_F(EditingTest, ARefusedChangeLeavesTheTextAndAFailedPostKeepsTheFocus) {
  core->FindColumn("SiteName")->SetReadOnly(true);
  ClickCell(Row(kBbc), Col("SiteName"));
  Key(Qt::Key_F2);
  ASSERT_NE(widget->Editor(), nullptr);
  Type("zz");
  EXPECT_EQ(Editor(), "BBC News");
  EXPECT_EQ(t().State(), dataset::dsBrowse);
  Key(Qt::Key_Escape);

  // The URL is required: emptied, the post refuses, the row keeps the
  // focus and the record set has the grid open the field's editor again.
  TTreeListNode* bbc = Row(kBbc);
  ClickCell(bbc, Col("SiteUrl"));
  Key(Qt::Key_F2);
  Key(Qt::Key_A, Qt::ControlModifier);
  Key(Qt::Key_Backspace);
  Key(Qt::Key_Down);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("must have a value"), std::string::npos) << errors[0];
  EXPECT_EQ(t().State(), dataset::dsEdit);
  EXPECT_EQ(core->FocusedNode(), bbc);
  EXPECT_EQ(core->FocusedColumn(), Col("SiteUrl"));
  ASSERT_NE(widget->Editor(), nullptr);
  EXPECT_EQ(QApplication::focusWidget(), widget->Editor());
  Key(Qt::Key_Escape);
  Key(Qt::Key_Escape);
  EXPECT_EQ(t().State(), dataset::dsBrowse);
  EXPECT_EQ(SiteField(dir.Dir(), kBbc, &TSite::url), kBbc);
  EXPECT_EQ(core->GetNodeString(Row(kBbc), Col("SiteUrl")), kBbc);
}

TEST_F(EditingTest, TheCategoryCompletesWhatIsTyped) {
  const std::string nih = "https://www.nhs.uk/";
  ASSERT_NE(Row(nih), nullptr);
  ClickCell(Row(nih), Col("SiteCategory"));
  Type("ne");
  auto* editor = qobject_cast<TInplaceDBTreeListPickEdit*>(widget->Editor());
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(Editor(), "News");
  EXPECT_EQ(editor->selectedText(), "ws");
  // The item is the field's value at once.
  EXPECT_EQ(t().FieldByName("sitetype").AsString(), "News");
  // Backspace shortens the search and searches again.
  Key(Qt::Key_Backspace);
  EXPECT_EQ(Editor(), "News");
  EXPECT_EQ(editor->selectedText(), "ews");
  Key(Qt::Key_Down);
  EXPECT_EQ(SiteField(dir.Dir(), nih, &TSite::type), "News");
  EXPECT_EQ(Row(nih)->Parent(), GroupOf(*core, "News"));

  // A text no item begins with is stored as typed.
  ClickCell(Row(nih), Col("SiteCategory"));
  Type("Zq");
  EXPECT_EQ(Editor(), "Zq");
  Key(Qt::Key_Up);
  EXPECT_EQ(SiteField(dir.Dir(), nih, &TSite::type), "Zq");
  EXPECT_NE(GroupOf(*core, "Zq"), nullptr);
  EXPECT_TRUE(errors.empty());
}

TEST_F(EditingTest, TheListDropsDownSelectsIgnoringCaseAndEnterStores) {
  const std::string nih = "https://www.nhs.uk/";
  t().Locate("siteurl", dataset::Variant(nih), 0);
  t().Edit();
  t().FieldByName("sitetype").SetAsString("health");
  t().Post();
  ClickCell(Row(nih), Col("SiteCategory"));
  Key(Qt::Key_F2);
  auto* editor = qobject_cast<TInplaceDBTreeListPickEdit*>(widget->Editor());
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(Editor(), "health");
  // The button shows on the open editor only.
  EXPECT_TRUE(editor->DropDownButton()->isVisible());

  Key(Qt::Key_F4);
  QListWidget* list = editor->List();
  ASSERT_TRUE(editor->ListVisible());
  EXPECT_EQ(list->objectName(), "PickList");
  EXPECT_EQ(list->count(), 15);
  ASSERT_NE(list->currentItem(), nullptr);
  EXPECT_EQ(list->currentItem()->text(), "Health");
  EXPECT_TRUE(list->currentItem()->isSelected());
  // Below the editor, at least as wide, seven rows high; the keyboard
  // focus stays in the editor.
  EXPECT_EQ(list->geometry().top(), editor->mapToGlobal(QPoint(0, editor->height())).y());
  EXPECT_GE(list->width(), editor->width());
  EXPECT_EQ(list->height(), 7 * list->sizeHintForRow(0) + 2 * list->frameWidth());
  EXPECT_EQ(QApplication::focusWidget(), editor);
  Key(Qt::Key_Return);
  EXPECT_FALSE(editor->ListVisible());
  EXPECT_EQ(Editor(), "Health");
  EXPECT_EQ(t().FieldByName("sitetype").AsString(), "Health");

  // Alt+Down opens it again; Esc closes it without taking the item moved to.
  Key(Qt::Key_Down, Qt::AltModifier);
  ASSERT_TRUE(editor->ListVisible());
  Key(Qt::Key_Down);
  EXPECT_EQ(list->currentItem()->text(), "News");
  Key(Qt::Key_Escape);
  EXPECT_FALSE(editor->ListVisible());
  EXPECT_EQ(Editor(), "Health");

  // A click on the button and a release over an item take that item.
  Click(editor->DropDownButton(), editor->DropDownButton()->rect().center());
  ASSERT_TRUE(editor->ListVisible());
  QRect science = list->visualItemRect(list->item(12));
  list->scrollToItem(list->item(12));
  science = list->visualItemRect(list->item(12));
  Click(list->viewport(), science.center());
  EXPECT_FALSE(editor->ListVisible());
  EXPECT_EQ(Editor(), "Science");
  Key(Qt::Key_Down);
  EXPECT_EQ(SiteField(dir.Dir(), nih, &TSite::type), "Science");
  EXPECT_EQ(GroupOf(*core, "health"), nullptr);
  EXPECT_TRUE(errors.empty());
}

TEST_F(EditingTest, TheLinkOpensThroughTheShellOnCtrlEnterOrAClick) {
  ClickCell(Row(kBbc), Col("SiteUrl"));
  Key(Qt::Key_Return);
  QLineEdit* editor = widget->Editor();
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->objectName(), "InplaceHyperLinkEdit");
  EXPECT_TRUE(editor->font().underline());
  EXPECT_EQ(editor->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(editor->palette().color(QPalette::Text), QColor(0, 0, 255));
  EXPECT_EQ(editor->palette().color(QPalette::Base), QColor(255, 255, 255));
  Key(Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(shell.opened, std::vector<std::string>{kBbc});
  // The editor stays open; a click in it opens the link again.
  ASSERT_NE(widget->Editor(), nullptr);
  Click(editor, editor->rect().center());
  EXPECT_EQ(shell.opened.size(), 2u);

  // A blank address opens nothing; an address that could start a local
  // program is refused by the shell layer.
  Key(Qt::Key_A, Qt::ControlModifier);
  Type("   ");
  Key(Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(shell.opened.size(), 2u);
  EXPECT_TRUE(shell.refused.empty());
  Key(Qt::Key_A, Qt::ControlModifier);
  Type("file:///bin/sh");
  Key(Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(shell.opened.size(), 2u);
  EXPECT_EQ(shell.refused, std::vector<std::string>{"file:///bin/sh"});
  Key(Qt::Key_Escape);
  Key(Qt::Key_Escape);
  Key(Qt::Key_Escape);
  EXPECT_EQ(t().State(), dataset::dsBrowse);
  EXPECT_EQ(SiteField(dir.Dir(), kBbc, &TSite::url), kBbc);
}

TEST_F(EditingTest, ASecondClickOpensTheEditorOnceTheDoubleClickTimeHasPassed) {
  QTimer* timer = widget->ClickEditTimer();
  ClickCell(Row(kBbc), Col("SiteName"));
  EXPECT_FALSE(timer->isActive());
  EXPECT_EQ(widget->Editor(), nullptr);
  ClickCell(Row(kBbc), Col("SiteName"));
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), QApplication::doubleClickInterval());
  EXPECT_EQ(widget->Editor(), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return widget->Editor() != nullptr; }));
  EXPECT_EQ(Editor(), "BBC News");
  Key(Qt::Key_Escape);

  // A double click is no second click: no editor follows.
  DoubleClick(Viewport(), CellPoint(Row(kBbc), Col("SiteName")));
  EXPECT_FALSE(timer->isActive());
  EXPECT_EQ(widget->Editor(), nullptr);
  // Neither does a click that moved on to another cell meanwhile.
  ClickCell(Row(kBbc), Col("SiteName"));
  ASSERT_TRUE(timer->isActive());
  Key(Qt::Key_Right);
  EXPECT_FALSE(timer->isActive());
  EXPECT_EQ(widget->Editor(), nullptr);
}

TEST_F(EditingTest, LeavingTheGridEndsAnUntouchedInsertAndHandsOnTheText) {
  ClickCell(Row(kBbc), Col("SiteName"));
  Key(Qt::Key_Insert);
  EXPECT_EQ(t().State(), dataset::dsInsert);
  ASSERT_NE(widget->Editor(), nullptr);
  notes->setFocus(Qt::MouseFocusReason);
  QCoreApplication::processEvents();
  EXPECT_EQ(t().State(), dataset::dsBrowse);
  EXPECT_EQ(widget->Editor(), nullptr);
  EXPECT_EQ(ReadSites(dir.Dir()).size(), 66u);
  EXPECT_EQ(GroupOf(*core, "News")->Count(), 5);

  // An edited cell's text reaches the field when the focus leaves.
  ClickCell(Row(kBbc), Col("SiteName"));
  Type("BBC");
  notes->setFocus(Qt::MouseFocusReason);
  QCoreApplication::processEvents();
  EXPECT_EQ(widget->Editor(), nullptr);
  EXPECT_EQ(t().State(), dataset::dsEdit);
  EXPECT_EQ(t().FieldByName("sitename").AsString(), "BBC");
  t().Post();
  EXPECT_EQ(SiteField(dir.Dir(), kBbc, &TSite::name), "BBC");
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace grid::qt
