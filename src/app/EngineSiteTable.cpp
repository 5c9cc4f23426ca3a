#include "app/EngineSiteTable.h"

#include "engine/components/TesselError.h"
#include "engine/storage/DataTable.h"

namespace marrowick {

TEngineSiteTable::TEngineSiteTable() = default;

TEngineSiteTable::~TEngineSiteTable() {
  try {
    SetActive(false);
  } catch (...) {
  }
}

void TEngineSiteTable::SetActive(bool active) {
  if (active == Active()) return;
  if (!active) {
    std::unique_ptr<tessel::TDataTable> table = std::move(table_);
    table->CloseFiles(true);
    return;
  }
  const auto slash = name_.find_last_of('/');
  const std::string directory = slash == std::string::npos ? std::string("./") : name_.substr(0, slash + 1);
  const std::string table = slash == std::string::npos ? name_ : name_.substr(slash + 1);
  auto opened = std::make_unique<tessel::TDataTable>(directory, table);
  opened->Settings.WriteThrough = true;  // the program's session forces buffer flushes
  opened->OpenFiles();
  try {
    opened->ValidateHeaders();
    // No session holds a password yet, so an encrypted table cannot be opened.
    if (opened->IsEncrypted()) tessel::RaiseEngineError(tessel::ec::PasswordRequired, opened->TableName());
    if (opened->IndexFileRecreated()) opened->RepairRecreatedIndex();
  } catch (...) {
    try {
      opened->CloseFiles(false);
    } catch (...) {
    }
    throw;
  }
  table_ = std::move(opened);
}

}  // namespace marrowick
