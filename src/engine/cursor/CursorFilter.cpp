#include "engine/cursor/CursorFilter.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/cursor/DataCursor.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/TableLocale.h"
#include "engine/storage/ValueText.h"

namespace tessel {

namespace {

// Calendar date of a day number (day 1 = 0001-01-01).
void CivilFromDayNumber(int32_t dayNumber, int& year, int& month, int& day) {
  // Days since 0000-03-01 in the proleptic Gregorian calendar.
  int64_t z = int64_t{dayNumber} + 305;  // 0001-01-01 is day 306 after 0000-03-01
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

std::string DateText(int32_t dayNumber) {
  int y = 0, m = 0, d = 0;
  CivilFromDayNumber(dayNumber, y, m, d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

std::string TimeText(int64_t ms) {
  char buf[32];
  const int64_t s = ms / 1000;
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                static_cast<int>(s % 60));
  return buf;
}

std::string AsciiUpper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

[[noreturn]] void FilterError(const TDataCursor& cursor, const std::string& text) {
  RaiseEngineError(ec::FilterError, cursor.TableName(), {}, text);
}

// A value of the field's type from text; false when the text is not one.
bool NumericValue(const TFieldDesc& f, const std::string& text, double& out) {
  switch (f.Type) {
    case ftSmallInt:
    case ftInteger:
    case ftWord: {
      int64_t v = 0;
      if (!ParseIntegerText(text, v)) return false;
      out = static_cast<double>(v);
      return true;
    }
    case ftFloat:
      return ParseFloatText(text, out);
    case ftBCD: {
      int64_t v = 0;
      if (!ParseScaledText(text, f.PhysicalDecimals, v)) return false;
      out = static_cast<double>(v);
      return true;
    }
    case ftDate: {
      int32_t v = 0;
      if (!ParseDateText(text, v)) return false;
      out = v;
      return true;
    }
    case ftTime: {
      int32_t v = 0;
      if (!ParseTimeText(text, v)) return false;
      out = v;
      return true;
    }
    case ftTimeStamp:
      return ParseDateTimeText(text, out);
    case ftBoolean: {
      const std::string u = AsciiUpper(text);
      if (u == "TRUE") out = 1;
      else if (u == "FALSE") out = 0;
      else return false;
      return true;
    }
    default:
      return false;
  }
}

// The stored value of a non-null numeric field as a double (BCD scaled).
double StoredNumber(const TFieldDesc& f, const uint8_t* v) {
  switch (f.Type) {
    case ftSmallInt: return GetI16(v);
    case ftInteger:
    case ftDate:
    case ftTime: return GetI32(v);
    case ftWord:
    case ftBoolean: return GetU16(v);
    case ftFloat:
    case ftTimeStamp: return GetF64(v);
    case ftBCD: return static_cast<double>(GetI64(v));
    default: return 0;
  }
}

}  // namespace

std::optional<std::string> FieldValueText(const TDataCursor& cursor, int fieldNumber, const uint8_t* image) {
  const TFieldDesc& f = cursor.Field(fieldNumber);
  std::vector<uint8_t> value(std::max<size_t>(f.PhysicalSize, 8) + 1, 0);
  if (cursor.GetFieldValue(fieldNumber, image, value.data())) return std::nullopt;
  const uint8_t* v = value.data();
  char buf[128];
  switch (f.Type) {
    case ftString:
      return std::string(reinterpret_cast<const char*>(v), strnlen(reinterpret_cast<const char*>(v), f.PhysicalSize));
    case ftSmallInt: return std::to_string(GetI16(v));
    case ftInteger:
      return std::to_string(f.IsAutoInc() ? GetI32(image + 5) : GetI32(v));
    case ftWord: return std::to_string(GetU16(v));
    case ftBoolean: return GetU16(v) != 0 ? "True" : "False";
    case ftFloat:
      std::snprintf(buf, sizeof buf, "%.15g", GetF64(v));
      return std::string(buf);
    case ftBCD: {
      const int64_t scaled = GetI64(v);
      const int decimals = std::min<int>(f.PhysicalDecimals, 18);
      if (decimals == 0) return std::to_string(scaled);
      int64_t p = 1;
      for (int i = 0; i < decimals; ++i) p *= 10;
      const uint64_t mag = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
      std::snprintf(buf, sizeof buf, "%s%llu.%0*llu", scaled < 0 ? "-" : "",
                    static_cast<unsigned long long>(mag / static_cast<uint64_t>(p)), decimals,
                    static_cast<unsigned long long>(mag % static_cast<uint64_t>(p)));
      return std::string(buf);
    }
    case ftDate: return DateText(GetI32(v));
    case ftTime: return TimeText(GetI32(v));
    case ftTimeStamp: {
      const double ms = GetF64(v);
      const int64_t total = static_cast<int64_t>(std::floor(ms));
      return DateText(static_cast<int32_t>(total / kMillisecondsPerDay)) + " " +
             TimeText(total % kMillisecondsPerDay);
    }
    default: {
      std::string hex;
      for (size_t i = 0; i < (f.Type == ftBlob ? 4u : f.PhysicalSize); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", v[i]);
        hex += buf;
      }
      return hex;
    }
  }
}

// ---------------------------------------------------------------------------

bool TCallbackFilter::Accepts(const TDataCursor&, const uint8_t* image) const {
  return predicate_ ? predicate_(image) : true;
}

std::unique_ptr<TFilter> TCallbackFilter::Copy() const { return std::make_unique<TCallbackFilter>(predicate_); }

TExpressionFilter::TExpressionFilter(std::vector<TTerm> terms, TFilterOptions options)
    : terms_(std::move(terms)), options_(options) {}

std::unique_ptr<TFilter> TExpressionFilter::Copy() const {
  return std::make_unique<TExpressionFilter>(terms_, options_);
}

bool TExpressionFilter::Accepts(const TDataCursor& cursor, const uint8_t* image) const {
  for (const TTerm& term : terms_) {
    if (term.FieldNumber < 1 || term.FieldNumber > cursor.FieldCount()) return false;
    const TFieldDesc& f = cursor.Field(term.FieldNumber);
    const bool isNull = cursor.GetFieldValue(term.FieldNumber, image, nullptr);
    if (!term.Value.has_value()) {
      if (!isNull) return false;
      continue;
    }
    std::string want = *term.Value;
    if (f.Type == ftString) {
      bool prefix = false;
      if (options_.PartialKey) {
        prefix = true;
        if (!want.empty() && want.back() == '*') want.pop_back();
      } else if (options_.TrailingStarPrefix && !want.empty() && want.back() == '*') {
        want.pop_back();
        prefix = true;
      }
      // Storing rules: trailing blanks are not kept, an empty text is null.
      while (!prefix && !want.empty() && want.back() == ' ') want.pop_back();
      if (isNull) {
        if (!want.empty()) return false;
        continue;
      }
      std::string have = *FieldValueText(cursor, term.FieldNumber, image);
      if (options_.CaseInsensitive) {
        const TDataTable* table = cursor.Table();
        if (table != nullptr) {
          have = table->Locale().Upper(have);
          want = table->Locale().Upper(want);
        } else {
          have = AsciiUpper(have);
          want = AsciiUpper(want);
        }
      }
      if (prefix ? have.compare(0, want.size(), want) != 0 || have.size() < want.size() : have != want)
        return false;
      continue;
    }
    if (isNull) return false;
    double expected = 0;
    if (NumericValue(f, want, expected)) {
      std::vector<uint8_t> v(std::max<size_t>(f.PhysicalSize, 8), 0);
      cursor.GetFieldValue(term.FieldNumber, image, v.data());
      if (StoredNumber(f, v.data()) != expected) return false;
      continue;
    }
    // Any other type compares by its text form.
    std::string have = *FieldValueText(cursor, term.FieldNumber, image);
    if (options_.CaseInsensitive) {
      have = AsciiUpper(have);
      want = AsciiUpper(want);
    }
    if (have != want) return false;
  }
  return true;
}

std::unique_ptr<TExpressionFilter> TExpressionFilter::Parse(const TDataCursor& cursor, const std::string& text,
                                                            TFilterOptions options) {
  std::vector<TTerm> terms;
  size_t i = 0;
  const size_t n = text.size();
  auto skip = [&] {
    while (i < n && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  };
  auto keyword = [&](const char* word) {
    const size_t len = std::strlen(word);
    if (i + len > n) return false;
    for (size_t k = 0; k < len; ++k)
      if (std::toupper(static_cast<unsigned char>(text[i + k])) != word[k]) return false;
    if (i + len < n) {
      const unsigned char after = static_cast<unsigned char>(text[i + len]);
      if (std::isalnum(after) || after == '_') return false;
    }
    i += len;
    return true;
  };
  skip();
  if (i == n) return std::make_unique<TExpressionFilter>(std::move(terms), options);
  while (true) {
    skip();
    std::string name;
    if (i < n && text[i] == '[') {
      const size_t close = text.find(']', i + 1);
      if (close == std::string::npos) FilterError(cursor, text);
      name = text.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      while (i < n && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_' ||
                       static_cast<unsigned char>(text[i]) >= 128))
        name += text[i++];
    }
    const int field = cursor.FieldNumber(name);
    if (name.empty() || field == 0) FilterError(cursor, text);
    skip();
    if (i >= n || text[i] != '=') FilterError(cursor, text);
    ++i;
    skip();
    TTerm term;
    term.FieldNumber = field;
    if (i < n && (text[i] == '\'' || text[i] == '"')) {
      const char quote = text[i++];
      std::string value;
      bool closed = false;
      while (i < n) {
        if (text[i] == quote) {
          if (i + 1 < n && text[i + 1] == quote) {
            value += quote;
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        value += text[i++];
      }
      if (!closed) FilterError(cursor, text);
      term.Value = value;
    } else if (keyword("NULL")) {
      term.Value = std::nullopt;
    } else {
      std::string value;
      while (i < n && !std::isspace(static_cast<unsigned char>(text[i]))) value += text[i++];
      if (value.empty()) FilterError(cursor, text);
      double probe = 0;
      const TFieldDesc& f = cursor.Field(field);
      if (f.Type != ftString && !NumericValue(f, value, probe)) FilterError(cursor, text);
      term.Value = value;
    }
    terms.push_back(std::move(term));
    skip();
    if (i == n) break;
    if (!keyword("AND")) FilterError(cursor, text);
  }
  return std::make_unique<TExpressionFilter>(std::move(terms), options);
}

}  // namespace tessel
