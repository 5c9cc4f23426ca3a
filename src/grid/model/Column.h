// The grid's columns. Class chain, base first: TTreeListColumn (header
// placement, width, visibility, sort and group state) -> TDBTreeListColumn
// (field binding) -> TDBGridColumn (plain text); TDBTreeListColumn ->
// TDBTreeListDropDownColumn -> TDBTreeListPickColumn -> TDBGridPickColumn
// (a drop-down list of items); TDBTreeListColumn ->
// TDBTreeListHyperLinkColumn -> TDBGridHyperLinkColumn (an address the shell
// opens).
//
// The tree list owns its columns; a column's Index is its position in the
// tree list's column list. Setters tell the tree list, which re-lays out the
// headers, moves node data, regroups or re-sorts as needed.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dataset/Field.h"
#include "grid/model/GridTypes.h"
#include "platform/core/ColorScheme.h"
#include "platform/core/FontMetrics.h"
#include "platform/core/Shell.h"

namespace grid {

class TCustomTreeList;
class TTreeListNode;

using marrowick::platform::TColorValue;
using marrowick::platform::TFontSpec;

class TTreeListColumn {
 public:
  static constexpr int kDefaultMinWidth = 20;

  TTreeListColumn();
  virtual ~TTreeListColumn();
  TTreeListColumn(const TTreeListColumn&) = delete;
  TTreeListColumn& operator=(const TTreeListColumn&) = delete;

  TCustomTreeList* TreeList() const { return treeList_; }

  // The component name (the stored layout's key).
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }

  // The caption, or DefaultCaption while none was set.
  std::string Caption() const { return caption_ ? *caption_ : DefaultCaption(); }
  void SetCaption(const std::string& caption);
  bool DisableCaption() const { return disableCaption_; }
  void SetDisableCaption(bool value);

  int Width() const { return width_; }
  // Never below MinWidth.
  void SetWidth(int width);
  int MinWidth() const { return minWidth_; }
  // Negative values become 0; the width is applied again.
  void SetMinWidth(int value);

  bool Visible() const { return visible_; }
  void SetVisible(bool visible);

  // Position in the tree list's column list.
  int Index() const;
  void SetIndex(int index);

  // Band (-1: none) and header row of the header.
  int BandIndex() const { return bandIndex_; }
  void SetBandIndex(int index);
  int RowIndex() const { return rowIndex_; }
  void SetRowIndex(int index);
  // The header row remembered for the column (stored with the layout).
  int StoredRowIndex() const { return storedRowIndex_; }
  void SetStoredRowIndex(int index) { storedRowIndex_ = index; }
  // Position among the visible columns of the same band and header row, in
  // Index order; -1 when hidden.
  int ColIndex() const;
  // Gives the column the Index of the visible column at position p of its
  // row (one more when p is the last position), p clamped.
  void SetColIndex(int position);

  TAlignment Alignment() const { return alignment_ ? *alignment_ : DefaultAlignment(); }
  void SetAlignment(TAlignment value) { alignment_ = value; }
  TAlignment HeaderAlignment() const { return headerAlignment_; }
  void SetHeaderAlignment(TAlignment value) { headerAlignment_ = value; }
  // The column's own colour and font, when assigned.
  const std::optional<TColorValue>& Color() const { return color_; }
  void SetColor(TColorValue color) { color_ = color; }
  const std::optional<TFontSpec>& Font() const { return font_; }
  void SetFont(const TFontSpec& font) { font_ = font; }

  bool ReadOnly() const { return readOnly_ ? *readOnly_ : DefaultReadOnly(); }
  void SetReadOnly(bool value) { readOnly_ = value; }
  bool Sizing() const { return sizing_; }
  void SetSizing(bool value) { sizing_ = value; }
  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool value) { tabStop_ = value; }
  bool DisableDragging() const { return disableDragging_; }
  void SetDisableDragging(bool value) { disableDragging_ = value; }
  bool DisableEditor() const { return disableEditor_; }
  void SetDisableEditor(bool value) { disableEditor_ = value; }

  // ---- Sorting and grouping (the tree list runs the state machine).
  TTreeListColumnSort Sorted() const { return sorted_; }
  void SetSorted(TTreeListColumnSort state);
  // Position in the grouping, -1 when not grouped. Values below -1 are
  // ignored.
  int GroupIndex() const { return groupIndex_; }
  void SetGroupIndex(int index);
  // Setting it on a grouped column ungroups the column.
  bool DisableGrouping() const { return disableGrouping_; }
  void SetDisableGrouping(bool value);
  bool SortBySummary() const { return false; }

  // ---- Column kind.
  virtual std::string DefaultCaption() const { return name_; }
  virtual TAlignment DefaultAlignment() const { return taLeftJustify; }
  virtual bool DefaultReadOnly() const { return false; }
  virtual bool IsBlobColumn() const { return false; }
  // Whether the column's sort value is its display string (string fields).
  virtual bool SortsByText() const { return true; }
  // The column opens an in-place editor of its kind.
  virtual bool GetEnableEditor() const { return !disableEditor_; }

 protected:
  friend class TCustomTreeList;

  // Stores the sort state without running the state machine.
  void StoreSorted(TTreeListColumnSort state) { sorted_ = state; }
  void StoreGroupIndex(int index) { groupIndex_ = index; }

 private:
  TCustomTreeList* treeList_ = nullptr;
  std::string name_;
  std::optional<std::string> caption_;
  bool disableCaption_ = false;
  int width_ = 100;
  int minWidth_ = kDefaultMinWidth;
  bool visible_ = true;
  int bandIndex_ = 0;
  int rowIndex_ = 0;
  int storedRowIndex_ = 0;
  std::optional<TAlignment> alignment_;
  TAlignment headerAlignment_ = taLeftJustify;
  std::optional<TColorValue> color_;
  std::optional<TFontSpec> font_;
  std::optional<bool> readOnly_;
  bool sizing_ = true;
  bool tabStop_ = true;
  bool disableDragging_ = false;
  bool disableEditor_ = false;
  TTreeListColumnSort sorted_ = csNone;
  int groupIndex_ = -1;
  bool disableGrouping_ = false;
};

// A column bound to a field of the record set by name.
class TDBTreeListColumn : public TTreeListColumn {
 public:
  const std::string& FieldName() const { return fieldName_; }
  // A grouped column whose binding changes is checked again by the grid.
  void SetFieldName(const std::string& name);
  // The bound field while the record set is open; none otherwise.
  dataset::TField* Field() const { return field_; }

  // Caption: the field's display name, or the field name without a field.
  std::string DefaultCaption() const override;
  TAlignment DefaultAlignment() const override;
  bool DefaultReadOnly() const override;
  bool IsBlobColumn() const override;
  bool SortsByText() const override;

  // Captures always keep the field's typed value.
  bool AlwaysStoredValue() const { return alwaysStoredValue_; }
  void SetAlwaysStoredValue(bool value) { alwaysStoredValue_ = value; }

  // The field's display text as the node keeps it (the column's text
  // conversion; unchanged for these columns). Empty without a field.
  virtual std::string GetDisplayText() const;
  // The field's edit text, as an in-place editor opens with it.
  virtual std::string GetEditText() const;
  // Writes an edited text to the field: its edit text (an empty text clears
  // the field).
  virtual void SetEditText(const std::string& text);
  // The longest text an editor may hold: the field's size for string
  // fields, 0 (no limit) otherwise.
  int GetEditLimit() const;
  // Whether a typed character may go into the field.
  bool CanEditAcceptKey(char c) const;

 private:
  friend class TCustomTreeList;
  friend class TCustomDBGrid;

  std::string fieldName_;
  dataset::TField* field_ = nullptr;
  bool alwaysStoredValue_ = false;
};

class TDBGridColumn : public TDBTreeListColumn {};

class TDBTreeListDropDownColumn : public TDBTreeListColumn {
 public:
  int DropDownRows() const { return dropDownRows_; }
  void SetDropDownRows(int rows) { dropDownRows_ = rows; }

 private:
  int dropDownRows_ = 7;
};

// A column whose editor offers a list of items; any text may still be
// typed unless DropDownListStyle is set.
class TDBTreeListPickColumn : public TDBTreeListDropDownColumn {
 public:
  const std::vector<std::string>& Items() const { return items_; }
  void SetItems(std::vector<std::string> items) { items_ = std::move(items); }
  bool ImmediateDropDown() const { return immediateDropDown_; }
  void SetImmediateDropDown(bool value) { immediateDropDown_ = value; }
  bool DropDownListStyle() const { return dropDownListStyle_; }
  void SetDropDownListStyle(bool value) { dropDownListStyle_ = value; }

  // The item equal to the text ignoring letter case (the one a list
  // selects when it opens), or -1.
  int FindItem(const std::string& text) const;
  // The first item that begins with the text ignoring letter case (what
  // typing completes to), or -1.
  int FindItemByPrefix(const std::string& text) const;
  // Rows the open list shows: min(item count, DropDownRows).
  int ListRowCount() const;

 private:
  std::vector<std::string> items_;
  bool immediateDropDown_ = true;
  bool dropDownListStyle_ = false;
};

class TDBGridPickColumn : public TDBTreeListPickColumn {};

// A column holding addresses; starting the link hands the editor's text to
// the shell.
class TDBTreeListHyperLinkColumn : public TDBTreeListColumn {
 public:
  TColorValue EditBackgroundColor() const { return editBackgroundColor_; }
  void SetEditBackgroundColor(TColorValue color) { editBackgroundColor_ = color; }
  TColorValue EditFontColor() const { return editFontColor_; }
  void SetEditFontColor(TColorValue color) { editFontColor_ = color; }
  bool SingleClick() const { return singleClick_; }
  void SetSingleClick(bool value) { singleClick_ = value; }

  // Opens the text with the shell unless it is empty or blank after
  // trimming; the text is handed on as it is. Answers whether the shell
  // took it.
  bool StartLink(const std::string& text, marrowick::platform::IShell& shell) const;

 private:
  TColorValue editBackgroundColor_ = 0x00FFFFFF;  // white
  TColorValue editFontColor_ = 0x00FF0000;        // blue (0x00BBGGRR)
  bool singleClick_ = false;
};

class TDBGridHyperLinkColumn : public TDBTreeListHyperLinkColumn {};

}  // namespace grid
