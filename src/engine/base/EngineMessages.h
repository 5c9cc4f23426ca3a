// The engine's message string table: one text per engine code, and which
// context values fill its placeholders, in order. Kept apart from the code
// table so that the texts can be translated on their own.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tessel {

enum class MessageArg : uint8_t { Table, Field, Index, SqlText };

struct EngineMessage {
  uint16_t Code;
  std::string_view Text;
  std::span<const MessageArg> Args;
};

// The entry for code, or nullptr when the table has none.
const EngineMessage* FindEngineMessage(uint16_t code);

// The text used for codes the table lacks; its one placeholder is the table.
inline constexpr std::string_view kUnknownErrorText = "Unknown error occurred with table '%S'";

}  // namespace tessel
