// The data-aware grid: a tree list that reads every record of its record
// set once into nodes grouped by the group columns, follows the record
// set's notifications through its data link, keeps the focused row and the
// current record together, edits, inserts and deletes records, answers the
// keys of the grid, and keeps its layout in the settings store.
//
// The focus invariant: whenever the record set browses, the focused row is
// the current record's row (or, for the first record of a group, possibly
// the group row, which stands for that record), or there is no focused row
// and no record. Every command that works on "the current record" therefore
// reaches the record of the row the user sees focused, or nothing: a row
// whose record is gone is removed as soon as the grid learns of it, never
// replaced by another record.
//
// Files: DBGrid.cpp (binding, nodes, capture), DBGridLoad.cpp (load pass,
// reloads, regrouping), DBGridNotify.cpp (data link notifications and
// focus), DBGridCommands.cpp (editing, keys, insert, delete, clipboard,
// header gestures), GridLayout.cpp (stored layout).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "dataset/DataSet.h"
#include "dataset/DataSource.h"
#include "grid/model/TreeList.h"
#include "platform/core/Clipboard.h"
#include "platform/core/MessageBoxes.h"
#include "platform/core/SettingsStore.h"
#include "platform/core/Shell.h"

namespace grid {

class TCustomDBGrid;

// Data nodes a refresh may reuse, sorted by KeyValue. A node taken by the
// load pass is marked rather than removed, so the search stays binary.
struct TReuseList {
  std::vector<TDBGridNode*> Nodes;
  std::vector<char> Taken;
  // The first untaken node whose key equals key and whose parent is
  // parent; none when there is none.
  TDBGridNode* Take(const dataset::Variant& key, const TTreeListNode* parent);
};

// The grid's link to its data source: every notification of the record set
// reaches the grid through it.
class TGridDataLink : public dataset::TDataLink {
 public:
  explicit TGridDataLink(TCustomDBGrid& grid) : grid_(grid) {}
  ~TGridDataLink() override;

  // Set when the grid put a value of its own into the record (an edited
  // cell); cleared after each record or data set change notification.
  bool Modified() const { return modified_; }
  void Modified(bool value) { modified_ = value; }
  // One entry per grid column: the record set's field index of the
  // column's field, -1 without one.
  const std::vector<int>& FieldMap() const { return fieldMap_; }
  void RebuildFieldMap();
  // Esc in the grid: re-reads the record into its row when the grid had
  // changed it, otherwise cancels the record set's edit.
  void Reset() override;

 protected:
  void ActiveChanged() override;
  void DataSetChanged() override;
  void DataSetScrolled(int distance) override;
  void RecordChanged(dataset::TField* field) override;
  void LayoutChanged() override;
  void FocusControl(dataset::TField** field) override;
  void UpdateData() override;

 private:
  TCustomDBGrid& grid_;
  bool modified_ = false;
  std::vector<int> fieldMap_;
};

// Keys the grid answers (the view turns its key events into these).
enum class TGridKey {
  Up, Down, Left, Right, Home, End, PageUp, PageDown, Tab, Enter, F2, Escape,
  Plus, Minus, Multiply, Insert, Delete, C
};
enum TShiftFlag : unsigned { ssShift = 1, ssCtrl = 2, ssAlt = 4 };
using TShiftState = unsigned;

class TCustomDBGrid : public TCustomTreeList {
 public:
  TCustomDBGrid();
  ~TCustomDBGrid() override;

  // ---- Binding.
  dataset::TDataSource* DataSource() const { return dataLink_.DataSource(); }
  void SetDataSource(dataset::TDataSource* source) { dataLink_.SetDataSource(source); }
  TGridDataLink& DataLink() { return dataLink_; }
  // The record set while the link is active; none otherwise.
  dataset::TDataSet* ActiveDataSet() const;
  const std::string& KeyField() const { return keyFieldName_; }
  void SetKeyField(const std::string& name);
  dataset::TField* KeyFieldObject() const { return keyField_; }
  const std::string& PreviewFieldName() const { return previewFieldName_; }
  void SetPreviewFieldName(const std::string& name) { previewFieldName_ = name; }
  dataset::TField* PreviewField() const { return previewField_; }
  int PreviewMaxLength() const { return previewMaxLength_; }
  void SetPreviewMaxLength(int length) { previewMaxLength_ = length; }
  int PreviewLines() const { return previewLines_; }
  void SetPreviewLines(int lines) { previewLines_ = lines; }
  int IndentDesc() const { return 20; }

  // ---- The platform services the grid's commands use (not owned; any may
  // be absent, which refuses the command that needs it).
  void SetMessageBoxes(marrowick::platform::IMessageBoxes* boxes) { messageBoxes_ = boxes; }
  void SetClipboard(marrowick::platform::IClipboard* clipboard) { clipboard_ = clipboard; }
  void SetShell(marrowick::platform::IShell* shell) { shell_ = shell; }
  marrowick::platform::IShell* Shell() const { return shell_; }

  // ---- Life cycle. Loaded ends the grid's construction: the group column
  // list is built from the columns, the sort states are checked and the
  // stored layout is read. Destroying (also run by the destructor, whose
  // errors it drops) stores the layout once.
  void Loaded();
  void Destroying();

  // ---- Stored layout.
  void SetSettingsStore(marrowick::platform::SettingsStoreFactory factory) { settings_ = std::move(factory); }
  const std::string& RegistryPath() const { return registryPath_; }
  void SetRegistryPath(const std::string& path) { registryPath_ = path; }
  void SaveToRegistry(const std::string& path);
  void LoadFromRegistry(const std::string& path);
  // Whether the user changed the layout since it was last stored.
  bool LayoutModified() const { return layoutModified_; }
  // Stores the layout when it changed since the last store (the view calls
  // this once its burst of changes has settled); answers whether it wrote.
  bool SaveLayoutIfModified();
  // Whether LoadFromRegIni is running (its changes are not user changes).
  bool RestoringLayout() const { return restoringLayout_; }

  // ---- Nodes.
  TTreeListNode* CreateNode() override;
  static TDBGridNode* AsDBNode(TTreeListNode* node) { return static_cast<TDBGridNode*>(node); }
  // Descends through first children to a data node.
  static TTreeListNode* FirstDataNode(TTreeListNode* node);
  int LoadedRecordCount() const { return loadedRecordCount_; }

  // ---- Load operations.
  void LoadGroupList(TReuseList* reuse);
  void ReLoadGroupList() override;
  void RefreshGroupList() override;
  void FullRefresh();
  // Binary search among the siblings of start for the group whose
  // GroupValue equals value; found: that group, or the sibling a new group
  // goes before (none: append).
  bool FindGroupNode(TTreeListNode* start, const dataset::Variant& value, TTreeListNode*& found,
                     bool descending, int startIndex) const;
  void AssignNodeValues(TDBGridNode* node, TTreeListColumn* column);
  void AssignNodeAllValues(TDBGridNode* node);
  dataset::Variant GetColumnVariantData(const TDBGridNode* node, const TTreeListColumn* column) const;
  void CorrectIdGroupNodes() override;
  void MoveNodesToRoot();

  // ---- Record set notifications and focus.
  void LinkActive(bool active);
  void DataChanged();
  bool IsSmartRefresh() const;
  void SmartRefreshNode();
  void RecordChanged(dataset::TField* field);
  void NodeRecordChanged(dataset::TField* field, TTreeListNode*& node);
  void RefreshNodeValues(TTreeListNode*& node);
  void ReCalcSummary(TTreeListNode* node);
  void InsertNode(bool append);
  // TDBGridNode.Delete: deletes the node's record through the record set;
  // false when the record could not be reached (it is gone: its row was
  // removed instead).
  bool DeleteNodeRecord(TTreeListNode* node);
  void Scroll(int distance);
  void UpdateActive();
  void FindNodeById();
  void SetFocusedNode(TTreeListNode* node, int column, bool makeVisible) override;
  bool LocateByNode(TTreeListNode* oldNode, TTreeListNode* newNode, bool useLocate, const dataset::Variant& key);
  bool MakeFocused(TTreeListNode* node);
  bool ValidateNode(const TTreeListNode* node) const { return nodeLinks_.count(node) != 0; }
  void FocusControl(dataset::TField** field);

  // The record set is inserting a record nobody has changed beyond the
  // grid's own filling of its groups' fields.
  bool InsertUntouched() const;
  bool LoadingData() const { return loadingData_; }
  bool Locating() const { return locating_; }
  TTreeListNode* EditedNode() const { return editedNode_; }

  // ---- In-place editing (the view shows the editor, the grid decides).
  bool CanEditShow() const;
  // Opens the editor on the focused cell with the field's edit text.
  bool ShowEditor();
  bool EditorOpen() const { return editorOpen_; }
  const std::string& EditorText() const { return editorText_; }
  // The text the editor was opened with.
  const std::string& EditorOpeningText() const { return editorOpeningText_; }
  bool EditorModified() const { return editorModified_; }
  // The editor's text changed. The first change asks CanEditModify, which
  // puts the record set into edit; false: refused, the text stays as it was.
  bool SetEditorText(const std::string& text);
  bool CanEditModify();
  // Closes the editor, handing its text to the field (HideEditor and
  // CloseEditor are the same here).
  void HideEditor();
  void CloseEditor() { HideEditor(); }
  // Esc with the editor open: back to the field's text, closed, nothing
  // written.
  void CancelEditor();
  std::string GetEditText() const;
  void SetEditText(TTreeListNode* node, int column, const std::string& text);
  int GetEditLimit() const;
  bool CanEditAcceptKey(char c) const;
  // Leaving the grid: an untouched new record is cancelled, otherwise the
  // editor's text goes to the field.
  void ExitGrid();
  // The URL column's link: the editor's (or the focused cell's) text to the
  // shell.
  bool StartLink();
  // The pick column's editor. Typing: the first item beginning with the
  // search text (letter case ignored) becomes the editor's text and the
  // field's value at once; none: the typed text stands. Closing the list
  // with a value accepts it the same way.
  std::optional<std::string> PickComplete(const std::string& searchText);
  bool PickAccept(const std::string& value);
  // The list item an opening list selects for the editor's text, or -1.
  int PickListSelection() const;

  // ---- Commands.
  // One key with its shift state; false when the grid does nothing with it.
  bool KeyDown(TGridKey key, TShiftState shift = 0);
  // Insert: a new record before the focused row, in its group.
  bool InsertRecord();
  // Ctrl+Del: asks "Delete record?" / "Confirm" and deletes the focused
  // row's record.
  bool DeleteRecord();
  // The header line and the focused row's line, each ended by CR LF.
  std::string ClipboardText() const;
  bool CopyToClipboard();
  void FocusNextRow();
  void FocusPriorRow();
  void FocusRow(TTreeListNode* node) { SetFocusedNode(node, FocusedColumn(), true); }
  // A left click on a cell: focuses it; true when it was the focused cell
  // already (the view then opens the editor after the double-click time).
  bool CellClick(TTreeListNode* node, int column);
  // A double click on a row or a press on its expand button.
  void ToggleExpanded(TTreeListNode* node);
  // Columns in display order (visible headers).
  std::vector<int> DisplayColumns() const;
  void FocusColumnStep(int step);

  // ---- Header and group panel gestures.
  void ColumnClick(TTreeListColumn* column, bool ctrl);
  void GroupHeaderClick(int level);
  // Whether a header dragged over the group panel may be dropped there.
  bool CanDropOnGroupPanel(TTreeListColumn* column) const;
  void DropOnGroupPanel(TTreeListColumn* column, int position);
  // A group header dragged out of the group panel: the column is ungrouped.
  void DragGroupColumnOut(TTreeListColumn* column);
  // The column's best-fit width for its header and cells.
  int BestFitWidth(TTreeListColumn* column, marrowick::platform::IFontMetrics& metrics) const;
  void DoBestFitColumn(TTreeListColumn* column, marrowick::platform::IFontMetrics& metrics);

  // ---- Quick find (SetFilterText of the tree list): the fields whose
  // texts it searches (every column's when none are named), and whether it
  // searches the preview text too (it does unless told otherwise).
  void SetFilterFieldNames(std::vector<std::string> names);
  const std::vector<std::string>& FilterFieldNames() const { return filterFieldNames_; }
  void SetFilterPreview(bool value);
  bool FilterPreview() const { return filterPreview_; }

  // A node's preview text as drawn.
  std::string GetPreviewText(const TTreeListNode* node) const;
  std::string GetPreviewString(const std::string& text) const;

  bool CanAddGroupColumn(TTreeListColumn* column) const override;

 protected:
  void EndCustomLayout() override;
  void NodeDestroying(TTreeListNode* node) override;
  void LayoutChanged() override;
  std::string GroupFieldName(const TTreeListColumn* column) const override;
  void ColumnFieldChanged(TTreeListColumn* column) override;
  void ReCountAndSort() override { ReCalcSummary(nullptr); }
  std::vector<int> FilterColumns() const override;
  const std::string* FilterExtraText(const TTreeListNode* node) const override;

 private:
  friend class TGridDataLink;
  friend class TGridLayoutIo;

  dataset::TField* FindRecordSetField(const std::string& name) const;
  void CaptureColumn(TDBGridNode* node, TDBTreeListColumn* column, int index);
  void BindColumns();
  void UnbindColumns();
  TDBTreeListColumn* DBColumn(int index) const;
  void AssignPreviewField();
  void ChangedGroupColumn(TTreeListColumn* column);
  void RegroupLoadedNodes();
  // The first node in tree order (after the given one) whose key equals key.
  TTreeListNode* FindNodeByKey(const dataset::Variant& key, TTreeListNode* except = nullptr,
                               TTreeListNode* after = nullptr) const;
  TTreeListNode* FileNodeInGroups(TDBGridNode* node);
  void DestroyWithEmptyAncestors(TTreeListNode* node);
  // Removes the watched rows whose records no longer exist.
  void RemoveGoneRecords();
  bool RecordExists(const dataset::Variant& key) const;
  void FocusCurrentRecord();
  void FocusNodeHere(TTreeListNode* node);
  bool CurrentRecordShown() const;
  void RecordGone();

  TGridDataLink dataLink_{*this};
  std::string keyFieldName_;
  dataset::TField* keyField_ = nullptr;
  std::string previewFieldName_;
  dataset::TField* previewField_ = nullptr;
  int previewMaxLength_ = 0;
  int previewLines_ = 2;
  std::vector<std::string> filterFieldNames_;
  bool filterPreview_ = true;

  marrowick::platform::IMessageBoxes* messageBoxes_ = nullptr;
  marrowick::platform::IClipboard* clipboard_ = nullptr;
  marrowick::platform::IShell* shell_ = nullptr;

  marrowick::platform::SettingsStoreFactory settings_;
  std::string registryPath_;
  bool layoutModified_ = false;
  bool restoringLayout_ = false;
  bool destroyed_ = false;

  // Grid states.
  bool loadingData_ = false;
  bool locating_ = false;
  bool skipSmartRefresh_ = false;
  bool movingRecord_ = false;
  bool refreshingNodes_ = false;
  bool updatingActive_ = false;
  bool findingCurrent_ = false;
  bool prefilling_ = false;
  bool insertTouched_ = false;
  TTreeListNode* editedNode_ = nullptr;
  dataset::Variant savedKeyValue_ = dataset::Variant::Null();
  std::unordered_set<const TTreeListNode*> nodeLinks_;
  // Rows a data change may have taken the record of (nulled when destroyed).
  std::vector<TTreeListNode*> watched_;
  dataset::Variant topKeyValue_;  // empty: unassigned
  int topLevel_ = 0;
  int loadedRecordCount_ = 0;

  // The in-place editor.
  bool editorOpen_ = false;
  bool editorModified_ = false;
  std::string editorText_;
  std::string editorOpeningText_;
};

// The grid as the program configures it: its options, key field and
// preview field are set by whoever builds it (see ProgramGrid.h).
class TDBGrid : public TCustomDBGrid {
 public:
  TDBGrid();
};

}  // namespace grid
