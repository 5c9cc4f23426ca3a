// The record-set layer's database exception: every failure of a record set,
// a field or the engine underneath is one of these.
#pragma once

#include <stdexcept>
#include <string>

namespace dataset {

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace dataset
