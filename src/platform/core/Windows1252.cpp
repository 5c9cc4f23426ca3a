#include "platform/core/Windows1252.h"

#include <unicode/ucnv.h>

#include <memory>
#include <stdexcept>

namespace tessel {
namespace {

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter OpenConverter(const char* name) {
  UErrorCode status = U_ZERO_ERROR;
  Converter c(ucnv_open(name, &status));
  if (U_FAILURE(status)) throw std::runtime_error(std::string("code page converter missing: ") + name);
  return c;
}

// Converts through UTF-16 with ICU's substitution character for the target.
std::string Convert(const char* from, const char* to, std::string_view text, char substitute) {
  if (text.empty()) return {};
  Converter source = OpenConverter(from);
  Converter target = OpenConverter(to);
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setSubstChars(target.get(), &substitute, 1, &status);
  status = U_ZERO_ERROR;
  std::string out(text.size() * 4 + 16, '\0');
  char* outPtr = out.data();
  const char* inPtr = text.data();
  ucnv_convertEx(target.get(), source.get(), &outPtr, out.data() + out.size(), &inPtr,
                 text.data() + text.size(), nullptr, nullptr, nullptr, nullptr, true, true,
                 &status);
  if (U_FAILURE(status)) throw std::runtime_error("code page conversion failed");
  out.resize(static_cast<size_t>(outPtr - out.data()));
  return out;
}

}  // namespace

const std::array<char16_t, 256>& Cp1252Characters() {
  static const std::array<char16_t, 256> table = [] {
    std::array<char16_t, 256> t{};
    UErrorCode status = U_ZERO_ERROR;
    UConverter* conv = ucnv_open("windows-1252", &status);
    for (int b = 0; b < 256; ++b) {
      t[static_cast<size_t>(b)] = static_cast<char16_t>(b);  // Latin-1 if the converter is missing
      if (conv == nullptr || U_FAILURE(status)) continue;
      const char in = static_cast<char>(b);
      UChar out[4];
      UErrorCode s = U_ZERO_ERROR;
      const int32_t n = ucnv_toUChars(conv, out, 4, &in, 1, &s);
      if (U_SUCCESS(s) && n == 1 && out[0] != 0xFFFD) t[static_cast<size_t>(b)] = out[0];
    }
    if (conv != nullptr) ucnv_close(conv);
    return t;
  }();
  return table;
}

int Cp1252ByteOf(char16_t character) {
  const auto& table = Cp1252Characters();
  for (int b = 0; b < 256; ++b)
    if (table[static_cast<size_t>(b)] == character) return b;
  return -1;
}

std::string Cp1252ToUtf8(std::string_view text) { return Convert("windows-1252", "UTF-8", text, '?'); }

std::string Utf8ToCp1252(std::string_view text) { return Convert("UTF-8", "windows-1252", text, '?'); }

unsigned char AnsiUpperChar(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
  switch (c) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return c;
  }
}

unsigned char AnsiLowerChar(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
  switch (c) {
    case 0x8A: return 0x9A;
    case 0x8C: return 0x9C;
    case 0x8E: return 0x9E;
    case 0x9F: return 0xFF;
    default: return c;
  }
}

std::string AnsiUpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(AnsiUpperChar(static_cast<unsigned char>(c)));
  return result;
}

std::string AnsiLowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(AnsiLowerChar(static_cast<unsigned char>(c)));
  return result;
}

bool AnsiSameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AnsiUpperChar(static_cast<unsigned char>(a[i])) != AnsiUpperChar(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace tessel
