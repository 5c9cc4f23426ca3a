// tessel dump, count, insert, update and delete: records read and written
// through the table record set, as a program using the engine would, so
// that several tools (and the program) can work on one table at once under
// the engine's locks.
//
// Values in JSON: strings (text fields and memos, converted between UTF-8
// and Windows-1252), numbers, booleans, null, dates "YYYY-MM-DD", times
// "HH:MM:SS.zzz", timestamps "YYYY-MM-DDTHH:MM:SS.zzz", and bytes and
// binary BLOBs as hex strings.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "Commands.h"
#include "dataset/DateTime.h"
#include "dataset/FieldKinds.h"
#include "engine/base/TesselError.h"
#include "platform/core/Windows1252.h"
#include "engine/components/Session.h"
#include "engine/components/TesselTable.h"
#include "engine/storage/ValueText.h"

namespace tesseltool {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;
using namespace dataset;

constexpr const char* kSessionName = "tessel";

// The session and the table of one command.
class ToolTable {
 public:
  ToolTable(const std::string& tableArgument, const DataOptions& options, bool readOnly,
            const std::string& indexName = {}) {
    session_.SetSessionName(kSessionName);
    session_.SetForceBufferFlush(!options.NoFlush);
    session_.SetKeepConnections(false);
    session_.SetLockRetryCount(static_cast<uint8_t>(options.LockRetryCount));
    session_.SetLockWaitTime(static_cast<uint16_t>(options.LockWaitTime));
    if (options.Password) session_.AddPassword(*options.Password);
    table_.SetSessionName(kSessionName);
    table_.SetTableName(tableArgument);
    table_.SetExclusive(options.Exclusive);
    table_.SetReadOnly(readOnly);
    table_.SetIndexName(indexName);
    table_.Open();
  }
  ~ToolTable() {
    try {
      table_.Close();
    } catch (...) {
    }
  }
  ToolTable(const ToolTable&) = delete;
  ToolTable& operator=(const ToolTable&) = delete;

  tessel::TTesselTable& Table() { return table_; }
  // Closes, letting a failure of the write-back reach the caller.
  void Close() { table_.Close(); }

 private:
  tessel::TTesselSession session_;
  tessel::TTesselTable table_;
};

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    text += digits[c >> 4];
    text += digits[c & 15];
  }
  return text;
}

std::string Unhex(const std::string& text, const std::string& fieldName) {
  auto value = [&](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    throw std::invalid_argument("field '" + fieldName + "': '" + text + "' is not a hex string");
  };
  if (text.size() % 2 != 0) throw std::invalid_argument("field '" + fieldName + "': odd number of hex digits");
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); i += 2)
    bytes += static_cast<char>(value(text[i]) * 16 + value(text[i + 1]));
  return bytes;
}

std::string DateText(int32_t dayNumber) {
  int year = 0, month = 0, day = 0;
  DecodeDate(static_cast<double>(dayNumber - DateDelta), year, month, day);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  return text;
}

std::string TimeText(int64_t ms) {
  char text[24];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", static_cast<int>(ms / 3600000),
                static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
  return text;
}

template <class T>
T RawValue(const TField& field) {
  uint8_t buffer[16] = {};
  field.GetData(buffer);
  T value;
  std::memcpy(&value, buffer, sizeof value);
  return value;
}

template <class T>
void SetRaw(TField& field, T value) {
  uint8_t buffer[16] = {};
  std::memcpy(buffer, &value, sizeof value);
  field.SetData(buffer);
}

ordered_json FieldToJson(const TField& field) {
  if (field.IsNull()) return nullptr;
  switch (field.DataType()) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftMemo:
    case ftFmtMemo: return tessel::Cp1252ToUtf8(field.AsString());
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc: return field.AsInteger();
    case ftFloat:
    case ftCurrency: return field.AsFloat();
    case ftBCD: return ordered_json::parse(field.AsString());
    case ftBoolean: return field.AsBoolean();
    case ftDate: return DateText(RawValue<int32_t>(field));
    case ftTime: return TimeText(RawValue<int32_t>(field));
    case ftDateTime: {
      const auto total = static_cast<int64_t>(std::floor(RawValue<double>(field)));
      return DateText(static_cast<int32_t>(total / tessel::kMillisecondsPerDay)) + "T" +
             TimeText(total % tessel::kMillisecondsPerDay);
    }
    default: return Hex(field.AsString());
  }
}

[[noreturn]] void WrongValue(const TField& field, const json& value) {
  throw std::invalid_argument("field '" + tessel::Cp1252ToUtf8(field.FieldName()) + "': " + value.dump() +
                              " is not a value of type " + FieldTypeName(field.DataType()));
}

void AssignJson(TField& field, const json& value) {
  if (value.is_null()) {
    field.Clear();
    return;
  }
  const std::string name = tessel::Cp1252ToUtf8(field.FieldName());
  switch (field.DataType()) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftMemo:
    case ftFmtMemo:
      if (value.is_string()) {
        field.SetAsString(tessel::Utf8ToCp1252(value.get<std::string>()));
      } else if (value.is_number() || value.is_boolean()) {
        field.SetAsString(value.dump());
      } else {
        WrongValue(field, value);
      }
      return;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      if (value.is_number_integer()) {
        const auto n = value.get<int64_t>();
        if (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max()) WrongValue(field, value);
        field.SetAsInteger(static_cast<int32_t>(n));
      } else if (value.is_string()) {
        field.SetAsString(value.get<std::string>());
      } else {
        WrongValue(field, value);
      }
      return;
    case ftFloat:
    case ftCurrency:
      if (value.is_number()) {
        field.SetAsFloat(value.get<double>());
      } else if (value.is_string()) {
        field.SetAsString(value.get<std::string>());
      } else {
        WrongValue(field, value);
      }
      return;
    case ftBCD:
      if (value.is_number()) {
        field.SetAsString(value.dump());
      } else if (value.is_string()) {
        field.SetAsString(value.get<std::string>());
      } else {
        WrongValue(field, value);
      }
      return;
    case ftBoolean:
      if (value.is_boolean()) {
        field.SetAsBoolean(value.get<bool>());
      } else if (value.is_string()) {
        field.SetAsString(value.get<std::string>());
      } else {
        WrongValue(field, value);
      }
      return;
    case ftDate: {
      int32_t day = 0;
      if (!value.is_string() || !tessel::ParseDateText(value.get<std::string>(), day)) WrongValue(field, value);
      SetRaw(field, day);
      return;
    }
    case ftTime: {
      int32_t ms = 0;
      if (!value.is_string() || !tessel::ParseTimeText(value.get<std::string>(), ms)) WrongValue(field, value);
      SetRaw(field, ms);
      return;
    }
    case ftDateTime: {
      double ms = 0;
      if (!value.is_string() || !tessel::ParseDateTimeText(value.get<std::string>(), ms)) WrongValue(field, value);
      SetRaw(field, ms);
      return;
    }
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftTypedBinary:
    case ftParadoxOle:
    case ftDBaseOle:
      if (!value.is_string()) WrongValue(field, value);
      field.SetAsString(Unhex(value.get<std::string>(), name));
      return;
    default:
      throw std::invalid_argument("field '" + name + "' cannot be written by this tool");
  }
}

TField& FieldNamed(tessel::TTesselTable& table, const std::string& utf8Name) {
  TField* field = table.FindField(tessel::Utf8ToCp1252(utf8Name));
  if (field == nullptr) throw std::invalid_argument("unknown field '" + utf8Name + "'");
  return *field;
}

void AssignObject(tessel::TTesselTable& table, const json& object) {
  if (!object.is_object()) throw std::invalid_argument("a record must be a JSON object");
  for (const auto& [name, value] : object.items()) AssignJson(FieldNamed(table, name), value);
}

json ParseJson(const std::string& text, const std::string& what) {
  try {
    return json::parse(text);
  } catch (const json::parse_error& e) {
    throw std::invalid_argument(what + ": " + e.what());
  }
}

// Positions the table on the first record whose key in the current index
// equals the key: one value, or an array of values for the index's first
// fields. A text that is not JSON is taken as a string.
bool GotoKey(tessel::TTesselTable& table, const std::string& keyText) {
  json key = json::parse(keyText, nullptr, false);
  if (key.is_discarded()) key = keyText;
  if (!key.is_array()) key = json::array({key});
  if (table.IndexFieldCount() == 0) throw std::invalid_argument("the table is not ordered by an index here");
  if (key.empty() || static_cast<int>(key.size()) > table.IndexFieldCount())
    throw std::invalid_argument("the key has " + std::to_string(key.size()) + " values, the index " +
                                std::to_string(table.IndexFieldCount()) + " fields");
  table.SetKey();
  try {
    for (std::size_t i = 0; i < key.size(); ++i) AssignJson(*table.IndexField(static_cast<int>(i)), key[i]);
    table.SetKeyFieldCount(static_cast<int>(key.size()));
  } catch (...) {
    table.Cancel();
    throw;
  }
  table.Post();
  return table.GotoKey();
}

int NoSuchKey(const std::string& index, const std::string& key) {
  std::cerr << "tessel: no record in index '" << index << "' has the key " << key << '\n';
  return 3;
}

}  // namespace

int DumpTable(const std::string& table, const std::string& index, const DataOptions& options) {
  ToolTable opened(table, options, true, tessel::Utf8ToCp1252(index));
  tessel::TTesselTable& t = opened.Table();
  for (t.First(); !t.Eof(); t.Next()) {
    ordered_json record;
    record["recno"] = t.RecNo();
    for (TField* field : t.Fields()) record[tessel::Cp1252ToUtf8(field->FieldName())] = FieldToJson(*field);
    std::cout << record.dump() << '\n';
  }
  opened.Close();
  return 0;
}

int CountRecords(const std::string& table, const DataOptions& options) {
  ToolTable opened(table, options, true);
  std::cout << opened.Table().RecordCount() << '\n';
  opened.Close();
  return 0;
}

int InsertRecords(const std::string& table, const std::string& file, const DataOptions& options) {
  std::ifstream in(file);
  if (!in) throw std::invalid_argument("cannot read " + file);
  ToolTable opened(table, options, false);
  tessel::TTesselTable& t = opened.Table();
  std::string line;
  int number = 0;
  int inserted = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    try {
      const json record = ParseJson(line, "not a JSON object");
      t.Append();
      AssignObject(t, record);
      t.Post();
      ++inserted;
    } catch (const std::exception& e) {
      if (t.State() == dsInsert) t.Cancel();
      std::cerr << "tessel: " << file << ":" << number << ": " << e.what() << '\n';
      std::cerr << "tessel: " << inserted << " records inserted before the error\n";
      return 1;
    }
  }
  opened.Close();
  return 0;
}

int UpdateRecord(const std::string& table, const std::string& index, const std::string& key,
                 const std::string& assignments, const DataOptions& options) {
  const json values = ParseJson(assignments, "--set");
  if (!values.is_object()) throw std::invalid_argument("--set must be a JSON object");
  ToolTable opened(table, options, false, tessel::Utf8ToCp1252(index));
  tessel::TTesselTable& t = opened.Table();
  if (!GotoKey(t, key)) return NoSuchKey(index, key);
  t.Edit();
  try {
    AssignObject(t, values);
    t.Post();
  } catch (...) {
    if (t.State() == dsEdit) t.Cancel();
    throw;
  }
  opened.Close();
  return 0;
}

int DeleteRecord(const std::string& table, const std::string& index, const std::string& key,
                 const DataOptions& options) {
  ToolTable opened(table, options, false, tessel::Utf8ToCp1252(index));
  tessel::TTesselTable& t = opened.Table();
  if (!GotoKey(t, key)) return NoSuchKey(index, key);
  t.Delete();
  opened.Close();
  return 0;
}

}  // namespace tesseltool
