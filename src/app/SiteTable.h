// What the main window needs of the site table's record set: naming the
// table, opening and closing it, and the data source that binds its record
// set to the grid and the notes pane.
#pragma once

#include <string>

namespace dataset {
class TDataSource;
}

namespace marrowick {

class ISiteTable {
 public:
  // Releasing the table closes it.
  virtual ~ISiteTable() = default;

  // The full path of the table's data file.
  virtual void SetTableName(const std::string& name) = 0;

  // Opens (true) or closes (false) the table; a failure to open raises the
  // engine's or the record set's error and leaves the table closed.
  virtual void SetActive(bool active) = 0;
  virtual bool Active() const = 0;

  // The data source of the table's record set; none for a table that only
  // opens and closes (the window then shows an empty grid).
  virtual dataset::TDataSource* BindingSource() { return nullptr; }
};

}  // namespace marrowick
