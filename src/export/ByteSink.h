// Where the writers put their bytes: a file being written (ReplacingFile.h)
// or, in tests and for the clipboard, a string.
#pragma once

#include <string>
#include <string_view>

namespace exports {

class IByteSink {
 public:
  virtual ~IByteSink() = default;
  // Appends the bytes; a sink that cannot take them raises EExportError.
  virtual void Write(std::string_view bytes) = 0;
};

class TStringSink : public IByteSink {
 public:
  std::string Bytes;
  void Write(std::string_view bytes) override { Bytes.append(bytes); }
};

}  // namespace exports
