#include "app/QuickFindBox.h"

#include <QKeyEvent>

#include "platform/qt/AnsiText.h"

namespace marrowick {

TQuickFindBox::TQuickFindBox(QWidget* parent) : QLineEdit(parent) {
  setObjectName(QStringLiteral("QuickFind"));
  setPlaceholderText(QStringLiteral("Find (Ctrl+F)"));
  setToolTip(QStringLiteral("Shows only the sites whose name, URL, category, login or notes hold this text"));
  setClearButtonEnabled(true);
  connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (onFind_) onFind_(platform::QStringToAnsi(text));
  });
}

void TQuickFindBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (!text().isEmpty()) {
      clear();
    } else if (returnTo_ != nullptr) {
      returnTo_->setFocus(Qt::OtherFocusReason);
    }
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

}  // namespace marrowick
