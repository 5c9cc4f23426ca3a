// The site table opened straight through the engine's table object: the
// files opened and their headers checked as the first cursor does. Serves
// until the table record set takes its place.
#pragma once

#include <memory>
#include <string>

#include "app/SiteTable.h"

namespace tessel {
class TDataTable;
}

namespace marrowick {

class TEngineSiteTable : public ISiteTable {
 public:
  TEngineSiteTable();
  ~TEngineSiteTable() override;

  void SetTableName(const std::string& name) override { name_ = name; }
  void SetActive(bool active) override;
  bool Active() const override { return table_ != nullptr; }

 private:
  std::string name_;
  std::unique_ptr<tessel::TDataTable> table_;
};

}  // namespace marrowick
