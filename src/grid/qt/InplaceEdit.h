// The in-place editors, one per column kind, opened by the grid on the
// focused cell while its core holds the editor open:
//
// - TInplaceDBTreeListEdit: a plain text editor. Every change of its text
//   is offered to the core first (a refused change leaves the text as it
//   was); Tab, Enter, Esc, PgUp, PgDn, Up, Down and Insert go to the grid,
//   which closes the editor and handles the key; F2 removes the selection.
// - TInplaceDBTreeListPickEdit: the same with a drop-down list of the
//   column's items (F4, Alt+Down or Alt+Up, or its button; Enter accepts,
//   Esc rejects; a release over an item accepts it) and typing that
//   completes to the first item beginning with the typed text.
// - TInplaceDBTreeListHyperLinkEdit: the same shown as a link (underlined,
//   in its own colours, the hand cursor); Ctrl+Enter or a click in it opens
//   the address through the shell.
#pragma once

#include <string>

#include <QLineEdit>
#include <QListWidget>

namespace grid {
class TDBTreeListPickColumn;
class TDBTreeListHyperLinkColumn;
}  // namespace grid

class QToolButton;

namespace grid::qt {

class TDBGridWidget;

class TInplaceDBTreeListEdit : public QLineEdit {
  Q_OBJECT

 public:
  TInplaceDBTreeListEdit(TDBGridWidget& owner, QWidget* parent);

  // Shows a text the grid holds, not a change of the user's.
  void SetGridText(const QString& text);
  // Closes what the editor has open besides itself (the pick list).
  virtual void ClosePopup() {}

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // The kind's own keys, before the common ones; true when handled.
  virtual bool HandleKey(QKeyEvent* /*event*/) { return false; }
  // Whether the editor hands this key to the grid.
  static bool IsPassKey(const QKeyEvent* event);
  // Whether the typed character may go into the field (false: swallowed).
  bool AcceptsCharacter(const QKeyEvent* event) const;

  TDBGridWidget& owner_;

 private:
  void TextChanged(const QString& text);

  bool settingText_ = false;
  // The text as the grid last accepted it.
  QString accepted_;
};

// The drop-down list of the pick editor: a window of its own below the
// editor that never takes the focus; the editor keeps the keys.
class TPickList : public QListWidget {
  Q_OBJECT

 public:
  explicit TPickList(QWidget* editor);

 signals:
  // A mouse button released over an item (its row), or elsewhere.
  void Picked(int row);
  void Rejected();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

class TInplaceDBTreeListPickEdit : public TInplaceDBTreeListEdit {
  Q_OBJECT

 public:
  TInplaceDBTreeListPickEdit(TDBGridWidget& owner, QWidget* parent, const TDBTreeListPickColumn& column);
  ~TInplaceDBTreeListPickEdit() override;

  TPickList* List() const { return list_; }
  QToolButton* DropDownButton() const { return button_; }
  bool ListVisible() const;
  // Opens the list (only while the cell may be changed and there are
  // items) with the item equal to the text, ignoring case, selected.
  void DropDown();
  // Closes the list; accepting takes the selected item (or the text when
  // none is selected) as the field's value at once.
  void CloseUp(bool accept);
  void ClosePopup() override { CloseUp(false); }

 protected:
  bool HandleKey(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool TypeCharacter(QKeyEvent* event);
  bool Complete(const std::string& search);
  void MoveSelection(int step);
  bool InsideList(QObject* object) const;

  const TDBTreeListPickColumn& column_;
  QToolButton* button_ = nullptr;
  TPickList* list_ = nullptr;
  bool searching_ = false;
  std::string search_;
};

class TInplaceDBTreeListHyperLinkEdit : public TInplaceDBTreeListEdit {
  Q_OBJECT

 public:
  TInplaceDBTreeListHyperLinkEdit(TDBGridWidget& owner, QWidget* parent, const TDBTreeListHyperLinkColumn& column);

 protected:
  bool HandleKey(QKeyEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace grid::qt
