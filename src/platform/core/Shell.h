// The shell's "open" request for a site address or a mail address. Only
// addresses with a network or mail scheme are ever handed on, so a catalogue
// entry can never start a local program or open a local file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace marrowick::platform {

// The address the shell may open for the given text (Windows-1252 bytes):
// the text itself, trimmed of surrounding blanks, when its scheme is http,
// https, ftp or mailto (any letter case); "http://" followed by the text when
// it is a bare host name, optionally with a port and a path ("example.org",
// "www.example.org:8080/a"); nothing for anything else (file:, javascript:,
// local paths, empty text, text with control characters or blanks inside).
std::optional<std::string> OpenableAddress(std::string_view text);

class IShell {
 public:
  virtual ~IShell() = default;

  // Opens the address with the desktop's handler when OpenableAddress allows
  // it; answers whether it was handed on. A refused address is not opened.
  virtual bool OpenAddress(const std::string& text) = 0;
};

}  // namespace marrowick::platform
