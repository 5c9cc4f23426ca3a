// Small shared types of the grid's core: sort states, alignments, the grid's
// option flags, and the texts the grid shows or asks.
#pragma once

#include <cstdint>

namespace grid {

// Sort state of a column; the numbers are the stored layout's values.
enum TTreeListColumnSort { csNone = 0, csDown = 1, csUp = 2 };

enum TAlignment { taLeftJustify = 0, taRightJustify = 1, taCenter = 2 };

enum TLookAndFeel { lfStandard, lfFlat };

// Option flags of the data-aware grid.
enum TDBGridOption : uint64_t {
  goLoadAllRecords = 1ull << 0,
  goCanNavigation = 1ull << 1,
  goSmartReload = 1ull << 2,
  goSmartRefresh = 1ull << 3,
  goShowHourGlass = 1ull << 4,
  goUseLocate = 1ull << 5,
  goCollapsedReload = 1ull << 6,
  goSeekDetail = 1ull << 7,
  goCaseInsensitive = 1ull << 8,
  goAnsiSort = 1ull << 9,
  goAutoSort = 1ull << 10,
  goNotHideColumn = 1ull << 11,
  goMultiSort = 1ull << 12,
  goEditing = 1ull << 13,
  goEnterShowEditor = 1ull << 14,
  goTabThrough = 1ull << 15,
  goCancelOnExit = 1ull << 16,
  goCanInsert = 1ull << 17,
  goCanDelete = 1ull << 18,
  goConfirmDelete = 1ull << 19,
  goColumnSizing = 1ull << 20,
  goColumnMoving = 1ull << 21,
  goVertThrough = 1ull << 22,
  goUseBitmap = 1ull << 23,
  goDragScroll = 1ull << 24,
  goCanAppend = 1ull << 25,
  goImmediateEditor = 1ull << 26,
  goRowSelect = 1ull << 27,
  goMultiSelect = 1ull << 28,
  goTabs = 1ull << 29,
  goHorzThrough = 1ull << 30,
  goEnterThrough = 1ull << 31,
  goShowButtonAlways = 1ull << 32,
  goExtCustomizing = 1ull << 33,
  goIndicator = 1ull << 34,
  goStoreToRegistry = 1ull << 35,
  goPreview = 1ull << 36,
  goAutoCalcPreviewLines = 1ull << 37,
  goBandHeaderWidth = 1ull << 38,
  goAutoWidth = 1ull << 39,
  goAutoHeaderPanelHeight = 1ull << 40,
};
using TDBGridOptions = uint64_t;

// The options of the program's grid.
inline constexpr TDBGridOptions kProgramGridOptions =
    goLoadAllRecords | goCanNavigation | goSmartReload | goSmartRefresh | goAutoSort |
    goNotHideColumn | goEditing | goEnterShowEditor | goTabThrough | goCancelOnExit | goCanInsert |
    goCanDelete | goConfirmDelete | goColumnSizing | goColumnMoving | goVertThrough | goUseBitmap |
    goDragScroll | goStoreToRegistry | goAutoCalcPreviewLines | goBandHeaderWidth;

// Texts of the grid (the program's string table).
namespace text {
inline constexpr const char* kDeleteRecord = "Delete record?";
inline constexpr const char* kDeleteSelected = "Delete all selected records?";
inline constexpr const char* kConfirm = "Confirm";
inline constexpr const char* kGroupPanelHint = "Drag a column header here to group by that column";
inline constexpr const char* kInvalidOwner = "Invalid Owner TTreeListNode";
}  // namespace text

}  // namespace grid
