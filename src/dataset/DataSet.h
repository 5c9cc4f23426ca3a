// The abstract record set: states, a window of buffered records around the
// current one, BOF/EOF flags, bookmarks, field objects, data sources and
// their data links, events, and the editing cycle (Append/Insert/Edit →
// Post/Cancel, Delete). A descendant supplies the store: it allocates the
// record buffers, reads records into them (GetRecord), positions its cursor
// (InternalFirst, InternalLast, InternalSetToRecord, InternalGotoBookmark),
// writes (InternalPost, InternalDelete) and exchanges field values
// (GetFieldData, SetFieldData).
//
// Window: BufferCount record buffers (the largest BufferCount of the
// attached data links, at least 1) plus one spare; the first RecordCount of
// them hold records, ActiveRecord is the current one. The descendant's
// cursor stands on the record of CurrentRecord (-1: unknown; the next step
// places it again from the buffer's bookmark).
//
// What a descendant does besides its virtual operations:
// - InternalOpen reads the field definitions (FieldDefs()), calls
//   CreateFields() when DefaultFields(), then BindFields(true); after that
//   CalcFieldsSize() and the fields' offsets are known, so it sizes its
//   buffers, calls SetBookmarkSize and stands before the first record. The
//   base class unbinds the fields (and destroys default ones) on close.
//   InternalClose must also cope with a partly done InternalOpen and with
//   an open that only read the field definitions.
// - GetRecord fills the buffer, sets its bookmark flag to bfCurrent, calls
//   GetCalcFields(buffer), and when Filtered() skips records RecordFilter
//   refuses.
// - GetFieldData and SetFieldData pick the buffer by state (see
//   StateRecordBuffer); SetFieldData refuses writes outside the writing
//   states ("Dataset not in edit or insert mode") and to read-only fields,
//   calls field.Validate(buffer), stores, and sends DataEvent(deFieldChange,
//   field) except in calculate-fields, filter and new-value states.
// - A BLOB stream that was written marks its field Modified and sends the
//   field change when it is destroyed. After a post, cancel or delete, and
//   at close, CloseBlob is called for every BLOB data field of the active
//   row (so it must be harmless when nothing is attached).
// - Descendants close themselves in their own destructor (Close()); the
//   base destructor only frees what it owns.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/BlobStream.h"
#include "dataset/DataSetTypes.h"
#include "dataset/Field.h"
#include "dataset/FieldDefs.h"
#include "dataset/Variant.h"

namespace dataset {

class TDataSource;
class TDataLink;

class TDataSet {
 public:
  using TDataSetNotifyEvent = std::function<void(TDataSet&)>;
  using TFilterRecordEvent = std::function<void(TDataSet&, bool& accept)>;

  TDataSet();
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // ---- Opening and state.
  bool Active() const { return state_ != dsInactive && state_ != dsOpening; }
  void SetActive(bool active);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return state_; }
  // A field of the record being edited or inserted was assigned.
  bool Modified() const { return modified_; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return activeRecord_ >= recordCount_; }
  bool CanModify() { return GetCanModify(); }
  virtual bool IsSequenced() { return true; }

  // ---- Navigation. Each leaves edit first (posting a modified record).
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves by distance records; answers the distance moved.
  int MoveBy(int distance);
  int RecNo() { return GetRecNo(); }
  virtual void SetRecNo(int value);
  int RecordCount();  // "Cannot perform this operation on a closed dataset"

  // ---- Editing.
  void Append();
  void Insert();
  void Edit();
  virtual void Post();
  virtual void Cancel();
  void Delete();
  void Refresh();
  // Posts a modified record being edited or inserted, cancels an unmodified
  // one.
  void CheckBrowseMode();
  // Asks the data links to write their pending control values into the
  // fields.
  void UpdateRecord();

  // ---- Bookmarks.
  bool BookmarkAvailable();
  TBookmark Bookmark() { return GetBookmark(); }
  void SetBookmark(const TBookmark& bookmark) { GotoBookmark(bookmark); }
  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& bookmark);  // nothing for an empty bookmark
  virtual bool BookmarkValid(const TBookmark& bookmark);
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);

  // ---- Notification control. While disabled, data links hear nothing;
  // re-enabling sends one state change (when the state differs) and one
  // data set change (a layout change after a close or a layout change).
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ != 0; }

  // ---- Searching. keyFields and resultFields name fields separated by
  // ';'; several key values come as an array variant.
  virtual bool Locate(const std::string& keyFields, const Variant& keyValues,
                      TLocateOptions options);
  virtual Variant Lookup(const std::string& keyFields, const Variant& keyValues,
                         const std::string& resultFields);
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }

  // ---- Fields.
  TFields& Fields() { return fields_; }
  int FieldCount() const { return fields_.Count(); }
  TFieldDefs& FieldDefs() { return fieldDefs_; }
  TField* FindField(std::string_view name) const { return fields_.FindField(name); }
  TField& FieldByName(std::string_view name) const { return fields_.FieldByName(name); }
  // One field's value, or an array of the values of several fields.
  Variant FieldValues(const std::string& names);
  void SetFieldValues(const std::string& names, const Variant& values);
  void GetFieldList(std::vector<TField*>& list, const std::string& names);
  // Adds a persistent field (the record set must be closed; "Duplicate
  // field name '%s'"). The record set owns it.
  TField& AddField(std::unique_ptr<TField> field);
  template <class T, class... Args>
  T& AddField(const std::string& name, Args&&... args) {
    auto field = std::make_unique<T>(std::forward<Args>(args)...);
    field->SetFieldName(name);
    T& ref = *field;
    AddField(std::move(field));
    return ref;
  }
  // Whether the fields were made from the definitions at open.
  bool DefaultFields() const { return defaultFields_; }
  bool AutoCalcFields() const { return autoCalcFields_; }
  void SetAutoCalcFields(bool value) { autoCalcFields_ = value; }
  int CalcFieldsSize() const { return calcFieldsSize_; }
  int BlobFieldCount() const { return blobFieldCount_; }

  // ---- BLOBs.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField& field, TBlobStreamMode mode);
  // Releases what the store holds for the field's BLOB in the current row.
  virtual void CloseBlob(TField& field);

  // ---- Filtering.
  const std::string& Filter() const { return filterText_; }
  void SetFilter(const std::string& text) { SetFilterText(text); }
  virtual void SetFilterText(const std::string& text);
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool value);
  TFilterOptions FilterOptions() const { return filterOptions_; }
  virtual void SetFilterOptions(TFilterOptions options);
  const TFilterRecordEvent& OnFilterRecord() const { return onFilterRecord_; }
  virtual void SetOnFilterRecord(TFilterRecordEvent handler);

  // ---- Field data exchange (see Field.h for the encodings). GetFieldData
  // answers whether the field holds a value in the buffer of the current
  // state; a null buffer only asks. SetFieldData stores a value (null
  // buffer: null) and sends the field change.
  virtual bool GetFieldData(TField& field, uint8_t* buffer) = 0;
  virtual void SetFieldData(TField& field, const uint8_t* buffer) = 0;
  // A field's value as seen in another state (old value, new value).
  virtual Variant GetStateFieldValue(TDataSetState state, TField& field);
  virtual void SetStateFieldValue(TDataSetState state, TField& field, const Variant& value);
  virtual bool GetIsIndexField(const TField& field);
  // The data source this record set itself reads from (a master source).
  virtual TDataSource* GetDataSource() { return nullptr; }
  // Reads the active record afresh into buffer; false when there is none.
  virtual bool GetCurrentRecord(uint8_t* buffer);
  // Dispatches a notification to the data sources (and so to the links).
  virtual void DataEvent(TDataEvent event, intptr_t info);

  // ---- Events.
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
  TDataSetNotifyEvent OnNewRecord, OnCalcFields;

 protected:
  // ---- What a descendant implements.
  // A record buffer of the descendant's size (record, calculated fields,
  // bookkeeping), zero-filled. The window owns the buffers.
  virtual std::unique_ptr<uint8_t[]> AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(std::unique_ptr<uint8_t[]>& buffer) { buffer.reset(); }
  // Reads the current, next or prior record into buffer and leaves the
  // cursor on it. grBOF/grEOF at the ends; with doCheck an error raises,
  // otherwise answers grError.
  virtual TGetResult GetRecord(uint8_t* buffer, TGetMode mode, bool doCheck) = 0;
  virtual int GetRecordSize() const { return 0; }
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual bool IsCursorOpen() const = 0;
  virtual void InternalInitFieldDefs() = 0;
  // Before the first / after the last record.
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalInitRecord(uint8_t* buffer) = 0;
  // Writes the active record (State() tells edit or insert).
  virtual void InternalPost() = 0;
  // Deletes the cursor's record.
  virtual void InternalDelete() = 0;
  virtual void InternalEdit() {}
  virtual void InternalCancel() {}
  // A new row was made (Insert or Append) in the active buffer.
  virtual void InternalInsert() {}
  // Adds a record straight from a buffer; the base class does not call it.
  virtual void InternalAddRecord(const uint8_t* /*buffer*/, bool /*append*/) {}
  virtual void InternalRefresh() {}
  virtual void InternalGotoBookmark(const uint8_t* bookmark) = 0;
  // Places the cursor on the buffer's record.
  virtual void InternalSetToRecord(uint8_t* buffer) = 0;
  // An error that cannot be passed to the caller (raised inside a
  // destructor); the base class drops it.
  virtual void InternalHandleException(std::exception_ptr /*error*/) {}
  virtual void GetBookmarkData(const uint8_t* buffer, uint8_t* data) = 0;
  virtual void SetBookmarkData(uint8_t* buffer, const uint8_t* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(const uint8_t* buffer) = 0;
  virtual void SetBookmarkFlag(uint8_t* buffer, TBookmarkFlag flag) = 0;
  virtual bool GetCanModify() { return true; }
  virtual int GetRecordCount() { return -1; }
  virtual int GetRecNo() { return -1; }
  virtual bool FindRecord(bool /*restart*/, bool /*goForward*/) { return false; }
  virtual void ClearCalcFields(uint8_t* /*buffer*/) {}
  // A new row: InternalInitRecord, ClearCalcFields, flag inserted.
  virtual void InitRecord(uint8_t* buffer);
  virtual void DoOnNewRecord();
  // Copies text from src to dst (a descendant may translate character sets).
  virtual void Translate(const char* src, char* dst, bool toOem);
  // Opening: with infoQuery only the field definitions are read.
  virtual void OpenCursor(bool infoQuery);
  virtual void CloseCursor();
  virtual void InitFieldDefs();

  // ---- Services for descendants.
  void SetState(TDataSetState value);
  // Temporary states (calculating, filtering, old and new values) send no
  // notifications.
  TDataSetState SetTempState(TDataSetState value);
  void RestoreState(TDataSetState value);
  void SetModified(bool value) { modified_ = value; }
  uint8_t* ActiveBuffer() const { return BufferAt(activeRecord_); }
  // The spare buffer past the window's records.
  uint8_t* TempBuffer() const { return BufferAt(recordCount_); }
  uint8_t* CalcBuffer() const { return calcBuffer_; }
  uint8_t* FilterBuffer() const { return filterBuffer_; }
  uint8_t* BufferAt(int index) const;
  int BufferCount() const { return bufferCount_; }
  int WindowRecordCount() const { return recordCount_; }
  int ActiveRecord() const { return activeRecord_; }
  int CurrentRecord() const { return currentRecord_; }
  int BookmarkSize() const { return bookmarkSize_; }
  void SetBookmarkSize(int size) { bookmarkSize_ = size; }
  // The buffer field values live in for the current state: the active
  // record (browse: none when empty; edit, insert, new value), the
  // calculation buffer, the buffer being filtered; null otherwise.
  uint8_t* StateRecordBuffer() const;
  void CursorPosChanged() { currentRecord_ = -1; }
  void UpdateCursorPos();
  // Re-reads the window around the cursor's record (rmExact: it must still
  // be there; rmCenter: centred).
  void Resync(unsigned modes);
  void ClearBuffers();
  void CheckActive() const;
  void CheckInactive() const;
  void CheckCanModify();
  // Field objects: default fields from the definitions, binding to the
  // definitions by name (offsets of calculated fields), and their removal.
  void CreateFields();
  void DestroyFields();
  void BindFields(bool binding);
  void SetDefaultFields(bool value) { defaultFields_ = value; }
  // Computes the calculated and lookup fields of a freshly read buffer.
  void GetCalcFields(uint8_t* buffer);
  void CalculateFields(uint8_t* buffer);
  // Runs OnFilterRecord on buffer (in filter state); true when accepted or
  // there is no handler.
  bool RecordFilter(uint8_t* buffer);
  // The generic search: reads every record from the first into buffer
  // until the key fields match (null matches null; with loCaseInsensitive
  // letter case is ignored; with loPartialKey a string key matches values
  // that begin with it, a trailing '*' dropped). Leaves the cursor on the
  // found record and marks its position changed.
  bool LocateRecord(const std::string& keyFields, const Variant& keyValues,
                    TLocateOptions options, uint8_t* buffer);
  void FreeFieldBuffers();

 private:
  friend class TDataSource;
  friend class TDataLink;
  friend class TField;
  friend class TFieldDefs;

  void DoInternalOpen();
  void UpdateBufferCount();
  void SetBufferCount(int value);
  void MoveBuffer(int curIndex, int newIndex);
  void ActivateBuffers();
  void SetCurrentRecord(int index);
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void BeginInsertAppend();
  void EndInsertAppend();
  void CheckRequiredFields();
  void UpdateCalcFields();
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);
  void Fire(const TDataSetNotifyEvent& event) {
    if (event) event(*this);
  }

  TDataSetState state_ = dsInactive;
  bool modified_ = false;
  bool bof_ = true;
  bool eof_ = true;
  bool internalOpenComplete_ = false;
  bool defaultFields_ = false;
  bool autoCalcFields_ = true;
  bool filtered_ = false;
  std::string filterText_;
  TFilterOptions filterOptions_ = 0;
  TFilterRecordEvent onFilterRecord_;

  std::vector<std::unique_ptr<uint8_t[]>> buffers_;
  int bufferCount_ = 0;
  int recordCount_ = 0;
  int activeRecord_ = 0;
  int currentRecord_ = -1;
  int bookmarkSize_ = 0;
  uint8_t* calcBuffer_ = nullptr;
  uint8_t* filterBuffer_ = nullptr;

  int disableCount_ = 0;
  TDataSetState disableState_ = dsInactive;
  TDataEvent enableEvent_ = deDataSetChange;

  std::vector<TDataSource*> dataSources_;
  TFieldDefs fieldDefs_;
  TFields fields_;
  std::vector<std::unique_ptr<TField>> ownedFields_;
  int calcFieldsSize_ = 0;
  int blobFieldCount_ = 0;
};

}  // namespace dataset
