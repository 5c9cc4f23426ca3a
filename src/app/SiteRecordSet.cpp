#include "app/SiteRecordSet.h"

#include "dataset/FieldKinds.h"
#include "engine/cursor/DataCursor.h"
#include "engine/storage/DataTable.h"

namespace marrowick {

TSiteRecordSet::TSiteRecordSet()
    : TesselSession1(std::make_unique<tessel::TTesselSession>(&owner_)),
      DBTable(std::make_unique<tessel::TTesselTable>(&owner_)),
      DataSource1(std::make_unique<dataset::TDataSource>()) {
  // The session as the window defines it: write-through, no waiting for
  // record locks, no connections kept after the table closes.
  TesselSession1->SetSessionName("ses");
  TesselSession1->SetForceBufferFlush(true);
  TesselSession1->SetKeepConnections(false);
  TesselSession1->SetLockRetryCount(0);
  TesselSession1->SetLockWaitTime(0);

  DBTable->SetSessionName("ses");
  DBTable->SetIndexFieldNames("siteurl");
  DBTable->SetTableName("linksdata.DAT");
  DBTable->SetAutoDisplayLabels(false);
  DBTable->SetCopyOnAppend(false);
  DBTable->AddField<dataset::TStringField>("sitetype", 30);
  DBTable->AddField<dataset::TStringField>("siteurl", 100).SetRequired(true);
  DBTable->AddField<dataset::TStringField>("sitename", 60);
  DBTable->AddField<dataset::TStringField>("login", 30);
  DBTable->AddField<dataset::TStringField>("password", 30);
  DBTable->AddField<dataset::TMemoField>("note");

  DataSource1->SetDataSet(DBTable.get());
}

TSiteRecordSet::~TSiteRecordSet() {
  // The data source lets go of the table before the table closes and goes.
  DataSource1.reset();
  try {
    DBTable->Close();
  } catch (...) {
  }
  DBTable.reset();
  TesselSession1.reset();
}

void TSiteRecordSet::SetTableName(const std::string& name) { DBTable->SetTableName(name); }

void TSiteRecordSet::SetActive(bool active) {
  DBTable->SetActive(active);
  // What the open read is the view's starting point.
  if (active) ViewCaughtUp();
}

tessel::TDataTable* TSiteRecordSet::EngineTable() const {
  if (!DBTable->Active() || DBTable->Cursor() == nullptr) return nullptr;
  return DBTable->Cursor()->Table();
}

bool TSiteRecordSet::ChangedElsewhere() {
  tessel::TDataTable* table = EngineTable();
  if (table == nullptr) return false;
  // A change one of this program's own reads took in since the view last
  // caught up counts as well: the counters then agree, the view does not.
  return table->ChangesTakenIn() != viewedChanges_ || table->ChangedElsewhere();
}

void TSiteRecordSet::CatchUp() {
  tessel::TDataTable* table = EngineTable();
  if (table == nullptr || table->IsExclusive()) return;
  if (table->IsReadOnly()) {
    table->DetectChanges();
    return;
  }
  // The cursors see the counters move at their next read and find their
  // places again.
  table->BeginRead();
  table->EndRead();
}

void TSiteRecordSet::ViewCaughtUp() {
  if (tessel::TDataTable* table = EngineTable()) viewedChanges_ = table->ChangesTakenIn();
}

bool TSiteRecordSet::Active() const { return DBTable->Active(); }

}  // namespace marrowick
