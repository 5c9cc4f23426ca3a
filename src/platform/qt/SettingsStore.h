// The per-user settings store kept by QSettings (the interface is Qt-free,
// in platform/core).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QSettings>

#include "platform/core/SettingsStore.h"

namespace marrowick::platform {

// The settings file: $XDG_CONFIG_HOME/Tolvane/Marrowick.conf, with ~/.config
// when XDG_CONFIG_HOME is unset or empty. Looked up anew for every accessor.
std::string SettingsFilePath();

// The settings group of a key path: the '\'-separated parts joined with '/',
// empty parts (a leading or doubled '\') dropped. Names stay Windows-1252
// bytes; they are converted when handed to Qt.
std::string SettingsGroupForKey(const std::string& key);

// The store kept as an INI file through QSettings. Keys are groups, values
// are strings exactly as given ("70", "-1").
class TQtSettingsStore : public ISettingsStore {
 public:
  TQtSettingsStore();
  explicit TQtSettingsStore(const std::string& filePath);
  ~TQtSettingsStore() override;

  void SetLazyWrite(bool lazy) override;
  bool OpenKey(const std::string& key, bool canCreate) override;
  bool KeyExists(const std::string& key) override;
  std::string ReadString(const std::string& name) override;
  void WriteString(const std::string& name, const std::string& value) override;
  void CloseKey() override;

  // The group of the open key, empty at the root.
  const std::string& CurrentKey() const { return current_; }

 private:
  std::string Resolve(const std::string& key) const;
  bool GroupExists(const std::string& group);
  QString ValuePath(const std::string& name) const;

  QSettings settings_;
  std::string current_;
  bool lazyWrite_ = true;
};

// The real store, as handed to the program's components.
std::unique_ptr<ISettingsStore> CreateSettingsStore();

}  // namespace marrowick::platform
