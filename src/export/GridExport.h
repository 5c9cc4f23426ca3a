// The export pipeline that the HTML page and the Excel worksheet share: which
// rows are written, in which order, around which hooks.
//
//   SaveToStream:  BeginExport of the grid
//                  DoBeginWriting
//                  record counter = 0, DoWriteHeader
//                  DoWriteRecord(row), counter + 1      for every row, tree order
//                  DoWriteFooter
//                  DoEndWriting                         also after an error
//                  EndExport of the grid                also after an error
//
// Every row is written, the rows inside collapsed groups included: the
// grid's program exports all its rows, never a selection. The texts come
// from the rows the grid captured; no record is read. An error from the
// header, a row or the footer still ends with DoEndWriting and the grid put
// back as it was, and then reaches the caller.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "export/ByteSink.h"
#include "export/RowSource.h"

namespace exports {

using marrowick::platform::IColorScheme;

class TDBGridExport {
 public:
  // The scheme resolves system colours; it outlives the writer.
  TDBGridExport(IRowSource& grid, const IColorScheme& scheme) : Grid(grid), Scheme(scheme) {}
  virtual ~TDBGridExport() = default;
  TDBGridExport(const TDBGridExport&) = delete;
  TDBGridExport& operator=(const TDBGridExport&) = delete;

  // Writes the file FileName: created, or an existing one replaced, and only
  // when the whole export succeeded (ReplacingFile.h). Every failure is an
  // EExportError carrying the file name.
  void Execute();
  // Writes the export to the stream.
  void SaveToStream(IByteSink& stream);

  std::string FileName;

 protected:
  virtual void DoBeginWriting() {}
  virtual void DoEndWriting() {}
  virtual void DoWriteHeader() {}
  virtual void DoWriteFooter() {}
  virtual void DoWriteRecord(const IExportRow& /*row*/) {}

  void Write(std::string_view bytes) { Stream->Write(bytes); }

  IRowSource& Grid;
  const IColorScheme& Scheme;
  // Rows written so far; the Excel writer's current sheet row.
  int RecordCounter = 0;
  // Set only while SaveToStream runs.
  IByteSink* Stream = nullptr;
  // Read from the grid once per export, after BeginExport.
  std::vector<TExportHeader> Headers;  // the visible headers, display order
  int GroupColumnCount = 0;
};

}  // namespace exports
