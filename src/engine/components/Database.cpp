#include "engine/components/Database.h"

#include <algorithm>
#include <exception>

#include "dataset/DataSetMessages.h"
#include "engine/components/SessionList.h"

namespace tessel {

bool IsDatabasePath(const std::string& name) { return name.find_first_of("/:") != std::string::npos; }

TTablePath SplitTablePath(const std::string& text) {
  TTablePath result;
  if (!text.empty() && !IsDatabasePath(text)) {
    result.TableName = text;
    return result;
  }
  result.HasDirectory = true;
  const size_t split = text.find_last_of("/:");
  if (split == std::string::npos) return result;
  result.DatabaseName = text.substr(0, split + 1);
  result.TableName = text.substr(split + 1);
  return result;
}

// ---------------------------------------------------------------------------
// TTesselDatabase

TTesselDatabase::TTesselDatabase(TComponentOwner* owner) : TSessionBoundComponent(owner) { JoinSession(false); }

TTesselDatabase::TTesselDatabase(TTesselSession& session, SessionMade)
    : TSessionBoundComponent(nullptr), session_(&session), temporary_(true) {
  sessionName_ = session.SessionName();
  session.AddDatabase(this);
}

TTesselDatabase::~TTesselDatabase() {
  MarkDestroying();
  try {
    Disconnect();
  } catch (...) {
    // The database goes all the same.
  }
  for (TDatabaseUse* use : uses_) use->Detach();
  uses_.clear();
  if (session_ != nullptr) session_->RemoveDatabase(this);
}

TDatabaseClient& TTesselDatabase::DataSets(int index) const {
  return uses_.at(static_cast<size_t>(index))->Client();
}

void TTesselDatabase::JoinSession(bool required) {
  TTesselSession* session = required ? &Sessions().OpenSession(sessionName_) : Sessions().FindSession(sessionName_);
  if (session != nullptr && session != session_) {
    if (session_ != nullptr) session_->RemoveDatabase(this);
    session->AddDatabase(this);
    session_ = session;
  }
  if (required) session_->EnsureActive();
}

void TTesselDatabase::SetConnected(bool value) {
  if (Loading()) {
    streamedConnected_ = value;
    return;
  }
  if (value)
    Connect();
  else
    Disconnect();
}

void TTesselDatabase::Connect() {
  if (directory_ != nullptr) return;
  if (BeforeConnect) BeforeConnect(*this);
  if (databaseName_.empty() && !temporary_) dataset::DatabaseError(msg::DatabaseNameMissing);
  JoinSession(true);
  TSessionLock lock(*session_);
  TDataSession& engine = *session_->Handle();
  if (handleShared_) {
    for (int i = 0; i < session_->DatabaseCount(); ++i) {
      TTesselDatabase& other = session_->Databases(i);
      if (&other != this && other.directory_ != nullptr && other.handleShared_ &&
          SameTextIgnoringCase(other.databaseName_, databaseName_)) {
        // The shared directory counts this database as one more use, so it
        // lives while either database holds it.
        engine.RetainDirectory(*other.directory_);
        directory_ = other.directory_;
        return;
      }
    }
  }
  const bool isPath = IsDatabasePath(databaseName_);
  const std::string alias = isPath ? std::string() : databaseName_;
  const std::string path = (temporary_ && isPath) ? databaseName_ : directoryPath_;
  directory_ = &engine.OpenDirectory(alias, path);
}

void TTesselDatabase::Disconnect() {
  if (directory_ == nullptr) return;
  disconnecting_ = true;
  std::exception_ptr failure;
  while (!uses_.empty()) {
    TDatabaseUse* use = uses_.back();
    try {
      use->Client().CloseForDatabase();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    // A record set that still holds a reason (or failed to close) is let go.
    auto it = std::find(uses_.begin(), uses_.end(), use);
    if (it != uses_.end()) {
      uses_.erase(it);
      use->Detach();
    }
  }
  TDataDirectory* directory = directory_;
  directory_ = nullptr;
  refCount_ = 0;
  disconnecting_ = false;
  if (session_ != nullptr && session_->Handle() != nullptr) session_->Handle()->ReleaseDirectory(directory);
  if (failure) std::rethrow_exception(failure);
}

void TTesselDatabase::SetDatabaseName(const std::string& value) {
  if (Loading()) {
    databaseName_ = value;
    return;
  }
  if (value == databaseName_) return;
  if (Connected()) dataset::DatabaseError(msg::DatabaseOpen);
  if (!temporary_ && IsDatabasePath(value)) dataset::DatabaseErrorFmt(msg::InvalidDatabaseName, {value});
  ValidateName(value);
  databaseName_ = value;
}

void TTesselDatabase::ValidateName(const std::string& name) {
  if (name.empty() || session_ == nullptr) return;
  TTesselDatabase* other = session_->FindDatabase(name);
  if (other == nullptr || other == this || (other->handleShared_ && handleShared_)) return;
  if (!other->temporary_ || other->refCount_ != 0) dataset::DatabaseErrorFmt(msg::DuplicateDatabaseName, {name});
  // An unused database the session made for this name gives way.
  session_->FreeDatabase(other);
}

void TTesselDatabase::SetDirectory(const std::string& value) {
  if (Connected()) dataset::DatabaseError(msg::DatabaseOpen);
  directoryPath_ = value;
}

void TTesselDatabase::SetHandleShared(bool value) {
  if (Connected()) dataset::DatabaseError(msg::DatabaseOpen);
  handleShared_ = value;
}

void TTesselDatabase::SetKeepConnection(bool value) {
  if (value == keepConnection_) return;
  keepConnection_ = value;
  if (!value && refCount_ == 0) Disconnect();
}

void TTesselDatabase::SetSessionName(const std::string& value) {
  if (Loading()) {
    sessionName_ = value;
    return;
  }
  if (Connected()) dataset::DatabaseError(msg::DatabaseOpen);
  if (value == sessionName_) return;
  sessionName_ = value;
  JoinSession(false);
}

void TTesselDatabase::AfterLoading() {
  JoinSession(false);
  if (streamedConnected_) {
    streamedConnected_ = false;
    Connect();
  }
}

void TTesselDatabase::AddUse(TDatabaseUse* use) {
  if (std::find(uses_.begin(), uses_.end(), use) == uses_.end()) uses_.push_back(use);
}

void TTesselDatabase::RemoveUse(TDatabaseUse* use) { uses_.erase(std::remove(uses_.begin(), uses_.end(), use), uses_.end()); }

// ---------------------------------------------------------------------------
// TDatabaseUse

TDatabaseUse::~TDatabaseUse() {
  flags_ = 0;
  try {
    Release();
  } catch (...) {
    // Nothing can be reported from here.
  }
}

void TDatabaseUse::SetFlag(int flag, bool on, const std::string& sessionName, const std::string& databaseName,
                           TComponentOwner* owner) {
  if (on == Flag(flag)) return;
  const uint32_t bit = 1u << flag;
  if (!on) {
    flags_ &= ~bit;
    if (flags_ == 0) Release();
    return;
  }
  if (flags_ == 0) {
    TTesselSession& session = Sessions().OpenSession(sessionName);
    TTesselDatabase& database = session.OpenDatabase(databaseName, owner);
    database.AddUse(this);
    database_ = &database;
  }
  flags_ |= bit;
}

void TDatabaseUse::Release() {
  if (database_ == nullptr) return;
  TTesselDatabase* database = database_;
  database_ = nullptr;
  flags_ = 0;
  database->RemoveUse(this);
  if (TTesselSession* session = database->Session())
    session->CloseDatabase(*database);
  else if (database->refCount_ > 0)
    --database->refCount_;
}

}  // namespace tessel
