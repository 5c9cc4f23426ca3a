// The process-wide list of sessions: the sessions in creation order, the
// default session "Default", the numbers taken by automatically named
// sessions, and the one lock that guards session activation, auto-session
// numbers and every session's session lock. Also the fixed texts that the
// session and database components raise.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tessel {

class TTesselSession;

namespace msg {
inline constexpr const char* InvalidSessionName = "Session name %s is not valid.";
inline constexpr const char* DuplicateSessionName = "Session name %s already exists.";
inline constexpr const char* SessionNameMissing = "Session name is missing.";
inline constexpr const char* AutoSessionActive = "Cannot perform this operation on the active auto-session.";
inline constexpr const char* SessionActive = "Cannot perform this operation on an active session.";
inline constexpr const char* AutoSessionExclusive = "The active auto-session can be the only active session.";
inline constexpr const char* AutoSessionExists = "This auto-session already exists.";
inline constexpr const char* DatabaseNameMissing = "Database name is missing.";
inline constexpr const char* InvalidDatabaseName = "Database name %s is not valid.";
inline constexpr const char* DuplicateDatabaseName = "Database name %s already exists.";
inline constexpr const char* DatabaseOpen = "Cannot perform this operation on an open database.";
}  // namespace msg

// Session and database names are compared ignoring the case of A-Z/a-z
// (and without trimming).
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

class TTesselSessionList {
 public:
  // The one list of the process; made (with the default session) on first use
  // and kept until the process ends.
  static TTesselSessionList& Instance();

  TTesselSessionList(const TTesselSessionList&) = delete;
  TTesselSessionList& operator=(const TTesselSessionList&) = delete;

  // The default session, named "Default": the first session of the list.
  TTesselSession& DefaultSession() const { return *default_; }

  int Count() const;
  TTesselSession& Sessions(int index) const;
  std::vector<TTesselSession*> List() const;

  // An empty name gives the default session; null when none has the name.
  TTesselSession* FindSession(std::string_view name) const;
  // As FindSession; an unknown name raises "Session name %s is not valid.".
  TTesselSession& OpenSession(std::string_view name) const;

  // The process-wide lock (re-entrant).
  void Lock() const { mutex_.lock(); }
  void Unlock() const { mutex_.unlock(); }
  std::recursive_mutex& Mutex() const { return mutex_; }

  // Takes the lowest auto-session number not in use; frees one again.
  int TakeSessionNumber();
  void FreeSessionNumber(int number);
  bool SessionNumberTaken(int number) const;

 private:
  friend class TTesselSession;
  TTesselSessionList();
  ~TTesselSessionList() = default;

  void Add(TTesselSession* session);
  void Remove(TTesselSession* session);

  mutable std::recursive_mutex mutex_;
  std::vector<TTesselSession*> sessions_;
  std::vector<bool> numbers_;
  TTesselSession* default_ = nullptr;
};

// The process-wide session list.
inline TTesselSessionList& Sessions() { return TTesselSessionList::Instance(); }

}  // namespace tessel
