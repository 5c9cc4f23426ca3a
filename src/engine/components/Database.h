// The database component: a named directory of tables within a session.
// While connected it holds the session's engine directory object for its
// path, through which cursors share the table objects.
//
// A database is either made by the program (a form's database, named by an
// alias and given a Directory) or made by the session itself in OpenDatabase
// for a name it does not know, typically a record set's directory path; such
// a temporary database lives while it is in use (or KeepConnection holds it)
// and is freed by the session.
//
// TDatabaseUse is a record set's hold on its database: a set of reasons
// (flag numbers) for needing it; the first reason opens the session and the
// database, the last one cleared gives the database back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/components/Session.h"
#include "engine/storage/DataDirectory.h"

namespace tessel {

class TDatabaseUse;

// A database name that is a directory path (contains '/' or ':').
bool IsDatabasePath(const std::string& name);

// A full table path split as a record set splits its TableName: the
// directory part with its trailing '/' and the file-name part. An empty text
// or one with '/' or ':' gives both; any other text is only a table name.
struct TTablePath {
  bool HasDirectory = false;  // DatabaseName is to be assigned
  std::string DatabaseName;
  std::string TableName;
};
TTablePath SplitTablePath(const std::string& text);

// What a database asks of a record set that uses it.
class TDatabaseClient {
 public:
  virtual ~TDatabaseClient() = default;
  // The database is disconnecting: the record set closes (which gives up its
  // reasons for the database).
  virtual void CloseForDatabase() = 0;
};

class TTesselDatabase : public TSessionBoundComponent {
 public:
  using TNotifyEvent = std::function<void(TTesselDatabase& sender)>;

  // A program's database; it joins the session its SessionName names when
  // that session exists (the default session for an empty name).
  explicit TTesselDatabase(TComponentOwner* owner = nullptr);
  // Disconnects and leaves its session.
  ~TTesselDatabase() override;

  // ---- Published properties.
  std::string EngineVersion() const { return "2.00"; }
  bool Connected() const { return directory_ != nullptr; }
  void SetConnected(bool value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& value);
  const std::string& Directory() const { return directoryPath_; }
  void SetDirectory(const std::string& value);
  bool HandleShared() const { return handleShared_; }
  void SetHandleShared(bool value);
  bool KeepConnection() const { return keepConnection_; }
  void SetKeepConnection(bool value);
  void SetSessionName(const std::string& value) override;
  TNotifyEvent BeforeConnect;

  // ---- State.
  TTesselSession* Session() const { return session_; }
  // The engine directory object while connected, else null.
  TDataDirectory* Handle() const { return directory_; }
  bool Temporary() const { return temporary_; }
  int RefCount() const { return refCount_; }
  int DataSetCount() const { return static_cast<int>(uses_.size()); }
  TDatabaseClient& DataSets(int index) const;

 protected:
  void AfterLoading() override;

 private:
  friend class TTesselSession;
  friend class TDatabaseUse;
  struct SessionMade {};
  TTesselDatabase(TTesselSession& session, SessionMade);

  void JoinSession(bool required);
  void Connect();
  void Disconnect();
  void ValidateName(const std::string& name);
  void AddUse(TDatabaseUse* use);
  void RemoveUse(TDatabaseUse* use);

  TTesselSession* session_ = nullptr;
  TDataDirectory* directory_ = nullptr;
  std::string databaseName_;
  std::string directoryPath_;
  bool handleShared_ = false;
  bool keepConnection_ = true;
  bool temporary_ = false;
  bool disconnecting_ = false;
  bool streamedConnected_ = false;
  int refCount_ = 0;
  std::vector<TDatabaseUse*> uses_;
};

class TDatabaseUse {
 public:
  // The reasons a record set uses.
  static constexpr int dbfOpened = 0;
  static constexpr int dbfFieldList = 4;
  static constexpr int dbfIndexList = 5;

  explicit TDatabaseUse(TDatabaseClient& client) : client_(client) {}
  // Gives the database back when a reason is still set.
  ~TDatabaseUse();
  TDatabaseUse(const TDatabaseUse&) = delete;
  TDatabaseUse& operator=(const TDatabaseUse&) = delete;

  // Sets or clears one reason. Setting the first opens the session of
  // sessionName (OpenSession) and the database of databaseName in it
  // (OpenDatabase with owner) and joins the database's record sets;
  // clearing the last leaves them and calls CloseDatabase.
  void SetFlag(int flag, bool on, const std::string& sessionName, const std::string& databaseName,
               TComponentOwner* owner = nullptr);
  bool Flag(int flag) const { return (flags_ & (1u << flag)) != 0; }
  uint32_t Flags() const { return flags_; }

  // While a reason is set: the database, its session and its engine
  // directory (null otherwise).
  TTesselDatabase* Database() const { return database_; }
  TTesselSession* Session() const { return database_ ? database_->Session() : nullptr; }
  TDataDirectory* Directory() const { return database_ ? database_->Handle() : nullptr; }
  TDatabaseClient& Client() const { return client_; }

 private:
  friend class TTesselDatabase;
  void Release();
  // The database disconnected without this use having let go.
  void Detach() {
    database_ = nullptr;
    flags_ = 0;
  }

  TDatabaseClient& client_;
  TTesselDatabase* database_ = nullptr;
  uint32_t flags_ = 0;
};

}  // namespace tessel
