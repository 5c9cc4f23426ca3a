// Pictures of the grid on the sample catalogue, grouped and flat, with and
// without preview rows, and while a header is dragged, rendered with the
// standard colour scheme and saved under the build directory for people to
// look at. What can be checked on the pixels is checked: the group panel's
// and the header's heights, the hint drawn alone against the panel, the
// focused cell's highlight, the preview text and the drop arrows.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include "grid/qt/GridWidgetTestSupport.h"
#include "platform/qt/FontMetrics.h"

namespace grid::qt {
namespace {

using namespace grid::qt::testing;

const std::string kBbc = "https://www.bbc.com/news";

// Colours of the standard scheme.
constexpr QRgb kWindow = 0xFFFFFF;
constexpr QRgb kFace = 0xC0C0C0;
constexpr QRgb kShadow = 0x808080;
constexpr QRgb kDarkShadow = 0x000000;
constexpr QRgb kHighlight = 0x000080;
constexpr QRgb kLime = 0x00FF00;

class PictureTest : public GridWidgetTest {
 protected:
  void SetUp() override {
    Open();
    QDir().mkpath(MARROWICK_PICTURE_DIR);
    headerRow = QFontMetrics(marrowick::platform::ToQFont(core->Appearance().HeaderFont)).height() + 6;
  }
  QImage Grab() {
    QCoreApplication::processEvents();
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
  }
  void Save(const QImage& image, const char* name) {
    EXPECT_TRUE(image.save(QString(MARROWICK_PICTURE_DIR) + "/" + name)) << name;
  }
  static QRgb At(const QImage& image, QPoint p) { return image.pixel(p) & 0xFFFFFF; }
  // A widget's rectangle in the grid widget's coordinates.
  QRect InGrid(QWidget* w, QRect r) { return QRect(w->mapTo(widget, r.topLeft()), r.size()); }
  QRect Cell(TTreeListNode* node, const char* column) {
    return InGrid(Viewport(), widget->CellRect(node, Col(column)));
  }

  int headerRow = 0;
};

TEST_F(PictureTest, GroupedWithTheFocusedCell) {
  GroupOf(*core, "News")->Expand(false);
  GroupOf(*core, "Computers & Internet")->Expand(false);
  ClickCell(Row(kBbc), Col("SiteName"));
  QImage image = Grab();
  Save(image, "grid-grouped.png");

  // The group panel: one group column, h + 16 high, all of it the panel's
  // colour right of its header.
  const QRect panel = InGrid(widget->GroupPanel(), widget->GroupPanel()->rect());
  EXPECT_EQ(panel.height(), headerRow + 16);
  for (int y = panel.top(); y <= panel.bottom(); ++y) ASSERT_EQ(At(image, {panel.right() - 5, y}), kShadow) << y;
  EXPECT_NE(At(image, {panel.right() - 5, panel.bottom() + 1}), kShadow);
  // Its group header is a raised face at (8, 8), one header row high.
  EXPECT_EQ(At(image, panel.topLeft() + QPoint(8, 8)), kWindow);
  EXPECT_EQ(At(image, panel.topLeft() + QPoint(105, 10)), kFace);
  EXPECT_EQ(At(image, panel.topLeft() + QPoint(60, 8 + headerRow - 1)), kDarkShadow);
  EXPECT_EQ(At(image, panel.topLeft() + QPoint(60, 8 + headerRow)), kShadow);

  // The header row: h high, its bottom edge dark, the first row under it.
  const QRect header = InGrid(widget->Header(), widget->Header()->rect());
  EXPECT_EQ(header.top(), panel.bottom() + 1);
  EXPECT_EQ(header.height(), headerRow);
  const int x = InGrid(widget->Header()->viewport(), HeaderRect(Col("SiteUrl"))).left() + 3;
  EXPECT_EQ(At(image, {x, header.top()}), kWindow);
  EXPECT_EQ(At(image, {x, header.top() + 2}), kFace);
  EXPECT_EQ(At(image, {x, header.bottom() - 1}), kShadow);
  EXPECT_EQ(At(image, {x, header.bottom()}), kDarkShadow);
  EXPECT_EQ(At(image, {x, header.bottom() + 1}), kFace);  // the first group row
  EXPECT_EQ(HeaderRect(Col("SiteCategory")).width(), 184 + 16);

  // The focused cell in the highlight colour, its neighbours in the window's.
  const QRect focused = Cell(Row(kBbc), "SiteName");
  EXPECT_EQ(At(image, {focused.right() - 4, focused.top() + 2}), kHighlight);
  EXPECT_EQ(At(image, {focused.left() + 1, focused.bottom() - 2}), kHighlight);
  const QRect category = Cell(Row(kBbc), "SiteCategory");
  EXPECT_EQ(At(image, {category.right() - 4, category.top() + 2}), kWindow);
  // The grid lines in the button shadow's colour, the indent in the groups'.
  EXPECT_EQ(At(image, {category.right(), category.top() + 2}), kShadow);
  EXPECT_EQ(At(image, {category.left() - 8, category.top() + 2}), kFace);
}

TEST_F(PictureTest, FlatWithTheHintAlone) {
  core->DragGroupColumnOut(core->FindColumn("SiteCategory"));
  QImage image = Grab();
  Save(image, "grid-flat.png");
  const QRect panel = InGrid(widget->GroupPanel(), widget->GroupPanel()->rect());
  EXPECT_EQ(panel.height(), headerRow - headerRow / 2 + 16);
  EXPECT_EQ(HeaderRect(Col("SiteCategory")).width(), 184);

  // The panel shows exactly the hint drawn alone on the panel's colour.
  QPixmap drawn(panel.size());
  {
    QPainter painter(&drawn);
    TGroupPanel::DrawHint(painter, drawn.rect(), *widget);
  }
  QImage alone = drawn.toImage().convertToFormat(QImage::Format_RGB32);
  Save(alone, "group-panel-hint.png");
  EXPECT_EQ(image.copy(panel), alone);
  // And the hint is there: text pixels against a plain panel.
  QImage plain(panel.size(), QImage::Format_RGB32);
  plain.fill(QColor::fromRgb(kShadow));
  EXPECT_NE(alone, plain);
  int text = 0;
  for (int y = 0; y < alone.height(); ++y) {
    for (int x = 0; x < alone.width(); ++x) text += (alone.pixel(x, y) & 0xFFFFFF) == kFace;
  }
  EXPECT_GT(text, 20);
}

TEST_F(PictureTest, PreviewRowsShowTheNotesUnderTheCells) {
  GroupOf(*core, "News")->Expand(false);
  core->SetOptions(core->Options() | goPreview);
  widget->OptionsChanged();
  ClickCell(Row(kBbc), Col("SiteName"));
  QImage image = Grab();
  Save(image, "grid-preview.png");
  // One line of the note under BBC News, in the preview font's blue.
  const int line = QFontMetrics(marrowick::platform::ToQFont(core->Appearance().PreviewFont)).height();
  EXPECT_EQ(widget->RowHeightOf(Row(kBbc)), widget->CellHeight() + line + 2);
  const QRect cell = Cell(Row(kBbc), "SiteCategory");
  QRect preview(cell.left(), cell.bottom() + 1, 300, line + 2);
  int blue = 0;
  for (int y = preview.top(); y <= preview.bottom(); ++y) {
    for (int x = preview.left(); x <= preview.right(); ++x) {
      QColor c = QColor::fromRgb(image.pixel(x, y));
      blue += c.blue() > 150 && c.red() < 100 && c.green() < 100;
    }
  }
  EXPECT_GT(blue, 10);
  // Group rows have no preview.
  EXPECT_EQ(widget->RowHeightOf(GroupOf(*core, "News")), widget->CellHeight());

  core->SetOptions(core->Options() & ~goPreview);
  widget->OptionsChanged();
  EXPECT_EQ(widget->RowHeightOf(Row(kBbc)), widget->CellHeight());
  Save(Grab(), "grid-preview-off.png");
  EXPECT_EQ(widget->RowsView()->visualRect(widget->Model()->IndexOf(Row(kBbc), 0)).height(), widget->CellHeight());
}

TEST_F(PictureTest, TheDropArrowsPointWhereADraggedHeaderWouldGo) {
  core->DragGroupColumnOut(core->FindColumn("SiteCategory"));
  QRect header = HeaderRect(Col("SiteCategory"));
  QPoint over = widget->GroupPanel()->mapTo(widget, QPoint(200, 15));
  QTest::mousePress(HeaderPort(), Qt::LeftButton, Qt::NoModifier, header.center());
  QTest::mouseMove(HeaderPort(), header.center() + QPoint(30, 0));
  QTest::mouseMove(HeaderPort(), HeaderPort()->mapFrom(widget, over));
  QImage image = Grab();
  Save(image, "grid-header-drag.png");
  // The upper arrow's head at group position 0: 5 left of 8 and 9 above 8.
  const QPoint panel = widget->GroupPanel()->mapTo(widget, QPoint(0, 0));
  EXPECT_EQ(At(image, panel + QPoint(8 - 5 + 5, 8 - 9 + 5)), kLime);
  EXPECT_EQ(At(image, panel + QPoint(8 - 5 + 5, 8 + headerRow + 6)), kLime);
  // Dropped outside, nothing changes.
  QTest::mouseRelease(HeaderPort(), Qt::LeftButton, Qt::NoModifier,
                      HeaderPort()->mapFrom(widget, Viewport()->mapTo(widget, Viewport()->rect().center())));
  EXPECT_EQ(core->GroupColumnCount(), 0);
  QImage after = Grab();
  EXPECT_NE(At(after, panel + QPoint(8 - 5 + 5, 8 - 9 + 5)), kLime);
}

}  // namespace
}  // namespace grid::qt
