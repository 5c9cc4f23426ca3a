#include "engine/storage/DataDirectory.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <vector>

#include "engine/base/Names.h"
#include "engine/base/TesselError.h"

namespace tessel {

namespace {

constexpr size_t kMaxPasswordLength = 255;

std::string WithTrailingSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

// The canonical absolute form of a directory path (the platform's network
// form); a path the file system cannot resolve stays as it is.
std::string NetworkForm(TFileSystem& files, const std::string& path) {
  std::string resolved;
  if (files.CanonicalPath(path, resolved) != 0) return path;
  return WithTrailingSlash(resolved);
}

std::string CurrentDirectory() {
  std::vector<char> buffer(PATH_MAX);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return "./";
    buffer.resize(buffer.size() * 2);
  }
  return WithTrailingSlash(TrimBlanks(buffer.data()));
}

std::unique_ptr<TDataSession>& ProcessSessionSlot() {
  static std::unique_ptr<TDataSession> session;
  return session;
}

std::mutex& ProcessSessionMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

// ---------------------------------------------------------------------------
// TDataSession

TDataSession::TDataSession() : files_(OperatingSystemFiles()), workingDir_(CurrentDirectory()) {}

void TDataSession::SetFileSystem(std::shared_ptr<TFileSystem> files) {
  std::lock_guard lock(mutex_);
  files_ = files != nullptr ? std::move(files) : OperatingSystemFiles();
}

std::shared_ptr<TFileSystem> TDataSession::FileSystem() const {
  std::lock_guard lock(mutex_);
  return files_;
}

TDataSession::~TDataSession() = default;

std::string TDataSession::PrivateDir() const {
  std::lock_guard lock(mutex_);
  return privateDir_.empty() ? workingDir_ : privateDir_;
}

bool TDataSession::HasPrivateDir() const {
  std::lock_guard lock(mutex_);
  return !privateDir_.empty();
}

void TDataSession::SetPrivateDir(const std::string& dir) {
  const std::string trimmed = TrimBlanks(dir);
  if (trimmed.empty()) {
    std::lock_guard lock(mutex_);
    privateDir_.clear();
    return;
  }
  const std::string path = WithTrailingSlash(trimmed);
  if (!FileSystem()->IsDirectory(path)) RaiseEngineError(ec::InvalidPath, path);
  std::lock_guard lock(mutex_);
  privateDir_ = path;
}

void TDataSession::AddPassword(const std::string& password) {
  const std::string text = password.substr(0, kMaxPasswordLength);
  if (text.empty()) return;
  std::lock_guard lock(mutex_);
  if (std::find(passwords_.begin(), passwords_.end(), text) == passwords_.end()) passwords_.push_back(text);
}

void TDataSession::RemovePassword(const std::string& password) {
  const std::string text = password.substr(0, kMaxPasswordLength);
  std::lock_guard lock(mutex_);
  auto it = std::find(passwords_.begin(), passwords_.end(), text);
  if (it != passwords_.end()) passwords_.erase(it);
}

void TDataSession::RemoveAllPasswords() {
  std::lock_guard lock(mutex_);
  passwords_.clear();
}

bool TDataSession::HasPassword(const std::string& password) const {
  std::lock_guard lock(mutex_);
  return std::find(passwords_.begin(), passwords_.end(), password) != passwords_.end();
}

std::vector<std::string> TDataSession::Passwords() const {
  std::lock_guard lock(mutex_);
  return passwords_;
}

std::string TDataSession::ResolveDirectory(const std::string& path) const {
  // A path of blanks counts as empty: it must not become the root directory.
  const std::string trimmed = TrimBlanks(path);
  const std::shared_ptr<TFileSystem> files = FileSystem();
  if (trimmed.empty()) return NetworkForm(*files, workingDir_);
  return TrimBlanks(NetworkForm(*files, WithTrailingSlash(trimmed)));
}

TDataDirectory& TDataSession::OpenDirectory(const std::string& alias, const std::string& path) {
  const std::string resolved = ResolveDirectory(path);
  std::lock_guard lock(mutex_);
  // Resolved paths are canonical, so they are compared exactly: two paths
  // that differ only in letter case name two different directories here.
  for (auto& d : directories_) {
    if (d->resolvedPath_ == resolved) {
      ++d->useCount_;
      return *d;
    }
  }
  auto directory = std::make_unique<TDataDirectory>(*this, alias, path, resolved);
  directory->useCount_ = 1;
  directories_.push_back(std::move(directory));
  return *directories_.back();
}

void TDataSession::RetainDirectory(TDataDirectory& directory) {
  std::lock_guard lock(mutex_);
  for (auto& d : directories_) {
    if (d.get() == &directory) {
      ++d->useCount_;
      return;
    }
  }
  RaiseEngineError(ec::AccessDenied, directory.ResolvedPath());
}

uint16_t TDataSession::ReleaseDirectory(TDataDirectory* directory) {
  std::unique_ptr<TDataDirectory> freed;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(directories_.begin(), directories_.end(),
                           [&](const auto& d) { return d.get() == directory; });
    if (it == directories_.end() || directory == nullptr) return ec::AccessDenied;
    if (--(*it)->useCount_ > 0) return ec::OK;
    freed = std::move(*it);
    directories_.erase(it);
  }
  return ec::OK;  // freed goes out of scope outside the lock
}

int TDataSession::DirectoryCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(directories_.size());
}

TDataDirectory* TDataSession::FindDirectory(const std::string& path) const {
  const std::string resolved = ResolveDirectory(path);
  std::lock_guard lock(mutex_);
  for (const auto& d : directories_)
    if (d->resolvedPath_ == resolved) return d.get();
  return nullptr;
}

TDataSession& ProcessDataSession() {
  std::lock_guard lock(ProcessSessionMutex());
  auto& slot = ProcessSessionSlot();
  if (!slot) slot = std::make_unique<TDataSession>();
  return *slot;
}

void FreeProcessDataSession() {
  std::unique_ptr<TDataSession> freed;
  std::lock_guard lock(ProcessSessionMutex());
  freed = std::move(ProcessSessionSlot());
}

bool ProcessDataSessionExists() {
  std::lock_guard lock(ProcessSessionMutex());
  return ProcessSessionSlot() != nullptr;
}

// ---------------------------------------------------------------------------
// TDataDirectory

TDataDirectory::TDataDirectory(TDataSession& session, std::string alias, std::string path,
                               std::string resolvedPath)
    : session_(session), alias_(std::move(alias)), path_(std::move(path)), resolvedPath_(std::move(resolvedPath)) {}

TDataDirectory::~TDataDirectory() = default;

std::string TDataDirectory::KeyOf(const std::string& tableName) {
  // Names that form the same data file name the same table.
  std::string key = TDataTable::FormFileName(std::string(), tableName, ".DAT");
  for (char& c : key)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return key;
}

std::vector<TDataDirectory::Entry>::iterator TDataDirectory::Find(const std::string& key, bool inMemory) {
  return std::find_if(tables_.begin(), tables_.end(),
                      [&](const Entry& e) { return e.inMemory == inMemory && e.key == key; });
}

std::vector<TDataDirectory::Entry>::const_iterator TDataDirectory::Find(const std::string& key,
                                                                        bool inMemory) const {
  return std::find_if(tables_.begin(), tables_.end(),
                      [&](const Entry& e) { return e.inMemory == inMemory && e.key == key; });
}

TDataTable& TDataDirectory::AcquireTable(const std::string& tableName, const TTableOpenOptions& options) {
  const std::string key = KeyOf(tableName);
  std::lock_guard lock(mutex_);
  auto it = Find(key, options.InMemory);
  if (it != tables_.end() && !it->table->IsOpen()) {
    // Closed behind the directory's back: start afresh.
    tables_.erase(it);
    it = tables_.end();
  }
  if (it != tables_.end()) {
    TDataTable& table = *it->table;
    if (table.IsExclusive() || options.Exclusive) RaiseEngineError(ec::AccessDenied, tableName);
    table.OpenFiles();
    return table;
  }
  auto table = std::make_unique<TDataTable>(TableDirectory(options.InMemory), tableName, session_.FileSystem());
  table->Settings.Exclusive = options.Exclusive;
  table->Settings.ReadOnly = options.ReadOnly;
  table->Settings.InMemory = options.InMemory;
  table->Settings.Temporary = options.Temporary;
  table->Settings.WriteThrough = session_.ForceBufferFlush;
  table->OpenFiles();
  tables_.push_back(Entry{key, options.InMemory, std::move(table)});
  return *tables_.back().table;
}

void TDataDirectory::ReleaseTable(TDataTable& table, bool flush) {
  std::unique_ptr<TDataTable> freed;
  std::exception_ptr failure;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(tables_.begin(), tables_.end(), [&](const Entry& e) { return e.table.get() == &table; });
    if (it == tables_.end()) RaiseEngineError(ec::AccessDenied, table.TableName());
    try {
      table.CloseFiles(flush);
    } catch (...) {
      // The files are closed all the same once the last use ends.
      failure = std::current_exception();
    }
    if (!it->table->IsOpen()) {
      freed = std::move(it->table);
      tables_.erase(it);
    }
  }
  if (failure) std::rethrow_exception(failure);
}

TDataTable* TDataDirectory::FindTable(const std::string& tableName, bool inMemory) const {
  std::lock_guard lock(mutex_);
  auto it = Find(KeyOf(tableName), inMemory);
  return it == tables_.end() ? nullptr : it->table.get();
}

int TDataDirectory::TableCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(tables_.size());
}

void TDataDirectory::DeleteTable(const std::string& tableName, bool inMemory) {
  std::lock_guard lock(mutex_);
  if (Find(KeyOf(tableName), inMemory) != tables_.end()) RaiseEngineError(ec::AccessDenied, tableName);
  TDataTable table(TableDirectory(inMemory), tableName, session_.FileSystem());
  table.Settings.InMemory = inMemory;
  table.DeleteFiles();
}

void TDataDirectory::RenameTable(const std::string& tableName, const std::string& newName, bool inMemory) {
  std::lock_guard lock(mutex_);
  if (Find(KeyOf(tableName), inMemory) != tables_.end()) RaiseEngineError(ec::AccessDenied, tableName);
  // The files of an open table must not be replaced under it either (the
  // file layer refuses to rename onto an existing file as well).
  if (Find(KeyOf(newName), inMemory) != tables_.end()) RaiseEngineError(ec::AccessDenied, newName);
  TDataTable table(TableDirectory(inMemory), tableName, session_.FileSystem());
  table.Settings.InMemory = inMemory;
  table.RenameFiles(newName);
}

// ---------------------------------------------------------------------------
// Password check

void CheckTablePassword(const TDataTable& table, const TDataSession& session, const TPasswordRequest& request) {
  if (!table.IsEncrypted()) return;
  const std::string password = table.Password();
  while (!session.HasPassword(password)) {
    if (!request || !request()) RaiseEngineError(ec::PasswordRequired, table.TableName());
  }
}

}  // namespace tessel
