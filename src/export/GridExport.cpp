#include "export/GridExport.h"

#include <exception>

#include "export/ReplacingFile.h"

namespace exports {

void TDBGridExport::SaveToStream(IByteSink& stream) {
  Grid.BeginExport();
  Stream = &stream;
  std::exception_ptr failure;
  try {
    Headers = Grid.VisibleHeaders();
    GroupColumnCount = Grid.GroupColumnCount();
    DoBeginWriting();
  } catch (...) {
    // Nothing was begun: the grid only needs putting back.
    Stream = nullptr;
    Grid.EndExport();
    throw;
  }
  try {
    RecordCounter = 0;
    DoWriteHeader();
    Grid.ForEachRow([this](const IExportRow& row) {
      DoWriteRecord(row);
      ++RecordCounter;
    });
    DoWriteFooter();
  } catch (...) {
    failure = std::current_exception();
  }
  // The first error is the one reported; the closing steps run regardless.
  try {
    DoEndWriting();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  Stream = nullptr;
  try {
    Grid.EndExport();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) std::rethrow_exception(failure);
}

void TDBGridExport::Execute() {
  WriteReplacingFile(FileName, [this](IByteSink& file) { SaveToStream(file); });
}

}  // namespace exports
