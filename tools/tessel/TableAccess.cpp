#include "TableAccess.h"

#include "TablePath.h"
#include "engine/base/TesselError.h"

namespace tesseltool {

OpenedTable::OpenedTable(const std::string& tableArgument, const OpenOptions& options) {
  const TablePath path = SplitTablePath(tableArgument);
  table_ = std::make_unique<tessel::TDataTable>(path.Directory, path.Name);
  table_->Settings.Exclusive = options.Exclusive;
  table_->Settings.ReadOnly = options.ReadOnly;
  table_->Settings.WriteThrough = options.WriteThrough;
  table_->OpenFiles();
  open_ = true;
  try {
    table_->ValidateHeaders(options.ForStructureCheck);
    if (table_->IsEncrypted() && (!options.Password || *options.Password != table_->Password()))
      tessel::RaiseEngineError(tessel::ec::PasswordRequired, table_->TableName());
    table_->CompleteRecreatedIndex();
  } catch (...) {
    open_ = false;
    try {
      table_->CloseFiles(false);
    } catch (...) {
    }
    throw;
  }
}

void OpenedTable::Close() {
  if (!open_) return;
  open_ = false;
  table_->CloseFiles(true);
}

OpenedTable::~OpenedTable() {
  if (!open_) return;
  try {
    table_->CloseFiles(true);
  } catch (...) {
  }
}

}  // namespace tesseltool
