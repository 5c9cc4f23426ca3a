// An in-memory settings store for tests: one shared state that every
// accessor reads and writes, with a log of what the accessors did.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/SettingsStore.h"

namespace marrowick::fakes {

struct TMemorySettingsState {
  // Key path as opened (leading '\' dropped) -> value name -> value.
  std::map<std::string, std::map<std::string, std::string>> keys;
  std::vector<std::string> log;
  int accessors = 0;
  int writes = 0;

  // A value as stored, or the empty string.
  std::string Value(const std::string& key, const std::string& name) const {
    auto k = keys.find(Normal(key));
    if (k == keys.end()) return {};
    auto v = k->second.find(name);
    return v == k->second.end() ? std::string() : v->second;
  }
  void SetValue(const std::string& key, const std::string& name, const std::string& value) {
    keys[Normal(key)][name] = value;
  }
  static std::string Normal(const std::string& key) {
    return !key.empty() && key.front() == '\\' ? key.substr(1) : key;
  }
};

class TMemorySettingsStore : public platform::ISettingsStore {
 public:
  explicit TMemorySettingsStore(TMemorySettingsState& state) : state_(state) { ++state_.accessors; }

  void SetLazyWrite(bool lazy) override { state_.log.push_back(lazy ? "lazy on" : "lazy off"); }
  bool OpenKey(const std::string& key, bool canCreate) override {
    state_.log.push_back("open " + key + (canCreate ? " create" : ""));
    std::string path = Resolve(key);
    if (!state_.keys.count(path) && !canCreate) return false;
    state_.keys[path];
    key_ = path;
    return true;
  }
  bool KeyExists(const std::string& key) override { return state_.keys.count(Resolve(key)) > 0; }
  std::string ReadString(const std::string& name) override {
    state_.log.push_back("read " + name);
    auto& values = state_.keys[key_];
    auto it = values.find(name);
    return it == values.end() ? std::string() : it->second;
  }
  void WriteString(const std::string& name, const std::string& value) override {
    state_.log.push_back("write " + name + "=" + value);
    ++state_.writes;
    state_.keys[key_][name] = value;
  }
  void CloseKey() override {
    state_.log.push_back("close");
    key_.clear();
  }

  // A factory of accessors on the shared state.
  static platform::SettingsStoreFactory Factory(TMemorySettingsState& state) {
    return [&state]() -> std::unique_ptr<platform::ISettingsStore> {
      return std::make_unique<TMemorySettingsStore>(state);
    };
  }

 private:
  std::string Resolve(const std::string& key) const {
    if (!key.empty() && key.front() == '\\') return key.substr(1);
    return key_.empty() ? key : key_ + "\\" + key;
  }

  TMemorySettingsState& state_;
  std::string key_;
};

}  // namespace marrowick::fakes
