#include "engine/storage/PosixFileSystem.h"

#include "platform/core/PosixFile.h"

namespace tessel {
namespace {

platform::FileOpenOptions PlatformOptions(const TFileOpenOptions& options) {
  platform::FileOpenOptions result;
  result.Write = options.Write;
  result.Exclusive = options.Exclusive;
  result.WriteThrough = options.WriteThrough;
  result.Sequential = options.Sequential;
  result.DeleteOnClose = options.DeleteOnClose;
  return result;
}

class TPosixHandle : public TFile {
 public:
  platform::PosixFile File;

  int ReadAt(int64_t position, void* buffer, size_t count, size_t& done) override {
    return File.ReadAt(position, buffer, count, done);
  }
  int WriteAt(int64_t position, const void* buffer, size_t count, size_t& done) override {
    return File.WriteAt(position, buffer, count, done);
  }
  int Truncate(int64_t size) override { return File.Truncate(size); }
  int Size(int64_t& size) override { return File.Size(size); }
  int Sync() override { return File.Sync(); }
  void DeferSync(bool on) override { File.DeferSync(on); }
  int SyncDeferred() override { return File.SyncDeferred(); }
  bool Lock(int64_t position, int64_t length) override { return File.Lock(position, length); }
  bool Unlock(int64_t position, int64_t length) override { return File.Unlock(position, length); }
  int Close() override { return File.Close(); }
};

}  // namespace

int TPosixFileSystem::OpenFile(const std::string& path, const TFileOpenOptions& options,
                               std::unique_ptr<TFile>& file) {
  auto handle = std::make_unique<TPosixHandle>();
  if (int err = handle->File.OpenExactName(path, PlatformOptions(options))) return err;
  file = std::move(handle);
  return 0;
}

int TPosixFileSystem::CreateFile(const std::string& path, const TFileOpenOptions& options,
                                 std::unique_ptr<TFile>& file) {
  auto handle = std::make_unique<TPosixHandle>();
  if (int err = handle->File.Create(path, PlatformOptions(options))) return err;
  file = std::move(handle);
  return 0;
}

int TPosixFileSystem::DeleteFile(const std::string& path) { return platform::DeleteFile(path); }

int TPosixFileSystem::RenameFile(const std::string& path, const std::string& newPath) {
  return platform::RenameFile(path, newPath);
}

int TPosixFileSystem::Exists(const std::string& path) { return platform::EntryExists(path); }

int TPosixFileSystem::ListDirectory(const std::string& directory, std::vector<std::string>& names) {
  return platform::ListDirectory(directory, names);
}

bool TPosixFileSystem::IsWritable(const std::string& path) { return platform::IsWritable(path); }

bool TPosixFileSystem::IsDirectory(const std::string& path) { return platform::IsDirectory(path); }

int TPosixFileSystem::CanonicalPath(const std::string& path, std::string& canonical) {
  return platform::CanonicalPath(path, canonical);
}

}  // namespace tessel
