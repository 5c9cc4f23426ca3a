// What the main window needs of the site table's record set at start and at
// exit: naming the table and opening and closing it.
#pragma once

#include <string>

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
};

}  // namespace marrowick
