#include "tray/TrayIcon.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QStyle>
#include <QTimer>
#include <QWidget>

#include "platform/qt/AnsiText.h"

namespace marrowick {

namespace {

// The one tray icon of the application.
TTrayIcon* theTrayIcon = nullptr;

}  // namespace

TTrayIcon::TTrayIcon(QWidget* owner, TAvailabilityProbe probe) : QObject(owner), owner_(owner) {
  if (theTrayIcon != nullptr) throw ETrayIconError(kSecondIconMessage);
  if (owner == nullptr) throw std::invalid_argument("TTrayIcon needs an owner window");
  theTrayIcon = this;

  trayIcon_ = new QSystemTrayIcon(this);
  trayIcon_->setIcon(CurrentIcon());
  connect(trayIcon_, &QSystemTrayIcon::activated, this, &TTrayIcon::Activated);

  ownMenu_ = std::make_unique<QMenu>();
  ownMenu_->setObjectName(QStringLiteral("TrayOwnMenu"));
  ownMenu_->addAction(QStringLiteral("&Close"), [] { QCoreApplication::quit(); });
  ownMenu_->addAction(QStringLiteral("&Restore"), [this] { RestoreApplication(); });
  trayIcon_->setContextMenu(ownMenu_.get());

  SetAvailabilityProbe(std::move(probe));
  pollTimer_ = new QTimer(this);
  pollTimer_->setInterval(kPollIntervalMs);
  connect(pollTimer_, &QTimer::timeout, this, &TTrayIcon::PollTrayAvailability);

  owner->installEventFilter(this);
  AddToTray();
}

TTrayIcon::~TTrayIcon() {
  DeleteFromTray();
  if (owner_) owner_->removeEventFilter(this);
  // The menu must not outlive the icon that shows it.
  trayIcon_->setContextMenu(nullptr);
  if (theTrayIcon == this) theTrayIcon = nullptr;
}

// ---- properties ----

void TTrayIcon::SetActive(bool active) {
  if (active == active_) return;
  active_ = active;
  if (active) {
    AddToTray();
  } else {
    DeleteFromTray();
  }
}

void TTrayIcon::SetShowHint(bool value) {
  showHint_ = value;
  RefreshToolTip();
}

void TTrayIcon::SetHint(const std::string& hint) {
  hint_ = hint;
  RefreshToolTip();
}

QString TTrayIcon::ToolTip() const {
  if (!showHint_) return {};
  return platform::AnsiToQString(std::string_view(hint_).substr(0, kMaxHintLength));
}

void TTrayIcon::RefreshToolTip() { trayIcon_->setToolTip(ToolTip()); }

void TTrayIcon::SetIcon(const QIcon& icon) {
  icon_ = icon;
  trayIcon_->setIcon(CurrentIcon());
}

QIcon TTrayIcon::CurrentIcon() const {
  if (!icon_.isNull()) return icon_;
  if (!QApplication::windowIcon().isNull()) return QApplication::windowIcon();
  return QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
}

QMenu* TTrayIcon::PopupMenu() const { return popupMenu_ ? popupMenu_.data() : ownMenu_.get(); }

void TTrayIcon::SetPopupMenu(QMenu* menu) {
  popupMenu_ = menu;
  // The notification area opens the menu itself on a right press.
  trayIcon_->setContextMenu(PopupMenu());
}

// ---- in and out of the notification area ----

void TTrayIcon::AddToTray() {
  if (inTray_ || !active_) return;
  pollTimer_->start();
  if (!probe_()) return;  // waits for a notification area
  trayIcon_->setIcon(CurrentIcon());
  RefreshToolTip();
  trayIcon_->show();
  inTray_ = true;
}

void TTrayIcon::DeleteFromTray() {
  pollTimer_->stop();
  if (!inTray_) return;
  trayIcon_->hide();
  inTray_ = false;
  // A window hidden in the tray must stay reachable.
  if (ownerHidden_ && owner_) {
    ownerHidden_ = false;
    owner_->showMinimized();
  }
}

void TTrayIcon::SetAvailabilityProbe(TAvailabilityProbe probe) {
  probe_ = probe ? std::move(probe) : [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
}

void TTrayIcon::PollTrayAvailability() {
  if (!active_) return;
  const bool available = probe_();
  if (!inTray_ && available) {
    AddToTray();
  } else if (inTray_ && !available) {
    // The notification area went away (its panel ended): keep watching for
    // its return, and give back a window that was hidden in it.
    DeleteFromTray();
    pollTimer_->start();
  }
}

// ---- the owner window ----

void TTrayIcon::RestoreApplication() {
  if (OnRestore) OnRestore();
  if (!owner_) return;
  ownerHidden_ = false;
  startingUp_ = false;
  if (owner_->isMinimized()) owner_->setWindowState(owner_->windowState() & ~Qt::WindowMinimized);
  owner_->show();
  owner_->raise();
  owner_->activateWindow();
  if (hideOnRestore_) DeleteFromTray();
}

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event) {
  if (watched != owner_.data()) return false;
  switch (event->type()) {
    case QEvent::Show:
    case QEvent::WindowStateChange:
      if (owner_->isMinimized()) {
        if (event->type() == QEvent::WindowStateChange && OnMinimize) OnMinimize();
        // A window started minimised goes straight to the tray. Without a
        // notification area it stays minimised as any other window.
        if (active_ && inTray_ && (minimizeToTray_ || startingUp_)) HideOwnerToTray();
      } else if (owner_->isVisible()) {
        startingUp_ = false;
      }
      break;
    case QEvent::Close:
      if (closeToTray_ && active_) {
        event->ignore();
        if (inTray_) {
          HideOwnerToTray();
        } else {
          owner_->showMinimized();  // no notification area: a minimised window stays reachable
        }
        return true;
      }
      break;
    default:
      break;
  }
  return false;
}

void TTrayIcon::HideOwnerToTray() {
  ownerHidden_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        // Restored in the meantime, or the notification area went away.
        if (!owner_ || !ownerHidden_ || !inTray_) return;
        owner_->hide();
      },
      Qt::QueuedConnection);
}

// ---- the icon's mouse ----

void TTrayIcon::Activated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      if (OnClick) OnClick(Qt::LeftButton);
      break;
    case QSystemTrayIcon::MiddleClick:
      if (OnClick) OnClick(Qt::MiddleButton);
      break;
    case QSystemTrayIcon::DoubleClick:
      DblClick(Qt::LeftButton);
      break;
    case QSystemTrayIcon::Context:  // the notification area shows PopupMenu
    case QSystemTrayIcon::Unknown:
      break;
  }
}

void TTrayIcon::DblClick(Qt::MouseButton button) {
  bool restore = true;
  if (OnDblClick) OnDblClick(button, restore);
  if (restore) RestoreApplication();
}

// ---- the program's tray menu ----

QMenu* CreateTrayMenu(QWidget* parent, TTrayMenuHandlers handlers) {
  auto* menu = new QMenu(parent);
  menu->setObjectName(QStringLiteral("PopupMenu2"));
  auto add = [menu](const char* name, const char* caption, std::function<void()> handler) {
    QAction* action = menu->addAction(QString::fromLatin1(caption));
    action->setObjectName(QString::fromLatin1(name));
    QObject::connect(action, &QAction::triggered, menu, [handler = std::move(handler)] {
      if (handler) handler();
    });
  };
  add("TrayAdd", "Add", std::move(handlers.Add));
  menu->addSeparator();
  add("TrayRestore", "Restore", std::move(handlers.Restore));
  add("TrayExit", "Exit", std::move(handlers.Exit));
  return menu;
}

}  // namespace marrowick
