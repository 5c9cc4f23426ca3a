// Dialogs of the program open in the middle of the screen they are on, not
// over their owner: they are short questions that may come while the main
// window is hidden in the tray.
#pragma once

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace marrowick {

inline void MoveToScreenCentre(QWidget& widget) {
  QScreen* screen = widget.screen() != nullptr ? widget.screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  widget.move(area.center() - QPoint(widget.width() / 2, widget.height() / 2));
}

}  // namespace marrowick
