// The tray icon over its owner window: minimising into the tray, bringing
// the window back by double click and through the menu, the hint, the one
// icon per application, a minimised start, and a desktop whose notification
// area is missing or comes and goes. The icon's mouse reaches the component
// through QSystemTrayIcon's activated signal, as the desktop sends it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QTimer>
#include <QWidget>

#include "app/QtTestApplication.h"
#include "tray/TrayIcon.h"

namespace marrowick {
namespace {

class TrayIconTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestApplication();
    window_ = std::make_unique<QWidget>();
    window_->resize(300, 200);
  }
  void TearDown() override {
    tray_.reset();
    window_.reset();
  }

  // A tray icon on the window, the notification area present as trayPresent says.
  TTrayIcon& MakeTray() {
    tray_ = std::make_unique<TTrayIcon>(window_.get(), [this] { return trayPresent_; });
    return *tray_;
  }

  // Lets the queued work of the last event run (the hiding of a minimised window).
  static void Settle() { QCoreApplication::processEvents(); }

  void Activate(QSystemTrayIcon::ActivationReason reason) {
    emit tray_->SystemTrayIcon()->activated(reason);
    Settle();
  }

  bool trayPresent_ = true;
  std::unique_ptr<QWidget> window_;
  std::unique_ptr<TTrayIcon> tray_;
};

TEST_F(TrayIconTest, OneTrayIconPerApplication) {
  MakeTray();
  QWidget other;
  try {
    TTrayIcon second(&other, [] { return true; });
    FAIL() << "a second tray icon was made";
  } catch (const ETrayIconError& error) {
    EXPECT_STREQ(error.what(), "Cannot have more than one TrayIcon per application");
  }
  // Once the first is gone, the next window may have one.
  tray_.reset();
  EXPECT_NO_THROW(TTrayIcon(&other, [] { return true; }));
}

TEST_F(TrayIconTest, IconIsInTheTrayFromTheStartWithItsHint) {
  TTrayIcon& tray = MakeTray();
  EXPECT_TRUE(tray.InTray());
  EXPECT_TRUE(tray.SystemTrayIcon()->isVisible());
  EXPECT_FALSE(tray.SystemTrayIcon()->icon().isNull());  // the standard icon until one is set

  tray.SetHint("Marrowick");
  EXPECT_EQ(tray.SystemTrayIcon()->toolTip(), "Marrowick");

  // Only the first 63 characters show; the hint is Windows-1252 text.
  const std::string longHint = std::string(60, 'a') + "\xE9" "bcdefgh";
  tray.SetHint(longHint);
  const QString shown = tray.SystemTrayIcon()->toolTip();
  EXPECT_EQ(shown.size(), 63);
  EXPECT_EQ(shown, QString(60, QLatin1Char('a')) + QString::fromUtf8("\u00E9bc"));
  EXPECT_EQ(tray.Hint(), longHint);  // the property keeps the whole text

  tray.SetShowHint(false);
  EXPECT_TRUE(tray.SystemTrayIcon()->toolTip().isEmpty());
  tray.SetShowHint(true);
  EXPECT_EQ(tray.SystemTrayIcon()->toolTip(), shown);
}

TEST_F(TrayIconTest, MinimisingHidesTheWindowAndADoubleClickBringsItBack) {
  TTrayIcon& tray = MakeTray();
  tray.SetMinimizeToTray(true);
  tray.SetCloseToTray(false);
  int minimized = 0;
  int restored = 0;
  tray.OnMinimize = [&] { ++minimized; };
  tray.OnRestore = [&] { ++restored; };
  window_->show();
  Settle();

  window_->showMinimized();
  Settle();
  EXPECT_FALSE(window_->isVisible());  // gone from the task bar too
  EXPECT_TRUE(tray.OwnerInTray());
  EXPECT_TRUE(tray.InTray());  // the icon stays
  EXPECT_EQ(minimized, 1);

  Activate(QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(window_->isMinimized());
  EXPECT_FALSE(tray.OwnerInTray());
  EXPECT_EQ(restored, 1);

  // Restoring a shown window changes nothing but bringing it to the front.
  tray.RestoreApplication();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(window_->isMinimized());

  // Minimising again works the same way.
  window_->showMinimized();
  Settle();
  EXPECT_FALSE(window_->isVisible());
}

TEST_F(TrayIconTest, SingleClicksDoNotRestoreAndTheDoubleClickEventMayKeepTheWindowHidden) {
  TTrayIcon& tray = MakeTray();
  tray.SetMinimizeToTray(true);
  std::vector<Qt::MouseButton> clicks;
  tray.OnClick = [&](Qt::MouseButton button) { clicks.push_back(button); };
  window_->show();
  window_->showMinimized();
  Settle();
  ASSERT_FALSE(window_->isVisible());

  Activate(QSystemTrayIcon::Trigger);
  Activate(QSystemTrayIcon::MiddleClick);
  Activate(QSystemTrayIcon::Context);  // the desktop opens the menu; nothing else happens
  EXPECT_EQ(clicks, (std::vector<Qt::MouseButton>{Qt::LeftButton, Qt::MiddleButton}));
  EXPECT_FALSE(window_->isVisible());

  tray.OnDblClick = [](Qt::MouseButton, bool& restore) { restore = false; };
  Activate(QSystemTrayIcon::DoubleClick);
  EXPECT_FALSE(window_->isVisible());
  tray.OnDblClick = nullptr;
  Activate(QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(window_->isVisible());
}

TEST_F(TrayIconTest, TheProgramsMenuCallsItsHandlersAndShowsOnARightPress) {
  TTrayIcon& tray = MakeTray();
  tray.SetMinimizeToTray(true);
  // The icon's own menu until the program gives its own.
  QMenu* own = tray.PopupMenu();
  ASSERT_NE(own, nullptr);
  ASSERT_EQ(own->actions().size(), 2);
  EXPECT_EQ(own->actions()[0]->text(), "&Close");
  EXPECT_EQ(own->actions()[1]->text(), "&Restore");
  EXPECT_EQ(tray.SystemTrayIcon()->contextMenu(), own);

  int adds = 0;
  int exits = 0;
  QMenu* menu = CreateTrayMenu(window_.get(), {[&] { ++adds; }, [&] { tray.RestoreApplication(); }, [&] { ++exits; }});
  tray.SetPopupMenu(menu);
  // The notification area opens this menu on a right press.
  EXPECT_EQ(tray.SystemTrayIcon()->contextMenu(), menu);
  const QList<QAction*> items = menu->actions();
  ASSERT_EQ(items.size(), 4);
  EXPECT_EQ(items[0]->text(), "Add");
  EXPECT_TRUE(items[1]->isSeparator());
  EXPECT_EQ(items[2]->text(), "Restore");
  EXPECT_EQ(items[3]->text(), "Exit");

  window_->show();
  window_->showMinimized();
  Settle();
  ASSERT_FALSE(window_->isVisible());

  // Add works while the window stays hidden.
  items[0]->trigger();
  EXPECT_EQ(adds, 1);
  EXPECT_FALSE(window_->isVisible());
  items[2]->trigger();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(window_->isMinimized());
  items[3]->trigger();
  EXPECT_EQ(exits, 1);

  tray.SetPopupMenu(nullptr);
  EXPECT_EQ(tray.SystemTrayIcon()->contextMenu(), own);
}

TEST_F(TrayIconTest, AMinimisedStartGoesStraightToTheTray) {
  TTrayIcon& tray = MakeTray();  // MinimizeToTray off: the start alone decides
  window_->showMinimized();
  Settle();
  EXPECT_FALSE(window_->isVisible());
  EXPECT_TRUE(tray.OwnerInTray());

  tray.RestoreApplication();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(window_->isMinimized());

  // Past the start, minimising without MinimizeToTray is ordinary.
  window_->showMinimized();
  Settle();
  EXPECT_TRUE(window_->isVisible());
}

TEST_F(TrayIconTest, WithoutANotificationAreaTheWindowMinimisesNormallyAndTheIconComesLater) {
  trayPresent_ = false;
  TTrayIcon& tray = MakeTray();
  tray.SetMinimizeToTray(true);
  EXPECT_FALSE(tray.InTray());
  EXPECT_FALSE(tray.SystemTrayIcon()->isVisible());
  EXPECT_TRUE(tray.PollTimer()->isActive());  // waiting for one

  // A minimised start stays reachable in the task bar.
  window_->showMinimized();
  Settle();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->isMinimized());
  window_->showNormal();
  window_->showMinimized();
  Settle();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(tray.OwnerInTray());

  tray.PollTrayAvailability();
  EXPECT_FALSE(tray.InTray());

  // A panel with a notification area starts.
  trayPresent_ = true;
  tray.PollTrayAvailability();
  EXPECT_TRUE(tray.InTray());
  EXPECT_TRUE(tray.SystemTrayIcon()->isVisible());
  EXPECT_TRUE(window_->isVisible());  // the minimised window is left where it is

  window_->showNormal();
  Settle();
  window_->showMinimized();
  Settle();
  EXPECT_FALSE(window_->isVisible());
  EXPECT_TRUE(tray.OwnerInTray());
}

TEST_F(TrayIconTest, AWindowHiddenInANotificationAreaThatGoesAwayComesBack) {
  TTrayIcon& tray = MakeTray();
  tray.SetMinimizeToTray(true);
  window_->show();
  window_->showMinimized();
  Settle();
  ASSERT_FALSE(window_->isVisible());

  trayPresent_ = false;
  tray.PollTrayAvailability();
  EXPECT_FALSE(tray.InTray());
  EXPECT_TRUE(window_->isVisible());  // minimised, in the task bar
  EXPECT_TRUE(window_->isMinimized());
  EXPECT_TRUE(tray.PollTimer()->isActive());

  trayPresent_ = true;
  tray.PollTrayAvailability();
  EXPECT_TRUE(tray.InTray());
}

TEST_F(TrayIconTest, ClosingGoesToTheTrayOnlyWithCloseToTray) {
  TTrayIcon& tray = MakeTray();
  EXPECT_TRUE(tray.CloseToTray());  // the component's default
  window_->show();
  Settle();
  EXPECT_FALSE(window_->close());  // refused: hidden in the tray instead
  Settle();
  EXPECT_FALSE(window_->isVisible());
  EXPECT_TRUE(tray.OwnerInTray());
  tray.RestoreApplication();

  // Without a notification area the window minimises rather than vanish.
  trayPresent_ = false;
  tray.PollTrayAvailability();
  EXPECT_FALSE(window_->close());
  Settle();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->isMinimized());
  window_->showNormal();

  // The program's setting: the close button closes.
  tray.SetCloseToTray(false);
  EXPECT_TRUE(window_->close());
  EXPECT_FALSE(tray.OwnerInTray());
}

TEST_F(TrayIconTest, InactiveOrHiddenOnRestoreTheIconLeavesTheTray) {
  TTrayIcon& tray = MakeTray();
  tray.SetMinimizeToTray(true);
  tray.SetHideOnRestore(true);
  window_->show();
  window_->showMinimized();
  Settle();
  ASSERT_FALSE(window_->isVisible());
  tray.RestoreApplication();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(tray.InTray());

  tray.SetActive(true);  // already active: the icon stays out until added
  EXPECT_FALSE(tray.InTray());
  tray.AddToTray();
  EXPECT_TRUE(tray.InTray());

  tray.SetActive(false);
  EXPECT_FALSE(tray.InTray());
  EXPECT_FALSE(tray.SystemTrayIcon()->isVisible());
  EXPECT_FALSE(tray.PollTimer()->isActive());
  window_->showMinimized();
  Settle();
  EXPECT_TRUE(window_->isVisible());  // nothing goes to the tray while inactive
  tray.SetActive(true);
  EXPECT_TRUE(tray.InTray());
}

}  // namespace
}  // namespace marrowick
