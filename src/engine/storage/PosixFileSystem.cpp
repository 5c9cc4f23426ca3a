#include "engine/storage/PosixFileSystem.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

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

// A handle that keeps reading maps its file, read-only and shared (so it
// sees every write to the file at once, its own and other programs'), and
// from then on copies what it reads out of the mapping instead of asking the
// system for each read: a walk in key order reads a record slot and a BLOB
// block at scattered places for every record, each read costing more than
// its copy. Only bytes the file is known to hold are read there: the length
// when it was mapped, grown by what this handle read or wrote since, cut by
// its own cuts. Programs sharing a table only ever lengthen its files (cuts
// need the files for themselves), so those bytes stay; a read beyond them
// goes to the system as before and tells how far the file has grown.
class TPosixHandle : public TFile {
 public:
  platform::PosixFile File;

  ~TPosixHandle() override { Unmap(); }

  int ReadAt(int64_t position, void* buffer, size_t count, size_t& done) override {
    if (map_ != nullptr && position >= 0 && position <= known_ && count <= static_cast<size_t>(known_ - position)) {
      std::memcpy(buffer, map_ + position, count);
      done = count;
      return 0;
    }
    const int err = File.ReadAt(position, buffer, count, done);
    if (err == 0) Learn(position + static_cast<int64_t>(done));
    if (map_ == nullptr && !mapRefused_ && ++reads_ >= kReadsBeforeMapping) Map();
    return err;
  }
  int WriteAt(int64_t position, const void* buffer, size_t count, size_t& done) override {
    const int err = File.WriteAt(position, buffer, count, done);
    if (done > 0) Learn(position + static_cast<int64_t>(done));
    return err;
  }
  int Truncate(int64_t size) override {
    // Known no longer, whether the cut succeeds or not.
    known_ = std::min(known_, std::max<int64_t>(size, 0));
    return File.Truncate(size);
  }
  int Size(int64_t& size) override { return File.Size(size); }
  int Sync() override { return File.Sync(); }
  void DeferSync(bool on) override { File.DeferSync(on); }
  int SyncDeferred() override { return File.SyncDeferred(); }
  void StartSyncDeferred() override { File.StartSyncDeferred(); }
  bool Lock(int64_t position, int64_t length) override { return File.Lock(position, length); }
  bool Unlock(int64_t position, int64_t length) override { return File.Unlock(position, length); }
  int Close() override {
    Unmap();
    return File.Close();
  }

 private:
  // Reads through the system before a handle maps its file: a table opened
  // for a moment is never mapped.
  static constexpr uint64_t kReadsBeforeMapping = 64;
  // The mapping reaches beyond the file's end, so that it grows into it.
  static constexpr int64_t kMinimumReserve = int64_t{64} << 20;

  // The file holds at least end bytes.
  void Learn(int64_t end) {
    if (end <= known_) return;
    known_ = end;
    if (map_ != nullptr && known_ > reserve_) {
      // Grown beyond the mapping: mapped again, larger.
      Unmap();
      Map();
    }
  }

  void Map() {
    int64_t size = 0;
    if (File.Size(size) != 0 || size <= 0) {
      reads_ = 0;  // tried again after as many reads
      return;
    }
    const int64_t page = ::sysconf(_SC_PAGESIZE);
    int64_t reserve = std::max(kMinimumReserve, size * 2);
    reserve = (reserve + page - 1) / page * page;
    void* p = ::mmap(nullptr, static_cast<size_t>(reserve), PROT_READ, MAP_SHARED, File.Descriptor(), 0);
    if (p == MAP_FAILED) {
      mapRefused_ = true;  // reads go through the system
      return;
    }
    map_ = static_cast<const uint8_t*>(p);
    reserve_ = reserve;
    known_ = std::max(known_, size);
  }

  void Unmap() {
    if (map_ != nullptr) ::munmap(const_cast<uint8_t*>(map_), static_cast<size_t>(reserve_));
    map_ = nullptr;
    reserve_ = 0;
  }

  const uint8_t* map_ = nullptr;
  int64_t reserve_ = 0;  // bytes mapped
  int64_t known_ = 0;    // bytes the file is known to hold
  uint64_t reads_ = 0;
  bool mapRefused_ = false;
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
