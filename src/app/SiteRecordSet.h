// The site table as the main window owns it: the engine session "ses", the
// table record set DBTable with the six site fields, and the data source
// that binds it to the grid and the notes pane.
#pragma once

#include <memory>
#include <string>

#include "app/SiteTable.h"
#include "dataset/DataSource.h"
#include "engine/components/Session.h"
#include "engine/components/TesselTable.h"

namespace marrowick {

class TSiteRecordSet : public ISiteTable {
 public:
  TSiteRecordSet();
  ~TSiteRecordSet() override;

  void SetTableName(const std::string& name) override;
  void SetActive(bool active) override;
  bool Active() const override;
  dataset::TDataSource* BindingSource() override { return DataSource1.get(); }

  tessel::TTesselTable& Table() { return *DBTable; }
  dataset::TDataSource& DataSource() { return *DataSource1; }

 private:
  tessel::TComponentOwner owner_;
  std::unique_ptr<tessel::TTesselSession> TesselSession1;
  std::unique_ptr<tessel::TTesselTable> DBTable;
  std::unique_ptr<dataset::TDataSource> DataSource1;
};

}  // namespace marrowick
