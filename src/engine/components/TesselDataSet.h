// The engine's record sets: TTesselDataSet implements the abstract record set
// over one engine cursor (rows, field data, bookmarks, filters, Locate and
// Lookup, BLOB streams); TTesselDBDataSet adds the session and database it
// reaches its tables through.
//
// A row (record buffer) holds, in this order: the engine record image
// (RecordSize bytes), the calculated fields (a not-null byte and the value
// per calculated or lookup field), 8 bytes of bookkeeping (the 32-bit record
// number the row was read with, -1 in a new row, then the bookmark flag) and
// the bookmark the cursor gave for the row.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dataset/DataSet.h"
#include "engine/components/Database.h"
#include "engine/cursor/DataCursor.h"

namespace tessel {

class TFilter;
class TTesselBlobStream;

// The application's handler of errors raised where no caller can take them
// (inside a destructor, inside a filter callback). Without one they are
// dropped.
using TApplicationExceptionHandler = std::function<void(std::exception_ptr)>;
void SetApplicationExceptionHandler(TApplicationExceptionHandler handler);
void ApplicationHandleException(std::exception_ptr error);

class TTesselDataSet : public dataset::TDataSet {
 public:
  TTesselDataSet();
  ~TTesselDataSet() override;

  // ---- Published properties.
  // Each data field's display label is taken from the table's field
  // description.
  bool AutoDisplayLabels() const { return autoDisplayLabels_; }
  void SetAutoDisplayLabels(bool value);
  // A new record starts as a copy of the current record, BLOBs included.
  bool CopyOnAppend() const { return copyOnAppend_; }
  void SetCopyOnAppend(bool value) { copyOnAppend_ = value; }

  // ---- The engine cursor (null while closed).
  TDataCursor* Cursor() const { return cursor_.get(); }

  // ---- Record set operations.
  bool GetFieldData(dataset::TField& field, uint8_t* buffer) override;
  void SetFieldData(dataset::TField& field, const uint8_t* buffer) override;
  dataset::Variant GetStateFieldValue(dataset::TDataSetState state, dataset::TField& field) override;
  bool GetIsIndexField(const dataset::TField& field) override;
  bool GetCurrentRecord(uint8_t* buffer) override;
  bool IsSequenced() override { return !Filtered(); }
  void SetRecNo(int value) override;
  bool BookmarkValid(const dataset::TBookmark& bookmark) override;
  int CompareBookmarks(const dataset::TBookmark& a, const dataset::TBookmark& b) override;
  bool Locate(const std::string& keyFields, const dataset::Variant& keyValues,
              dataset::TLocateOptions options) override;
  dataset::Variant Lookup(const std::string& keyFields, const dataset::Variant& keyValues,
                          const std::string& resultFields) override;
  std::unique_ptr<dataset::TStream> CreateBlobStream(dataset::TField& field,
                                                     dataset::TBlobStreamMode mode) override;
  void CloseBlob(dataset::TField& field) override;
  void SetFilterText(const std::string& text) override;
  void SetFiltered(bool value) override;
  void SetFilterOptions(dataset::TFilterOptions options) override;
  void SetOnFilterRecord(TFilterRecordEvent handler) override;
  void DataEvent(dataset::TDataEvent event, intptr_t info) override;

 protected:
  // ---- New virtual operations.
  // Makes and opens the cursor (null: the record set has none to offer).
  virtual std::unique_ptr<TDataCursor> CreateCursor() { return nullptr; }
  // The cached lookup cursor first, then the cursor is closed and freed.
  virtual void DestroyCursor();
  virtual void CloseLookupCursor();
  // A cursor whose current index serves a search on the fields with the
  // case-sensitivity asked for (a clone on another index, cached), or null.
  virtual TDataCursor* OpenLookupCursor(const std::string& keyFields, bool caseInsensitive);
  // Runs after the cursor stood before the first record at open.
  virtual void PrepareCursor() {}

  // ---- The abstract record set's operations.
  void OpenCursor(bool infoQuery) override;
  void CloseCursor() override;
  std::unique_ptr<uint8_t[]> AllocRecordBuffer() override;
  dataset::TGetResult GetRecord(uint8_t* buffer, dataset::TGetMode mode, bool doCheck) override;
  int GetRecordSize() const override { return recordSize_; }
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return cursor_ != nullptr; }
  void InternalInitFieldDefs() override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalInitRecord(uint8_t* buffer) override;
  void InternalPost() override;
  void InternalDelete() override;
  void InternalEdit() override;
  void InternalCancel() override;
  void InternalAddRecord(const uint8_t* buffer, bool append) override;
  void InternalRefresh() override;
  void InternalGotoBookmark(const uint8_t* bookmark) override;
  void InternalSetToRecord(uint8_t* buffer) override;
  void InternalHandleException(std::exception_ptr error) override;
  void GetBookmarkData(const uint8_t* buffer, uint8_t* data) override;
  void SetBookmarkData(uint8_t* buffer, const uint8_t* data) override;
  dataset::TBookmarkFlag GetBookmarkFlag(const uint8_t* buffer) override;
  void SetBookmarkFlag(uint8_t* buffer, dataset::TBookmarkFlag flag) override;
  bool GetCanModify() override { return canModify_; }
  int GetRecordCount() override;
  int GetRecNo() override;
  bool FindRecord(bool restart, bool goForward) override;
  void ClearCalcFields(uint8_t* buffer) override;
  void DoOnNewRecord() override;

  // ---- Services for descendants.
  // The row the current state reads and writes fields in: the active row,
  // the current key buffer (set-key state), the calculation, filter or
  // old-value row; null when there is none.
  uint8_t* StateRow() const;
  uint8_t* ActiveRow() const { return ActiveBuffer(); }
  // The current index's key fields (field numbers).
  const std::vector<uint16_t>& IndexFieldNumbers() const { return indexFields_; }
  // Re-reads the key-field list and the bookmark size after the cursor's
  // index changed.
  void IndexChanged();
  [[noreturn]] void RaiseCode(uint16_t code) const;

  // Key buffers: a header (modified, exclusive, field count) before a blank
  // record image.
  enum TKeyIndex { kiLookup, kiRangeStart, kiRangeEnd, kiCurRangeStart, kiCurRangeEnd, kiSave };
  static constexpr int kKeyHeaderSize = 8;
  uint8_t* KeyBuffer(TKeyIndex index) const;
  uint8_t* KeyRecord(TKeyIndex index) const { return KeyBuffer(index) + kKeyHeaderSize; }
  bool KeyModified(TKeyIndex index) const { return KeyBuffer(index)[0] != 0; }
  int32_t KeyFieldCountOf(TKeyIndex index) const;
  void SetKeyFieldCountOf(TKeyIndex index, int32_t count);
  void InitKeyBuffer(TKeyIndex index);
  void CopyKeyBuffer(TKeyIndex from, TKeyIndex to);
  bool KeyBuffersEqual(TKeyIndex a, TKeyIndex b) const;
  // Makes the given key buffer the one set-key state edits (saving it first)
  // and enters set-key state; clear blanks it.
  void SetKeyBuffer(TKeyIndex index, bool clear);
  // Leaves set-key state keeping (commit) or restoring the key buffer.
  void PostKeyBuffer(bool commit);
  TKeyIndex CurrentKeyIndex() const { return keyIndex_; }
  void SetCurrentKeyIndex(TKeyIndex index) { keyIndex_ = index; }

  // Fires BeforeScroll / AfterScroll.
  void DoBeforeScroll();
  void DoAfterScroll();

  std::unique_ptr<TDataCursor> cursor_;

 private:
  friend class TTesselBlobStream;

  void CreateFilters();
  void DropFilters();
  void ActivateFilters();
  void DeactivateFilters();
  // The common search of Locate and Lookup: the found record is read into
  // TempBuffer(); with syncCursor the record set's cursor stands on it.
  bool LocateRecord(const std::string& keyFields, const dataset::Variant& keyValues,
                    dataset::TLocateOptions options, bool syncCursor);
  bool SearchWithFilter(const std::vector<dataset::TField*>& fields, dataset::TLocateOptions options,
                        uint8_t* buffer);
  std::string FieldKeyText(int fieldNumber, const uint8_t* image) const;
  void CopyCurrentInto(uint8_t* row);
  void CloseUnboundBlobs(uint8_t* row);

  int recordSize_ = 0;
  std::size_t calcOffset_ = 0;
  std::size_t infoOffset_ = 0;
  std::size_t bookmarkOffset_ = 0;
  std::size_t bufferSize_ = 0;
  bool canModify_ = false;
  bool autoDisplayLabels_ = false;
  bool copyOnAppend_ = false;
  std::vector<uint16_t> indexFields_;
  std::vector<uint8_t> scratch_;        // old values; copies for CopyOnAppend
  std::vector<uint8_t> filterRow_;      // the row a callback filter looks at
  uint8_t* keyRow_ = nullptr;           // Locate's key row while its values are set
  std::vector<std::vector<uint8_t>> keyBuffers_;
  TKeyIndex keyIndex_ = kiLookup;
  TFilter* exprFilter_ = nullptr;
  TFilter* funcFilter_ = nullptr;
  // The record a new row copies with CopyOnAppend.
  std::vector<uint8_t> copySource_;
  bool copySourceValid_ = false;
  std::unique_ptr<TDataCursor> lookupCursor_;
  std::string lookupFields_;
  bool lookupCaseInsensitive_ = false;
  bool lookupCached_ = false;
};

class TTesselDBDataSet : public TTesselDataSet, public TSessionBoundComponent, public TDatabaseClient {
 public:
  explicit TTesselDBDataSet(TComponentOwner* owner = nullptr);
  ~TTesselDBDataSet() override;

  // ---- Published properties. Both need the record set closed.
  const std::string& DatabaseName() const { return databaseName_; }
  virtual void SetDatabaseName(const std::string& value);
  void SetSessionName(const std::string& value) override;

  // The database, session and engine directory while the record set holds
  // a reason for its database (null otherwise).
  TTesselDatabase* Database() const { return use_.Database(); }
  TTesselSession* DBSession() const { return use_.Session(); }
  TDataDirectory* DBDirectory() const { return use_.Directory(); }
  uint32_t DatabaseFlags() const { return use_.Flags(); }

  // ---- TDatabaseClient: the database is disconnecting.
  void CloseForDatabase() override;

 protected:
  // Sets or clears one reason for needing the database (TDatabaseUse
  // flag numbers); the first opens the session and the database.
  virtual void SetDatabaseFlag(int flag, bool on);
  void OpenCursor(bool infoQuery) override;
  void CloseCursor() override;

  std::string databaseName_;

 private:
  TDatabaseUse use_{*this};
};

}  // namespace tessel
