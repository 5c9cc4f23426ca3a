// Splits the tool's TABLE argument into the directory (with its trailing
// '/') and the table name, the way the engine forms file names from them.
#pragma once

#include <string>

namespace tesseltool {

struct TablePath {
  std::string Directory;  // "./" when the argument has no directory part
  std::string Name;       // the last part, extension optional
};

TablePath SplitTablePath(const std::string& argument);

}  // namespace tesseltool
