#include "platform/qt/SettingsStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QVariant>

#include "platform/core/OwnerOnlyFiles.h"
#include "platform/qt/AnsiText.h"

namespace marrowick::platform {

std::string SettingsFilePath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg != nullptr && *xdg != '\0') {
    base = xdg;
  } else {
    base = QDir::homePath().toStdString() + "/.config";
  }
  if (!base.empty() && base.back() == '/') base.pop_back();
  return base + "/Tolvane/Marrowick.conf";
}

std::string SettingsGroupForKey(const std::string& key) {
  std::string group;
  size_t start = 0;
  while (start <= key.size()) {
    size_t end = key.find('\\', start);
    if (end == std::string::npos) end = key.size();
    if (end > start) {
      if (!group.empty()) group += '/';
      group.append(key, start, end - start);
    }
    start = end + 1;
  }
  return group;
}

TQtSettingsStore::TQtSettingsStore() : TQtSettingsStore(SettingsFilePath()) {}

namespace {

// The settings file is the user's own business, like the catalogue beside
// it, so it is kept readable and writable by its owner alone. Created that
// way before the first write (or narrowed, when it was wider), it stays so:
// QSettings replaces the file with a copy that keeps its permissions.
void PrepareOwnerOnlyFile(const std::string& filePath) {
  const QString path = QString::fromStdString(filePath);
  if (QFileInfo::exists(path)) {
    NarrowToOwner(filePath);
    return;
  }
  QDir().mkpath(QFileInfo(path).absolutePath());
  const int fd = ::open(filePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::close(fd);
  } else {
    NarrowToOwner(filePath);
  }
}

}  // namespace

TQtSettingsStore::TQtSettingsStore(const std::string& filePath)
    : settings_(QString::fromStdString(filePath), QSettings::IniFormat) {
  NarrowToOwner(filePath);
}

TQtSettingsStore::~TQtSettingsStore() = default;  // QSettings writes what is pending

void TQtSettingsStore::SetLazyWrite(bool lazy) { lazyWrite_ = lazy; }

std::string TQtSettingsStore::Resolve(const std::string& key) const {
  if (!key.empty() && key.front() == '\\') return SettingsGroupForKey(key);
  return SettingsGroupForKey(current_ + '\\' + key);
}

// An INI file holds no empty sections: a key exists once it or a key below it
// holds a value. A created key takes shape with its first value.
bool TQtSettingsStore::GroupExists(const std::string& group) {
  if (group.empty()) return true;  // the root always exists
  settings_.beginGroup(AnsiToQString(group));
  const bool exists = !settings_.allKeys().isEmpty();
  settings_.endGroup();
  return exists;
}

bool TQtSettingsStore::KeyExists(const std::string& key) { return GroupExists(Resolve(key)); }

bool TQtSettingsStore::OpenKey(const std::string& key, bool canCreate) {
  const std::string group = Resolve(key);
  if (!canCreate && !GroupExists(group)) return false;
  current_ = group;
  return true;
}

// Lazily written values reach the file when the accessor is released.
void TQtSettingsStore::CloseKey() { current_.clear(); }

QString TQtSettingsStore::ValuePath(const std::string& name) const {
  const QString value = AnsiToQString(name);
  if (current_.empty()) return value;
  return AnsiToQString(current_) + '/' + value;
}

std::string TQtSettingsStore::ReadString(const std::string& name) {
  const QVariant value = settings_.value(ValuePath(name));
  if (!value.isValid()) return {};
  // An unquoted value with commas, written by hand, reads as a list.
  if (value.typeId() == QMetaType::QStringList) {
    return QStringToAnsi(value.toStringList().join(", "));
  }
  return QStringToAnsi(value.toString());
}

void TQtSettingsStore::WriteString(const std::string& name, const std::string& value) {
  const std::string filePath = settings_.fileName().toStdString();
  PrepareOwnerOnlyFile(filePath);
  settings_.setValue(ValuePath(name), AnsiToQString(value));
  if (!lazyWrite_) {
    settings_.sync();
    if (settings_.status() != QSettings::NoError) {
      throw std::runtime_error("Failed to set data for '" + name + "'");
    }
  }
}

std::unique_ptr<ISettingsStore> CreateSettingsStore() {
  return std::make_unique<TQtSettingsStore>();
}

}  // namespace marrowick::platform
