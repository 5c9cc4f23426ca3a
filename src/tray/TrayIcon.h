// The program's icon in the desktop's notification area, over
// QSystemTrayIcon. It watches its owner window: minimising the window hides
// it (and its task-bar entry) into the tray, a double click on the icon or
// RestoreApplication brings it back in front, and the icon's menu opens on a
// right press. A window started minimised goes straight to the tray.
//
// A desktop without a notification area must not swallow the window: then
// the window minimises normally, the icon waits, and a poll of the
// notification area's presence adds the icon once one appears. If the
// notification area goes away while the window is hidden in it, the window
// comes back minimised.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>

class QTimer;

namespace marrowick {

class ETrayIconError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TTrayIcon : public QObject {
  Q_OBJECT

 public:
  // The notification area shows at most this many characters of the hint.
  static constexpr std::size_t kMaxHintLength = 63;
  // How often the presence of a notification area is checked.
  static constexpr int kPollIntervalMs = 2000;
  static constexpr const char* kSecondIconMessage = "Cannot have more than one TrayIcon per application";

  // Whether the desktop has a notification area now.
  using TAvailabilityProbe = std::function<bool()>;

  // Watches owner, a top-level window. Active, with the icon added at once
  // (or as soon as a notification area exists). There is one tray icon per
  // application: a second one fails with ETrayIconError. Without a probe,
  // QSystemTrayIcon::isSystemTrayAvailable answers; tests give their own.
  explicit TTrayIcon(QWidget* owner, TAvailabilityProbe probe = {});
  ~TTrayIcon() override;

  // Active: the icon is in the notification area (or waits for one);
  // inactive, it is taken out and nothing goes to the tray.
  bool Active() const { return active_; }
  void SetActive(bool active);
  // Closing the owner hides it in the tray instead (default true).
  bool CloseToTray() const { return closeToTray_; }
  void SetCloseToTray(bool value) { closeToTray_ = value; }
  // Minimising the owner hides it in the tray (default false).
  bool MinimizeToTray() const { return minimizeToTray_; }
  void SetMinimizeToTray(bool value) { minimizeToTray_ = value; }
  // Restoring takes the icon out of the tray (default false).
  bool HideOnRestore() const { return hideOnRestore_; }
  void SetHideOnRestore(bool value) { hideOnRestore_ = value; }
  // The hint (Windows-1252 text) is the icon's tooltip while ShowHint is on;
  // only its first 63 characters are shown.
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool value);
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint);
  // The tooltip the notification area shows.
  QString ToolTip() const;
  // The icon shown; without one, the application's icon, else the style's
  // standard one.
  const QIcon& Icon() const { return icon_; }
  void SetIcon(const QIcon& icon);
  QIcon CurrentIcon() const;
  // The menu of a right press; nullptr gives back the icon's own menu
  // ("&Close", "&Restore"). The menu is not owned.
  QMenu* PopupMenu() const;
  void SetPopupMenu(QMenu* menu);

  // Events; none need be set. A double click restores unless OnDblClick
  // clears its restore flag.
  std::function<void(Qt::MouseButton)> OnClick;
  std::function<void(Qt::MouseButton, bool& restore)> OnDblClick;
  std::function<void()> OnMinimize;
  std::function<void()> OnRestore;

  // Puts the icon into the notification area (nothing when it is there);
  // without a notification area the icon waits for one.
  void AddToTray();
  // Takes the icon out (nothing when it is out).
  void DeleteFromTray();
  bool InTray() const { return inTray_; }
  // The owner is hidden in the tray.
  bool OwnerInTray() const { return ownerHidden_; }

  // Shows the owner again, normal (not minimised), in front.
  void RestoreApplication();

  void SetAvailabilityProbe(TAvailabilityProbe probe);
  // One look at the notification area, as the timer makes every
  // kPollIntervalMs: adds a waiting icon, or brings back a window hidden in
  // a notification area that has gone.
  void PollTrayAvailability();
  QTimer* PollTimer() const { return pollTimer_; }

  QSystemTrayIcon* SystemTrayIcon() const { return trayIcon_; }
  QWidget* Owner() const { return owner_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Activated(QSystemTrayIcon::ActivationReason reason);
  void DblClick(Qt::MouseButton button);
  // Hides the owner once the event that minimised it is done, so a window
  // shown minimised is hidden after it appeared.
  void HideOwnerToTray();
  void RefreshToolTip();

  QPointer<QWidget> owner_;
  QSystemTrayIcon* trayIcon_;
  std::unique_ptr<QMenu> ownMenu_;
  QPointer<QMenu> popupMenu_;
  QTimer* pollTimer_;
  TAvailabilityProbe probe_;
  QIcon icon_;
  std::string hint_;
  bool active_ = true;
  bool closeToTray_ = true;
  bool minimizeToTray_ = false;
  bool hideOnRestore_ = false;
  bool showHint_ = true;
  bool inTray_ = false;
  bool ownerHidden_ = false;
  // Until the owner is first seen not minimised, a minimised owner is a
  // minimised start and goes to the tray even without MinimizeToTray.
  bool startingUp_ = true;
};

// The program's tray menu: "Add", a separator, "Restore", "Exit", each
// calling the given handler. Owned by parent.
struct TTrayMenuHandlers {
  std::function<void()> Add;
  std::function<void()> Restore;
  std::function<void()> Exit;
};
QMenu* CreateTrayMenu(QWidget* parent, TTrayMenuHandlers handlers);

}  // namespace marrowick
