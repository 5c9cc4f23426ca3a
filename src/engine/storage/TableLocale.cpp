#include "engine/storage/TableLocale.h"

#include <unicode/ucnv.h>
#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "platform/core/Windows1252.h"

namespace tessel {

namespace {

// The ICU locale name of a Windows locale id, empty when ICU knows none.
std::string IcuLocaleName(uint16_t languageId, uint16_t sortId) {
  const uint32_t lcid = (static_cast<uint32_t>(sortId) << 16) | languageId;
  char name[ULOC_FULLNAME_CAPACITY];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t n = uloc_getLocaleForLCID(lcid, name, sizeof name, &status);
  if (U_FAILURE(status) || n <= 0 || n >= static_cast<int32_t>(sizeof name)) return {};
  return std::string(name, static_cast<size_t>(n));
}

// A collator of the locale, or nullptr when ICU has no collation data for it
// (it would fall back to the root collation).
UCollator* OpenCollator(const std::string& localeName) {
  if (localeName.empty() || localeName == "root") return nullptr;
  UErrorCode status = U_ZERO_ERROR;
  UCollator* collator = ucol_open(localeName.c_str(), &status);
  if (U_FAILURE(status) || collator == nullptr) {
    if (collator != nullptr) ucol_close(collator);
    return nullptr;
  }
  UErrorCode s = U_ZERO_ERROR;
  const char* valid = ucol_getLocaleByType(collator, ULOC_VALID_LOCALE, &s);
  if (U_FAILURE(s) || valid == nullptr || *valid == '\0' || std::strcmp(valid, "root") == 0) {
    ucol_close(collator);
    return nullptr;
  }
  return collator;
}

// The length of a byte string up to its first zero byte.
size_t TextLength(const uint8_t* p, size_t length) {
  const void* zero = std::memchr(p, 0, length);
  return zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - p) : length;
}

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

}  // namespace

struct TTableLocale::Impl {
  UCollator* Collator = nullptr;
  std::array<uint8_t, 256> UpperMap{};
  std::array<uint8_t, 256> LowerMap{};

  ~Impl() {
    if (Collator != nullptr) ucol_close(Collator);
  }
};

namespace {

// Case mapping of one Windows-1252 character through ICU's mapping for the
// locale. The mapping keeps the length of a text: a character whose mapping
// is several characters (German sharp s) or has no Windows-1252 form
// (Turkish dotted capital I, Greek capital mu) stays as it is, so stored
// values are not cut short and case-insensitive keys do not run together.
uint8_t MapCase(uint8_t b, const std::string& localeName, bool upper) {
  const UChar in = Cp1252Characters()[b];
  UChar out[8];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t n = upper ? u_strToUpper(out, 8, &in, 1, localeName.c_str(), &status)
                          : u_strToLower(out, 8, &in, 1, localeName.c_str(), &status);
  if (U_FAILURE(status) || n != 1) return b;
  const int mapped = Cp1252ByteOf(out[0]);
  return mapped < 0 ? b : static_cast<uint8_t>(mapped);
}

}  // namespace

TTableLocale::TTableLocale(uint16_t languageId, uint16_t sortId)
    : languageId_(languageId), sortId_(sortId), impl_(std::make_unique<Impl>()) {
  for (int b = 0; b < 256; ++b) {
    uint8_t up = static_cast<uint8_t>(b);
    uint8_t low = static_cast<uint8_t>(b);
    if (b >= 'a' && b <= 'z') up = static_cast<uint8_t>(b - 32);
    if (b >= 'A' && b <= 'Z') low = static_cast<uint8_t>(b + 32);
    impl_->UpperMap[static_cast<size_t>(b)] = up;
    impl_->LowerMap[static_cast<size_t>(b)] = low;
  }
  if (languageId_ == 0) return;
  const std::string name = IcuLocaleName(languageId_, sortId_);
  impl_->Collator = OpenCollator(name);
  // A locale that is not installed is refused when the table is validated;
  // until then it behaves like plain byte order.
  if (impl_->Collator == nullptr) return;
  for (int b = 0; b < 256; ++b) {
    impl_->UpperMap[static_cast<size_t>(b)] = MapCase(static_cast<uint8_t>(b), name, true);
    impl_->LowerMap[static_cast<size_t>(b)] = MapCase(static_cast<uint8_t>(b), name, false);
  }
}

TTableLocale::~TTableLocale() = default;

bool TTableLocale::IsInstalled(uint16_t languageId, uint16_t sortId) {
  if (languageId == 0) return true;
  UCollator* collator = OpenCollator(IcuLocaleName(languageId, sortId));
  if (collator == nullptr) return false;
  ucol_close(collator);
  return true;
}

std::string TTableLocale::Upper(std::string_view text) const {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(impl_->UpperMap[static_cast<uint8_t>(c)]);
  return out;
}

std::string TTableLocale::Lower(std::string_view text) const {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(impl_->LowerMap[static_cast<uint8_t>(c)]);
  return out;
}

int TTableLocale::Compare(const uint8_t* a, size_t aLength, const uint8_t* b, size_t bLength) const {
  aLength = TextLength(a, aLength);
  bLength = TextLength(b, bLength);
  if (impl_->Collator == nullptr) {
    const int c = std::memcmp(a, b, std::min(aLength, bLength));
    if (c != 0) return Sign(c);
    return aLength < bLength ? -1 : (aLength > bLength ? 1 : 0);
  }
  const auto& table = Cp1252Characters();
  UChar aBuf[256];
  UChar bBuf[256];
  std::vector<UChar> aLong;
  std::vector<UChar> bLong;
  UChar* ua = aBuf;
  UChar* ub = bBuf;
  if (aLength > 256) {
    aLong.resize(aLength);
    ua = aLong.data();
  }
  if (bLength > 256) {
    bLong.resize(bLength);
    ub = bLong.data();
  }
  for (size_t i = 0; i < aLength; ++i) ua[i] = table[a[i]];
  for (size_t i = 0; i < bLength; ++i) ub[i] = table[b[i]];
  const UCollationResult r = ucol_strcoll(impl_->Collator, ua, static_cast<int32_t>(aLength), ub,
                                          static_cast<int32_t>(bLength));
  return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

std::array<uint8_t, 256> TTableLocale::CharacterOrder() const {
  std::array<uint8_t, 256> order{};
  std::iota(order.begin(), order.end(), 0);
  if (languageId_ == 0 || impl_->Collator == nullptr) return order;
  // Characters that compare equal keep their byte order.
  std::stable_sort(order.begin(), order.end(), [this](uint8_t x, uint8_t y) {
    return Compare(&x, 1, &y, 1) < 0;
  });
  return order;
}

}  // namespace tessel
