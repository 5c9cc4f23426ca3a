// The tree list: the grid without its record set. It owns the node tree
// (root list, group rows, data rows), the columns and their header layout,
// the focused row and column, the update bracket, the grouping (group
// column list and grouping bracket) and the sort state machine, and tells
// its observers what changed.
//
// Change notifications. Outside an update bracket every change is reported
// as it happens (rows inserted and removed around the change, a row's
// texts, a group expanded or collapsed, the focus). Inside a bracket nothing
// is reported until it closes; the first change of the tree announces
// TreeAboutToBeReset and the closing reports TreeReset (then the focus).
// An observer that mirrors the tree therefore never sees a node that is
// gone: it drops what it holds at TreeAboutToBeReset and reads the tree
// again at TreeReset.
//
// Quick find. A filter text narrows the shown rows to the data rows whose
// texts contain it and the group rows above them; the tree itself, its
// order and every walk over it (Count/Items, GetNext, GetNextNode, the
// exports) stay whole. A view lists rows by their shown positions
// (ShownChildCount, ShownChild, ShownIndex: the same as Count, Items and
// Index while no filter is set). While a filter is set, every change of the
// tree is reported as a reset, never row by row, since one insertion or
// removal can move shown positions anywhere; a row's texts changing is
// still reported as RowChanged when the shown rows stay the same.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "dataset/Variant.h"
#include "grid/model/Column.h"
#include "grid/model/GridTypes.h"
#include "grid/model/Node.h"
#include "grid/model/QuickFind.h"

namespace grid {

// What a view of the grid follows. Row positions are children positions
// under parent (none: the root list).
class IGridObserver {
 public:
  virtual ~IGridObserver() = default;
  virtual void TreeAboutToBeReset() {}
  virtual void TreeReset() {}
  virtual void RowsAboutToBeInserted(TTreeListNode* /*parent*/, int /*first*/, int /*last*/) {}
  virtual void RowsInserted(TTreeListNode* /*parent*/, int /*first*/, int /*last*/) {}
  virtual void RowsAboutToBeRemoved(TTreeListNode* /*parent*/, int /*first*/, int /*last*/) {}
  virtual void RowsRemoved(TTreeListNode* /*parent*/, int /*first*/, int /*last*/) {}
  // The node's texts or values changed.
  virtual void RowChanged(TTreeListNode* /*node*/) {}
  virtual void ExpandedChanged(TTreeListNode* /*node*/) {}
  // The focused row or column changed (node may be none; column is an
  // Index, -1 for none).
  virtual void FocusChanged(TTreeListNode* /*node*/, int /*column*/) {}
  // Columns were added, moved, shown, hidden, resized or renamed.
  virtual void ColumnsChanged() {}
  // The grouping or a sort state changed (the group panel's contents).
  virtual void GroupingChanged() {}
  // The in-place editor opened or closed.
  virtual void EditorStateChanged() {}
  // A stored layout value changed (the layout is now worth saving).
  virtual void LayoutModified() {}
};

// A band of headers. This grid keeps exactly one.
struct TTreeListBand {
  int ID = 0;
  bool Visible = true;
  int Width = 0;
  int MinWidth = 20;
  std::string Caption;
  TAlignment Alignment = taCenter;
};

// Fonts and colours the drawing and the exports read.
struct TTreeListAppearance {
  std::string Name = "DBGrid1";
  TFontSpec Font;                                    // cells; the columns' default
  TFontSpec HeaderFont{"MS Sans Serif", 8, 0x80000008, marrowick::platform::fsBold};
  TFontSpec BandFont;
  TFontSpec PreviewFont{"MS Sans Serif", 8, 0x00FF0000, 0};  // blue
  TColorValue Color = 0x80000005;                    // clWindow
  TColorValue HeaderColor = 0x8000000F;              // clBtnFace
  TColorValue BandColor = 0x8000000F;
  TColorValue GroupNodeColor = 0x8000000F;
  TColorValue GroupNodeTextColor = 0x1FFFFFFF;       // clNone: the font's colour
  TColorValue GridLineColor = 0x1FFFFFFF;            // clNone: clBtnShadow
  TColorValue RowFooterColor = 0x80000016;           // cl3DLight
  TColorValue RowFooterTextColor = 0x80000008;       // clWindowText
  TColorValue HighlightColor = 0x8000000D;
  TColorValue HighlightTextColor = 0x8000000E;
  TColorValue ArrowsColor = 0x0000FF00;
  TColorValue GroupPanelColor = 0x80000010;          // clBtnShadow
  TColorValue GroupPanelFontColor = 0x8000000F;      // clBtnFace
  TLookAndFeel LookAndFeel = lfStandard;
  bool Ctl3D = true;
  bool BorderSingle = true;
};

// The layout switches the stored layout keeps.
struct TTreeListSwitches {
  bool ShowGroupPanel = true;
  bool ShowNewItemRow = false;
  bool ShowGrid = true;
  bool ShowPreviewGrid = true;
  bool ShowRowFooter = false;
  bool ShowSummaryFooter = false;
  bool ShowHeader = true;
  bool ShowBands = false;
  int BandRowCount = 1;
  int DefaultRowHeight = 17;
};

class TCustomTreeList {
 public:
  TCustomTreeList();
  virtual ~TCustomTreeList();
  TCustomTreeList(const TCustomTreeList&) = delete;
  TCustomTreeList& operator=(const TCustomTreeList&) = delete;

  // ---- Observers (not owned).
  void AddObserver(IGridObserver* observer);
  void RemoveObserver(IGridObserver* observer);

  // ---- Options.
  TDBGridOptions Options() const { return options_; }
  void SetOptions(TDBGridOptions options) { options_ = options; }
  bool HasOption(TDBGridOption option) const { return (options_ & option) != 0; }

  // ---- Columns.
  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  TTreeListColumn* Columns(int index) const;
  TTreeListColumn* FindColumn(const std::string& name) const;
  // Appends a column; the tree list owns it.
  TTreeListColumn& AddColumn(std::unique_ptr<TTreeListColumn> column);
  template <class T>
  T& CreateColumn() {
    return static_cast<T&>(AddColumn(std::make_unique<T>()));
  }

  // ---- Bands and header rows.
  const TTreeListBand& Band() const { return band_; }
  TTreeListBand& MutableBand() { return band_; }
  int BandCount() const { return 1; }
  // Header rows per record; 1 keeps the default layout. -1 (automatic) is
  // not applied.
  int HeaderPanelRowCount() const { return headerPanelRowCount_; }
  void SetHeaderPanelRowCount(int count);
  bool DefaultLayout() const { return defaultLayout_; }

  // ---- Headers in display order.
  int GetBandCount() const;
  int GetHeaderRowCount(int band) const;
  int GetHeaderColCount(int band, int row) const;
  int GetHeaderAbsoluteIndex(int band, int row, int position) const;
  bool IsHeaderVisible(int columnIndex) const;
  int GetVisibleHeaderCount() const;
  // The column index of the i-th header in text order (rows, then bands,
  // then positions); -1 when there are not that many.
  int GetFocusedAbsoluteIndex(int i) const;
  std::string GetHeaderText(int columnIndex) const;
  TAlignment GetHeaderAlignment(int columnIndex) const;
  // The header's width: the column's Width, plus the group indent (16 per
  // group column) at position 0 of band 0.
  int GetHeaderBoundsWidth(int columnIndex) const;
  std::string GetBandText(int band) const;
  TAlignment GetBandAlignment(int band) const;
  TAlignment GetCellAlignment(const TTreeListNode* node, int columnIndex) const;
  TColorValue GetColumnColor(int columnIndex) const;
  TFontSpec GetColumnFont(int columnIndex) const;
  // A header dropped inside the header panel: its band, then its row, then
  // its position among the row's visible headers.
  void HeaderMoved(TTreeListColumn* column, int band, int position, int row);
  // The band's width: the largest sum of visible header widths of a row.
  int BandWidth() const;
  // Indent of the first header: 16 pixels per group column.
  int IndentWidth() const { return 16 * GroupColumnCount(); }

  // ---- Appearance and switches.
  TTreeListAppearance& Appearance() { return appearance_; }
  const TTreeListAppearance& Appearance() const { return appearance_; }
  const TTreeListSwitches& Switches() const { return switches_; }
  void SetShowGroupPanel(bool value);
  void SetShowNewItemRow(bool value);
  void SetShowGrid(bool value);
  void SetShowPreviewGrid(bool value);
  void SetShowRowFooter(bool value);
  void SetShowSummaryFooter(bool value);
  void SetBandRowCount(int value);
  void SetDefaultRowHeight(int value);

  // ---- Root list and nodes.
  int Count() const { return root_->Count(); }
  TTreeListNode* GetNode(int index) const { return root_->Items(index); }
  TTreeListNode* GetFirstNode() const { return root_->GetFirstChild(); }
  // Appends a root node / inserts one before the given root node.
  TTreeListNode* Add();
  TTreeListNode* Insert(TTreeListNode* before);
  // The node factory.
  virtual TTreeListNode* CreateNode();
  // Destroys a node with its subtree.
  void DestroyNode(TTreeListNode* node);
  // Destroys every node.
  void ClearNodes();
  // Moves a node (with its subtree) to position of newParent's children
  // (none: the root list; -1: the end). A parent left childless collapses.
  void MoveNode(TTreeListNode* node, TTreeListNode* newParent, int position);
  // Whether a node is alive and belongs to this tree list.
  bool IsLiveNode(const TTreeListNode* node) const { return liveNodes_.count(node) != 0; }
  // Number of nodes without children (data rows).
  int DataNodeCount() const;

  // ---- Shown rows.
  int VisibleRowCount() const;
  TTreeListNode* VisibleRow(int index) const;
  TTreeListNode* LastVisibleNode() const;
  // The first shown row of the view (kept by the view, restored by reloads).
  TTreeListNode* TopNode() const { return topNode_; }
  void SetTopNode(TTreeListNode* node) { topNode_ = node; }
  // Rows per page for PgUp and PgDn (the view tells).
  int PageRowCount() const { return pageRowCount_; }
  void SetPageRowCount(int rows) { pageRowCount_ = rows < 1 ? 1 : rows; }

  // ---- Focus.
  TTreeListNode* FocusedNode() const { return focusedNode_; }
  // The focused column's Index, -1 for none.
  int FocusedColumn() const { return focusedColumn_; }
  TTreeListColumn* FocusedColumnObject() const { return Columns(focusedColumn_); }
  // Moves the focus (the data-aware grid first moves its record set).
  virtual void SetFocusedNode(TTreeListNode* node, int column, bool makeVisible);
  void SetFocusedColumn(int column);
  // Expands every ancestor of the node.
  void MakeNodeVisible(TTreeListNode* node);

  // ---- Update bracket: no notifications until the outermost closes; its
  // closing runs the layout pass (EndCustomLayout).
  void BeginUpdate();
  void EndUpdate();
  bool Updating() const { return updateCount_ > 0; }

  // ---- Texts and values of cells.
  // A group row: its group row text whatever the column; a data row: its
  // display string at the column index.
  virtual std::string GetNodeString(const TTreeListNode* node, int columnIndex) const;
  virtual dataset::Variant GetNodeValue(const TTreeListNode* node, int columnIndex) const;
  bool IsRowGroup(const TTreeListNode* node) const { return node != nullptr && node->HasChildren(); }
  // The group row text of a group node: the group column's caption, " : ",
  // the group text and one blank.
  std::string GroupRowText(const TTreeListNode* node) const;
  // Text lines as the text export and the clipboard write them: the header
  // line (each visible header's text and a TAB, then CR) and a row's line
  // (a group row's text, or each visible cell and a TAB).
  std::string GetHeaderTabText() const;
  std::string GetNodeTabText(const TTreeListNode* node) const;

  // ---- Quick find (TreeListFilter.cpp).
  // Sets the filter text; empty clears it. Shown are the data rows whose
  // texts (FilterColumns, FilterExtraText) contain the text, letter case
  // ignored, the group rows above them, and the focused row whatever it
  // holds, so that a row being edited or just added never vanishes under
  // the user; it goes when the focus leaves it. A new text expands every
  // group (and a group made while the text stands opens as it is first
  // met); when the focused row does not match, it moves the focus (and
  // the record set with it) to the first matching data row; with no match
  // at all the focus stays where it was, unshown. Clearing puts back the
  // groups' expansion as it was before the filter was set and keeps the
  // focused row, made visible. Group rows then read "(n of m)" after the
  // group text: n shown data rows of m below. The exports ignore the
  // filter. An error of the focus move (a pending edit that cannot be
  // posted) reaches the caller with the filter set and the focus kept.
  void SetFilterText(const std::string& text);
  const std::string& FilterText() const { return filterText_; }
  bool Filtered() const { return !filterText_.empty(); }
  // Whether the filter leaves the row in (always without a filter).
  bool IsShownRow(const TTreeListNode* node) const;
  // Whether a data row's texts contain the filter text (true without a
  // filter).
  bool RowMatchesFilter(const TTreeListNode* node) const;
  // Shown children of a node (none: the root list) by shown position.
  int ShownChildCount(const TTreeListNode* parent) const;
  TTreeListNode* ShownChild(const TTreeListNode* parent, int row) const;
  // A shown node's position among its parent's shown children; -1 when the
  // node is not shown.
  int ShownIndex(const TTreeListNode* node) const;
  // The next / previous shown row (GetNextNode and GetPriorNode without a
  // filter).
  TTreeListNode* NextShownRow(const TTreeListNode* node) const;
  TTreeListNode* PriorShownRow(const TTreeListNode* node) const;
  // Shown data rows: all of them without a filter.
  int ShownDataRowCount() const;
  // A group row's shown data rows and all its data rows.
  int GroupShownCount(const TTreeListNode* group) const;
  int GroupDataCount(const TTreeListNode* group) const;

  // ---- Grouping.
  int GroupColumnCount() const { return static_cast<int>(groupColumns_.size()); }
  TTreeListColumn* GroupColumns(int level) const;
  void BeginGrouping();
  void EndGrouping();
  bool Grouping() const { return groupingLevel_ > 0; }
  // Groups the column at position (clamped); false when refused.
  bool InsertGroupColumn(int position, TTreeListColumn* column);
  bool AddGroupColumn(TTreeListColumn* column) { return InsertGroupColumn(GroupColumnCount(), column); }
  void DeleteGroupColumn(int position);
  void ClearGroupColumns();
  // Groups, moves or ungroups (-1) a column.
  void SetGroupIndex(TTreeListColumn* column, int index);
  virtual bool CanAddGroupColumn(TTreeListColumn* column) const;
  // Rebuilds the group column list from the columns' GroupIndex values.
  void RefreshGroupColumns();
  bool SmartReloadRequest() const { return smartReloadRequest_; }
  bool FullRefreshRequest() const { return fullRefreshRequest_; }
  void SetFlagSmartReload() { smartReloadRequest_ = true; }
  void ResetFullRefresh() { fullRefreshRequest_ = true; }

  // ---- Sorting.
  // A header click: Ctrl removes the sort (a grouped column keeps its
  // direction); otherwise csNone/csDown -> csUp, csUp -> csDown.
  void DoColumnSort(TTreeListColumn* column, bool ctrl = false);
  void SetColumnSorted(TTreeListColumn* column);
  void PrepareColumnSorted(TTreeListColumn* column);
  void ClearColumnsSorted();
  // Re-applies the sort column to the rows inside the deepest groups.
  void RefreshSorting();
  // The first non-group column with a sort state, or none.
  TTreeListColumn* GetSortedColumn() const;
  const std::vector<TTreeListColumn*>& SortedColumns() const { return sortedColumns_; }
  void BeginSorting() { ++sortLock_; }
  void EndSorting();
  bool LockSorting() const { return sortLock_ > 0; }
  // Without multi-sort only the first sorted non-group column keeps its
  // state.
  void CheckSortedColumns();
  // Sorts every node list at the level's depth (-1: every list).
  void DoSortColumn(int level, int columnIndex, bool descending);
  void DoSortNodes(std::vector<TTreeListNode*>& list, int columnIndex, bool descending);
  // Sorts one node's children (none: the root list).
  void DoSortChildren(TTreeListNode* parent, int columnIndex, bool descending);
  // A node's sort value for a column.
  virtual dataset::Variant GetNodeVariant(const TTreeListNode* node, int columnIndex) const;
  // The tie-break of two nodes with equal sort values.
  virtual int CompareEqual(const TTreeListNode* a, const TTreeListNode* b) const;

  // Events offered to the host; each may veto by answering false.
  std::function<bool(TTreeListColumn&)> OnColumnSorting;
  std::function<bool(TTreeListColumn&)> OnAddGroupColumn;

  // Whether the tree list is still being built (the form is being read):
  // column setters only store their values meanwhile.
  bool IsLoading() const { return loading_; }

 protected:
  // ---- Hooks for the data-aware grid.
  virtual void EndCustomLayout() {}
  virtual void ReLoadGroupList() {}
  virtual void RefreshGroupList() {}
  // After every sort: group nodes take their first child's identity.
  virtual void CorrectIdGroupNodes() {}
  // A node is about to be destroyed.
  virtual void NodeDestroying(TTreeListNode* /*node*/) {}
  // A stored layout value changed.
  virtual void LayoutChanged();
  // The column's field name as the grouping compares it.
  virtual std::string GroupFieldName(const TTreeListColumn* column) const;
  // A column's field binding changed (its field name was set).
  virtual void ColumnFieldChanged(TTreeListColumn* /*column*/) {}
  // Re-counts the data rows and re-applies sorting (after a grouping change
  // that needs no reload).
  virtual void ReCountAndSort() { RefreshSorting(); }
  // The column indexes whose texts the quick find searches (every column
  // here), and a further text of a data row it searches (none here).
  virtual std::vector<int> FilterColumns() const;
  virtual const std::string* FilterExtraText(const TTreeListNode* /*node*/) const { return nullptr; }
  // A data row's texts changed: the quick find judges it again.
  void InvalidateFilterMatch(TTreeListNode* node);
  // What FilterColumns or FilterExtraText answer changed: every row is
  // judged again.
  void FilterSourcesChanged();

  void SetLoading(bool loading) { loading_ = loading; }
  bool RebuildingGroups() const { return rebuildingGroups_; }
  void ClearSmartReloadRequest() { smartReloadRequest_ = false; }
  void ClearFullRefreshRequest() { fullRefreshRequest_ = false; }

  // Room for this many live nodes (before a load pass).
  void ReserveNodes(std::size_t count) { liveNodes_.reserve(count); }
  // Forgets every observer (the tree list is going away).
  void DropObservers() { observers_.clear(); }
  // Focus without moving anything else.
  void StoreFocus(TTreeListNode* node, int column);
  // Notifications.
  void NotifyRowChanged(TTreeListNode* node);
  void NotifyColumnsChanged();
  void NotifyGroupingChanged();
  void NotifyEditorState();
  void ForEachObserver(const std::function<void(IGridObserver&)>& call);

  // ---- Bulk structure work for reloads (inside an update bracket).
  // Removes a group column without reloading (its field is gone).
  void DropGroupColumn(int position);
  // Destroys the given nodes; a parent that would be left without children
  // goes instead of them (and so on upwards).
  void DestroyNodesPruning(const std::vector<TTreeListNode*>& nodes);
  // Takes every root node out of the root list; they stay alive, unlinked,
  // until AttachNode links them again (or they are destroyed).
  std::vector<TTreeListNode*> DetachRootNodes();
  // Unlinks one node (it stays alive) with notifications.
  void DetachNode(TTreeListNode* node);
  // Links a detached node under parent (none: root) at position (-1: end).
  void AttachNode(TTreeListNode* node, TTreeListNode* parent, int position);
  // Destroys a detached node and its subtree.
  void DestroyDetached(TTreeListNode* node);
  // Moves the data rows of every root group to the root list, in their
  // shown order, and destroys the emptied groups.
  void FlattenGroups();

  // The list of node lists at a depth below the root list.
  void CollectLevelLists(int level, std::vector<TTreeListNode*>& parents) const;
  TTreeListNode* RootNode() const { return root_.get(); }

 private:
  friend class TTreeListNode;
  friend class TTreeListColumn;
  friend class TDBTreeListColumn;

  // ---- Node structure primitives.
  TTreeListNode* InsertNodeAt(TTreeListNode* parent, int position);
  void UnlinkNode(TTreeListNode* node, bool notify);
  void DestroySubtree(TTreeListNode* node);
  void ForgetNode(TTreeListNode* node);
  void ExpandedChanging(TTreeListNode* node);
  void ExpandedChangedNow(TTreeListNode* node);
  void TreeChanging();
  bool Reporting() const { return updateCount_ == 0 && !observers_.empty() && !Filtered(); }
  void Flush();
  void BuildVisibleRows() const;

  // ---- Quick find.
  // Judges the rows again when anything changed since the last time; sets
  // shownChanged_ when a row's shown state, a group's count or a group's
  // expansion changed.
  void EnsureFilter() const;
  int FilterRows(TTreeListNode* parent, const std::vector<int>& columns, int& total) const;
  bool JudgeRow(const TTreeListNode* node, const std::vector<int>& columns) const;
  void NextFilterGeneration();
  TTreeListNode* FirstMatchingRow() const;
  // While a filter is set, a change outside an update bracket is reported
  // as a reset of its own: BeginShownChange opens that bracket (answering
  // whether it did), EndShownChange closes it.
  bool BeginShownChange();
  void EndShownChange(bool opened);
  // Outside an update bracket: reports a reset (and the focus) when the
  // shown rows changed; answers whether it did.
  bool ReportShownChange();
  std::string FilteredGroupRowText(const TTreeListNode* node) const;


  // ---- Columns.
  void ColumnIndexChanging(TTreeListColumn* column, int newIndex);
  void ColumnChanged(bool layout);
  void ColumnSortedRequest(TTreeListColumn* column, TTreeListColumnSort state);
  void RebuildGroupIndexes();
  void SortLevelList(std::vector<TTreeListNode*>& list, int columnIndex, bool descending);
  std::vector<std::string> GroupFieldNames() const;

  TDBGridOptions options_ = 0;
  std::vector<std::unique_ptr<TTreeListColumn>> columns_;
  TTreeListBand band_;
  int headerPanelRowCount_ = 1;
  bool defaultLayout_ = true;
  TTreeListAppearance appearance_;
  TTreeListSwitches switches_;

  std::unique_ptr<TTreeListNode> root_;
  std::unordered_set<const TTreeListNode*> liveNodes_;
  TTreeListNode* focusedNode_ = nullptr;
  int focusedColumn_ = -1;
  TTreeListNode* topNode_ = nullptr;
  int pageRowCount_ = 10;
  bool clearing_ = false;

  // Shown rows, rebuilt after any change of structure or expansion.
  mutable std::vector<TTreeListNode*> visibleRows_;
  mutable bool visibleValid_ = false;
  mutable uint64_t visibleStamp_ = 1;

  std::vector<IGridObserver*> observers_;
  int updateCount_ = 0;
  bool resetAnnounced_ = false;
  bool columnsChanged_ = false;
  bool groupingChanged_ = false;
  bool editorChanged_ = false;
  std::unordered_set<TTreeListNode*> changedRows_;
  TTreeListNode* reportedFocus_ = nullptr;
  int reportedColumn_ = -1;

  std::vector<TTreeListColumn*> groupColumns_;
  int groupingLevel_ = 0;
  std::vector<std::string> savedGroupFields_;
  bool smartReloadRequest_ = false;
  // A new grid builds its group column list from its columns at once.
  bool fullRefreshRequest_ = true;
  bool rebuildingGroups_ = false;

  std::vector<TTreeListColumn*> sortedColumns_;
  int sortLock_ = 0;
  bool loading_ = true;

  // Quick find.
  std::string filterText_;
  TFindNeedle filterNeedle_;
  // Generation of the current filter text (stamps of the nodes judged
  // under it); the previous generation's matches carry over when the new
  // text contains the old one (a row that did not match still does not) or
  // the old one contains the new (a row that matched still does).
  uint32_t filterGeneration_ = 0;
  uint32_t narrowedFrom_ = 0;
  uint32_t widenedFrom_ = 0;
  mutable bool filterDirty_ = false;
  mutable bool shownChanged_ = false;
  // The focused row is left out (no row matched when the text was set).
  bool focusHidden_ = false;
  // Shown children per parent (the hidden root for the root list), and the
  // shown and total data rows of every group.
  mutable std::unordered_map<const TTreeListNode*, std::vector<TTreeListNode*>> shownChildren_;
  mutable std::unordered_map<const TTreeListNode*, std::pair<int, int>> groupCounts_;
  mutable int shownDataRows_ = 0;
  // Groups expanded before the filter was set, expanded again when it is
  // cleared.
  std::unordered_set<const TTreeListNode*> expandedBeforeFilter_;
};

}  // namespace grid
