#include "app/Banner.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace marrowick {

TBanner::TBanner(const QIcon& icon, QWidget* parent) : QWidget(parent), icon_(icon) {
  setObjectName(QStringLiteral("BannerControl1"));
  setFixedSize(kWidth, kHeight);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TBanner::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF area = rect();

  // A deep teal sky that lightens to the right, with a faint arc behind the
  // text like the curve of a globe.
  QLinearGradient sky(area.topLeft(), area.topRight());
  sky.setColorAt(0.0, QColor(0x0B, 0x3D, 0x5C));
  sky.setColorAt(1.0, QColor(0x1C, 0x7C, 0x8C));
  painter.fillRect(area, sky);
  QPainterPath arc;
  arc.addEllipse(QPointF(kWidth - 70, kHeight + 150), 210, 190);
  painter.fillPath(arc, QColor(255, 255, 255, 22));

  const int iconSize = 44;
  const QRect iconRect(10, (kHeight - iconSize) / 2, iconSize, iconSize);
  if (!icon_.isNull()) icon_.paint(&painter, iconRect);

  const int textLeft = iconRect.right() + 14;
  QFont title(font());
  title.setBold(true);
  title.setPixelSize(24);
  painter.setFont(title);
  painter.setPen(Qt::white);
  painter.drawText(QRect(textLeft, 5, kWidth - textLeft - 8, 30), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromLatin1(kTitle));

  QFont line(font());
  line.setBold(false);
  line.setPixelSize(12);
  painter.setFont(line);
  painter.setPen(QColor(0xD8, 0xEE, 0xF2));
  painter.drawText(QRect(textLeft, 36, kWidth - textLeft - 8, 18), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromLatin1(kTagLine));
}

TBannerPanel::TBannerPanel(const QIcon& icon, QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("BannerPanel"));
  setFrameShape(QFrame::Box);
  setFrameShadow(QFrame::Plain);
  setLineWidth(1);
  setFixedHeight(kHeight);
  QFont bold(font());
  bold.setBold(true);
  bold.setPointSize(12);
  setFont(bold);
  banner_ = new TBanner(icon, this);
  banner_->move(kBannerLeft, kBannerTop);
}

}  // namespace marrowick
