#include <gtest/gtest.h>

#include "platform/core/ColorScheme.h"
#include "platform/core/Shell.h"

namespace marrowick::platform {
namespace {

TEST(ShellAddress, NetworkAndMailAddressesPassAsTheyStand) {
  EXPECT_EQ(OpenableAddress("http://example.org/a?b=1"), "http://example.org/a?b=1");
  EXPECT_EQ(OpenableAddress("  HTTPS://Example.org  "), "HTTPS://Example.org");
  EXPECT_EQ(OpenableAddress("ftp://ftp.example.org/pub"), "ftp://ftp.example.org/pub");
  EXPECT_EQ(OpenableAddress("Mailto:someone@example.org"), "Mailto:someone@example.org");
}

TEST(ShellAddress, BareHostNamesGetHttp) {
  EXPECT_EQ(OpenableAddress("www.example.org"), "http://www.example.org");
  EXPECT_EQ(OpenableAddress("example.org:8080/path"), "http://example.org:8080/path");
  EXPECT_EQ(OpenableAddress("localhost:631"), "http://localhost:631");
}

TEST(ShellAddress, AnythingThatCouldStartALocalProgramIsRefused) {
  for (const char* text :
       {"", "   ", "file:///etc/passwd", "/usr/bin/xterm", "xterm", "javascript:alert(1)",
        "C:\\Windows\\notepad.exe", "smb://host/share", "http:/etc/passwd", "http:///x",
        "mailto:", "example.org:99999999", "a b.org", "-x.org", "exa\nmple.org", "data:text/html,x"}) {
    EXPECT_FALSE(OpenableAddress(text).has_value()) << text;
  }
}

TEST(ColorScheme, StandardSchemeAndFixedColours) {
  TStandardColorScheme scheme;
  EXPECT_EQ(ResolveColorRgb(clBtnFace, scheme), 0xC0C0C0u);
  EXPECT_EQ(ResolveColorRgb(clHighlight, scheme), 0x000080u);
  EXPECT_EQ(ResolveColorRgb(clInfoBk, scheme), 0xFFFFE1u);
  EXPECT_EQ(ResolveColorRgb(0x00332211u, scheme), 0x112233u);  // stored as 0x00BBGGRR
}

}  // namespace
}  // namespace marrowick::platform
