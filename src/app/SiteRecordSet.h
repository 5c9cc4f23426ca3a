// The site table as the main window owns it: the engine session "ses", the
// table record set DBTable with the six site fields, and the data source
// that binds it to the grid and the notes pane.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/SiteTable.h"
#include "dataset/DataSource.h"
#include "engine/components/Session.h"
#include "engine/components/TesselTable.h"

namespace tessel {
class TDataTable;
}

namespace marrowick {

class TSiteRecordSet : public ISiteTable {
 public:
  TSiteRecordSet();
  ~TSiteRecordSet() override;

  void SetTableName(const std::string& name) override;
  void SetActive(bool active) override;
  bool Active() const override;
  dataset::TDataSource* BindingSource() override { return DataSource1.get(); }
  bool ChangedElsewhere() override;
  void CatchUp() override;
  void ViewCaughtUp() override;
  tessel::TTesselSession* Session() override { return TesselSession1.get(); }

  tessel::TTesselTable& Table() { return *DBTable; }
  // The engine's shared table object while the table is open; none otherwise.
  tessel::TDataTable* EngineTable() const;
  dataset::TDataSource& DataSource() { return *DataSource1; }

 private:
  tessel::TComponentOwner owner_;
  std::unique_ptr<tessel::TTesselSession> TesselSession1;
  std::unique_ptr<tessel::TTesselTable> DBTable;
  std::unique_ptr<dataset::TDataSource> DataSource1;
  // The engine's count of other programs' changes taken in, when the view
  // last caught up.
  uint64_t viewedChanges_ = 0;
};

}  // namespace marrowick
