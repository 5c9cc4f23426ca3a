// tessel create: lays down a new table from a structure file.
#include <fstream>
#include <iostream>
#include <stdexcept>

#include "Commands.h"
#include "StructureJson.h"
#include "TablePath.h"
#include "engine/base/TesselError.h"
#include "engine/storage/DataTable.h"

namespace tesseltool {

int CreateTable(const std::string& table, const std::string& structureFile, bool force) {
  std::ifstream in(structureFile);
  if (!in) throw std::invalid_argument("cannot read structure file " + structureFile);
  nlohmann::json doc;
  try {
    doc = nlohmann::json::parse(in);
  } catch (const nlohmann::json::parse_error& e) {
    throw std::invalid_argument(structureFile + ": " + e.what());
  }
  tessel::TTableStructure structure = ParseStructure(doc);

  const TablePath path = SplitTablePath(table);
  tessel::TDataTable::CheckStructure(structure, true, path.Name);

  tessel::TDataTable t(path.Directory, path.Name);
  {
    tessel::TFileHandler probe;
    probe.SetFileName(t.DataFileName());
    if (probe.Exists()) {
      if (!force) tessel::RaiseEngineError(tessel::ec::TableExists, path.Name);
      t.DeleteFiles();
    }
  }
  t.Settings.Exclusive = true;
  try {
    t.CreateFiles(structure);
    t.FlushTable(false, true, true);
    t.CloseFiles(true);
  } catch (...) {
    // Nothing half-made stays behind.
    try {
      if (t.IsOpen()) t.CloseFiles(false);
      t.DeleteFiles();
    } catch (...) {
    }
    throw;
  }
  return 0;
}

}  // namespace tesseltool
