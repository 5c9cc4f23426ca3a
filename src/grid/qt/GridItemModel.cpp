#include "grid/qt/GridItemModel.h"

#include "platform/qt/AnsiText.h"

namespace grid::qt {

using marrowick::platform::AnsiToQString;

TGridItemModel::TGridItemModel(TCustomDBGrid& grid, QObject* parent)
    : QAbstractItemModel(parent), grid_(grid), columns_(grid.ColumnCount()) {
  grid_.AddObserver(this);
}

TGridItemModel::~TGridItemModel() { grid_.RemoveObserver(this); }

TTreeListNode* TGridItemModel::NodeOf(const QModelIndex& index) {
  return index.isValid() ? static_cast<TTreeListNode*>(index.internalPointer()) : nullptr;
}

QModelIndex TGridItemModel::IndexOf(const TTreeListNode* node, int column) const {
  if (node == nullptr || !grid_.IsLiveNode(node) || column < 0 || column >= columns_) return {};
  const int row = grid_.ShownIndex(node);
  if (row < 0) return {};
  return createIndex(row, column, const_cast<TTreeListNode*>(node));
}

QModelIndex TGridItemModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column < 0 || column >= columns_) return {};
  if (parent.isValid() && parent.column() != 0) return {};
  TTreeListNode* parentNode = NodeOf(parent);
  TTreeListNode* node = grid_.ShownChild(parentNode, row);
  if (node == nullptr) return {};
  return createIndex(row, column, node);
}

QModelIndex TGridItemModel::parent(const QModelIndex& child) const {
  TTreeListNode* node = NodeOf(child);
  if (node == nullptr) return {};
  TTreeListNode* parentNode = node->Parent();
  if (parentNode == nullptr) return {};
  const int row = grid_.ShownIndex(parentNode);
  if (row < 0) return {};
  return createIndex(row, 0, parentNode);
}

int TGridItemModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return 0;
  return grid_.ShownChildCount(NodeOf(parent));
}

int TGridItemModel::columnCount(const QModelIndex& /*parent*/) const { return columns_; }

bool TGridItemModel::hasChildren(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return false;
  return grid_.ShownChildCount(NodeOf(parent)) > 0;
}

QVariant TGridItemModel::data(const QModelIndex& index, int role) const {
  TTreeListNode* node = NodeOf(index);
  if (node == nullptr) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
      // A group row's text spans the row: it is told once, in column 0.
      if (grid_.IsRowGroup(node) && index.column() != 0) return QString();
      return AnsiToQString(grid_.GetNodeString(node, index.column()));
    case Qt::TextAlignmentRole: {
      switch (grid_.GetCellAlignment(node, index.column())) {
        case taRightJustify: return int(Qt::AlignRight | Qt::AlignVCenter);
        case taCenter: return int(Qt::AlignHCenter | Qt::AlignVCenter);
        case taLeftJustify: break;
      }
      return int(Qt::AlignLeft | Qt::AlignVCenter);
    }
    case NodeRole: return QVariant::fromValue(reinterpret_cast<quintptr>(node));
    case GroupRowRole: return grid_.IsRowGroup(node);
    default: return {};
  }
}

QVariant TGridItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columns_) return {};
  if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
    return AnsiToQString(grid_.GetHeaderText(section));
  }
  return {};
}

Qt::ItemFlags TGridItemModel::flags(const QModelIndex& index) const {
  TTreeListNode* node = NodeOf(index);
  if (node == nullptr) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (!node->HasChildren()) flags |= Qt::ItemNeverHasChildren;
  return flags;
}

// ---- Notifications of the core

void TGridItemModel::TreeAboutToBeReset() {
  if (resetting_) return;
  resetting_ = true;
  beginResetModel();
}

void TGridItemModel::TreeReset() {
  if (!resetting_) return;
  columns_ = grid_.ColumnCount();
  resetting_ = false;
  endResetModel();
}

void TGridItemModel::RowsAboutToBeInserted(TTreeListNode* parent, int first, int last) {
  beginInsertRows(IndexOf(parent), first, last);
}

void TGridItemModel::RowsInserted(TTreeListNode* /*parent*/, int /*first*/, int /*last*/) { endInsertRows(); }

void TGridItemModel::RowsAboutToBeRemoved(TTreeListNode* parent, int first, int last) {
  beginRemoveRows(IndexOf(parent), first, last);
}

void TGridItemModel::RowsRemoved(TTreeListNode* /*parent*/, int /*first*/, int /*last*/) { endRemoveRows(); }

void TGridItemModel::RowChanged(TTreeListNode* node) {
  if (resetting_ || columns_ == 0) return;
  QModelIndex first = IndexOf(node, 0);
  if (!first.isValid()) return;
  emit dataChanged(first, IndexOf(node, columns_ - 1));
}

void TGridItemModel::ColumnsChanged() {
  if (resetting_) return;
  if (grid_.ColumnCount() != columns_) {
    beginResetModel();
    columns_ = grid_.ColumnCount();
    endResetModel();
    return;
  }
  if (columns_ > 0) emit headerDataChanged(Qt::Horizontal, 0, columns_ - 1);
}

}  // namespace grid::qt
