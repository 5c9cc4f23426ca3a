// What the main window needs of the site table's record set: naming the
// table, opening and closing it, and the data source that binds its record
// set to the grid and the notes pane.
#pragma once

#include <string>

namespace dataset {
class TDataSource;
}

namespace tessel {
class TTesselSession;
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

  // ---- Following other programs (a table without an engine never sees
  // any change).
  // Whether another program changed the open table since the view last
  // caught up (ViewCaughtUp, or the open): a look at the files' change
  // counters, no lock, nothing re-read, so it may be asked once a second.
  virtual bool ChangedElsewhere() { return false; }
  // Before the view re-reads the table: takes in the other programs'
  // changes now (under the read lock; a table this program may only read
  // takes no lock and looks at the counters here, since its reads never
  // do).
  virtual void CatchUp() {}
  // The view is about to show the table as it now is: changes taken in
  // after this count as new.
  virtual void ViewCaughtUp() {}

  // The engine session the table opens through (it holds the passwords of
  // encrypted tables); none for a table without an engine.
  virtual tessel::TTesselSession* Session() { return nullptr; }
};

}  // namespace marrowick
