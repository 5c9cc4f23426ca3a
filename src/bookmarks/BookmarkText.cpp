#include "bookmarks/BookmarkText.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <unordered_map>

#include "platform/core/Windows1252.h"
#include "platform/core/Shell.h"

namespace bookmarks {

namespace {

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool IsBlank(unsigned char c) { return c <= 0x20 || c == 0x7F; }

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The named references browsers write, and the Latin-1 letters and signs
// that old exports and hand-made files use.
const std::unordered_map<std::string_view, uint32_t>& NamedEntities() {
  static const std::unordered_map<std::string_view, uint32_t> table = [] {
    std::unordered_map<std::string_view, uint32_t> t = {
        {"quot", 34},     {"amp", 38},      {"apos", 39},     {"lt", 60},      {"gt", 62},
        {"OElig", 338},   {"oelig", 339},   {"Scaron", 352},  {"scaron", 353}, {"Yuml", 376},
        {"fnof", 402},    {"circ", 710},    {"tilde", 732},   {"ndash", 8211}, {"mdash", 8212},
        {"lsquo", 8216},  {"rsquo", 8217},  {"sbquo", 8218},  {"ldquo", 8220}, {"rdquo", 8221},
        {"bdquo", 8222},  {"dagger", 8224}, {"Dagger", 8225}, {"bull", 8226},  {"hellip", 8230},
        {"permil", 8240}, {"lsaquo", 8249}, {"rsaquo", 8250}, {"euro", 8364},  {"trade", 8482}};
    static constexpr std::array<std::string_view, 96> latin1 = {
        "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",
        "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",
        "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12",
        "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
        "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde",
        "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",
        "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",
        "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
        "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
        "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};
    for (std::size_t i = 0; i < latin1.size(); ++i) t.emplace(latin1[i], static_cast<uint32_t>(160 + i));
    return t;
  }();
  return table;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    int extra;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + static_cast<std::size_t>(extra) >= text.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto d = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode.
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

std::string TitleFromUtf8(std::string_view utf8) {
  const std::string cp1252 = IsAscii(utf8) ? std::string(utf8) : tessel::Utf8ToCp1252(utf8);
  std::string title;
  title.reserve(cp1252.size());
  bool blank = false;
  for (char c : cp1252) {
    if (IsBlank(static_cast<unsigned char>(c))) {
      blank = !title.empty();
      continue;
    }
    if (blank) title += ' ';
    blank = false;
    title += c;
  }
  return title;
}

std::optional<std::string> SiteAddress(std::string_view utf8) {
  std::size_t begin = 0, end = utf8.size();
  while (begin < end && IsBlank(static_cast<unsigned char>(utf8[begin]))) ++begin;
  while (end > begin && IsBlank(static_cast<unsigned char>(utf8[end - 1]))) --end;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url;
  url.reserve(end - begin);
  for (std::size_t i = begin; i < end; ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c == '\t' || c == '\n' || c == '\r') continue;
    if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '`') {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0x0F];
    } else {
      url += static_cast<char>(c);
    }
  }
  return marrowick::platform::OpenableAddress(url);
}

std::string DecodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c != '&') {
      out += c;
      ++i;
      continue;
    }
    const std::size_t semi = text.find(';', i + 1);
    if (semi == std::string_view::npos || semi - i > 12 || semi == i + 1) {
      out += c;
      ++i;
      continue;
    }
    const std::string_view name = text.substr(i + 1, semi - i - 1);
    bool decoded = false;
    if (name[0] == '#') {
      const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
      const std::string digits(name.substr(hex ? 2 : 1));
      const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
      if (!digits.empty() && digits.find_first_not_of(allowed) == std::string::npos) {
        const unsigned long cp = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
        if (cp > 0 && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
          AppendUtf8(out, static_cast<uint32_t>(cp));
          decoded = true;
        }
      }
    } else {
      const auto& table = NamedEntities();
      auto it = table.find(name);
      if (it != table.end()) {
        AppendUtf8(out, it->second);
        decoded = true;
      }
    }
    if (decoded) {
      i = semi + 1;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

std::string AddressKey(std::string_view url) {
  std::size_t end = url.size();
  while (end > 0 && url[end - 1] == ' ') --end;
  return std::string(url.substr(0, end));
}

std::string AddressHost(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return {};
  std::string_view rest = url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  const std::size_t at = rest.rfind('@');
  if (at != std::string_view::npos) rest = rest.substr(at + 1);
  if (!rest.empty() && rest.front() != '[') rest = rest.substr(0, rest.find(':'));
  return std::string(rest);
}

}  // namespace bookmarks
