#include "TablePath.h"

namespace tesseltool {

TablePath SplitTablePath(const std::string& argument) {
  TablePath p;
  const auto slash = argument.find_last_of('/');
  if (slash == std::string::npos) {
    p.Directory = "./";
    p.Name = argument;
  } else {
    p.Directory = argument.substr(0, slash + 1);
    p.Name = argument.substr(slash + 1);
  }
  return p;
}

}  // namespace tesseltool
