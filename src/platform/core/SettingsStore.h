// The per-user settings store: keys holding named string values, reached
// through an accessor that opens one key at a time. Qt-free, so that the
// grid's core and the tests use it without a display; the QSettings store
// lives in platform/qt.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace marrowick::platform {

class ISettingsStore {
 public:
  virtual ~ISettingsStore() = default;

  // Lazy writing is on for a new accessor. With it off, every write has
  // reached the store before WriteString returns.
  virtual void SetLazyWrite(bool lazy) = 0;

  // Key paths use '\' between their parts. A path that begins with '\' starts
  // at the root of the current user's branch; any other path is taken below
  // the open key (or the root when none is open). OpenKey makes the key the
  // open one; it fails (false) only when the key is missing and canCreate is
  // false.
  virtual bool OpenKey(const std::string& key, bool canCreate) = 0;
  virtual bool KeyExists(const std::string& key) = 0;

  // Values of the open key. A missing value reads as the empty string.
  virtual std::string ReadString(const std::string& name) = 0;
  virtual void WriteString(const std::string& name, const std::string& value) = 0;

  virtual void CloseKey() = 0;
};

// Creates a fresh accessor on the current user's branch.
using SettingsStoreFactory = std::function<std::unique_ptr<ISettingsStore>()>;

}  // namespace marrowick::platform
