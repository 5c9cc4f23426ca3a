#include "dataset/DataSource.h"

#include <algorithm>

#include "dataset/DataSet.h"
#include "dataset/DataSetMessages.h"

namespace dataset {

// ---- TDataSource

TDataSource::~TDataSource() {
  OnStateChange = nullptr;
  OnDataChange = nullptr;
  SetDataSet(nullptr);
  while (!dataLinks_.empty()) RemoveDataLink(dataLinks_.back());
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (IsLinkedTo(dataSet)) DatabaseError(msg::CircularDataLink);
  if (dataSet_ != nullptr) dataSet_->RemoveDataSource(this);
  if (dataSet != nullptr) dataSet->AddDataSource(this);
}

void TDataSource::SetEnabled(bool enabled) {
  enabled_ = enabled;
  UpdateState();
}

void TDataSource::Edit() {
  if (autoEdit_ && state_ == dsBrowse && dataSet_ != nullptr) dataSet_->Edit();
}

bool TDataSource::IsLinkedTo(TDataSet* dataSet) const {
  // A chain of master sources could loop back without passing this source;
  // the step limit keeps such a chain from hanging the check.
  for (int steps = 0; dataSet != nullptr && steps < 1000; ++steps) {
    TDataSource* source = dataSet->GetDataSource();
    if (source == nullptr) break;
    if (source == this) return true;
    dataSet = source->DataSet();
  }
  return false;
}

bool TDataSource::HasLink(const TDataLink* link) const {
  return std::find(dataLinks_.begin(), dataLinks_.end(), link) != dataLinks_.end();
}

void TDataSource::AddDataLink(TDataLink* link) {
  dataLinks_.push_back(link);
  link->dataSource_ = this;
  if (dataSet_ != nullptr) dataSet_->UpdateBufferCount();
  link->UpdateState();
}

void TDataSource::RemoveDataLink(TDataLink* link) {
  link->dataSource_ = nullptr;
  dataLinks_.erase(std::remove(dataLinks_.begin(), dataLinks_.end(), link), dataLinks_.end());
  link->UpdateState();
  if (dataSet_ != nullptr) dataSet_->UpdateBufferCount();
}

void TDataSource::NotifyDataLinks(TDataEvent event, intptr_t info) {
  // Links may come and go while they are told; each is told only while it
  // is still attached.
  std::vector<TDataLink*> links = dataLinks_;
  for (TDataLink* link : links) {
    if (HasLink(link)) link->DataEvent(event, info);
  }
}

void TDataSource::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deUpdateState) {
    UpdateState();
    return;
  }
  if (state_ == dsInactive) return;
  NotifyDataLinks(event, info);
  switch (event) {
    case deFieldChange:
      if (OnDataChange) OnDataChange(*this, reinterpret_cast<TField*>(info));
      break;
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
      if (OnDataChange) OnDataChange(*this, nullptr);
      break;
    case deUpdateRecord:
      if (OnUpdateData) OnUpdateData(*this);
      break;
    default:
      break;
  }
}

void TDataSource::UpdateState() {
  SetState(enabled_ && dataSet_ != nullptr ? dataSet_->State() : dsInactive);
}

void TDataSource::SetState(TDataSetState value) {
  if (state_ == value) return;
  TDataSetState prior = state_;
  state_ = value;
  NotifyDataLinks(deUpdateState, 0);
  if (OnStateChange) OnStateChange(*this);
  if (prior == dsInactive && OnDataChange) OnDataChange(*this, nullptr);
}

// ---- TDataLink

TDataLink::~TDataLink() {
  dataSourceFixed_ = false;
  if (dataSource_ != nullptr) {
    // Detach without calling this link's (already base-class) handlers.
    TDataSource* source = dataSource_;
    source->dataLinks_.erase(
        std::remove(source->dataLinks_.begin(), source->dataLinks_.end(), this),
        source->dataLinks_.end());
    dataSource_ = nullptr;
    if (source->dataSet_ != nullptr) source->dataSet_->UpdateBufferCount();
  }
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == dataSource_) return;
  if (dataSourceFixed_) DatabaseError(msg::DataSourceChange);
  if (dataSource_ != nullptr) dataSource_->RemoveDataLink(this);
  if (source != nullptr) source->AddDataLink(this);
}

TDataSet* TDataLink::DataSet() const {
  return dataSource_ != nullptr ? dataSource_->DataSet() : nullptr;
}

void TDataLink::SetReadOnly(bool readOnly) {
  if (readOnly_ == readOnly) return;
  readOnly_ = readOnly;
  UpdateState();
}

void TDataLink::SetBufferCount(int value) {
  if (value < 1) value = 1;
  if (bufferCount_ == value) return;
  bufferCount_ = value;
  if (active_) {
    DataSet()->UpdateBufferCount();
    UpdateRange();
  }
}

int TDataLink::ActiveRecord() const {
  if (!active_ || dataSource_->State() == dsSetKey) return 0;
  return DataSet()->activeRecord_ - firstRecord_;
}

void TDataLink::SetActiveRecord(int value) {
  if (!active_ || dataSource_->State() == dsSetKey) return;
  TDataSet* ds = DataSet();
  int index = value + firstRecord_;
  if (index >= 0 && index < ds->recordCount_) ds->activeRecord_ = index;
}

int TDataLink::RecordCount() const {
  if (!active_) return 0;
  if (dataSource_->State() == dsSetKey) return 1;
  return std::min(DataSet()->recordCount_, bufferCount_);
}

bool TDataLink::Edit() {
  if (!readOnly_ && dataSource_ != nullptr) dataSource_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TDataLink::DataSetChanged() { RecordChanged(nullptr); }
void TDataLink::DataSetScrolled(int /*distance*/) { DataSetChanged(); }
void TDataLink::LayoutChanged() { DataSetChanged(); }

void TDataLink::UpdateState() {
  SetActive(dataSource_ != nullptr && dataSource_->State() != dsInactive);
  SetEditing(dataSource_ != nullptr && IsEditMode(dataSource_->State()) && !readOnly_);
}

void TDataLink::SetActive(bool value) {
  if (active_ == value) return;
  active_ = value;
  if (value) {
    UpdateRange();
  } else {
    firstRecord_ = 0;
  }
  ActiveChanged();
}

void TDataLink::SetEditing(bool value) {
  if (editing_ == value) return;
  editing_ = value;
  EditingChanged();
}

void TDataLink::UpdateRange() {
  TDataSet* ds = DataSet();
  int lo = std::max(0, ds->activeRecord_ - bufferCount_ + 1);
  int hi = std::min(std::max(0, ds->bufferCount_ - bufferCount_), ds->activeRecord_);
  firstRecord_ = std::clamp(firstRecord_, lo, std::max(lo, hi));
}

void TDataLink::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deUpdateState) {
    UpdateState();
    return;
  }
  if (!active_) return;
  switch (event) {
    case deFieldChange:
    case deRecordChange:
      if (!updating_) RecordChanged(reinterpret_cast<TField*>(info));
      break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange: {
      // Keep the current record inside the link's part of the window: the
      // part follows the buffers' shift and then moves just far enough.
      int count = 0;
      if (dataSource_->State() != dsSetKey) {
        int active = DataSet()->activeRecord_;
        int first = firstRecord_ + (event == deDataSetScroll ? static_cast<int>(info) : 0);
        int last = first + bufferCount_ - 1;
        if (active > last) {
          count = active - last;
        } else if (active < first) {
          count = active - first;
        }
        firstRecord_ = first + count;
      }
      if (event == deDataSetChange) {
        DataSetChanged();
      } else if (event == deDataSetScroll) {
        DataSetScrolled(count);
      } else {
        LayoutChanged();
      }
      break;
    }
    case deUpdateRecord:
      UpdateRecord();
      break;
    case deCheckBrowseMode:
      CheckBrowseMode();
      break;
    case deFocusControl:
      FocusControl(reinterpret_cast<TField**>(info));
      break;
    default:
      break;
  }
}

}  // namespace dataset
