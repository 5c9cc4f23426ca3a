// Texts entering the catalogue from a browser: titles from UTF-8 into
// Windows-1252, addresses made plain ASCII, HTML character references
// decoded, and the address key the catalogue's unique siteurl index
// compares.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bookmarks {

// A title: UTF-8 to Windows-1252 ('?' for what it cannot hold), runs of
// blanks, tabs and line ends made one blank, blanks at both ends removed.
std::string TitleFromUtf8(std::string_view utf8);

// An address as the catalogue keeps it: surrounding blanks removed, tabs
// and line ends inside dropped (as browsers do), blanks, controls and bytes
// beyond ASCII percent-encoded. Nothing when the program could not open the
// result (no http, https, ftp or mailto address).
std::optional<std::string> SiteAddress(std::string_view utf8);

// HTML character references (&amp;, &eacute;, &#233;, &#xE9;) decoded into
// UTF-8; unknown or malformed ones are left as they stand.
std::string DecodeEntities(std::string_view text);

// The key under which the catalogue's siteurl index compares an address:
// the stored value, whose trailing blanks the engine drops.
std::string AddressKey(std::string_view url);

// The host of an address ("www.example.org" for
// "https://user@www.example.org:8080/a"); empty when there is none.
std::string AddressHost(std::string_view url);

// Bytes valid as UTF-8.
bool IsValidUtf8(std::string_view text);

}  // namespace bookmarks
