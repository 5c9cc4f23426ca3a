// The table record set: one table of a database, read and written through
// one engine cursor, ordered by an index chosen by name or by its fields,
// with key searches, ranges, Locate/Lookup and master/detail linking.
//
// The program opens its catalogue like this:
//
//   TTesselTable table(&owner);
//   table.SetSessionName("ses");
//   table.SetIndexFieldNames("siteurl");
//   table.SetTableName("/opt/marrowick/linksdata.dat");  // DatabaseName := "/opt/marrowick/"
//   table.Open();
//
// The full path makes the session create a database for the directory; it
// goes again when the table closes (unless the session keeps connections).
#pragma once

#include <string>
#include <vector>

#include "dataset/DataSource.h"
#include "engine/components/TesselDataSet.h"

namespace tessel {

class TTesselTable;

// One index of the table as the record set describes it.
struct TTesselIndexDef {
  std::string Name;    // empty for the primary index
  std::string Fields;  // field names separated by ';'
  bool Primary = false;
  bool Unique = false;
  bool Descending = false;
  bool CaseInsensitive = false;
};

// The link through which a detail table follows its master's current
// record: the detail keeps a range on its index equal to the master's
// MasterFields values.
class TTesselMasterDataLink : public dataset::TDataLink {
 public:
  explicit TTesselMasterDataLink(TTesselTable& table) : table_(table) {}

  const std::string& FieldNames() const { return fieldNames_; }
  void SetFieldNames(const std::string& names) { fieldNames_ = names; }
  // The master's fields named by FieldNames (none while inactive).
  std::vector<dataset::TField*> Fields() const;

 protected:
  void ActiveChanged() override;
  void RecordChanged(dataset::TField* field) override;

 private:
  TTesselTable& table_;
  std::string fieldNames_;
};

class TTesselTable : public TTesselDBDataSet {
 public:
  explicit TTesselTable(TComponentOwner* owner = nullptr);
  ~TTesselTable() override;

  // ---- Published properties (all but the index need the table closed).
  std::string EngineVersion() const { return "2.00"; }
  void SetEngineVersion(const std::string&) {}
  const std::string& TableName() const { return tableName_; }
  // A text that is empty or holds a directory ('/' or ':') sets
  // DatabaseName to its directory part (with the trailing '/') and
  // TableName to its file-name part, unless the table is in memory.
  void SetTableName(const std::string& value);
  // An in-memory table's database is always "Memory".
  void SetDatabaseName(const std::string& value) override;
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool value);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);
  bool InMemory() const { return inMemory_; }
  void SetInMemory(bool value);
  // IndexName and IndexFieldNames share one text; reading the one not set
  // gives "". An open table switches to the index at once ("No index for
  // fields '%s'" when none serves the fields).
  std::string IndexName() const { return fieldsIndex_ ? std::string() : indexText_; }
  void SetIndexName(const std::string& value);
  std::string IndexFieldNames() const { return fieldsIndex_ ? indexText_ : std::string(); }
  void SetIndexFieldNames(const std::string& value);
  bool StoreDefs() const { return storeDefs_; }
  void SetStoreDefs(bool value) { storeDefs_ = value; }
  dataset::TDataSource* MasterSource() const { return masterLink_.DataSource(); }
  // "Circular datalinks are not allowed" when the source reads from this
  // table.
  void SetMasterSource(dataset::TDataSource* source);
  const std::string& MasterFields() const { return masterLink_.FieldNames(); }
  void SetMasterFields(const std::string& names);

  // ---- Index definitions (read through the open cursor, or a cursor
  // opened for the purpose while the table is closed).
  const std::vector<TTesselIndexDef>& IndexDefs();
  void UpdateIndexDefs();
  // The current index's key fields.
  int IndexFieldCount() const { return static_cast<int>(IndexFieldNumbers().size()); }
  dataset::TField* IndexField(int index);

  // ---- Key searches on the current index. SetKey/EditKey enter set-key
  // state on the search key (SetKey blanks it); only the index's fields may
  // be assigned. Post keeps the key, Cancel restores it.
  void SetKey();
  void EditKey();
  // Goes to the record whose key equals the search key (false: stays).
  bool GotoKey();
  // Goes to the first record whose key is not below the search key.
  void GotoNearest();
  // The values are assigned to the index's first fields, then GotoKey /
  // GotoNearest.
  bool FindKey(const std::vector<dataset::Variant>& values);
  void FindNearest(const std::vector<dataset::Variant>& values);
  // The number of key fields a search or range uses (0 = all); set-key
  // state only.
  int KeyFieldCount() const;
  void SetKeyFieldCount(int count);

  // ---- Ranges on the current index: the record set shows only the
  // records whose keys lie between the start and end keys (inclusive). A
  // bound that was not set leaves that end open.
  void SetRangeStart();
  void SetRangeEnd();
  void EditRangeStart();
  void EditRangeEnd();
  void ApplyRange();
  void CancelRange();
  void SetRange(const std::vector<dataset::Variant>& startValues,
                const std::vector<dataset::Variant>& endValues);

  // ---- Maintenance: removes every record (needs exclusive use: "table
  // '%s' must be opened exclusively" when open and shared).
  void EmptyTable();

  // ---- Record set operations.
  void Post() override;
  void Cancel() override;
  dataset::TDataSource* GetDataSource() override { return masterLink_.DataSource(); }
  void DataEvent(dataset::TDataEvent event, intptr_t info) override;

 protected:
  std::unique_ptr<TDataCursor> CreateCursor() override;
  void PrepareCursor() override;
  void InitFieldDefs() override;

 private:
  friend class TTesselMasterDataLink;

  // Makes and opens a cursor on the table: on index 0, or with onIndex on
  // the index IndexName / IndexFieldNames give.
  std::unique_ptr<TDataCursor> OpenTableCursor(bool exclusive, bool onIndex = false);
  std::string ResolveIndexName(TDataCursor& cursor, const std::string& text, bool fieldsIndex) const;
  void ReadIndexDefs(TDataCursor& cursor);
  void SetIndex(const std::string& value, bool fieldsIndex);
  void SwitchToIndex(const std::string& name);
  // Assigns values to the key fields in the key-editing state just entered
  // and posts them; a value that does not fit cancels the state.
  void PostKeyValues(const std::vector<dataset::Variant>& values);
  bool SetCursorRange();
  bool ResetCursorRange();
  void MasterChanged();
  void CheckMasterRange();
  void SetLinkRanges(const std::vector<dataset::TField*>& masterFields);

  std::string tableName_;
  std::string indexText_;
  bool fieldsIndex_ = false;
  bool exclusive_ = false;
  bool readOnly_ = false;
  bool inMemory_ = false;
  bool storeDefs_ = false;
  std::vector<TTesselIndexDef> indexDefs_;
  bool indexDefsUpdated_ = false;
  TTesselMasterDataLink masterLink_{*this};
};

}  // namespace tessel
