// A small record set over a vector of rows, for the record-set layer's
// tests: it implements the descendant's operations the way the table
// engine's record set does (buffers with a record part, calculated fields
// and bookkeeping; a cursor with cracks before the first and after the last
// row; BLOB contents attached to a buffer while they are written).
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dataset/DataSet.h"
#include "dataset/DataSetMessages.h"
#include "dataset/DataSource.h"
#include "dataset/FieldKinds.h"

namespace dataset_test {

using namespace dataset;

struct TColumn {
  std::string name;
  TFieldType type;
  int size = 0;
  bool required = false;
};

class TMemDataSet : public TDataSet {
 public:
  struct Row {
    int32_t id;
    // Per column: the field data bytes (BLOBs: the contents), or none.
    std::vector<std::optional<std::string>> values;
  };

  explicit TMemDataSet(std::vector<TColumn> columns) : columns_(std::move(columns)) {}
  ~TMemDataSet() override { Close(); }

  // ---- Test set-up and inspection.
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  std::vector<Row>& Rows() { return rows_; }
  // Adds a row of texts (through a string-typed column's encoding).
  void AddTextRow(const std::vector<std::optional<std::string>>& texts) {
    Row row{nextId_++, {}};
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      std::optional<std::string> text = i < texts.size() ? texts[i] : std::nullopt;
      if (text && columns_[i].type == ftString) {
        std::string data = *text;
        data.resize(static_cast<std::size_t>(columns_[i].size) + 1, '\0');
        row.values.push_back(data);
      } else {
        row.values.push_back(text);
      }
    }
    rows_.push_back(row);
  }
  std::optional<std::string> StoredText(std::size_t row, std::size_t column) const {
    const auto& value = rows_.at(row).values.at(column);
    if (!value) return std::nullopt;
    if (columns_[column].type == ftString) return std::string(value->c_str());
    return value;
  }
  int closeBlobCalls = 0;
  std::vector<std::string> handledErrors;

  // ---- Record set operations.
  bool GetFieldData(TField& field, uint8_t* buffer) override {
    uint8_t* record = StateRecordBuffer();
    if (record == nullptr) return false;
    if (field.FieldKind() == fkCalculated || field.FieldKind() == fkLookup) {
      uint8_t* place = record + calcOffset_ + field.Offset();
      if (place[0] == 0) return false;
      if (buffer != nullptr) std::memcpy(buffer, place + 1, static_cast<std::size_t>(field.DataSize()));
      return true;
    }
    std::size_t column = static_cast<std::size_t>(field.FieldNo() - 1);
    uint8_t* place = record + offsets_[column];
    if (place[0] == 0) return false;
    if (buffer != nullptr && !field.IsBlob()) {
      std::memcpy(buffer, place + 1, static_cast<std::size_t>(field.DataSize()));
    }
    return true;
  }

  void SetFieldData(TField& field, const uint8_t* buffer) override {
    TDataSetState state = State();
    if (state != dsEdit && state != dsInsert && state != dsSetKey && state != dsCalcFields &&
        state != dsFilter && state != dsNewValue) {
      DatabaseError(msg::NotEditing);
    }
    uint8_t* record = StateRecordBuffer();
    if (field.FieldKind() == fkCalculated || field.FieldKind() == fkLookup) {
      uint8_t* place = record + calcOffset_ + field.Offset();
      place[0] = buffer != nullptr ? 1 : 0;
      std::size_t size = static_cast<std::size_t>(field.DataSize());
      if (buffer != nullptr) {
        std::memcpy(place + 1, buffer, size);
      } else {
        std::memset(place + 1, 0, size);
      }
    } else {
      if (state == dsCalcFields) DatabaseError(msg::NotEditing);
      if (field.ReadOnly()) DatabaseErrorFmt(msg::FieldReadOnly, {field.DisplayName()});
      field.Validate(buffer);
      std::size_t column = static_cast<std::size_t>(field.FieldNo() - 1);
      uint8_t* place = record + offsets_[column];
      std::size_t size = static_cast<std::size_t>(field.DataSize());
      place[0] = buffer != nullptr ? 1 : 0;
      if (buffer != nullptr) {
        std::memcpy(place + 1, buffer, size);
      } else {
        std::memset(place + 1, 0, size);
      }
    }
    if (state != dsCalcFields && state != dsFilter && state != dsNewValue) {
      DataEvent(deFieldChange, reinterpret_cast<intptr_t>(&field));
    }
  }

  std::unique_ptr<TStream> CreateBlobStream(TField& field, TBlobStreamMode mode) override;

  void CloseBlob(TField& field) override {
    ++closeBlobCalls;
    uint8_t* record = ActiveBuffer();
    if (record != nullptr) SetBlobSlot(record, field, -1);
  }

  bool BookmarkValid(const TBookmark& bookmark) override {
    return bookmark.size() == 4 && IndexOfId(IdOf(bookmark)) >= 0;
  }
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) override {
    if (a.empty() && b.empty()) return 0;
    if (a.empty()) return 1;
    if (b.empty()) return -1;
    int x = IndexOfId(IdOf(a)), y = IndexOfId(IdOf(b));
    return x == y ? 0 : (x < y ? -1 : 1);
  }
  void SetRecNo(int value) override {
    CheckBrowseMode();
    if (value == RecNo() || value < 1 || value > static_cast<int>(rows_.size())) return;
    pos_ = value - 1;
    Resync(rmExact | rmCenter);
  }
  void SetFiltered(bool value) override {
    TDataSet::SetFiltered(value);
    if (Active()) First();
  }

  // The bytes of a column's place in the active buffer (not-null byte first).
  const uint8_t* ActivePlace(std::size_t column) const { return ActiveBuffer() + offsets_[column]; }

 protected:
  std::unique_ptr<uint8_t[]> AllocRecordBuffer() override {
    return std::make_unique<uint8_t[]>(static_cast<std::size_t>(bufferSize_));
  }
  TGetResult GetRecord(uint8_t* buffer, TGetMode mode, bool /*doCheck*/) override {
    int n = static_cast<int>(rows_.size());
    while (true) {
      switch (mode) {
        case gmNext:
          if (pos_ < n) ++pos_;
          if (pos_ >= n) return grEOF;
          break;
        case gmPrior:
          if (pos_ > -1) --pos_;
          if (pos_ < 0) return grBOF;
          break;
        case gmCurrent:
          if (pos_ < 0 || pos_ >= n) return grError;
          break;
      }
      FillBuffer(buffer, rows_[static_cast<std::size_t>(pos_)]);
      GetCalcFields(buffer);
      if (!Filtered() || RecordFilter(buffer)) return grOK;
      if (mode == gmCurrent) return grError;
    }
  }
  void InternalOpen() override {
    InternalInitFieldDefs();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    offsets_.clear();
    int offset = 0;
    for (const TColumn& column : columns_) {
      offsets_.push_back(static_cast<std::size_t>(offset));
      offset += 1 + DataSizeOf(column);
    }
    calcOffset_ = static_cast<std::size_t>(offset);
    infoOffset_ = calcOffset_ + static_cast<std::size_t>(CalcFieldsSize());
    bufferSize_ = static_cast<int>(infoOffset_) + 5;
    SetBookmarkSize(4);
    open_ = true;
    InternalFirst();
  }
  void InternalClose() override {
    open_ = false;
    blobs_.clear();
  }
  bool IsCursorOpen() const override { return open_; }
  void InternalInitFieldDefs() override {
    FieldDefs().Clear();
    for (const TColumn& column : columns_) {
      FieldDefs().Add(column.name, column.type, column.size, column.required);
    }
  }
  void InternalFirst() override { pos_ = -1; }
  void InternalLast() override { pos_ = static_cast<int>(rows_.size()); }
  void InternalInitRecord(uint8_t* buffer) override {
    std::memset(buffer, 0, infoOffset_);
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (IsBlobType(columns_[i].type)) WriteSlot(buffer + offsets_[i] + 1, -1);
    }
    SetId(buffer, -1);
  }
  void InternalPost() override {
    uint8_t* buffer = ActiveBuffer();
    if (State() == dsEdit) {
      Row& row = rows_.at(static_cast<std::size_t>(IndexOfId(GetId(buffer))));
      StoreBuffer(buffer, row);
      return;
    }
    Row row{nextId_++, std::vector<std::optional<std::string>>(columns_.size())};
    StoreBuffer(buffer, row);
    int index;
    switch (GetBookmarkFlag(buffer)) {
      case bfEOF: index = static_cast<int>(rows_.size()); break;
      case bfBOF: index = 0; break;
      default: {
        int32_t beforeId;
        std::memcpy(&beforeId, buffer + infoOffset_, 4);
        index = std::max(0, IndexOfId(beforeId));
        break;
      }
    }
    rows_.insert(rows_.begin() + index, row);
    pos_ = index;
  }
  void InternalDelete() override { rows_.erase(rows_.begin() + pos_); }
  void InternalGotoBookmark(const uint8_t* bookmark) override {
    int32_t id;
    std::memcpy(&id, bookmark, 4);
    GotoId(id);
  }
  void InternalSetToRecord(uint8_t* buffer) override { GotoId(GetId(buffer)); }
  void InternalHandleException(std::exception_ptr error) override {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      handledErrors.push_back(e.what());
    }
  }
  void GetBookmarkData(const uint8_t* buffer, uint8_t* data) override {
    std::memcpy(data, buffer + infoOffset_, 4);
  }
  void SetBookmarkData(uint8_t* buffer, const uint8_t* data) override {
    std::memcpy(buffer + infoOffset_, data, 4);
  }
  TBookmarkFlag GetBookmarkFlag(const uint8_t* buffer) override {
    return static_cast<TBookmarkFlag>(buffer[infoOffset_ + 4]);
  }
  void SetBookmarkFlag(uint8_t* buffer, TBookmarkFlag flag) override {
    buffer[infoOffset_ + 4] = flag;
  }
  bool GetCanModify() override { return !readOnly_; }
  int GetRecordCount() override { return static_cast<int>(rows_.size()); }
  int GetRecNo() override {
    uint8_t* buffer = ActiveBuffer();
    if (IsEmpty() || GetBookmarkFlag(buffer) != bfCurrent) return -1;
    return IndexOfId(GetId(buffer)) + 1;
  }
  void ClearCalcFields(uint8_t* buffer) override {
    std::memset(buffer + calcOffset_, 0, infoOffset_ - calcOffset_);
  }

 private:
  static bool IsBlobType(TFieldType type) { return type == ftMemo || type == ftBlob; }
  static int DataSizeOf(const TColumn& column) {
    switch (column.type) {
      case ftString: return column.size + 1;
      case ftSmallint:
      case ftWord:
      case ftBoolean: return 2;
      case ftInteger:
      case ftAutoInc:
      case ftDate:
      case ftTime:
      case ftMemo:
      case ftBlob: return 4;  // BLOB: the slot of the contents being written
      case ftBytes:
      case ftVarBytes: return column.size;
      default: return 8;
    }
  }
  static int32_t IdOf(const TBookmark& bookmark) {
    int32_t id;
    std::memcpy(&id, bookmark.data(), 4);
    return id;
  }
  static void WriteSlot(uint8_t* place, int32_t slot) { std::memcpy(place, &slot, 4); }
  int32_t GetId(const uint8_t* buffer) const {
    int32_t id;
    std::memcpy(&id, buffer + infoOffset_, 4);
    return id;
  }
  void SetId(uint8_t* buffer, int32_t id) { std::memcpy(buffer + infoOffset_, &id, 4); }
  int IndexOfId(int32_t id) const {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      if (rows_[i].id == id) return static_cast<int>(i);
    }
    return -1;
  }
  void GotoId(int32_t id) {
    int index = IndexOfId(id);
    if (index < 0) DatabaseError(msg::RecordNotFound);
    pos_ = index;
  }
  void SetBlobSlot(uint8_t* record, const TField& field, int32_t slot) {
    WriteSlot(record + offsets_[static_cast<std::size_t>(field.FieldNo() - 1)] + 1, slot);
  }
  void FillBuffer(uint8_t* buffer, const Row& row) {
    std::memset(buffer, 0, static_cast<std::size_t>(bufferSize_));
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      uint8_t* place = buffer + offsets_[i];
      const auto& value = row.values[i];
      if (IsBlobType(columns_[i].type)) {
        place[0] = value && !value->empty() ? 1 : 0;
        WriteSlot(place + 1, -1);
      } else if (value) {
        place[0] = 1;
        std::memcpy(place + 1, value->data(), value->size());
      }
    }
    SetId(buffer, row.id);
    SetBookmarkFlag(buffer, bfCurrent);
  }
  void StoreBuffer(const uint8_t* buffer, Row& row) {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      const uint8_t* place = buffer + offsets_[i];
      if (IsBlobType(columns_[i].type)) {
        int32_t slot;
        std::memcpy(&slot, place + 1, 4);
        if (slot >= 0) {
          const std::string& contents = blobs_[static_cast<std::size_t>(slot)];
          row.values[i] = contents.empty() ? std::nullopt : std::optional<std::string>(contents);
        }
      } else if (place[0] != 0) {
        row.values[i] = std::string(reinterpret_cast<const char*>(place + 1),
                                    static_cast<std::size_t>(DataSizeOf(columns_[i])));
      } else {
        row.values[i] = std::nullopt;
      }
    }
  }

  friend class TMemBlobStream;

  std::vector<TColumn> columns_;
  std::vector<Row> rows_;
  std::vector<std::size_t> offsets_;
  std::size_t calcOffset_ = 0, infoOffset_ = 0;
  int bufferSize_ = 0;
  int pos_ = -1;
  int32_t nextId_ = 1;
  bool open_ = false;
  bool readOnly_ = false;
  std::vector<std::string> blobs_;
};

// A stream over one BLOB column of a buffer: reads the stored contents, or
// the contents attached to the buffer once a write stream was made.
class TMemBlobStream : public TStream {
 public:
  TMemBlobStream(TMemDataSet& dataSet, TField& field, TBlobStreamMode mode)
      : dataSet_(dataSet), field_(field) {
    record_ = dataSet.StateRecordBuffer();
    std::size_t column = static_cast<std::size_t>(field.FieldNo() - 1);
    if (mode != bmRead) {
      if (field.ReadOnly()) DatabaseErrorFmt(msg::FieldReadOnly, {field.DisplayName()});
      if (dataSet.State() != dsEdit && dataSet.State() != dsInsert) DatabaseError(msg::NotEditing);
    }
    int32_t slot = -1;
    if (record_ != nullptr) std::memcpy(&slot, record_ + dataSet.offsets_[column] + 1, 4);
    if (slot < 0) {
      std::string stored;
      if (record_ != nullptr) {
        int index = dataSet.IndexOfId(dataSet.GetId(record_));
        if (index >= 0 && dataSet.rows_[static_cast<std::size_t>(index)].values[column]) {
          stored = *dataSet.rows_[static_cast<std::size_t>(index)].values[column];
        }
      }
      if (mode != bmRead) {
        dataSet.blobs_.push_back(stored);
        slot = static_cast<int32_t>(dataSet.blobs_.size() - 1);
        dataSet.SetBlobSlot(record_, field, slot);
      } else {
        local_ = stored;
      }
    }
    data_ = slot >= 0 ? &dataSet.blobs_[static_cast<std::size_t>(slot)] : &local_;
    if (mode == bmWrite) {
      data_->clear();
      written_ = true;
    }
  }
  ~TMemBlobStream() override {
    if (!written_) return;
    static_cast<TBlobField&>(field_).SetModified(true);
    std::size_t column = static_cast<std::size_t>(field_.FieldNo() - 1);
    record_[dataSet_.offsets_[column]] = data_->empty() ? 0 : 1;
    try {
      dataSet_.DataEvent(deFieldChange, reinterpret_cast<intptr_t>(&field_));
    } catch (...) {
    }
  }
  int64_t Read(void* buffer, int64_t count) override {
    int64_t n = std::max<int64_t>(0, std::min<int64_t>(count, Length() - position_));
    std::memcpy(buffer, data_->data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
  }
  int64_t Write(const void* buffer, int64_t count) override {
    if (static_cast<std::size_t>(position_ + count) > data_->size()) {
      data_->resize(static_cast<std::size_t>(position_ + count));
    }
    std::memcpy(data_->data() + position_, buffer, static_cast<std::size_t>(count));
    position_ += count;
    written_ = true;
    return count;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    position_ = origin == soBeginning ? offset : origin == soCurrent ? position_ + offset
                                                                     : Length() + offset;
    return position_;
  }
  void Truncate() override {
    data_->resize(static_cast<std::size_t>(position_));
    written_ = true;
  }

 private:
  int64_t Length() const { return static_cast<int64_t>(data_->size()); }

  TMemDataSet& dataSet_;
  TField& field_;
  uint8_t* record_ = nullptr;
  std::string local_;
  std::string* data_ = nullptr;
  int64_t position_ = 0;
  bool written_ = false;
};

inline std::unique_ptr<TStream> TMemDataSet::CreateBlobStream(TField& field, TBlobStreamMode mode) {
  return std::make_unique<TMemBlobStream>(*this, field, mode);
}

// A data link that writes down every notification it hears.
class TRecordingLink : public TDataLink {
 public:
  ~TRecordingLink() override { SetDataSource(nullptr); }
  std::vector<std::string> log;
  // Runs when the record set asks the link to write its pending value.
  std::function<void()> onUpdateData;
  std::string Take() {
    std::string text;
    for (const std::string& entry : log) text += (text.empty() ? "" : ", ") + entry;
    log.clear();
    return text;
  }

 protected:
  void ActiveChanged() override { log.push_back(Active() ? "active" : "inactive"); }
  void DataSetChanged() override { log.push_back("changed" + Flags()); }
  void DataSetScrolled(int distance) override { log.push_back("scrolled " + std::to_string(distance)); }
  void RecordChanged(TField* field) override {
    log.push_back(field != nullptr ? "record " + field->FieldName() : "record");
  }
  void LayoutChanged() override { log.push_back("layout"); }
  void EditingChanged() override { log.push_back(Editing() ? "editing" : "browsing"); }
  void UpdateData() override {
    log.push_back("update");
    if (onUpdateData) onUpdateData();
  }
  void CheckBrowseMode() override { log.push_back("check"); }
  void FocusControl(TField** field) override { log.push_back("focus " + (*field)->FieldName()); }

 private:
  // The flags a data change sees, as the grid reads them.
  std::string Flags() const {
    TDataSet* ds = DataSet();
    std::string flags;
    if (ds->Bof()) flags += " bof";
    if (ds->Eof()) flags += " eof";
    return flags;
  }
};

}  // namespace dataset_test
