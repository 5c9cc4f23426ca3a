// The grid's node tree as a Qt item model, so that Qt's views, screen
// readers and tests see the rows the grid's core holds. The model owns
// nothing: every answer is read from the core, and every change reaches the
// model through the core's observer notifications (a bracketed change of the
// core arrives as one model reset).
//
// Rows are the core's shown nodes (a group row or a data row); row r under
// parent P is P's r-th shown child, the root list at the top: all children
// while no quick find filter is set, the rows the filter leaves in while one
// is (the core then reports its changes as resets). Columns are the core's
// columns by their Index, hidden ones included (the view hides their
// sections). Only column 0 has children.
#pragma once

#include <QAbstractItemModel>

#include "grid/model/DBGrid.h"

namespace grid::qt {

class TGridItemModel : public QAbstractItemModel, public IGridObserver {
  Q_OBJECT

 public:
  // Data role of the node pointer (a TTreeListNode*, as quintptr).
  static constexpr int NodeRole = Qt::UserRole + 1;
  // Data role: true for a group row.
  static constexpr int GroupRowRole = Qt::UserRole + 2;

  // Registers itself as an observer of the core; the core must outlive it.
  explicit TGridItemModel(TCustomDBGrid& grid, QObject* parent = nullptr);
  ~TGridItemModel() override;

  TCustomDBGrid& Grid() const { return grid_; }

  // The index of a node in a column; invalid for none.
  QModelIndex IndexOf(const TTreeListNode* node, int column = 0) const;
  // The node of an index; none for an invalid index.
  static TTreeListNode* NodeOf(const QModelIndex& index);

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  // IGridObserver
  void TreeAboutToBeReset() override;
  void TreeReset() override;
  void RowsAboutToBeInserted(TTreeListNode* parent, int first, int last) override;
  void RowsInserted(TTreeListNode* parent, int first, int last) override;
  void RowsAboutToBeRemoved(TTreeListNode* parent, int first, int last) override;
  void RowsRemoved(TTreeListNode* parent, int first, int last) override;
  void RowChanged(TTreeListNode* node) override;
  void ColumnsChanged() override;

  TCustomDBGrid& grid_;
  int columns_ = 0;
  bool resetting_ = false;
};

}  // namespace grid::qt
