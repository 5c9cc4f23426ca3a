// The notes pane: a memo bound to one field of a record set through a data
// link. It always shows the field of the current record and reloads when the
// current record changes. The first keystroke (or paste, cut, drop) that
// would change the text puts the record into edit first, and is refused when
// the record cannot be edited; Escape throws the typed text away and shows
// the stored note again. Leaving the pane writes its text into the field of
// the record being edited; the record set stores it when it posts, and every
// post asks the pane for its text first, so nothing typed is left behind.
//
// Line breaks are stored as CR LF, as the catalogue's other programs write
// them; a stored CR LF or a lone CR shows as one line break.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include <QPlainTextEdit>

#include "dataset/DataSource.h"
#include "dataset/Field.h"

namespace marrowick {

class TDBMemo : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TDBMemo(QWidget* parent = nullptr);
  ~TDBMemo() override;

  void SetDataSource(dataset::TDataSource* source);
  dataset::TDataSource* DataSource() const;
  void SetDataField(const std::string& name);
  const std::string& DataField() const { return dataField_; }
  // The bound field while the record set is open; none otherwise.
  dataset::TField* Field() const;

  // The text was changed by the user since it was loaded or last written
  // into the field.
  bool Modified() const { return modified_; }

  // Where the errors of the pane go (a record that cannot be edited, a
  // field that refuses the text); by default nowhere.
  void SetErrorHandler(std::function<void(const std::exception&)> handler) { onError_ = std::move(handler); }

  // Writes the text into the field of the record being edited when it was
  // changed (the record set's update-record step). Raises the field's error.
  void UpdateRecord();

  // The texts of the pane and of the field, converted both ways.
  static QString FieldTextToPane(const std::string& stored);
  static std::string PaneTextToField(const QString& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  class TMemoDataLink;
  friend class TMemoDataLink;

  // Puts the record into edit before a change of the text; false when the
  // change must be refused.
  bool BeginChange();
  void LoadText();
  void WriteText();
  void Report(const std::exception& error);
  void TextChangedByUser();

  std::unique_ptr<TMemoDataLink> link_;
  std::string dataField_;
  std::function<void(const std::exception&)> onError_;
  bool loading_ = false;
  bool modified_ = false;
  bool restorePending_ = false;
  bool destroying_ = false;
};

}  // namespace marrowick
