#include "engine/base/TesselError.h"

#include <mutex>

#include "engine/base/EngineMessages.h"

namespace tessel {
namespace {

constexpr size_t kMaxName = 255;
constexpr size_t kMaxMessage = 254;

std::mutex& ContextLock() {
  static std::mutex m;
  return m;
}

ErrorContextValues& Context() {
  static ErrorContextValues values;
  return values;
}

std::string Cut(std::string_view s, size_t n) { return std::string(s.substr(0, n)); }

// Replaces each %s (or %S) in turn with the next argument; "%%" is a percent sign.
std::string FormatPlaceholders(std::string_view text, const std::vector<std::string>& args) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size()) {
      char c = text[i + 1];
      if (c == 's' || c == 'S') {
        if (next < args.size()) out += args[next];
        ++next;
        ++i;
        continue;
      }
      if (c == '%') {
        out += '%';
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::string MessageLocked(uint16_t code) {
  const ErrorContextValues& ctx = Context();
  const EngineMessage* entry = FindEngineMessage(code);
  std::string text;
  if (entry == nullptr) {
    text = FormatPlaceholders(kUnknownErrorText, {ctx.TableName});
  } else {
    std::vector<std::string> args;
    for (MessageArg a : entry->Args) {
      switch (a) {
        case MessageArg::Table: args.push_back(ctx.TableName); break;
        case MessageArg::Field: args.push_back(ctx.FieldName); break;
        case MessageArg::Index: args.push_back(ctx.IndexName); break;
        case MessageArg::SqlText: args.push_back(ctx.SqlText); break;
      }
    }
    text = FormatPlaceholders(entry->Text, args);
  }
  if (text.size() > kMaxMessage) text.resize(kMaxMessage);
  return text;
}

}  // namespace

std::string_view EngineMessageText(uint16_t code) {
  const EngineMessage* entry = FindEngineMessage(code);
  return entry ? entry->Text : std::string_view{};
}

namespace ErrorContext {

void Clear() {
  std::lock_guard lock(ContextLock());
  Context() = ErrorContextValues{};
}

void Set(uint16_t code, std::string_view table, std::string_view field, std::string_view sqlText,
         std::string_view index, int32_t osError) {
  std::lock_guard lock(ContextLock());
  ErrorContextValues& ctx = Context();
  ctx = ErrorContextValues{};
  ctx.LastError = code;
  ctx.OsError = osError;
  ctx.TableName = Cut(table, kMaxName);
  ctx.FieldName = Cut(field, kMaxName);
  ctx.IndexName = Cut(index, kMaxName);
  ctx.SqlText = Cut(sqlText, kMaxName);
}

ErrorContextValues Snapshot() {
  std::lock_guard lock(ContextLock());
  return Context();
}

std::string MessageFor(uint16_t code) {
  std::lock_guard lock(ContextLock());
  return MessageLocked(code);
}

}  // namespace ErrorContext

ETesselEngineError::ETesselEngineError(uint16_t code)
    : ETesselEngineError(code, ErrorContext::MessageFor(code)) {}

ETesselEngineError::ETesselEngineError(uint16_t code, std::string message)
    : dataset::EDatabaseError("Tessel Engine Error # " + std::to_string(code) + " " + message),
      errors_{TTesselError{code, std::move(message)}} {}

void RaiseEngineError(uint16_t code, std::string_view table, std::string_view field,
                      std::string_view sqlText, std::string_view index, int32_t osError) {
  ErrorContext::Set(code, table, field, sqlText, index, osError);
  throw ETesselEngineError(code);
}

void RaiseReturnedCode(uint16_t code) { throw ETesselEngineError(code); }

}  // namespace tessel
