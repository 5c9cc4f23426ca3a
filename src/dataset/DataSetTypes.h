// The record-set layer's shared enumerations and small types: record set
// states, notifications, field types and kinds, record fetch modes and
// answers, bookmark flags and bookmarks.
#pragma once

#include <cstdint>
#include <string>

namespace dataset {

enum TDataSetState {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc,
  dsOpening
};

inline bool IsEditMode(TDataSetState state) {
  return state == dsEdit || state == dsInsert || state == dsSetKey;
}

// Notifications a record set sends to its data sources and data links. The
// accompanying value: deFieldChange and deRecordChange a TField* (or none),
// deDataSetScroll the distance, deFocusControl a TField** the link that
// takes the focus clears.
enum TDataEvent {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange,
  deFieldListChange,
  deFocusControl
};

enum TFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet
};

// The type's name as messages give it ("String", "Memo", "DateTime").
const char* FieldTypeName(TFieldType type);

enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc };

enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };

// The place of a record buffer: a read record, the crack before the first or
// after the last record, or a new record being inserted.
enum TBookmarkFlag : uint8_t { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };

// Re-reading of the buffered records around the current one: exact (the
// current record must still be there) and centred in the window.
enum TResyncMode : unsigned { rmExact = 1, rmCenter = 2 };

enum TLocateOption : unsigned { loCaseInsensitive = 1, loPartialKey = 2 };
using TLocateOptions = unsigned;

enum TFilterOption : unsigned { foCaseInsensitive = 1, foNoPartialCompare = 2 };
using TFilterOptions = unsigned;

// A bookmark: the record set's opaque bytes for one record position; empty
// when there is none.
using TBookmark = std::string;

}  // namespace dataset
