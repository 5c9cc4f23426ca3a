// tessel info: the table's headers, fields and indexes as one JSON object.
#include <iostream>

#include "Commands.h"
#include "StructureJson.h"
#include "TableAccess.h"
#include "engine/base/TesselError.h"
#include "platform/core/Windows1252.h"

namespace tesseltool {
namespace {

using nlohmann::json;
using namespace tessel;

json IndexToJson(const TIndexFile& file, const TDataFile& data, int slot) {
  const TIndexDesc& d = file.Header.Indexes[static_cast<size_t>(slot)];
  json fields = json::array();
  json descending = json::array();
  for (int i = 0; i < d.FieldCount && i < kMaxIndexFields; ++i) {
    const uint16_t n = d.FieldNumbers[static_cast<size_t>(i)];
    if (n >= 1 && n <= data.Fields.size())
      fields.push_back(Cp1252ToUtf8(data.Fields[n - 1].Name));
    else
      fields.push_back(n);
    descending.push_back(d.FieldDescending[static_cast<size_t>(i)] != 0);
  }
  return json{{"slot", slot},
              {"name", Cp1252ToUtf8(slot == 0 ? std::string("Primary") : d.Name)},
              {"fields", fields},
              {"descending", descending},
              {"keyLength", d.KeyLength},
              {"unique", d.Unique != 0},
              {"caseInsensitive", d.CaseInsensitive != 0},
              {"descendingIndex", d.Descending != 0},
              {"compression", d.Compression},
              {"rootPage", d.RootPage},
              {"freePage", d.FreePage}};
}

}  // namespace

int PrintInfo(const std::string& table, const std::optional<std::string>& password) {
  OpenOptions options;
  options.Password = password;
  OpenedTable opened(table, options);
  TDataTable& t = opened.Table();
  const TDataHeader& h = t.Data().Header;

  json data = {{"changeCounter", h.ChangeCounter},
               {"blobBlockSize", h.BlobBlockSize},
               {"version", h.Version},
               {"firstFreeRecord", h.FirstFreeRecord},
               {"nextRecordNumber", h.NextRecordNumber},
               {"lastAutoIncValue", h.LastAutoIncValue},
               {"recordSize", h.RecordSize},
               {"fieldCount", h.FieldCount},
               {"blobFieldCount", h.BlobFieldCount},
               {"lastUpdateStamp", h.LastUpdateStamp},
               {"description", Cp1252ToUtf8(t.Description())},
               {"encrypted", h.Encrypted != 0},
               {"languageId", h.LanguageId},
               {"sortId", h.SortId},
               {"userMajor", h.UserMajor},
               {"userMinor", h.UserMinor},
               {"lastBlobId", h.LastBlobId}};

  const TIndexHeader& ih = t.Index().Header;
  json index = {{"changeCounter", ih.ChangeCounter},
                {"version", ih.Version},
                {"endOfFile", ih.EndOfFile},
                {"secondaryCount", ih.SecondaryCount},
                {"activeRecordCount", ih.ActiveRecordCount},
                {"noPrimaryIndex", ih.NoPrimaryIndex != 0}};

  json blob = nullptr;
  if (t.HasBlobFile()) {
    const TBlobHeader& bh = t.Blob().Header;
    blob = {{"changeCounter", bh.ChangeCounter},
            {"version", bh.Version},
            {"freeBlock", bh.FreeBlock},
            {"endOfFile", bh.EndOfFile}};
  }

  json fields = json::array();
  for (const TFieldDesc& f : t.Data().Fields) {
    json j = FieldToJson(f);
    j["number"] = f.FieldNumber;
    j["physicalSize"] = f.PhysicalSize;
    j["recordOffset"] = f.RecordOffset;
    fields.push_back(j);
  }

  json indexes = json::array();
  if (ih.NoPrimaryIndex == 0) indexes.push_back(IndexToJson(t.Index(), t.Data(), 0));
  for (int slot = 1; slot <= ih.SecondaryCount && slot <= kMaxSecondaryIndexes; ++slot)
    indexes.push_back(IndexToJson(t.Index(), t.Data(), slot));
  indexes.push_back(IndexToJson(t.Index(), t.Data(), kSysDeletedSlot));

  json out = {{"table", Cp1252ToUtf8(t.TableName())},
              {"data", data},
              {"index", index},
              {"blob", blob},
              {"fields", fields},
              {"indexes", indexes}};
  opened.Close();
  std::cout << out.dump(2) << '\n';
  return 0;
}

int EmptyTable(const std::string& table, const std::optional<std::string>& password) {
  OpenOptions options;
  options.Exclusive = true;
  options.Password = password;
  OpenedTable opened(table, options);
  if (opened.Table().IsReadOnly())
    RaiseEngineError(ec::AccessDenied, opened.Table().TableName());
  opened.Table().EmptyTable();
  opened.Close();
  return 0;
}

}  // namespace tesseltool
