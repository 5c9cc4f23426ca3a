#include "engine/storage/FileHandler.h"

#include <cerrno>
#include <limits>
#include <vector>

#include "engine/base/TesselError.h"
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

TFileHandler::TFileHandler() : files_(OperatingSystemFiles().get()) {}

TFileHandler::~TFileHandler() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; the handle is released all the same.
  }
}

void TFileHandler::SetFileName(std::string name) { fileName_ = std::move(name); }

TFileSystem& TFileHandler::Files() const { return InMemory ? *ProcessMemoryFiles() : *files_; }

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

  TFileSystem& files = Files();
  TFileOpenOptions options;
  options.Exclusive = Exclusive;
  options.WriteThrough = WriteThrough;
  options.Sequential = Sequential;
  options.DeleteOnClose = Temporary;
  // An exclusive open needs write access for its share lock, so a read-only
  // table opened exclusively still gets a read-write handle when the file
  // allows it; Write refuses on a read-only handler all the same.
  const bool wantWrite = !ReadOnly || Exclusive;
  std::unique_ptr<TFile> file;

  // The exact name first; the lookup without regard to letter case (a
  // directory listing) only when no file has exactly that name.
  std::string path = fileName_;
  int err = ENOENT;
  if (!path.empty()) err = OpenAs(files, path, options, wantWrite, file);
  if (err == ENOENT) {
    if (int resolveErr = ResolveFileName(files, fileName_, path)) RaiseOsError(resolveErr);
    err = OpenAs(files, path, options, wantWrite, file);
  }
  if (err != 0) RaiseOsError(err);
  file_ = std::move(file);
  open_ = true;
}

int TFileHandler::OpenAs(TFileSystem& files, const std::string& path, TFileOpenOptions& options, bool wantWrite,
                         std::unique_ptr<TFile>& file) {
  const bool writable = files.IsWritable(path);
  options.Write = wantWrite && writable;
  const int err = files.OpenFile(path, options, file);
  if (err == 0 && !writable) {
    ReadOnly = true;
    openedReadOnly_ = true;
  }
  return err;
}

void TFileHandler::Close() {
  if (!open_) return;
  open_ = false;
  position_ = 0;
  std::unique_ptr<TFile> file = std::move(file_);
  if (int err = file->Close()) RaiseOsError(err);
}

void TFileHandler::CreateEmpty() {
  Close();
  openedReadOnly_ = false;
  position_ = 0;
  ReadOnly = false;

  TFileSystem& files = Files();
  // An existing file of the name in another letter case is the one
  // truncated; a new file gets exactly the name formed.
  std::string path;
  int err = ResolveFileName(files, fileName_, path);
  if (err == ENOENT) {
    path = fileName_;
  } else if (err != 0) {
    RaiseOsError(err);
  }
  TFileOpenOptions options;
  options.Write = true;
  options.Exclusive = true;
  options.WriteThrough = WriteThrough;
  options.Sequential = Sequential;
  std::unique_ptr<TFile> file;
  if (int createErr = files.CreateFile(path, options, file)) RaiseOsError(createErr);
  file_ = std::move(file);
  open_ = true;
}

void TFileHandler::Delete() {
  Close();
  TFileSystem& files = Files();
  std::string path;
  if (int err = ResolveFileName(files, fileName_, path)) RaiseOsError(err);
  if (int err = files.DeleteFile(path)) RaiseOsError(err);
}

void TFileHandler::Rename(const std::string& newName) {
  Close();
  TFileSystem& files = Files();
  std::string path;
  if (int err = ResolveFileName(files, fileName_, path)) RaiseOsError(err);
  if (int err = files.RenameFile(path, newName)) RaiseOsError(err);
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
  out.SetFileSystem(*files_);
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
  in.SetFileSystem(*files_);
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
  std::string path;
  return ResolveFileName(Files(), fileName_, path) == 0;
}

int64_t TFileHandler::Seek(int64_t position, SeekOrigin origin) {
  RequireOpen();
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
  if (int err = file_->ReadAt(position_, buffer, count, done)) RaiseOsError(err);
  position_ += static_cast<int64_t>(done);
  if (done < count && !allowShort) RaiseCode(ec::ReadError);
  return done;
}

void TFileHandler::Write(const void* buffer, size_t count) {
  RequireOpen();
  if (ReadOnly) RaiseCode(ec::AccessDenied);
  if (count == 0) {
    if (int err = file_->Truncate(position_)) RaiseOsError(err);
    return;
  }
  ++writeCalls_;
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
  return file_->Lock(position, length);
}

bool TFileHandler::Unlock(int64_t position, int64_t length) {
  if (!open_) return false;
  return file_->Unlock(position, length);
}

void TFileHandler::Flush() {
  RequireOpen();
  if (int err = file_->Sync()) RaiseOsError(err);
}

void TFileHandler::DeferSync(bool on) {
  if (file_ != nullptr) file_->DeferSync(on);
}

void TFileHandler::StartSyncDeferred() {
  if (file_ != nullptr) file_->StartSyncDeferred();
}

void TFileHandler::SyncDeferred() {
  if (file_ == nullptr) return;
  if (int err = file_->SyncDeferred()) RaiseOsError(err);
}

}  // namespace tessel
