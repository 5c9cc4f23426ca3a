#include "engine/storage/FileHandler.h"

#include <sys/stat.h>

#include <cerrno>
#include <limits>
#include <vector>

#include "engine/base/TesselError.h"
#include "engine/storage/MemoryFile.h"
#include "platform/core/PosixFile.h"

namespace tessel {
namespace {

// Whole files are copied in pieces of this size.
constexpr size_t kCopyPiece = 65535;

}  // namespace

uint16_t MapOsError(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return ec::InvalidPath;
    case EMFILE:
    case ENFILE:
      return ec::TooManyFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EBUSY:
    case ETXTBSY:
    case platform::kErrSharingViolation:
    case platform::kErrAmbiguousName:
      return ec::AccessDenied;
    case EBADF:
      return ec::InvalidHandle;
    case ENOMEM:
      return ec::OutOfMemory;
    case ENXIO:
    case ENODEV:
      return ec::InvalidDevice;
    case EXDEV:
      return ec::TableMoved;
    default:
      return ec::UnknownOsError;
  }
}

TFileHandler::TFileHandler() = default;

TFileHandler::~TFileHandler() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; the handle is released all the same.
  }
}

void TFileHandler::SetFileName(std::string name) { fileName_ = std::move(name); }

void TFileHandler::RaiseOsError(int err) const {
  RaiseEngineError(MapOsError(err), ErrorName(), {}, {}, {}, err);
}

void TFileHandler::RaiseCode(uint16_t code) const { RaiseEngineError(code, ErrorName()); }

void TFileHandler::RequireOpen() const {
  if (!open_) RaiseOsError(EBADF);
}

void TFileHandler::Open() {
  Close();
  openedReadOnly_ = false;
  position_ = 0;

  if (InMemory) {
    uint16_t code =
        TMemoryFileList::Instance().Open(fileName_, Exclusive, Temporary, memFile_, memHandle_);
    if (code != ec::OK) RaiseCode(code);
    open_ = true;
    return;
  }

  std::string path;
  if (int err = platform::ResolveFileName(fileName_, path)) RaiseOsError(err);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) RaiseOsError(errno);
  const bool writable = platform::IsWritable(path);
  if (!writable) {
    ReadOnly = true;
    openedReadOnly_ = true;
  }

  platform::FileOpenOptions options;
  // An exclusive open needs write access for its share lock, so a read-only
  // table opened exclusively still gets a read-write handle when the file
  // allows it; Write refuses on a read-only handler all the same.
  options.Write = writable && (!ReadOnly || Exclusive);
  options.Exclusive = Exclusive;
  options.WriteThrough = WriteThrough;
  options.Sequential = Sequential;
  options.DeleteOnClose = Temporary;
  auto file = std::make_unique<platform::PosixFile>();
  if (int err = file->Open(path, options)) RaiseOsError(err);
  file_ = std::move(file);
  open_ = true;
}

void TFileHandler::Close() {
  if (!open_) return;
  open_ = false;
  position_ = 0;
  if (memFile_ != nullptr) {
    TMemoryFileList::Instance().Close(memFile_, memHandle_);
    memFile_.reset();
    memHandle_ = 0;
  }
  if (file_ != nullptr) {
    int err = file_->Close();
    file_.reset();
    if (err != 0) RaiseOsError(err);
  }
}

void TFileHandler::CreateEmpty() {
  Close();
  openedReadOnly_ = false;
  position_ = 0;
  ReadOnly = false;

  if (InMemory) {
    uint16_t code = TMemoryFileList::Instance().Create(fileName_, memFile_, memHandle_);
    if (code != ec::OK) RaiseCode(code);
    open_ = true;
    return;
  }

  platform::FileOpenOptions options;
  options.Write = true;
  options.Exclusive = true;
  options.WriteThrough = WriteThrough;
  options.Sequential = Sequential;
  auto file = std::make_unique<platform::PosixFile>();
  if (int err = file->Create(fileName_, options)) RaiseOsError(err);
  file_ = std::move(file);
  open_ = true;
}

void TFileHandler::Delete() {
  Close();
  if (InMemory) {
    uint16_t code = TMemoryFileList::Instance().Delete(fileName_);
    if (code != ec::OK) RaiseCode(code);
    return;
  }
  if (int err = platform::DeleteFile(fileName_)) RaiseOsError(err);
}

void TFileHandler::Rename(const std::string& newName) {
  Close();
  if (InMemory) {
    uint16_t code = TMemoryFileList::Instance().Rename(fileName_, newName);
    if (code != ec::OK) RaiseCode(code);
  } else if (int err = platform::RenameFile(fileName_, newName)) {
    RaiseOsError(err);
  }
  fileName_ = newName;
}

void TFileHandler::CopyToFile(const std::string& target) {
  const bool wasOpen = open_;
  if (!wasOpen) Open();
  // Leave this handler as it was found, also when the copy fails.
  struct Restore {
    TFileHandler& self;
    bool wasOpen;
    int64_t position;
    ~Restore() {
      try {
        if (wasOpen) {
          self.Seek(position);
        } else {
          self.Close();
        }
      } catch (...) {
      }
    }
  } restore{*this, wasOpen, wasOpen ? Seek(0, SeekOrigin::Current) : 0};

  TFileHandler out;
  out.SetFileName(target);
  out.WriteThrough = WriteThrough;
  out.Sequential = true;
  out.CreateEmpty();
  std::vector<uint8_t> piece(kCopyPiece);
  int64_t position = 0;
  for (;;) {
    size_t n = ReadAt(position, piece.data(), piece.size(), true);
    if (n == 0) break;
    out.Write(piece.data(), n);
    position += static_cast<int64_t>(n);
  }
  out.Close();
}

void TFileHandler::CopyFromFile(const std::string& source) {
  TFileHandler in;
  in.SetFileName(source);
  in.ReadOnly = true;
  in.Sequential = true;
  in.Open();

  const bool wasOpen = open_;
  if (!wasOpen) CreateEmpty();
  struct CloseIfOpened {
    TFileHandler& self;
    bool wasOpen;
    ~CloseIfOpened() {
      try {
        if (!wasOpen) self.Close();
      } catch (...) {
      }
    }
  } closer{*this, wasOpen};

  Seek(0);
  std::vector<uint8_t> piece(kCopyPiece);
  for (;;) {
    size_t n = in.Read(piece.data(), piece.size(), true);
    if (n == 0) break;
    Write(piece.data(), n);
  }
  Write(nullptr, 0);  // cut whatever lay beyond the copied content
  Seek(0);
}

bool TFileHandler::Exists() const {
  if (InMemory) return TMemoryFileList::Instance().Exists(fileName_);
  return platform::FileExists(fileName_);
}

int64_t TFileHandler::Seek(int64_t position, SeekOrigin origin) {
  RequireOpen();
  if (memFile_ != nullptr) {
    int64_t result = 0;
    uint16_t code = memFile_->Seek(memHandle_, position, origin, result);
    if (code != ec::OK) RaiseCode(code);
    return result;
  }
  int64_t base = 0;
  switch (origin) {
    case SeekOrigin::Begin: base = 0; break;
    case SeekOrigin::Current: base = position_; break;
    case SeekOrigin::End:
      if (int err = file_->Size(base)) RaiseOsError(err);
      break;
  }
  if ((position < 0 && base + position < 0) ||
      (position > 0 && base > std::numeric_limits<int64_t>::max() - position)) {
    RaiseOsError(EINVAL);
  }
  position_ = base + position;
  return position_;
}

int64_t TFileHandler::FileLength() { return Seek(0, SeekOrigin::End); }

size_t TFileHandler::Read(void* buffer, size_t count, bool allowShort) {
  RequireOpen();
  size_t done = 0;
  if (count > 0) ++readCalls_;
  if (memFile_ != nullptr) {
    uint16_t code = memFile_->Read(memHandle_, buffer, count, done);
    if (code != ec::OK) RaiseCode(code);
  } else {
    if (int err = file_->ReadAt(position_, buffer, count, done)) RaiseOsError(err);
    position_ += static_cast<int64_t>(done);
  }
  if (done < count && !allowShort) RaiseCode(ec::ReadError);
  return done;
}

void TFileHandler::Write(const void* buffer, size_t count) {
  RequireOpen();
  if (ReadOnly) RaiseCode(ec::AccessDenied);
  if (count > 0) ++writeCalls_;
  if (memFile_ != nullptr) {
    uint16_t code = memFile_->Write(memHandle_, buffer, count);
    if (code != ec::OK) RaiseCode(code);
    return;
  }
  if (count == 0) {
    if (int err = file_->Truncate(position_)) RaiseOsError(err);
    return;
  }
  size_t done = 0;
  if (int err = file_->WriteAt(position_, buffer, count, done)) RaiseOsError(err);
  position_ += static_cast<int64_t>(done);
  if (done < count) RaiseCode(ec::WriteError);
}

size_t TFileHandler::ReadAt(int64_t position, void* buffer, size_t count, bool allowShort) {
  Seek(position);
  return Read(buffer, count, allowShort);
}

void TFileHandler::WriteAt(int64_t position, const void* buffer, size_t count) {
  Seek(position);
  Write(buffer, count);
}

bool TFileHandler::Lock(int64_t position, int64_t length) {
  if (!open_) return false;
  if (memFile_ != nullptr) return memFile_->Lock(memHandle_, position, length);
  return file_->Lock(position, length);
}

bool TFileHandler::Unlock(int64_t position, int64_t length) {
  if (!open_) return false;
  if (memFile_ != nullptr) return memFile_->Unlock(memHandle_, position, length);
  return file_->Unlock(position, length);
}

void TFileHandler::Flush() {
  RequireOpen();
  if (memFile_ != nullptr) return;
  if (int err = file_->Sync()) RaiseOsError(err);
}

void TFileHandler::DeferSync(bool on) {
  if (file_ != nullptr) file_->DeferSync(on);
}

void TFileHandler::SyncDeferred() {
  if (file_ == nullptr) return;
  if (int err = file_->SyncDeferred()) RaiseOsError(err);
}

}  // namespace tessel
