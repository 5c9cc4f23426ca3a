// Data sources and data links: a data source connects one record set to any
// number of data links (the grid, the notes memo); a data link turns the
// record set's notifications into calls of its virtual operations and keeps
// its own view of the buffered window (its first record and BufferCount).
//
// A data link detaches itself from its data source when it is destroyed; a
// descendant that wants its ActiveChanged to run for that must detach
// (SetDataSource(nullptr)) in its own destructor.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "dataset/DataSetTypes.h"

namespace dataset {

class TDataSet;
class TDataLink;
class TField;

class TDataSource {
 public:
  using TNotifyEvent = std::function<void(TDataSource&)>;
  using TDataChangeEvent = std::function<void(TDataSource&, TField*)>;

  TDataSource() = default;
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  TDataSet* DataSet() const { return dataSet_; }
  // "Circular datalinks are not allowed" when the record set reads from
  // this data source itself.
  void SetDataSet(TDataSet* dataSet);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool AutoEdit() const { return autoEdit_; }
  void SetAutoEdit(bool autoEdit) { autoEdit_ = autoEdit; }
  // The record set's state as the links see it (inactive while disabled).
  TDataSetState State() const { return state_; }
  // Puts a browsing record set into edit when AutoEdit is set.
  void Edit();
  // Whether dataSet reads (through its master sources) from this source.
  bool IsLinkedTo(TDataSet* dataSet) const;
  int DataLinkCount() const { return static_cast<int>(dataLinks_.size()); }

  TNotifyEvent OnStateChange;
  TDataChangeEvent OnDataChange;
  TNotifyEvent OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;

  void AddDataLink(TDataLink* link);
  void RemoveDataLink(TDataLink* link);
  void DataEvent(TDataEvent event, intptr_t info);
  void NotifyDataLinks(TDataEvent event, intptr_t info);
  void UpdateState();
  void SetState(TDataSetState value);
  bool HasLink(const TDataLink* link) const;

  TDataSet* dataSet_ = nullptr;
  std::vector<TDataLink*> dataLinks_;
  bool enabled_ = true;
  bool autoEdit_ = true;
  TDataSetState state_ = dsInactive;
};

class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return dataSource_; }
  // "DataSource cannot be changed" for a link whose source is fixed.
  void SetDataSource(TDataSource* source);
  bool DataSourceFixed() const { return dataSourceFixed_; }
  void SetDataSourceFixed(bool fixed) { dataSourceFixed_ = fixed; }
  TDataSet* DataSet() const;
  // The data source's record set is open.
  bool Active() const { return active_; }
  // The record set is in edit, insert or set-key state and the link is not
  // read-only.
  bool Editing() const { return editing_; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly);
  // The number of records the link shows at once; the record set buffers
  // the largest of its links' counts.
  int BufferCount() const { return bufferCount_; }
  void SetBufferCount(int value);
  // The current record's position in the link's part of the window.
  int ActiveRecord() const;
  void SetActiveRecord(int value);
  // Records of the window the link shows (at most BufferCount).
  int RecordCount() const;
  // Puts the record set into edit through the data source; answers Editing.
  bool Edit();
  // Writes the link's pending value into the record (UpdateData), with
  // field change notifications to this link suppressed meanwhile.
  void UpdateRecord();
  // A control asks the link to throw away its pending changes (Esc).
  virtual void Reset() {}

 protected:
  // Notifications; the defaults pass data set changes, scrolls and layout
  // changes on as RecordChanged(nullptr).
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged();
  virtual void DataSetScrolled(int distance);
  // field points at the field to focus; the link that focuses it sets
  // *field to null.
  virtual void FocusControl(TField** /*field*/) {}
  virtual void EditingChanged() {}
  virtual void LayoutChanged();
  virtual void RecordChanged(TField* /*field*/) {}
  virtual void UpdateData() {}

  // Dispatch of one notification from the data source.
  virtual void DataEvent(TDataEvent event, intptr_t info);

 private:
  friend class TDataSource;
  friend class TDataSet;

  void UpdateState();
  void SetActive(bool value);
  void SetEditing(bool value);
  void UpdateRange();

  TDataSource* dataSource_ = nullptr;
  bool dataSourceFixed_ = false;
  bool active_ = false;
  bool editing_ = false;
  bool readOnly_ = false;
  bool updating_ = false;
  int bufferCount_ = 1;
  int firstRecord_ = 0;
};

}  // namespace dataset
