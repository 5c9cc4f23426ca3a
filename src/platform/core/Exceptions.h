// The two exception classes below the engine's own: the database exception
// that every failure of a record set, a field or the engine underneath is
// (ETesselEngineError derives from it), and the conversion error of a text
// that is not a number, date or time of the expected form. They keep the
// record-set layer's namespace, where the code that raises and catches them
// names them.
#pragma once

#include <stdexcept>
#include <string>

namespace dataset {

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
};

class EConvertError : public std::runtime_error {
 public:
  explicit EConvertError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace dataset
