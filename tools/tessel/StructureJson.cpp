#include "StructureJson.h"

#include <array>
#include <stdexcept>

#include "platform/core/Windows1252.h"

namespace tesseltool {
namespace {

using nlohmann::json;
using namespace tessel;

struct TypeName {
  const char* Name;
  uint8_t Type;
  uint8_t SubType;
};

constexpr std::array kTypeNames = {
    TypeName{"string", ftString, fstNone},        TypeName{"date", ftDate, fstNone},
    TypeName{"blob", ftBlob, fstNone},            TypeName{"memo", ftBlob, fstMemo},
    TypeName{"fmtmemo", ftBlob, fstFmtMemo},      TypeName{"graphic", ftBlob, fstGraphic},
    TypeName{"typedbinary", ftBlob, fstTypedBinary}, TypeName{"boolean", ftBoolean, fstNone},
    TypeName{"smallint", ftSmallInt, fstNone},    TypeName{"integer", ftInteger, fstNone},
    TypeName{"autoinc", ftInteger, fstAutoInc},   TypeName{"float", ftFloat, fstNone},
    TypeName{"currency", ftFloat, fstMoney},      TypeName{"bcd", ftBCD, fstNone},
    TypeName{"bytes", ftBytes, fstNone},          TypeName{"time", ftTime, fstNone},
    TypeName{"timestamp", ftTimeStamp, fstNone},  TypeName{"word", ftWord, fstNone},
    TypeName{"varbytes", ftVarBytes, fstNone},
};

std::string Text(const json& object, const char* key, const std::string& fallback = "") {
  if (!object.contains(key) || object[key].is_null()) return fallback;
  if (!object[key].is_string()) throw std::invalid_argument(std::string("\"") + key + "\" must be a string");
  return Utf8ToCp1252(object[key].get<std::string>());
}

bool Flag(const json& object, const char* key) {
  if (!object.contains(key) || object[key].is_null()) return false;
  if (!object[key].is_boolean()) throw std::invalid_argument(std::string("\"") + key + "\" must be true or false");
  return object[key].get<bool>();
}

template <typename T>
T Number(const json& object, const char* key, T fallback, long long lo, long long hi) {
  if (!object.contains(key) || object[key].is_null()) return fallback;
  if (!object[key].is_number_integer())
    throw std::invalid_argument(std::string("\"") + key + "\" must be a whole number");
  long long v = object[key].get<long long>();
  if (v < lo || v > hi)
    throw std::invalid_argument(std::string("\"") + key + "\" is out of range: " + std::to_string(v));
  return static_cast<T>(v);
}

uint8_t CharCase(const std::string& text) {
  if (text.empty() || text == "keep") return 0;
  if (text == "lower") return 1;
  if (text == "upper") return 2;
  throw std::invalid_argument("\"charcase\" must be keep, lower or upper, not \"" + text + "\"");
}

TFieldDesc ParseField(const json& f, uint16_t number) {
  if (!f.is_object()) throw std::invalid_argument("each field must be an object");
  TFieldDesc d;
  d.FieldNumber = number;
  d.Name = Text(f, "name");
  const std::string type = Text(f, "type");
  bool known = false;
  for (const TypeName& t : kTypeNames) {
    if (type == t.Name) {
      d.Type = t.Type;
      d.SubType = t.SubType;
      known = true;
    }
  }
  if (!known) throw std::invalid_argument("field \"" + d.Name + "\" has unknown type \"" + type + "\"");
  d.DeclaredSize = Number<uint8_t>(f, "size", 0, 0, 255);
  d.DeclaredDecimals = Number<uint8_t>(f, "decimals", 0, 0, 255);
  d.Required = Flag(f, "required") ? 1 : 0;
  d.CharCase = CharCase(Text(f, "charcase"));
  d.Description = Text(f, "description");
  d.Minimum = Text(f, "min");
  d.Maximum = Text(f, "max");
  d.Default = Text(f, "default");
  return d;
}

TIndexDesc ParseIndex(const json& x, const std::vector<TFieldDesc>& fields, bool primary) {
  if (!x.is_object()) throw std::invalid_argument("each index must be an object");
  TIndexDesc d;
  if (!primary) d.Name = Text(x, "name");
  const std::string label = primary ? std::string("primary index") : "index \"" + d.Name + "\"";
  if (!x.contains("fields") || !x["fields"].is_array())
    throw std::invalid_argument(label + " needs a \"fields\" list");
  const json& names = x["fields"];
  size_t i = 0;
  for (const json& n : names) {
    if (!n.is_string()) throw std::invalid_argument(label + ": field names must be strings");
    const std::string name = Utf8ToCp1252(n.get<std::string>());
    uint16_t number = 0;
    for (const TFieldDesc& f : fields)
      if (f.Name == name) number = f.FieldNumber;
    if (number == 0) throw std::invalid_argument(label + " names unknown field \"" + name + "\"");
    if (i < kMaxIndexFields) d.FieldNumbers[i] = number;
    ++i;
  }
  // More than 16 fields is left to the engine's own limit check.
  d.FieldCount = static_cast<uint8_t>(std::min<size_t>(names.size(), 255));
  if (x.contains("descending") && !x["descending"].is_null()) {
    if (!x["descending"].is_array()) throw std::invalid_argument(label + ": \"descending\" must be a list");
    size_t k = 0;
    for (const json& b : x["descending"]) {
      if (!b.is_boolean()) throw std::invalid_argument(label + ": \"descending\" holds true or false");
      if (k < kMaxIndexFields) d.FieldDescending[k] = b.get<bool>() ? 1 : 0;
      ++k;
    }
  }
  d.Unique = primary ? 1 : (Flag(x, "unique") ? 1 : 0);
  d.CaseInsensitive = Flag(x, "caseInsensitive") ? 1 : 0;
  d.Descending = Flag(x, "descendingIndex") ? 1 : 0;
  d.Compression = Number<uint8_t>(x, "compression", 0, 0, 3);
  return d;
}

}  // namespace

TTableStructure ParseStructure(const json& doc) {
  if (!doc.is_object()) throw std::invalid_argument("the structure must be a JSON object");
  TTableStructure s;
  if (!doc.contains("fields") || !doc["fields"].is_array())
    throw std::invalid_argument("the structure needs a \"fields\" list");
  uint16_t number = 0;
  for (const json& f : doc["fields"]) {
    if (number == 0xFFFF) throw std::invalid_argument("too many fields");
    s.Fields.push_back(ParseField(f, ++number));
  }
  if (doc.contains("primary") && !doc["primary"].is_null())
    s.Primary = ParseIndex(doc["primary"], s.Fields, true);
  if (doc.contains("indexes") && !doc["indexes"].is_null()) {
    if (!doc["indexes"].is_array()) throw std::invalid_argument("\"indexes\" must be a list");
    for (const json& x : doc["indexes"]) s.Secondary.push_back(ParseIndex(x, s.Fields, false));
  }
  s.BlobBlockSize = Number<uint32_t>(doc, "blobBlockSize", 512, 0, 0xFFFFFFFFLL);
  s.LanguageId = Number<uint16_t>(doc, "languageId", 0, 0, 0xFFFF);
  s.SortId = Number<uint16_t>(doc, "sortId", 0, 0, 0xFFFF);
  s.Description = Text(doc, "description");
  if (doc.contains("password") && !doc["password"].is_null()) {
    s.Encrypted = true;
    s.Password = Text(doc, "password");
  }
  s.UserMajor = Number<uint16_t>(doc, "userMajor", 0, 0, 0xFFFF);
  s.UserMinor = Number<uint16_t>(doc, "userMinor", 0, 0, 0xFFFF);
  s.LastAutoIncValue = 0;
  return s;
}

std::string FieldTypeName(uint8_t type, uint8_t subType) {
  for (const TypeName& t : kTypeNames)
    if (t.Type == type && t.SubType == subType) return t.Name;
  for (const TypeName& t : kTypeNames)
    if (t.Type == type) return t.Name;
  return "code " + std::to_string(type);
}

json FieldToJson(const TFieldDesc& f) {
  static const char* kCases[] = {"keep", "lower", "upper"};
  json j = {{"name", Cp1252ToUtf8(f.Name)},
            {"type", FieldTypeName(f.Type, f.SubType)},
            {"required", f.Required != 0},
            {"charcase", f.CharCase < 3 ? kCases[f.CharCase] : "keep"},
            {"description", Cp1252ToUtf8(f.Description)},
            {"min", Cp1252ToUtf8(f.Minimum)},
            {"max", Cp1252ToUtf8(f.Maximum)},
            {"default", Cp1252ToUtf8(f.Default)}};
  if (f.Type == ftString || f.Type == ftBytes || f.Type == ftVarBytes) j["size"] = f.DeclaredSize;
  if (f.Type == ftBCD) j["decimals"] = f.DeclaredDecimals;
  return j;
}

}  // namespace tesseltool
