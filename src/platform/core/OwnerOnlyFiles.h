// Keeping files with secrets in them to their owner: the catalogue holds
// logins and passwords in plain text, and so may the settings file, so
// both are kept readable and writable by their owner alone.
#pragma once

#include <string>

namespace marrowick::platform {

// When the file exists, belongs to the user running the program and grants
// any permission to its group or to others, takes those permissions away
// (a file of mode 0644 becomes 0600; the owner's own bits stay as they are,
// so a file the owner made read-only stays read-only). Files of other users
// and files already private are left alone. True when the mode was changed.
bool NarrowToOwner(const std::string& path);

// NarrowToOwner for the three files of a table (data, index and BLOB file)
// named by the data file's path, "linksdata.dat" for example, each found
// without regard to the letter case of its name. True when any changed.
bool NarrowTableToOwner(const std::string& tablePath);

}  // namespace marrowick::platform
