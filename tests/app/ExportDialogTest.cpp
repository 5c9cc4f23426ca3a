// The export dialog (columns and format, driven with keys and clicks) and
// the save dialog's settings per format: title, filter, default extension,
// the overwrite prompt, and the file name remembered from one export to the
// next. The QFileDialog is checked as configured and then run by a user who
// types a name, so the extension and the overwrite question are Qt's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/ExportDialog.h"
#include "app/QtTestApplication.h"

namespace marrowick {
namespace {

class ExportDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::TestApplication(); }
};

TEST_F(ExportDialogTest, ControlsStartWithEveryColumnAndHtml) {
  TfrmExport dialog;
  EXPECT_EQ(dialog.windowTitle(), "Export");
  EXPECT_EQ(dialog.size(), QSize(330, 195));
  EXPECT_EQ(dialog.ColumnsBox()->title(), "Select Columns to Export");
  EXPECT_EQ(dialog.FormatGroup()->title(), "Export Format");
  EXPECT_EQ(dialog.FormatGroup()->objectName(), "ExportFormat");

  // Top to bottom in the box: name, URL, category, login, password.
  QCheckBox* boxes[] = {dialog.NameBox(), dialog.UrlBox(), dialog.CategoryBox(), dialog.LoginBox(),
                        dialog.PasswordBox()};
  const char* captions[] = {"Site Name", "Site URL", "Site Category", "Site Login", "Site Password"};
  const char* names[] = {"Name", "URL", "Category", "Login", "Password"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(boxes[i]->text(), captions[i]);
    EXPECT_EQ(boxes[i]->objectName(), names[i]);
    EXPECT_TRUE(boxes[i]->isChecked());
    EXPECT_EQ(boxes[i]->parentWidget(), dialog.ColumnsBox());
    if (i > 0) {
      EXPECT_GT(boxes[i]->y(), boxes[i - 1]->y());
    }
  }
  EXPECT_EQ(dialog.FormatItem(TExportFormat::Html)->text(), "HTML");
  EXPECT_EQ(dialog.FormatItem(TExportFormat::Excel)->text(), "Excel");
  EXPECT_EQ(dialog.FormatItem(TExportFormat::Text)->text(), "Text");
  EXPECT_EQ(dialog.Choice(), TExportChoice{});  // HTML, every column

  // Cancel stands to the left of OK; OK is the default button.
  EXPECT_EQ(dialog.CancelButton()->x(), 80);
  EXPECT_EQ(dialog.OkButton()->x(), 184);
  EXPECT_TRUE(dialog.OkButton()->isDefault());
}

TEST_F(ExportDialogTest, TabVisitsPasswordBeforeLogin) {
  TfrmExport dialog;
  dialog.show();
  QApplication::setActiveWindow(&dialog);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  dialog.NameBox()->setFocus();
  const QWidget* expected[] = {dialog.UrlBox(), dialog.CategoryBox(), dialog.PasswordBox(), dialog.LoginBox()};
  for (const QWidget* next : expected) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
  }
}

TEST_F(ExportDialogTest, ClicksChooseColumnsAndFormat) {
  TfrmExport dialog;
  dialog.show();
  QTest::mouseClick(dialog.PasswordBox(), Qt::LeftButton, {}, QPoint(6, dialog.PasswordBox()->height() / 2));
  QTest::mouseClick(dialog.CategoryBox(), Qt::LeftButton, {}, QPoint(6, dialog.CategoryBox()->height() / 2));
  QRadioButton* text = dialog.FormatItem(TExportFormat::Text);
  QTest::mouseClick(text, Qt::LeftButton, {}, QPoint(6, text->height() / 2));
  TExportChoice expected;
  expected.Format = TExportFormat::Text;
  expected.Password = false;
  expected.Category = false;
  EXPECT_EQ(dialog.Choice(), expected);
  EXPECT_FALSE(dialog.FormatItem(TExportFormat::Html)->isChecked());  // one format at a time

  QTest::keyClick(dialog.NameBox(), Qt::Key_Return);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(ExportDialogTest, TheRunnerAnswersTheChoiceOrNothing) {
  QWidget owner;
  TExportDialogRunner runner(&owner);
  QTimer::singleShot(0, [&owner] {
    auto* dialog = owner.findChild<TfrmExport*>();
    ASSERT_NE(dialog, nullptr);
    dialog->LoginBox()->setChecked(false);
    dialog->FormatItem(TExportFormat::Excel)->setChecked(true);
    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
  });
  std::optional<TExportChoice> choice = runner.Execute();
  ASSERT_TRUE(choice.has_value());
  EXPECT_EQ(choice->Format, TExportFormat::Excel);
  EXPECT_FALSE(choice->Login);
  EXPECT_TRUE(choice->Password);

  // A new dialog each time: the boxes start checked again; Escape cancels.
  bool allChecked = false;
  QTimer::singleShot(0, [&owner, &allChecked] {
    auto* dialog = owner.findChild<TfrmExport*>();
    ASSERT_NE(dialog, nullptr);
    allChecked = dialog->Choice() == TExportChoice{};
    QTest::keyClick(dialog, Qt::Key_Escape);
  });
  EXPECT_FALSE(runner.Execute().has_value());
  EXPECT_TRUE(allChecked);
  EXPECT_EQ(owner.findChild<TfrmExport*>(), nullptr);
}

TEST(SaveDialogRequestTest, EachFormatHasItsTitleFilterAndExtension) {
  EXPECT_EQ(SaveRequestFor(TExportFormat::Html), (TSaveDialogRequest{"Export to HTML", "*.HTML", "HTML", true}));
  EXPECT_EQ(SaveRequestFor(TExportFormat::Excel), (TSaveDialogRequest{"Export to Excel", "*.xls", "xls", true}));
  EXPECT_EQ(SaveRequestFor(TExportFormat::Text), (TSaveDialogRequest{"Export to TXT", "*.TXT", "TXT", true}));
}

class SaveDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestApplication();
    ASSERT_TRUE(dir_.isValid());
    owner_ = std::make_unique<QWidget>();
  }

  std::string PathOf(const char* name) const { return (dir_.path() + QLatin1Char('/') + name).toStdString(); }

  // Runs the save dialog with a user who types name and presses Enter, and
  // answers an overwrite question with answer (when asked). Returns what the
  // dialog answered; asked tells whether the question came.
  std::optional<std::string> SaveAs(TQtSaveDialog& save, const TSaveDialogRequest& request, const QString& name,
                                    QMessageBox::StandardButton answer, bool& asked) {
    asked = false;
    QTimer::singleShot(0, [this, name, answer, &asked] {
      auto* dialog = owner_->findChild<QFileDialog*>();
      ASSERT_NE(dialog, nullptr);
      auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      ASSERT_NE(edit, nullptr);
      edit->setText(name);
      // The overwrite question, if it comes, is answered once it is up.
      QTimer::singleShot(0, [&asked, answer] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
          asked = true;
          box->button(answer)->click();
        }
      });
      QTest::keyClick(edit, Qt::Key_Return);
      // A refused overwrite leaves the dialog up: cancel it then.
      QTimer::singleShot(0, [dialog = QPointer<QFileDialog>(dialog)] {
        if (dialog && dialog->isVisible()) dialog->reject();
      });
    });
    std::optional<std::string> chosen = save.Execute(request);
    // The user's remaining steps find nothing left to do.
    QCoreApplication::processEvents();
    return chosen;
  }

  QTemporaryDir dir_;
  std::unique_ptr<QWidget> owner_;
};

TEST_F(SaveDialogTest, TheFileDialogIsSetUpFromTheRequest) {
  TQtSaveDialog save(owner_.get());
  QFileDialog dialog;
  save.Configure(dialog, SaveRequestFor(TExportFormat::Html));
  EXPECT_EQ(dialog.windowTitle(), "Export to HTML");
  EXPECT_EQ(dialog.nameFilters(), QStringList{QStringLiteral("*.HTML")});
  EXPECT_EQ(dialog.defaultSuffix(), "HTML");
  EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
  EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
  EXPECT_FALSE(dialog.filter() & QDir::CaseSensitive);
  EXPECT_TRUE(dialog.isSizeGripEnabled());
}

TEST_F(SaveDialogTest, ANameWithoutExtensionGetsTheFormatsAndIsRememberedForTheNextExport) {
  TQtSaveDialog save(owner_.get());
  bool asked = false;
  const QString typed = dir_.path() + QStringLiteral("/sites");
  std::optional<std::string> chosen = SaveAs(save, SaveRequestFor(TExportFormat::Text), typed, QMessageBox::Yes, asked);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, PathOf("sites.TXT"));
  EXPECT_FALSE(asked);
  EXPECT_EQ(save.LastFileName(), *chosen);

  // The next export starts at the name chosen last.
  QFileDialog next;
  save.Configure(next, SaveRequestFor(TExportFormat::Excel));
  ASSERT_FALSE(next.selectedFiles().isEmpty());
  EXPECT_EQ(next.selectedFiles().constFirst().toStdString(), PathOf("sites.TXT"));
  // A name with its own extension keeps it.
  chosen = SaveAs(save, SaveRequestFor(TExportFormat::Excel), dir_.path() + QStringLiteral("/book.xls"),
                  QMessageBox::Yes, asked);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, PathOf("book.xls"));
}

TEST_F(SaveDialogTest, AnExistingFileIsReplacedOnlyAfterTheUserAgrees) {
  std::ofstream(PathOf("page.HTML")) << "old";
  TQtSaveDialog save(owner_.get());
  bool asked = false;
  const QString typed = dir_.path() + QStringLiteral("/page");

  std::optional<std::string> chosen = SaveAs(save, SaveRequestFor(TExportFormat::Html), typed, QMessageBox::No, asked);
  EXPECT_TRUE(asked);
  EXPECT_FALSE(chosen.has_value());
  EXPECT_TRUE(save.LastFileName().empty());

  chosen = SaveAs(save, SaveRequestFor(TExportFormat::Html), typed, QMessageBox::Yes, asked);
  EXPECT_TRUE(asked);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, PathOf("page.HTML"));
}

}  // namespace
}  // namespace marrowick
