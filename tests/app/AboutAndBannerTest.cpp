// The about box (texts, the two links opened through the shell by a click
// or a key) and the banner panel with the banner the program draws, and the
// program's icon as the build lays it beside the program.
#include <gtest/gtest.h>

#include <string>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include "app/AboutBox.h"
#include "app/Banner.h"
#include "app/ProgramIcon.h"
#include "app/QtTestApplication.h"
#include "support/FakePlatform.h"

namespace marrowick {
namespace {

// The program directory as the program names it, with its trailing '/'.
const std::string kProgramDir = std::string(MARROWICK_PROGRAM_DIR) + "/";

class AboutBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::TestApplication(); }
  fakes::TFakeShell shell_;
};

TEST_F(AboutBoxTest, ShowsTheProgramItsMakerAndTheLinks) {
  TAboutBox box(shell_, ProgramIcon(kProgramDir));
  EXPECT_EQ(box.windowTitle(), "About Marrowick");
  EXPECT_EQ(box.size(), QSize(298, 238));
  EXPECT_EQ(box.ProductName()->text(), "Marrowick");
  EXPECT_EQ(box.Version()->text(), "Version 1.0");
  EXPECT_TRUE(box.Copyright()->text().contains(QStringLiteral("Tolvane")));
  EXPECT_TRUE(box.Copyright()->text().contains(QRegularExpression(QStringLiteral("\\b20\\d\\d\\b"))));
  EXPECT_EQ(box.Comments()->text(), "If you have any comments or sugestions please let us know.");
  EXPECT_TRUE(box.Comments()->wordWrap());
  EXPECT_EQ(box.ProgramIconLabel()->size(), QSize(41, 33));
  EXPECT_FALSE(box.ProgramIconLabel()->pixmap().isNull());

  ASSERT_FALSE(MakerMailAddress().empty());
  ASSERT_FALSE(MakerWebAddress().empty());
  EXPECT_EQ(box.MailLink()->text().toStdString(), "Email Us at " + MakerMailAddress());
  EXPECT_EQ(box.WebLink()->text().toStdString(), "Visit our website at " + MakerWebAddress());
  for (QLabel* link : {static_cast<QLabel*>(box.MailLink()), static_cast<QLabel*>(box.WebLink())}) {
    EXPECT_TRUE(link->font().bold());
    EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  }
  EXPECT_EQ(box.OkButton()->text(), "OK");
  EXPECT_TRUE(box.OkButton()->isDefault());
}

TEST_F(AboutBoxTest, ClickingALinkOpensItThroughTheShell) {
  TAboutBox box(shell_, QIcon());
  box.show();
  QTest::mouseClick(box.MailLink(), Qt::LeftButton);
  ASSERT_EQ(shell_.opened.size(), 1u);
  EXPECT_EQ(shell_.opened[0], "Mailto:" + MakerMailAddress());

  QTest::mouseClick(box.WebLink(), Qt::LeftButton);
  ASSERT_EQ(shell_.opened.size(), 2u);
  EXPECT_EQ(shell_.opened[1], MakerWebAddress());
  EXPECT_TRUE(shell_.refused.empty());

  // A press that is released outside the link is no click.
  QTest::mousePress(box.WebLink(), Qt::LeftButton);
  QTest::mouseRelease(box.WebLink(), Qt::LeftButton, {}, QPoint(-5, -5));
  EXPECT_EQ(shell_.opened.size(), 2u);
  // From the keyboard: Space on the focused link.
  QTest::keyClick(box.WebLink(), Qt::Key_Space);
  EXPECT_EQ(shell_.opened.size(), 3u);
}

TEST_F(AboutBoxTest, OkClosesTheModalBox) {
  QWidget owner;
  QTimer::singleShot(0, [&owner] {
    auto* box = owner.findChild<TAboutBox*>();
    ASSERT_NE(box, nullptr);
    QTest::keyClick(box->OkButton(), Qt::Key_Return);
  });
  ShowAboutBox(shell_, QIcon(), &owner);
  EXPECT_EQ(owner.findChild<TAboutBox*>(), nullptr);  // destroyed when closed
}

TEST(BannerTest, APanel68PixelsHighHoldsTheDrawnBanner) {
  testing::TestApplication();
  TBannerPanel panel(ProgramIcon(kProgramDir));
  panel.resize(528, TBannerPanel::kHeight);
  EXPECT_EQ(panel.height(), 68);
  EXPECT_EQ(panel.minimumHeight(), 68);
  EXPECT_EQ(panel.maximumHeight(), 68);
  EXPECT_EQ(panel.frameShape(), QFrame::Box);
  EXPECT_TRUE(panel.font().bold());
  EXPECT_EQ(panel.font().pointSize(), 12);
  EXPECT_EQ(panel.Banner()->geometry(), QRect(6, 2, 468, 60));

  // The banner is drawn: several colours, the title in white among them.
  const QImage image = panel.Banner()->grab().toImage();
  ASSERT_EQ(image.size(), QSize(468, 60));
  int white = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, y) == QColor(Qt::white)) ++white;
  EXPECT_GT(white, 50);
  EXPECT_NE(image.pixelColor(2, 2), image.pixelColor(465, 2));  // the gradient
}

TEST(ProgramIconTest, TheBuildLaysTheIconBesideTheProgram) {
  testing::TestApplication();
  const QIcon icon = ProgramIcon(kProgramDir);
  ASSERT_FALSE(icon.isNull());
  const QImage image = icon.pixmap(QSize(64, 64)).toImage();
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);        // a transparent corner
  EXPECT_EQ(image.pixelColor(32, 40).alpha(), 255);     // an opaque middle
  // Without the file there is still an icon to show.
  EXPECT_FALSE(ProgramIcon("/nonexistent/").isNull());
}

}  // namespace
}  // namespace marrowick
