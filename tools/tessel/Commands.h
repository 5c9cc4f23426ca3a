// The tool's commands. Each returns the process exit code; engine errors
// propagate to main, which prints them.
#pragma once

#include <optional>
#include <string>

namespace tesseltool {

int CreateTable(const std::string& table, const std::string& structureFile, bool force);
int PrintInfo(const std::string& table, const std::optional<std::string>& password);
int EmptyTable(const std::string& table, const std::optional<std::string>& password);

}  // namespace tesseltool
