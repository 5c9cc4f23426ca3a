#include "platform/core/Shell.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace marrowick::platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// A host name: labels of letters, digits and hyphens (or bytes above 127,
// for international names) separated by dots, at least one dot, no label
// empty or starting or ending with a hyphen ("localhost" is the one name
// without a dot); then an optional port and an
// optional path, query or fragment.
bool IsBareHost(std::string_view text) {
  size_t end = text.find_first_of(":/?#");
  std::string_view host = text.substr(0, end);
  if (host.empty()) return false;
  if (host.find('.') == std::string_view::npos && Lower(host) != "localhost") return false;
  size_t start = 0;
  while (start <= host.size()) {
    size_t dot = host.find('.', start);
    std::string_view label = host.substr(start, dot == std::string_view::npos ? host.npos : dot - start);
    if (label.empty() || label.front() == '-' || label.back() == '-') return false;
    for (char c : label) {
      auto u = static_cast<unsigned char>(c);
      if (!(std::isalnum(u) || c == '-' || u >= 0x80)) return false;
    }
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  if (end != std::string_view::npos && text[end] == ':') {
    size_t portEnd = text.find_first_of("/?#", end + 1);
    std::string_view port = text.substr(end + 1, portEnd == std::string_view::npos ? text.npos : portEnd - end - 1);
    if (port.empty() || port.size() > 5) return false;
    for (char c : port)
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> OpenableAddress(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == ' ') return std::nullopt;
  }

  size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    std::string scheme = Lower(text.substr(0, colon));
    std::string_view rest = text.substr(colon + 1);
    static constexpr std::array<const char*, 3> kNetworkSchemes = {"http", "https", "ftp"};
    for (const char* network : kNetworkSchemes) {
      // A network address names a host after "//".
      if (scheme == network) {
        if (rest.size() > 2 && rest.substr(0, 2) == "//" && rest[2] != '/') return std::string(text);
        return std::nullopt;
      }
    }
    if (scheme == "mailto") return rest.empty() ? std::nullopt : std::optional<std::string>(std::string(text));
  }
  if (IsBareHost(text)) return "http://" + std::string(text);
  return std::nullopt;
}

}  // namespace marrowick::platform
