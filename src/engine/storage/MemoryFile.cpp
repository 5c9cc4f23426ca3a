#include "engine/storage/MemoryFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "engine/base/TesselError.h"
#include "platform/core/PosixFile.h"

namespace tessel {
namespace {

std::string Trim(const std::string& s) {
  size_t first = 0;
  size_t last = s.size();
  while (first < last && static_cast<unsigned char>(s[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(s[last - 1]) <= ' ') --last;
  return s.substr(first, last - first);
}

}  // namespace

// ---- TMemoryFile ----

TMemoryFile::TMemoryFile(std::string name) : name_(std::move(name)) {}

std::string TMemoryFile::Name() const {
  std::lock_guard lock(mutex_);
  return name_;
}

int64_t TMemoryFile::Size() const {
  std::lock_guard lock(mutex_);
  return size_;
}

size_t TMemoryFile::Capacity() const {
  std::lock_guard lock(mutex_);
  return data_.size();
}

int TMemoryFile::OpenCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(handles_.size());
}

bool TMemoryFile::DeleteOnClose() const {
  std::lock_guard lock(mutex_);
  return deleteOnClose_;
}

TMemoryFile::Handle* TMemoryFile::FindHandle(int id) {
  for (Handle& h : handles_)
    if (h.Id == id) return &h;
  return nullptr;
}

int TMemoryFile::AddHandle() {
  handles_.push_back(Handle{nextHandle_, 0});
  return nextHandle_++;
}

void TMemoryFile::RemoveHandle(int id) {
  std::erase_if(handles_, [id](const Handle& h) { return h.Id == id; });
  std::erase_if(locks_, [id](const LockedRange& r) { return r.Owner == id; });
  if (handles_.empty()) exclusive_ = false;
}

void TMemoryFile::Empty() {
  data_.clear();
  data_.shrink_to_fit();
  size_ = 0;
  locks_.clear();
}

// Makes the logical size at least end. The buffer grows in whole steps and
// the bytes between the old and the new size are zeroed, so data cut off
// earlier never shows through again.
void TMemoryFile::GrowTo(int64_t end) {
  if (end <= size_) return;
  const auto needed = static_cast<uint64_t>(end);
  if (needed > data_.size()) {
    const uint64_t steps = (needed + kGrowStep - 1) / kGrowStep;
    if (steps > std::numeric_limits<size_t>::max() / kGrowStep) throw std::bad_alloc();
    data_.resize(static_cast<size_t>(steps * kGrowStep));
  }
  std::fill(data_.begin() + size_, data_.begin() + end, uint8_t{0});
  size_ = end;
}

uint16_t TMemoryFile::Seek(int handle, int64_t offset, SeekOrigin origin, int64_t& position) {
  std::lock_guard lock(mutex_);
  Handle* h = FindHandle(handle);
  if (h == nullptr) return ec::InvalidHandle;
  int64_t base = 0;
  switch (origin) {
    case SeekOrigin::Begin: base = 0; break;
    case SeekOrigin::Current: base = h->Position; break;
    case SeekOrigin::End: base = size_; break;
  }
  if ((offset < 0 && base + offset < 0) ||
      (offset > 0 && base > std::numeric_limits<int64_t>::max() - offset)) {
    return ec::UnknownOsError;
  }
  h->Position = base + offset;
  position = h->Position;
  return ec::OK;
}

uint16_t TMemoryFile::ReadLocked(int64_t position, void* buffer, size_t count, size_t& done) {
  done = 0;
  if (position < 0) return ec::UnknownOsError;
  if (position < size_) {
    done = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size_ - position));
    if (done > 0) std::memcpy(buffer, data_.data() + position, done);
  }
  return ec::OK;
}

uint16_t TMemoryFile::WriteLocked(int64_t position, const void* buffer, size_t count) {
  if (position < 0) return ec::UnknownOsError;
  try {
    if (count == 0) {
      SetSizeLocked(position);
      return ec::OK;
    }
    if (count > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() - position)) return ec::OutOfMemory;
    const int64_t end = position + static_cast<int64_t>(count);
    GrowTo(end);
    std::memcpy(data_.data() + position, buffer, count);
    return ec::OK;
  } catch (const std::bad_alloc&) {
    return ec::OutOfMemory;
  } catch (const std::length_error&) {
    return ec::OutOfMemory;
  }
}

void TMemoryFile::SetSizeLocked(int64_t size) {
  if (size < size_) {
    size_ = size;
  } else {
    GrowTo(size);
  }
}

uint16_t TMemoryFile::Read(int handle, void* buffer, size_t count, size_t& done) {
  std::lock_guard lock(mutex_);
  done = 0;
  Handle* h = FindHandle(handle);
  if (h == nullptr) return ec::InvalidHandle;
  const uint16_t code = ReadLocked(h->Position, buffer, count, done);
  h->Position += static_cast<int64_t>(done);
  return code;
}

uint16_t TMemoryFile::Write(int handle, const void* buffer, size_t count) {
  std::lock_guard lock(mutex_);
  Handle* h = FindHandle(handle);
  if (h == nullptr) return ec::InvalidHandle;
  const uint16_t code = WriteLocked(h->Position, buffer, count);
  if (code == ec::OK) h->Position += static_cast<int64_t>(count);
  return code;
}

uint16_t TMemoryFile::ReadAt(int handle, int64_t position, void* buffer, size_t count, size_t& done) {
  std::lock_guard lock(mutex_);
  done = 0;
  if (FindHandle(handle) == nullptr) return ec::InvalidHandle;
  return ReadLocked(position, buffer, count, done);
}

uint16_t TMemoryFile::WriteAt(int handle, int64_t position, const void* buffer, size_t count) {
  std::lock_guard lock(mutex_);
  if (FindHandle(handle) == nullptr) return ec::InvalidHandle;
  return WriteLocked(position, buffer, count);
}

uint16_t TMemoryFile::SetSize(int handle, int64_t size) {
  if (size < 0) return ec::UnknownOsError;
  std::lock_guard lock(mutex_);
  if (FindHandle(handle) == nullptr) return ec::InvalidHandle;
  try {
    SetSizeLocked(size);
  } catch (const std::bad_alloc&) {
    return ec::OutOfMemory;
  } catch (const std::length_error&) {
    return ec::OutOfMemory;
  }
  return ec::OK;
}

bool TMemoryFile::Lock(int handle, int64_t start, int64_t length) {
  if (start < 0 || length <= 0 || start > std::numeric_limits<int64_t>::max() - length)
    return false;
  std::lock_guard lock(mutex_);
  if (FindHandle(handle) == nullptr) return false;
  const int64_t end = start + length;
  for (const LockedRange& r : locks_)
    if (start < r.End && r.Start < end) return false;
  locks_.push_back(LockedRange{start, end, length, handle});
  return true;
}

bool TMemoryFile::Unlock(int handle, int64_t start, int64_t length) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(locks_.begin(), locks_.end(), [&](const LockedRange& r) {
    return r.Start == start && r.Length == length && r.Owner == handle;
  });
  if (it == locks_.end()) return false;
  locks_.erase(it);
  return true;
}

// ---- TMemoryFileList ----

TMemoryFileList& TMemoryFileList::Instance() {
  static TMemoryFileList list;
  return list;
}

std::string TMemoryFileList::FileNamePart(const std::string& path) {
  const std::string trimmed = Trim(path);
  const size_t slash = trimmed.rfind('/');
  return Trim(slash == std::string::npos ? trimmed : trimmed.substr(slash + 1));
}

std::shared_ptr<TMemoryFile> TMemoryFileList::FindLocked(const std::string& path) const {
  const std::string name = FileNamePart(path);
  for (const auto& file : files_)
    if (platform::EqualsIgnoreAsciiCase(file->name_, name)) return file;
  return nullptr;
}

uint16_t TMemoryFileList::Create(const std::string& path, std::shared_ptr<TMemoryFile>& file,
                                 int& handle) {
  std::lock_guard listLock(mutex_);
  std::shared_ptr<TMemoryFile> found = FindLocked(path);
  if (found == nullptr) {
    found = std::make_shared<TMemoryFile>(FileNamePart(path));
    files_.push_back(found);
  }
  std::lock_guard fileLock(found->mutex_);
  if (!found->handles_.empty()) return ec::AccessDenied;
  found->Empty();
  found->exclusive_ = true;
  found->deleteOnClose_ = false;
  handle = found->AddHandle();
  file = found;
  return ec::OK;
}

uint16_t TMemoryFileList::Open(const std::string& path, bool exclusive, bool deleteOnClose,
                               std::shared_ptr<TMemoryFile>& file, int& handle) {
  std::lock_guard listLock(mutex_);
  std::shared_ptr<TMemoryFile> found = FindLocked(path);
  if (found == nullptr) return ec::InvalidPath;
  std::lock_guard fileLock(found->mutex_);
  if (!found->handles_.empty() && (found->exclusive_ || exclusive)) return ec::AccessDenied;
  if (found->handles_.empty()) found->exclusive_ = exclusive;
  if (deleteOnClose) found->deleteOnClose_ = true;
  handle = found->AddHandle();
  file = found;
  return ec::OK;
}

void TMemoryFileList::Close(const std::shared_ptr<TMemoryFile>& file, int handle) {
  if (file == nullptr) return;
  std::lock_guard listLock(mutex_);
  bool remove = false;
  {
    std::lock_guard fileLock(file->mutex_);
    file->RemoveHandle(handle);
    remove = file->handles_.empty() && file->deleteOnClose_;
  }
  if (remove) std::erase(files_, file);
}

bool TMemoryFileList::Exists(const std::string& path) const {
  std::lock_guard listLock(mutex_);
  return FindLocked(path) != nullptr;
}

uint16_t TMemoryFileList::Delete(const std::string& path) {
  std::lock_guard listLock(mutex_);
  std::shared_ptr<TMemoryFile> found = FindLocked(path);
  if (found == nullptr) return ec::InvalidPath;
  if (found->OpenCount() > 0) return ec::AccessDenied;
  std::erase(files_, found);
  return ec::OK;
}

uint16_t TMemoryFileList::Rename(const std::string& path, const std::string& newPath) {
  std::lock_guard listLock(mutex_);
  std::shared_ptr<TMemoryFile> found = FindLocked(path);
  if (found == nullptr) return ec::InvalidPath;
  std::shared_ptr<TMemoryFile> target = FindLocked(newPath);
  if (target != nullptr && target != found) return ec::UnknownOsError;
  std::lock_guard fileLock(found->mutex_);
  if (!found->handles_.empty()) return ec::AccessDenied;
  found->name_ = FileNamePart(newPath);
  return ec::OK;
}

std::vector<std::string> TMemoryFileList::Names() const {
  std::lock_guard listLock(mutex_);
  std::vector<std::string> names;
  for (const auto& file : files_) names.push_back(file->Name());
  return names;
}

// ---- TMemoryFileSystem ----

int MemoryStoreErrno(uint16_t code) {
  switch (code) {
    case ec::OK:
      return 0;
    case ec::InvalidPath:
      return ENOENT;
    case ec::AccessDenied:
      return platform::kErrSharingViolation;
    case ec::InvalidHandle:
      return EBADF;
    case ec::OutOfMemory:
      return ENOMEM;
    default:
      return EIO;
  }
}

namespace {

// One open handle of a store's file.
class TMemoryHandle : public TFile {
 public:
  TMemoryHandle(TMemoryFileList& store, std::shared_ptr<TMemoryFile> file, int handle)
      : store_(store), file_(std::move(file)), handle_(handle) {}
  ~TMemoryHandle() override { Close(); }

  int ReadAt(int64_t position, void* buffer, size_t count, size_t& done) override {
    done = 0;
    if (file_ == nullptr) return EBADF;
    return MemoryStoreErrno(file_->ReadAt(handle_, position, buffer, count, done));
  }
  int WriteAt(int64_t position, const void* buffer, size_t count, size_t& done) override {
    done = 0;
    if (file_ == nullptr) return EBADF;
    const int err = MemoryStoreErrno(file_->WriteAt(handle_, position, buffer, count));
    if (err == 0) done = count;
    return err;
  }
  int Truncate(int64_t size) override {
    if (file_ == nullptr) return EBADF;
    return MemoryStoreErrno(file_->SetSize(handle_, size));
  }
  int Size(int64_t& size) override {
    size = 0;
    if (file_ == nullptr) return EBADF;
    size = file_->Size();
    return 0;
  }
  int Sync() override { return file_ == nullptr ? EBADF : 0; }
  void DeferSync(bool) override {}
  int SyncDeferred() override { return file_ == nullptr ? EBADF : 0; }
  bool Lock(int64_t position, int64_t length) override {
    return file_ != nullptr && file_->Lock(handle_, position, length);
  }
  bool Unlock(int64_t position, int64_t length) override {
    return file_ != nullptr && file_->Unlock(handle_, position, length);
  }
  int Close() override {
    if (file_ == nullptr) return 0;
    store_.Close(file_, handle_);
    file_.reset();
    return 0;
  }

 private:
  TMemoryFileList& store_;
  std::shared_ptr<TMemoryFile> file_;
  int handle_;
};

}  // namespace

int TMemoryFileSystem::OpenFile(const std::string& path, const TFileOpenOptions& options,
                                std::unique_ptr<TFile>& file) {
  std::shared_ptr<TMemoryFile> found;
  int handle = 0;
  if (int err = MemoryStoreErrno(store_.Open(path, options.Exclusive, options.DeleteOnClose, found, handle)))
    return err;
  file = std::make_unique<TMemoryHandle>(store_, std::move(found), handle);
  return 0;
}

int TMemoryFileSystem::CreateFile(const std::string& path, const TFileOpenOptions&, std::unique_ptr<TFile>& file) {
  std::shared_ptr<TMemoryFile> made;
  int handle = 0;
  if (int err = MemoryStoreErrno(store_.Create(path, made, handle))) return err;
  file = std::make_unique<TMemoryHandle>(store_, std::move(made), handle);
  return 0;
}

int TMemoryFileSystem::DeleteFile(const std::string& path) { return MemoryStoreErrno(store_.Delete(path)); }

int TMemoryFileSystem::RenameFile(const std::string& path, const std::string& newPath) {
  const uint16_t code = store_.Rename(path, newPath);
  return code == ec::UnknownOsError ? EEXIST : MemoryStoreErrno(code);
}

int TMemoryFileSystem::Exists(const std::string& path) { return store_.Exists(path) ? 0 : ENOENT; }

int TMemoryFileSystem::ListDirectory(const std::string&, std::vector<std::string>& names) {
  names = store_.Names();
  return 0;
}

bool TMemoryFileSystem::IsWritable(const std::string&) { return true; }

bool TMemoryFileSystem::IsDirectory(const std::string&) { return true; }

int TMemoryFileSystem::CanonicalPath(const std::string& path, std::string& canonical) {
  canonical = path;
  return 0;
}

}  // namespace tessel
