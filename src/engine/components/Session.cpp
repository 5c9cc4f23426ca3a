#include "engine/components/Session.h"

#include <algorithm>
#include <exception>
#include <mutex>

#include "dataset/DataSetMessages.h"
#include "engine/components/Database.h"
#include "engine/components/SessionList.h"

namespace tessel {

namespace {

constexpr size_t kMaxPasswordLength = 255;

std::mutex& DialogMutex() {
  static std::mutex mutex;
  return mutex;
}

TPasswordDialogFunction& DialogSlot() {
  static TPasswordDialogFunction dialog;
  return dialog;
}

}  // namespace

// ---------------------------------------------------------------------------
// Components and owners

TComponentOwner::~TComponentOwner() {
  for (TTesselComponent* c : components_) c->owner_ = nullptr;
}

TTesselComponent::TTesselComponent(TComponentOwner* owner) : owner_(owner) {
  if (owner_ != nullptr) owner_->components_.push_back(this);
}

TTesselComponent::~TTesselComponent() {
  if (owner_ != nullptr) {
    auto& list = owner_->components_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

void TTesselComponent::SetName(const std::string& name) {
  if (name == name_) return;
  name_ = name;
  NameChanged();
}

void TTesselComponent::Loaded() {
  loading_ = false;
  AfterLoading();
}

TSessionBoundComponent::TSessionBoundComponent(TComponentOwner* owner) : TTesselComponent(owner) {
  if (owner == nullptr) return;
  for (TTesselComponent* c : owner->Components()) {
    auto* session = dynamic_cast<TTesselSession*>(c);
    if (session != nullptr && session->AutoSessionName()) {
      sessionName_ = session->SessionName();
      break;
    }
  }
}

// ---------------------------------------------------------------------------
// Password dialog registry

void SetPasswordDialog(TPasswordDialogFunction dialog) {
  std::lock_guard lock(DialogMutex());
  DialogSlot() = std::move(dialog);
}

TPasswordDialogFunction PasswordDialog() {
  std::lock_guard lock(DialogMutex());
  return DialogSlot();
}

// ---------------------------------------------------------------------------
// TTesselSession

TTesselSession::TTesselSession(TComponentOwner* owner) : TTesselSession(owner, Sessions()) {}

TTesselSession::TTesselSession(TComponentOwner* owner, TTesselSessionList& list)
    : TTesselComponent(owner), list_(list) {
  if (owner != nullptr) {
    for (TTesselComponent* c : owner->Components()) {
      auto* other = dynamic_cast<TTesselSession*>(c);
      if (other != nullptr && other != this && other->AutoSessionName())
        dataset::DatabaseError(msg::AutoSessionExists);
    }
  }
  list_.Add(this);
}

TTesselSession::~TTesselSession() {
  MarkDestroying();
  std::lock_guard lock(list_.Mutex());
  try {
    Deactivate();
  } catch (...) {
    // A destructor goes on: the session is gone either way.
  }
  while (!madeDatabases_.empty()) {
    std::unique_ptr<TTesselDatabase> database = std::move(madeDatabases_.back());
    madeDatabases_.pop_back();
    database.reset();
  }
  // The program's databases stay; they find a session by name again.
  for (TTesselDatabase* database : databases_) database->session_ = nullptr;
  databases_.clear();
  if (autoSessionName_) list_.FreeSessionNumber(sessionNumber_);
  list_.Remove(this);
}

bool TTesselSession::IsDefault() const { return &list_.DefaultSession() == this; }

void TTesselSession::SetActive(bool active) {
  if (Loading()) {
    streamedActive_ = active;
    return;
  }
  if (active == Active()) return;
  std::lock_guard lock(list_.Mutex());
  if (active)
    Activate();
  else
    Deactivate();
}

void TTesselSession::EnsureActive() {
  if (Active()) return;
  std::lock_guard lock(list_.Mutex());
  Activate();
}

TDataSession& TTesselSession::EngineSession() {
  EnsureActive();
  return *handle_;
}

void TTesselSession::Activate() {
  if (OnStartup) OnStartup(*this);
  if (Active()) return;
  if (sessionName_.empty()) dataset::DatabaseError(msg::SessionNameMissing);
  if (!IsDefault()) list_.DefaultSession().EnsureActive();
  if (IsDefault()) {
    handle_ = &ProcessDataSession();
  } else {
    ownHandle_ = std::make_unique<TDataSession>();
    handle_ = ownHandle_.get();
  }
  try {
    ApplySettings();
  } catch (...) {
    Deactivate();
    throw;
  }
}

void TTesselSession::Deactivate() {
  if (handle_ == nullptr) return;
  std::exception_ptr failure;
  const std::vector<TTesselDatabase*> databases = databases_;
  for (TTesselDatabase* database : databases) {
    // Closing one database may have freed another meanwhile.
    if (std::find(databases_.begin(), databases_.end(), database) == databases_.end()) continue;
    try {
      if (database->Temporary())
        FreeDatabase(database);
      else
        database->Close();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  handle_ = nullptr;
  if (IsDefault())
    FreeProcessDataSession();
  else
    ownHandle_.reset();
  if (failure) std::rethrow_exception(failure);
}

void TTesselSession::ApplySettings() {
  handle_->SetFileSystem(fileSystem_);
  handle_->SetPrivateDir(privateDir_);
  handle_->StrictChangeDetection = strictChangeDetection_;
  handle_->ForceBufferFlush = forceBufferFlush_;
  handle_->LockRetryCount = lockRetryCount_;
  handle_->LockWaitTime = lockWaitTime_;
}

void TTesselSession::SetForceBufferFlush(bool value) {
  forceBufferFlush_ = value;
  if (handle_ != nullptr) handle_->ForceBufferFlush = value;
}

void TTesselSession::SetFileSystem(std::shared_ptr<TFileSystem> files) {
  fileSystem_ = std::move(files);
  if (handle_ != nullptr) handle_->SetFileSystem(fileSystem_);
}

void TTesselSession::SetLockRetryCount(uint8_t value) {
  lockRetryCount_ = value;
  if (handle_ != nullptr) handle_->LockRetryCount = value;
}

void TTesselSession::SetLockWaitTime(uint16_t value) {
  lockWaitTime_ = value;
  if (handle_ != nullptr) handle_->LockWaitTime = value;
}

void TTesselSession::SetStrictChangeDetection(bool value) {
  strictChangeDetection_ = value;
  if (handle_ != nullptr) handle_->StrictChangeDetection = value;
}

void TTesselSession::SetPrivateDir(const std::string& value) {
  if (handle_ != nullptr) handle_->SetPrivateDir(value);
  privateDir_ = value;
}

// ---- Names

void TTesselSession::SetSessionName(const std::string& value) {
  if (autoSessionName_) dataset::DatabaseError(msg::AutoSessionActive);
  SetSessionNameInternal(value);
}

void TTesselSession::SetSessionNameInternal(const std::string& value) {
  std::lock_guard lock(list_.Mutex());
  if (Active()) dataset::DatabaseError(msg::SessionActive);
  if (!value.empty()) {
    TTesselSession* other = list_.FindSession(value);
    if (other != nullptr && other != this) dataset::DatabaseErrorFmt(msg::DuplicateSessionName, {value});
  }
  sessionName_ = value;
}

void TTesselSession::SetAutoSessionName(bool value) {
  if (value == autoSessionName_) return;
  std::lock_guard lock(list_.Mutex());
  if (!value) {
    list_.FreeSessionNumber(sessionNumber_);
    sessionNumber_ = -1;
    autoSessionName_ = false;
    return;
  }
  if (Active()) dataset::DatabaseError(msg::SessionActive);
  if (Owner() != nullptr) {
    for (TTesselComponent* c : Owner()->Components()) {
      auto* other = dynamic_cast<TTesselSession*>(c);
      if (other != nullptr && other != this) dataset::DatabaseError(msg::AutoSessionExclusive);
    }
  }
  sessionNumber_ = list_.TakeSessionNumber();
  autoSessionName_ = true;
  try {
    UpdateAutoSessionName();
  } catch (...) {
    list_.FreeSessionNumber(sessionNumber_);
    sessionNumber_ = -1;
    autoSessionName_ = false;
    throw;
  }
}

void TTesselSession::UpdateAutoSessionName() {
  if (!autoSessionName_) return;
  SetSessionNameInternal(Name() + "_" + std::to_string(sessionNumber_ + 1));
  SetSessionNames();
}

void TTesselSession::SetSessionNames() {
  if (Owner() == nullptr) return;
  const std::vector<TTesselComponent*> components = Owner()->Components();
  for (TTesselComponent* c : components) {
    auto* bound = dynamic_cast<TSessionBoundComponent*>(c);
    if (bound != nullptr && bound->SessionName() != sessionName_) bound->SetSessionName(sessionName_);
  }
}

void TTesselSession::NameChanged() {
  if (autoSessionName_) UpdateAutoSessionName();
}

void TTesselSession::AfterLoading() {
  if (autoSessionName_) SetSessionNames();
  if (streamedActive_) {
    streamedActive_ = false;
    SetActive(true);
  }
}

// ---- Session lock

void TTesselSession::LockSession() {
  list_.Lock();
  ++lockCount_;
}

void TTesselSession::UnlockSession() {
  --lockCount_;
  list_.Unlock();
}

// ---- Passwords

void TTesselSession::AddPassword(const std::string& password) {
  TSessionLock lock(*this);
  EngineSession().AddPassword(password.substr(0, kMaxPasswordLength));
}

void TTesselSession::RemovePassword(const std::string& password) {
  TSessionLock lock(*this);
  EngineSession().RemovePassword(password.substr(0, kMaxPasswordLength));
}

void TTesselSession::RemoveAllPasswords() {
  TSessionLock lock(*this);
  EngineSession().RemoveAllPasswords();
}

bool TTesselSession::HasPassword(const std::string& password) {
  TSessionLock lock(*this);
  return handle_ != nullptr && handle_->HasPassword(password);
}

bool TTesselSession::GetPassword() {
  if (OnPassword) {
    bool continueOpen = false;
    OnPassword(*this, continueOpen);
    return continueOpen;
  }
  if (TPasswordDialogFunction dialog = PasswordDialog()) return dialog(*this);
  return false;
}

TPasswordRequest TTesselSession::PasswordCallback() {
  return [this] { return GetPassword(); };
}

// ---- Databases

void TTesselSession::AddDatabase(TTesselDatabase* database) { databases_.push_back(database); }

void TTesselSession::RemoveDatabase(TTesselDatabase* database) {
  databases_.erase(std::remove(databases_.begin(), databases_.end(), database), databases_.end());
}

void TTesselSession::FreeDatabase(TTesselDatabase* database) {
  auto it = std::find_if(madeDatabases_.begin(), madeDatabases_.end(),
                         [&](const auto& made) { return made.get() == database; });
  if (it == madeDatabases_.end()) return;
  std::unique_ptr<TTesselDatabase> freed = std::move(*it);
  madeDatabases_.erase(it);
  freed.reset();
}

TTesselDatabase* TTesselSession::FindDatabase(const std::string& name) const {
  for (TTesselDatabase* database : databases_) {
    if ((!database->DatabaseName().empty() || database->Temporary()) &&
        SameTextIgnoringCase(database->DatabaseName(), name))
      return database;
  }
  return nullptr;
}

TTesselDatabase& TTesselSession::OpenDatabase(const std::string& name, TComponentOwner* owner) {
  EnsureActive();
  TSessionLock lock(*this);
  TTesselDatabase* database = nullptr;
  if (owner != nullptr) {
    for (TTesselComponent* c : owner->Components()) {
      auto* candidate = dynamic_cast<TTesselDatabase*>(c);
      if (candidate != nullptr && candidate->HandleShared() && SameTextIgnoringCase(candidate->DatabaseName(), name)) {
        database = candidate;
        break;
      }
    }
  }
  if (database == nullptr) database = FindDatabase(name);
  bool made = false;
  if (database == nullptr) {
    auto temporary = std::unique_ptr<TTesselDatabase>(new TTesselDatabase(*this, TTesselDatabase::SessionMade{}));
    madeDatabases_.push_back(std::move(temporary));
    database = madeDatabases_.back().get();
    made = true;
    try {
      database->SetDatabaseName(name);
      database->keepConnection_ = keepConnections_;
    } catch (...) {
      FreeDatabase(database);
      throw;
    }
  }
  try {
    database->Open();
  } catch (...) {
    // A database made only for this open does not linger unconnected.
    if (made) FreeDatabase(database);
    throw;
  }
  ++database->refCount_;
  return *database;
}

void TTesselSession::CloseDatabase(TTesselDatabase& database) {
  if (database.refCount_ > 0) --database.refCount_;
  if (database.refCount_ != 0 || database.keepConnection_ || database.disconnecting_) return;
  if (!database.Temporary())
    database.Close();
  else if (!database.Destroying() && database.Session() != nullptr)
    database.Session()->FreeDatabase(&database);
}

// ---------------------------------------------------------------------------

void CheckTablePassword(const TDataTable& table, TTesselSession& session) {
  CheckTablePassword(table, session.EngineSession(), session.PasswordCallback());
}

}  // namespace tessel
