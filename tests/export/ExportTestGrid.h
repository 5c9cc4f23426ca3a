// A hand-made row source for the export tests: a tree of group and data
// rows with their texts and values, the visible headers and the appearance,
// set up like the program's grid unless a test changes it.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "export/RowSource.h"

namespace exports::testing {

// The program's columns by their Index in the grid's column list.
enum { kCategory = 0, kName = 1, kUrl = 2, kLogin = 3, kPassword = 4 };

struct TTestNode {
  bool Group = false;
  std::string GroupText;           // the group row text of a group row
  std::vector<std::string> Texts;  // a data row's display texts by column index
  std::vector<dataset::Variant> Values;  // typed values by column index (none: the text)
  bool Expanded = true;
  std::vector<TTestNode> Children;
};

inline TTestNode Data(std::vector<std::string> texts, std::vector<dataset::Variant> values = {}) {
  TTestNode node;
  node.Texts = std::move(texts);
  node.Values = std::move(values);
  return node;
}

inline TTestNode Group(std::string text, std::vector<TTestNode> children, bool expanded = true) {
  TTestNode node;
  node.Group = true;
  node.GroupText = std::move(text);
  node.Children = std::move(children);
  node.Expanded = expanded;
  return node;
}

// A header as the program's grid reports it for one of its columns.
inline TExportHeader Header(int columnIndex, std::string caption, int width) {
  TExportHeader header;
  header.ColumnIndex = columnIndex;
  header.Text = std::move(caption);
  header.Width = width;
  header.HasField = true;
  header.FieldType = dataset::ftString;
  return header;
}

class TTestGrid : public IRowSource {
 public:
  TTestGrid() { Look.HeaderFont.Style = marrowick::platform::fsBold; }

  TExportAppearance Look;
  std::vector<TExportHeader> Headers;      // display order
  std::vector<TExportHeader> TextHeaders;  // text order; empty: as Headers
  int Groups = 0;
  std::vector<TTestNode> Roots;
  // Raised by the row at this position of a walk (-1: none).
  int FailAtRow = -1;

  int BeginCount = 0;
  int EndCount = 0;
  bool Exporting = false;

  const TExportAppearance& Appearance() const override { return Look; }
  std::vector<TExportHeader> VisibleHeaders() const override { return Headers; }
  std::vector<TExportHeader> TextOrderHeaders() const override {
    return TextHeaders.empty() ? Headers : TextHeaders;
  }
  int GroupColumnCount() const override { return Groups; }
  void ForEachRow(const std::function<void(const IExportRow&)>& visit) const override {
    int position = 0;
    for (const TTestNode& node : Roots) Walk(node, 0, false, position, visit);
  }
  void ForEachVisibleRow(const std::function<void(const IExportRow&)>& visit) const override {
    int position = 0;
    for (const TTestNode& node : Roots) Walk(node, 0, true, position, visit);
  }
  void BeginExport() override {
    ++BeginCount;
    Exporting = true;
  }
  void EndExport() override {
    ++EndCount;
    Exporting = false;
  }

 private:
  class TRow : public IExportRow {
   public:
    TRow(const TTestNode& node, int level) : node_(node), level_(level) {}
    bool IsGroup() const override { return node_.Group; }
    int Level() const override { return level_; }
    std::string Text(int column) const override {
      if (node_.Group) return node_.GroupText;
      return column < static_cast<int>(node_.Texts.size()) ? node_.Texts[static_cast<size_t>(column)] : "";
    }
    dataset::Variant Value(int column) const override {
      if (column < static_cast<int>(node_.Values.size())) return node_.Values[static_cast<size_t>(column)];
      return Text(column);
    }

   private:
    const TTestNode& node_;
    int level_;
  };

  void Walk(const TTestNode& node, int level, bool shownOnly, int& position,
            const std::function<void(const IExportRow&)>& visit) const {
    if (position++ == FailAtRow) throw std::runtime_error("the grid failed at a row");
    visit(TRow(node, level));
    if (shownOnly && !node.Expanded) return;
    for (const TTestNode& child : node.Children) Walk(child, level + 1, shownOnly, position, visit);
  }
};

// The program's grid grouped by category with the given headers shown.
inline TTestGrid ProgramGrid(std::vector<TExportHeader> headers, int groups = 1) {
  TTestGrid grid;
  grid.Headers = std::move(headers);
  grid.Groups = groups;
  return grid;
}

}  // namespace exports::testing
