// Filters attached to a cursor. A filter has an active flag and a bitmap of
// the records it accepts: the cursor evaluates it over the whole table when
// it is activated, updates its bit for a record after a write, and copies it
// into a clone.
//
// Two kinds:
// - TCallbackFilter: a predicate over the record image (a record set's
//   OnFilterRecord).
// - TExpressionFilter: terms "field = value" joined by AND (a record set's
//   Filter text, and the temporary filter of Locate without a usable index).
//   Options: case-insensitive comparison; partial key (a string value
//   matches every field value that begins with it, a trailing '*' in the
//   value dropped first). A null value (NULL in text) matches null fields.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/cursor/RecordBitmap.h"

namespace tessel {

class TDataCursor;

class TFilter {
 public:
  virtual ~TFilter() = default;

  bool Active() const { return active_; }
  const TRecordsBitmap& Bits() const { return bits_; }

  // Whether the record image (RecordSize() bytes of cursor's table) passes.
  virtual bool Accepts(const TDataCursor& cursor, const uint8_t* image) const = 0;
  virtual std::unique_ptr<TFilter> Copy() const = 0;

 private:
  friend class TResultSet;
  bool active_ = false;
  TRecordsBitmap bits_;
};

class TCallbackFilter final : public TFilter {
 public:
  using TPredicate = std::function<bool(const uint8_t* image)>;
  explicit TCallbackFilter(TPredicate predicate) : predicate_(std::move(predicate)) {}
  bool Accepts(const TDataCursor& cursor, const uint8_t* image) const override;
  std::unique_ptr<TFilter> Copy() const override;

 private:
  TPredicate predicate_;
};

struct TFilterOptions {
  bool CaseInsensitive = false;
  // Every string value is a prefix (a trailing '*' dropped first).
  bool PartialKey = false;
  // Filter text: a string value ending in '*' is a prefix (the '*' dropped).
  bool TrailingStarPrefix = false;
};

class TExpressionFilter final : public TFilter {
 public:
  struct TTerm {
    int FieldNumber = 0;
    std::optional<std::string> Value;  // nullopt: the field must be null
  };

  TExpressionFilter(std::vector<TTerm> terms, TFilterOptions options);

  // Parses "name = 'text' AND name2 = 12 AND name3 = NULL" (names may be in
  // square brackets, strings quoted with ' or ", '' inside quotes is one
  // quote; AND in any case). Unknown fields and syntax errors raise 10051
  // with the text as context. An empty text gives a filter accepting all.
  static std::unique_ptr<TExpressionFilter> Parse(const TDataCursor& cursor,
                                                  const std::string& text,
                                                  TFilterOptions options = {});

  const std::vector<TTerm>& Terms() const { return terms_; }
  const TFilterOptions& Options() const { return options_; }
  bool Accepts(const TDataCursor& cursor, const uint8_t* image) const override;
  std::unique_ptr<TFilter> Copy() const override;

 private:
  std::vector<TTerm> terms_;
  TFilterOptions options_;
};

// A field's value as text, as the expression filter compares it: strings as
// stored, integers and floats in decimal ('.' point), booleans "True"/"False",
// dates "YYYY-MM-DD", times "HH:MM:SS", timestamps "YYYY-MM-DD HH:MM:SS";
// nullopt for a null field.
std::optional<std::string> FieldValueText(const TDataCursor& cursor, int fieldNumber,
                                          const uint8_t* image);

}  // namespace tessel
