// The session component and the small component model it lives in.
//
// Components (sessions, databases, record sets) belong to an owner, usually a
// form; the owner keeps a register of them so that a session can find its
// siblings (auto-named sessions rename the databases and record sets of their
// owner). The owner does not free its components: whoever made them does.
//
// TTesselSession holds the engine settings that the file layer, the locks and
// the cursors obey, the password list that opens encrypted tables, and the
// databases that belong to it. While active it has an engine session object
// (TDataSession); the default session uses the process-wide one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/DataDirectory.h"

namespace tessel {

class TTesselComponent;
class TTesselDatabase;
class TTesselSession;
class TTesselSessionList;

class TComponentOwner {
 public:
  TComponentOwner() = default;
  // Components still registered lose their owner.
  ~TComponentOwner();
  TComponentOwner(const TComponentOwner&) = delete;
  TComponentOwner& operator=(const TComponentOwner&) = delete;

  const std::vector<TTesselComponent*>& Components() const { return components_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }

 private:
  friend class TTesselComponent;
  std::vector<TTesselComponent*> components_;
};

class TTesselComponent {
 public:
  explicit TTesselComponent(TComponentOwner* owner);
  virtual ~TTesselComponent();
  TTesselComponent(const TTesselComponent&) = delete;
  TTesselComponent& operator=(const TTesselComponent&) = delete;

  TComponentOwner* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name);

  // Loading with the owner's stored definition: between BeginLoading and
  // Loaded, stored Active/Connected values are kept and applied by Loaded.
  void BeginLoading() { loading_ = true; }
  void Loaded();
  bool Loading() const { return loading_; }
  bool Destroying() const { return destroying_; }

 protected:
  virtual void NameChanged() {}
  virtual void AfterLoading() {}
  void MarkDestroying() { destroying_ = true; }

 private:
  friend class TComponentOwner;
  TComponentOwner* owner_;
  std::string name_;
  bool loading_ = false;
  bool destroying_ = false;
};

// A component that names its session: databases and record sets. One made on
// an owner that holds an auto-named session takes that session's name.
class TSessionBoundComponent : public TTesselComponent {
 public:
  explicit TSessionBoundComponent(TComponentOwner* owner);

  const std::string& SessionName() const { return sessionName_; }
  virtual void SetSessionName(const std::string& name) { sessionName_ = name; }

 protected:
  std::string sessionName_;
};

// The program's modal password dialog; answers true when it was closed with
// OK. The engine knows it only through this registry.
using TPasswordDialogFunction = std::function<bool(TTesselSession&)>;
void SetPasswordDialog(TPasswordDialogFunction dialog);
TPasswordDialogFunction PasswordDialog();

class TTesselSession : public TTesselComponent {
 public:
  using TPasswordEvent = std::function<void(TTesselSession& sender, bool& continueOpen)>;
  using TNotifyEvent = std::function<void(TTesselSession& sender)>;

  // Joins the process-wide session list. On an owner that already holds an
  // auto-named session: "This auto-session already exists.".
  explicit TTesselSession(TComponentOwner* owner = nullptr);
  // Deactivates, frees the databases it made, leaves the list.
  ~TTesselSession() override;

  // ---- Published properties.
  std::string EngineVersion() const { return "2.00"; }
  void SetEngineVersion(const std::string&) {}
  bool Active() const { return handle_ != nullptr; }
  void SetActive(bool active);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool AutoSessionName() const { return autoSessionName_; }
  void SetAutoSessionName(bool value);
  bool ForceBufferFlush() const { return forceBufferFlush_; }
  void SetForceBufferFlush(bool value);
  bool KeepConnections() const { return keepConnections_; }
  void SetKeepConnections(bool value) { keepConnections_ = value; }
  uint8_t LockRetryCount() const { return lockRetryCount_; }
  void SetLockRetryCount(uint8_t value);
  uint16_t LockWaitTime() const { return lockWaitTime_; }
  void SetLockWaitTime(uint16_t value);
  const std::string& PrivateDir() const { return privateDir_; }
  void SetPrivateDir(const std::string& value);
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(const std::string& value);
  bool StrictChangeDetection() const { return strictChangeDetection_; }
  void SetStrictChangeDetection(bool value);
  // The file system the session's disk tables live on: null (the default)
  // for the operating system's. Like ForceBufferFlush it reaches the tables
  // opened afterwards. Not a stored property: tests and the fault trials
  // hand a session a file system that fails where they choose.
  const std::shared_ptr<TFileSystem>& FileSystem() const { return fileSystem_; }
  void SetFileSystem(std::shared_ptr<TFileSystem> files);
  TPasswordEvent OnPassword;
  TNotifyEvent OnStartup;

  // ---- State.
  bool IsDefault() const;
  // The engine session object; null while inactive.
  TDataSession* Handle() const { return handle_; }
  // The engine session object, activating the session first when needed.
  TDataSession& EngineSession();
  // The auto-session number, or -1.
  int SessionNumber() const { return sessionNumber_; }

  // ---- Session lock: the session list's lock, re-entrant, with a nesting
  // count per session.
  void LockSession();
  void UnlockSession();
  int LockCount() const { return lockCount_; }

  // ---- Passwords (held under the session lock; texts cut to 255
  // characters; the session is activated when it is not).
  void AddPassword(const std::string& password);
  void RemovePassword(const std::string& password);
  void RemoveAllPasswords();
  bool HasPassword(const std::string& password);
  // The password request: OnPassword when assigned (called with Continue
  // false; answers Continue), else the registered password dialog (answers
  // whether it closed with OK), else false.
  bool GetPassword();
  // GetPassword bound to this session, for a cursor to keep.
  TPasswordRequest PasswordCallback();

  // ---- Databases.
  int DatabaseCount() const { return static_cast<int>(databases_.size()); }
  TTesselDatabase& Databases(int index) const { return *databases_.at(static_cast<size_t>(index)); }
  // A database of this session by name (ignoring case); one with an empty
  // name matches only when the session made it.
  TTesselDatabase* FindDatabase(const std::string& name) const;
  // Activates the session; takes a handle-shared database of the owner with
  // that name, else a database of the session with that name, else makes one
  // (KeepConnection from KeepConnections); connects it and counts one use.
  TTesselDatabase& OpenDatabase(const std::string& name, TComponentOwner* owner = nullptr);
  // One use fewer; at 0 without KeepConnection a database the session made is
  // freed and any other disconnected.
  void CloseDatabase(TTesselDatabase& database);

 protected:
  void NameChanged() override;
  void AfterLoading() override;

 private:
  friend class TTesselSessionList;
  friend class TTesselDatabase;

  TTesselSession(TComponentOwner* owner, TTesselSessionList& list);

  void EnsureActive();
  void Activate();
  void Deactivate();
  void ApplySettings();
  void SetSessionNameInternal(const std::string& value);
  void UpdateAutoSessionName();
  void SetSessionNames();
  void AddDatabase(TTesselDatabase* database);
  void RemoveDatabase(TTesselDatabase* database);
  void FreeDatabase(TTesselDatabase* database);

  TTesselSessionList& list_;
  TDataSession* handle_ = nullptr;
  std::unique_ptr<TDataSession> ownHandle_;
  bool autoSessionName_ = false;
  bool forceBufferFlush_ = false;
  bool keepConnections_ = true;
  uint8_t lockRetryCount_ = 0;
  uint16_t lockWaitTime_ = 0;
  std::string privateDir_;
  std::string sessionName_;
  bool strictChangeDetection_ = false;
  std::shared_ptr<TFileSystem> fileSystem_;
  bool streamedActive_ = false;
  int sessionNumber_ = -1;
  int lockCount_ = 0;
  std::vector<TTesselDatabase*> databases_;
  std::vector<std::unique_ptr<TTesselDatabase>> madeDatabases_;
};

// Holds a session's lock for a scope.
class TSessionLock {
 public:
  explicit TSessionLock(TTesselSession& session) : session_(session) { session_.LockSession(); }
  ~TSessionLock() { session_.UnlockSession(); }
  TSessionLock(const TSessionLock&) = delete;
  TSessionLock& operator=(const TSessionLock&) = delete;

 private:
  TTesselSession& session_;
};

// The open-time check of an encrypted table through a session component: its
// password list, and its password request while the password is missing.
void CheckTablePassword(const TDataTable& table, TTesselSession& session);

}  // namespace tessel
