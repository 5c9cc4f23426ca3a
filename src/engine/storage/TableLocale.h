// A table's collation and case mapping. Language id 0 keeps plain byte order
// and maps only A-Z and a-z; otherwise an ICU collator and case mapping of
// the table's locale work on the Windows-1252 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tessel {

class TTableLocale {
 public:
  TTableLocale(uint16_t languageId = 0, uint16_t sortId = 0);
  ~TTableLocale();
  TTableLocale(const TTableLocale&) = delete;
  TTableLocale& operator=(const TTableLocale&) = delete;

  // Whether the locale (sort id << 16 | language id) is installed: ICU has
  // collation data for it. Language id 0 is always available.
  static bool IsInstalled(uint16_t languageId, uint16_t sortId);

  bool HasLocale() const { return languageId_ != 0; }
  uint16_t LanguageId() const { return languageId_; }
  uint16_t SortId() const { return sortId_; }

  std::string Upper(std::string_view text) const;
  std::string Lower(std::string_view text) const;
  // String-sort comparison of two byte strings (each up to its first zero
  // byte or its length): -1, 0 or 1. Byte order without a locale.
  int Compare(const uint8_t* a, size_t aLength, const uint8_t* b, size_t bLength) const;
  // The 256 byte values in the locale's order (ascending without a locale).
  std::array<uint8_t, 256> CharacterOrder() const;

 private:
  struct Impl;
  uint16_t languageId_;
  uint16_t sortId_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tessel
