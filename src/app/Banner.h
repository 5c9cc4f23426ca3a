// The banner under the toolbar: a panel 68 pixels high with a single border
// and a bold 12-point font, holding the program's own 468 x 60 banner,
// which the program draws itself: its icon, its name and what it is for.
#pragma once

#include <QFrame>
#include <QIcon>
#include <QWidget>

namespace marrowick {

class TBanner : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 468;
  static constexpr int kHeight = 60;
  static constexpr const char* kTitle = "Marrowick";
  static constexpr const char* kTagLine = "Your web sites, their logins and your notes in one catalogue";

  explicit TBanner(const QIcon& icon, QWidget* parent = nullptr);

  QSize sizeHint() const override { return QSize(kWidth, kHeight); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QIcon icon_;
};

class TBannerPanel : public QFrame {
  Q_OBJECT

 public:
  static constexpr int kHeight = 68;
  static constexpr int kBannerLeft = 6;
  static constexpr int kBannerTop = 2;

  explicit TBannerPanel(const QIcon& icon, QWidget* parent = nullptr);

  TBanner* Banner() const { return banner_; }

 private:
  TBanner* banner_;
};

}  // namespace marrowick
