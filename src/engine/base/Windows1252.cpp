#include "engine/storage/CodePage.h"

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

std::string Cp1252ToUtf8(std::string_view text) { return Convert("windows-1252", "UTF-8", text, '?'); }

std::string Utf8ToCp1252(std::string_view text) { return Convert("UTF-8", "windows-1252", text, '?'); }

}  // namespace tessel
