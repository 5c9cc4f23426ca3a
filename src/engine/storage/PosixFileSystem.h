// The engine's file system on the operating system's files: the thin Linux
// layer of platform/core (share bytes, case-insensitive names, positioned
// reads and writes, open-file-description locks) behind the seam.
#pragma once

#include "engine/storage/FileSystem.h"

namespace tessel {

class TPosixFileSystem : public TFileSystem {
 public:
  int OpenFile(const std::string& path, const TFileOpenOptions& options, std::unique_ptr<TFile>& file) override;
  int CreateFile(const std::string& path, const TFileOpenOptions& options, std::unique_ptr<TFile>& file) override;
  int DeleteFile(const std::string& path) override;
  int RenameFile(const std::string& path, const std::string& newPath) override;
  int Exists(const std::string& path) override;
  int ListDirectory(const std::string& directory, std::vector<std::string>& names) override;
  bool IsWritable(const std::string& path) override;
  bool IsDirectory(const std::string& path) override;
  int CanonicalPath(const std::string& path, std::string& canonical) override;
};

}  // namespace tessel
