#include "engine/components/SessionList.h"

#include <algorithm>

#include "dataset/DataSetMessages.h"
#include "engine/components/Session.h"

namespace tessel {

namespace {
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

TTesselSessionList& TTesselSessionList::Instance() {
  // Never destroyed: sessions of other components may outlive any static.
  static TTesselSessionList* list = new TTesselSessionList();
  return *list;
}

TTesselSessionList::TTesselSessionList() {
  auto* session = new TTesselSession(nullptr, *this);  // becomes the default session
  session->sessionName_ = "Default";
}

int TTesselSessionList::Count() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(sessions_.size());
}

TTesselSession& TTesselSessionList::Sessions(int index) const {
  std::lock_guard lock(mutex_);
  return *sessions_.at(static_cast<size_t>(index));
}

std::vector<TTesselSession*> TTesselSessionList::List() const {
  std::lock_guard lock(mutex_);
  return sessions_;
}

TTesselSession* TTesselSessionList::FindSession(std::string_view name) const {
  if (name.empty()) return default_;
  std::lock_guard lock(mutex_);
  for (TTesselSession* s : sessions_)
    if (SameTextIgnoringCase(s->SessionName(), name)) return s;
  return nullptr;
}

TTesselSession& TTesselSessionList::OpenSession(std::string_view name) const {
  TTesselSession* session = FindSession(name);
  if (session == nullptr) dataset::DatabaseErrorFmt(msg::InvalidSessionName, {name});
  return *session;
}

int TTesselSessionList::TakeSessionNumber() {
  std::lock_guard lock(mutex_);
  auto free = std::find(numbers_.begin(), numbers_.end(), false);
  const int number = static_cast<int>(free - numbers_.begin());
  if (free == numbers_.end())
    numbers_.push_back(true);
  else
    *free = true;
  return number;
}

void TTesselSessionList::FreeSessionNumber(int number) {
  std::lock_guard lock(mutex_);
  if (number >= 0 && static_cast<size_t>(number) < numbers_.size()) numbers_[static_cast<size_t>(number)] = false;
}

bool TTesselSessionList::SessionNumberTaken(int number) const {
  std::lock_guard lock(mutex_);
  return number >= 0 && static_cast<size_t>(number) < numbers_.size() && numbers_[static_cast<size_t>(number)];
}

void TTesselSessionList::Add(TTesselSession* session) {
  std::lock_guard lock(mutex_);
  if (sessions_.empty()) default_ = session;
  sessions_.push_back(session);
}

void TTesselSessionList::Remove(TTesselSession* session) {
  std::lock_guard lock(mutex_);
  sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), session), sessions_.end());
}

}  // namespace tessel
