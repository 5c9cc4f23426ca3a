// Fakes of the small platform interfaces: message boxes answered ahead of
// time, a shell and a clipboard that record, and font metrics with fixed
// figures so that geometry is the same on every machine.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/core/Clipboard.h"
#include "platform/core/FontMetrics.h"
#include "platform/core/MessageBoxes.h"
#include "platform/core/Shell.h"

namespace marrowick::fakes {

class TFakeMessageBoxes : public platform::IMessageBoxes {
 public:
  std::vector<std::string> notices;
  std::vector<std::string> errors;
  // Each question asked, as "caption: text".
  std::vector<std::string> questions;
  // Answers for the next questions, in order; OK when none is left.
  std::deque<bool> answers;

  void ShowNotice(const std::string& text) override { notices.push_back(text); }
  void ShowError(const std::string& text) override { errors.push_back(text); }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    questions.push_back(caption + ": " + text);
    if (answers.empty()) return true;
    bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

class TFakeShell : public platform::IShell {
 public:
  std::vector<std::string> opened;   // addresses handed on
  std::vector<std::string> refused;  // texts OpenableAddress refused
  bool OpenAddress(const std::string& text) override {
    auto address = platform::OpenableAddress(text);
    if (!address) {
      refused.push_back(text);
      return false;
    }
    opened.push_back(*address);
    return true;
  }
};

class TFakeClipboard : public platform::IClipboard {
 public:
  std::string text;
  int sets = 0;
  void SetText(const std::string& value) override {
    text = value;
    ++sets;
  }
  std::string Text() override { return text; }
};

// Every line is LineHeight pixels high; every character CharWidth wide
// (bold adds one pixel per character).
class TFakeFontMetrics : public platform::IFontMetrics {
 public:
  int LineHeight = 13;
  int CharWidth = 6;
  int TextHeight(const platform::TFontSpec&) override { return LineHeight; }
  int TextWidth(const platform::TFontSpec& font, const std::string& text) override {
    return static_cast<int>(text.size()) * (CharWidth + (font.Bold() ? 1 : 0));
  }
};

}  // namespace marrowick::fakes
