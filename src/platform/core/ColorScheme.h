// Colours as the design stores them: 0x00BBGGRR for a fixed colour, or
// 0x80000000 + n for the system colour number n, resolved through a colour
// scheme. The running program answers the scheme from the application's
// palette; tests and the command-line export use the standard scheme, so
// their output does not depend on the desktop's theme.
#pragma once

#include <cstdint>

namespace marrowick::platform {

using TColorValue = uint32_t;

inline constexpr TColorValue kSystemColorFlag = 0x80000000u;
inline constexpr TColorValue SystemColor(int number) {
  return kSystemColorFlag + static_cast<TColorValue>(number);
}

// System colour numbers the program uses.
inline constexpr int clScrollBarNumber = 0;
inline constexpr int clWindowNumber = 5;
inline constexpr int clWindowTextNumber = 8;
inline constexpr int clHighlightNumber = 13;
inline constexpr int clHighlightTextNumber = 14;
inline constexpr int clBtnFaceNumber = 15;
inline constexpr int clBtnShadowNumber = 16;
inline constexpr int clGrayTextNumber = 17;
inline constexpr int clBtnTextNumber = 18;
inline constexpr int clInfoTextNumber = 23;
inline constexpr int clInfoBkNumber = 24;

inline constexpr TColorValue clBtnFace = SystemColor(clBtnFaceNumber);
inline constexpr TColorValue clWindow = SystemColor(clWindowNumber);
inline constexpr TColorValue clWindowText = SystemColor(clWindowTextNumber);
inline constexpr TColorValue clHighlight = SystemColor(clHighlightNumber);
inline constexpr TColorValue clHighlightText = SystemColor(clHighlightTextNumber);
inline constexpr TColorValue clBtnShadow = SystemColor(clBtnShadowNumber);
inline constexpr TColorValue clBtnText = SystemColor(clBtnTextNumber);
inline constexpr TColorValue clGrayText = SystemColor(clGrayTextNumber);
inline constexpr TColorValue clInfoBk = SystemColor(clInfoBkNumber);
inline constexpr TColorValue clInfoText = SystemColor(clInfoTextNumber);

class IColorScheme {
 public:
  virtual ~IColorScheme() = default;
  // The RGB value 0xRRGGBB of system colour number n (0..24); numbers
  // outside the table answer black.
  virtual uint32_t SystemColorRgb(int number) const = 0;
};

// The standard Windows scheme (button face C0C0C0, window FFFFFF, ...).
class TStandardColorScheme : public IColorScheme {
 public:
  uint32_t SystemColorRgb(int number) const override;
};

// The RGB value 0xRRGGBB of a stored colour: a system colour through the
// scheme, a fixed colour by swapping its bytes from 0x00BBGGRR.
uint32_t ResolveColorRgb(TColorValue color, const IColorScheme& scheme);

}  // namespace marrowick::platform
