// Helpers for tests that lay down tables in a temporary directory and look
// at their files byte by byte.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "engine/base/TesselError.h"
#include "engine/storage/Formats.h"
#include "engine/storage/TableStructure.h"

namespace tessel::testing {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/tessel-tables-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The directory with a trailing '/'.
  std::string Dir() const { return path_ + "/"; }

 private:
  std::string path_;
};

inline std::vector<uint8_t> ReadFileBytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void PatchFileBytes(const std::string& name, int64_t position, const std::vector<uint8_t>& bytes) {
  std::fstream io(name, std::ios::binary | std::ios::in | std::ios::out);
  io.seekp(position);
  io.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void AppendFileBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::app);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Short names for the engine's definition builders.
inline TFieldDesc Field(uint16_t number, const std::string& name, uint8_t type, uint8_t size = 0,
                        uint8_t subType = 0) {
  return FieldDefinition(number, name, type, size, subType);
}
inline TIndexDesc Index(const std::string& name, std::initializer_list<uint16_t> fields, bool unique) {
  return IndexDefinition(name, fields, unique);
}

// The catalogue's structure: six fields and a unique secondary index on
// siteurl, no primary index.
inline TTableStructure CatalogueStructure() {
  TTableStructure s;
  s.Fields = {Field(1, "sitetype", ftString, 30), Field(2, "siteurl", ftString, 100),
              Field(3, "sitename", ftString, 60), Field(4, "login", ftString, 30),
              Field(5, "password", ftString, 30), Field(6, "note", ftBlob, 0, fstMemo)};
  s.Fields[1].Required = 1;
  s.Secondary = {Index("siteurl", {2}, true)};
  return s;
}

// Runs action and answers the engine error it raised: its code and message
// text (code 0 when nothing was raised).
struct RaisedError {
  uint16_t Code = 0;
  std::string Message;
};
inline RaisedError ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ETesselEngineError& e) {
    return {e.Code(), e.Errors(0).Message};
  }
  return {};
}

}  // namespace tessel::testing
