// Key search over a cursor's indexes.
//
// TKeyContexts keeps the key context of each index of the table for one
// cursor, made on first use and made again when the index header was read
// with other definitions (another program restructured the table).
//
// TKeySearch searches the ordering index within a result set: search keys
// built from a record image or taken ready-made, cut to their first fields
// (or to a prefix of the last string field) and filled up with the lowest or
// highest bytes of the index's order; the entry at or after a key; the entry
// whose leading bytes equal a key.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/cursor/ResultSet.h"
#include "engine/storage/Formats.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/IndexTree.h"

namespace tessel {

class TDataTable;

class TKeyContexts {
 public:
  // fields and tableName must outlive the contexts (the cursor's own).
  TKeyContexts(TDataTable& table, const std::vector<TFieldDesc>& fields, const std::string& tableName);

  // The context of index number (0 primary, 1-30 secondary, 31 "Sys
  // Deleted"); another number raises 10022.
  const TKeyContext& Get(int number);
  // The context last made for number, without a look at the header; null
  // when none was made.
  const TKeyContext* Made(int number) const;
  TIndexTree Tree(int number);

 private:
  TDataTable& table_;
  const std::vector<TFieldDesc>& fields_;
  const std::string& tableName_;
  std::vector<std::unique_ptr<TKeyContext>> contexts_;  // by index number (0..31)
};

class TKeySearch {
 public:
  // tree and key are one index; desc is its definition as the index header
  // holds it; fields are the table's; order is the table's character order.
  TKeySearch(TIndexTree tree, const TIndexDesc& desc, const TKeyContext& key, const std::vector<TFieldDesc>& fields,
             const std::array<uint8_t, 256>& order);

  // The search key: the key of the record image source (or source itself,
  // ready-made, KeyLength() bytes). With fieldCount fields of a longer key
  // (0: all), a partial last string field (partialLength characters), or a
  // non-unique index, the rest is filled: with the highest bytes of the
  // order when high, else the lowest (string fields of a table with a
  // locale by its first and last characters). prefixLength, when given,
  // receives the length of the part that was not filled.
  std::vector<uint8_t> Key(const uint8_t* source, bool readyMade, int fieldCount, int partialLength, bool high,
                           size_t* prefixLength) const;

  // The first entry at or after key inside the range and the result of
  // results; false when there is none up to the end of the range.
  bool Seek(const uint8_t* key, const TResultSet& results, TIndexEntry& entry);
  // The first entry at or after key when its first length bytes equal key's
  // and it lies inside the range and the result; false otherwise.
  bool Find(const std::vector<uint8_t>& key, size_t length, const TResultSet& results, TIndexEntry& entry);

 private:
  TIndexTree tree_;
  const TIndexDesc& desc_;
  const TKeyContext& key_;
  const std::vector<TFieldDesc>& fields_;
  const std::array<uint8_t, 256>& order_;
};

}  // namespace tessel
