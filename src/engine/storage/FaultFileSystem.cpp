#include "engine/storage/FaultFileSystem.h"

#include <algorithm>
#include <cerrno>

namespace tessel {
namespace {

constexpr int64_t kSectorSize = 512;

}  // namespace

const char* FaultKindName(TFaultKind kind) {
  switch (kind) {
    case TFaultKind::ReadError: return "read error";
    case TFaultKind::WriteError: return "write error";
    case TFaultKind::DiskFull: return "disk full";
    case TFaultKind::ShortWrite: return "short write";
    case TFaultKind::FlushError: return "flush error";
  }
  return "?";
}

TStepClass StepClassOf(TFaultKind kind) {
  switch (kind) {
    case TFaultKind::ReadError: return TStepClass::Read;
    case TFaultKind::FlushError: return TStepClass::Flush;
    default: return TStepClass::Write;
  }
}

const char* LossModeName(TLossMode mode) {
  switch (mode) {
    case TLossMode::LoseAll: return "all lost";
    case TLossMode::KeepPrefix: return "a prefix kept";
    case TLossMode::KeepAny: return "any kept";
  }
  return "?";
}

// ---------------------------------------------------------------------------
// One handle: the wrapped file system's handle, the file's shared state and
// the handle's own durability (write-through, deferral).

class TFaultFileSystem::THandle : public TFile {
 public:
  THandle(TFaultFileSystem& fs, std::shared_ptr<TFileState> state, std::unique_ptr<TFile> base, bool writeThrough)
      : fs_(fs), state_(std::move(state)), base_(std::move(base)), writeThrough_(writeThrough),
        generation_(fs.generation_) {}
  ~THandle() override { Close(); }

  TFile* BaseFile() const { return base_.get(); }

  int ReadAt(int64_t position, void* buffer, size_t count, size_t& done) override {
    done = 0;
    std::lock_guard lock(fs_.mutex_);
    if (Dead()) return EIO;
    bool shortWrite = false;
    if (int err = fs_.Step(TStepClass::Read, shortWrite)) return err;
    return base_->ReadAt(position, buffer, count, done);
  }

  int WriteAt(int64_t position, const void* buffer, size_t count, size_t& done) override {
    done = 0;
    std::lock_guard lock(fs_.mutex_);
    if (Dead()) return EIO;
    bool shortWrite = false;
    if (int err = fs_.Step(TStepClass::Write, shortWrite)) return err;
    const size_t putDown = shortWrite ? count / 2 : count;
    if (putDown > 0) {
      TUnflushed entry;
      entry.Offset = position;
      if (int err = Remember(entry, position, putDown)) return err;
      if (int err = base_->WriteAt(position, buffer, putDown, done)) return err;
      const auto* bytes = static_cast<const uint8_t*>(buffer);
      entry.New.assign(bytes, bytes + done);
      Wrote(std::move(entry));
    }
    return 0;
  }

  int Truncate(int64_t size) override {
    std::lock_guard lock(fs_.mutex_);
    if (Dead()) return EIO;
    bool shortWrite = false;
    if (int err = fs_.Step(TStepClass::Write, shortWrite)) return err;
    if (shortWrite) return EIO;  // a cut has no part to put down
    TUnflushed entry;
    entry.IsCut = true;
    entry.Offset = size;
    if (int err = base_->Size(entry.SizeBefore)) return err;
    if (size < entry.SizeBefore) {
      entry.Old.resize(static_cast<size_t>(entry.SizeBefore - size));
      size_t got = 0;
      if (int err = base_->ReadAt(size, entry.Old.data(), entry.Old.size(), got)) return err;
      entry.Old.resize(got);
    }
    if (int err = base_->Truncate(size)) return err;
    if (writeThrough_ && !deferring_) {
      // A write-through cut flushes the whole file's data (fdatasync).
      state_->Log.clear();
    } else {
      state_->Log.push_back(std::move(entry));
      if (deferring_) syncPending_ = true;
    }
    return 0;
  }

  int Size(int64_t& size) override {
    size = 0;
    std::lock_guard lock(fs_.mutex_);
    if (Dead()) return EIO;
    return base_->Size(size);
  }

  int Sync() override {
    std::lock_guard lock(fs_.mutex_);
    if (Dead()) return EIO;
    return Flush(false);
  }

  void DeferSync(bool on) override {
    std::lock_guard lock(fs_.mutex_);
    deferring_ = on && writeThrough_;
    if (!Dead() && fs_.forwardFlushes_) base_->DeferSync(on);
  }

  int SyncDeferred() override {
    std::lock_guard lock(fs_.mutex_);
    if (Dead()) return EIO;
    if (!syncPending_) return 0;
    return Flush(true);
  }

  bool Lock(int64_t position, int64_t length) override {
    std::lock_guard lock(fs_.mutex_);
    if (Dead()) return true;
    return base_->Lock(position, length);
  }

  bool Unlock(int64_t position, int64_t length) override {
    std::lock_guard lock(fs_.mutex_);
    if (Dead()) return true;
    return base_->Unlock(position, length);
  }

  int Close() override {
    std::lock_guard lock(fs_.mutex_);
    if (base_ == nullptr) return 0;
    std::erase(state_->Handles, this);
    const bool dead = Dead();
    const int err = base_->Close();
    base_.reset();
    return dead ? 0 : err;
  }

 private:
  bool Dead() const { return base_ == nullptr || fs_.powerOff_ || generation_ != fs_.generation_; }

  // The length before a write and the bytes it is about to replace.
  int Remember(TUnflushed& entry, int64_t position, size_t count) {
    if (int err = base_->Size(entry.SizeBefore)) return err;
    if (position < entry.SizeBefore) {
      const int64_t end = std::min<int64_t>(entry.SizeBefore, position + static_cast<int64_t>(count));
      entry.Old.resize(static_cast<size_t>(end - position));
      size_t got = 0;
      if (int err = base_->ReadAt(position, entry.Old.data(), entry.Old.size(), got)) return err;
      entry.Old.resize(got);
    }
    return 0;
  }

  void Wrote(TUnflushed entry) {
    if (writeThrough_ && !deferring_) {
      // Durable on return; it needs remembering only while writes before it
      // may still go.
      if (state_->Log.empty()) return;
      entry.Durable = true;
    } else if (deferring_) {
      syncPending_ = true;
    }
    state_->Log.push_back(std::move(entry));
  }

  int Flush(bool deferred) {
    bool shortWrite = false;
    if (int err = fs_.Step(TStepClass::Flush, shortWrite)) return err;
    if (fs_.forwardFlushes_) {
      if (int err = deferred ? base_->SyncDeferred() : base_->Sync()) return err;
    }
    state_->Log.clear();
    syncPending_ = false;
    return 0;
  }

  TFaultFileSystem& fs_;
  std::shared_ptr<TFileState> state_;
  std::unique_ptr<TFile> base_;
  const bool writeThrough_;
  bool deferring_ = false;
  bool syncPending_ = false;
  const uint64_t generation_;
};

// ---------------------------------------------------------------------------
// The file system

TFaultFileSystem::TFaultFileSystem(std::shared_ptr<TFileSystem> base) : base_(std::move(base)) {}

TFaultFileSystem::~TFaultFileSystem() = default;

void TFaultFileSystem::ForwardFlushes(bool on) {
  std::lock_guard lock(mutex_);
  forwardFlushes_ = on;
}

TStepCounts TFaultFileSystem::Counts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

void TFaultFileSystem::ResetCounts() {
  std::lock_guard lock(mutex_);
  // What is armed keeps its place relative to now.
  if (faultArmed_) faultAt_ -= counts_.Of(StepClassOf(faultKind_));
  if (cutAt_ != 0) cutAt_ -= counts_.Writes + counts_.Flushes;
  counts_ = TStepCounts{};
}

void TFaultFileSystem::FailAt(TFaultKind kind, uint64_t nth) {
  std::lock_guard lock(mutex_);
  faultArmed_ = nth > 0;
  faultKind_ = kind;
  faultAt_ = counts_.Of(StepClassOf(kind)) + nth;
}

void TFaultFileSystem::ClearFault() {
  std::lock_guard lock(mutex_);
  faultArmed_ = false;
}

bool TFaultFileSystem::FaultArmed() const {
  std::lock_guard lock(mutex_);
  return faultArmed_;
}

int TFaultFileSystem::FaultsFired() const {
  std::lock_guard lock(mutex_);
  return faultsFired_;
}

void TFaultFileSystem::SetLossModes(std::vector<TLossMode> modes) {
  std::lock_guard lock(mutex_);
  if (!modes.empty()) modes_ = std::move(modes);
}

void TFaultFileSystem::CutPowerAt(uint64_t nth, uint64_t seed) {
  std::lock_guard lock(mutex_);
  cutAt_ = nth == 0 ? 0 : counts_.Writes + counts_.Flushes + nth;
  cutSeed_ = seed;
}

void TFaultFileSystem::CutPower(uint64_t seed) {
  std::lock_guard lock(mutex_);
  cutSeed_ = seed;
  CutPowerLocked();
}

bool TFaultFileSystem::PowerIsOff() const {
  std::lock_guard lock(mutex_);
  return powerOff_;
}

const TPowerLoss& TFaultFileSystem::LastLoss() const {
  std::lock_guard lock(mutex_);
  return lastLoss_;
}

void TFaultFileSystem::RestorePower() {
  std::lock_guard lock(mutex_);
  powerOff_ = false;
}

size_t TFaultFileSystem::UnflushedWrites() const {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (const auto& [path, state] : files_) n += state->Log.size();
  return n;
}

std::shared_ptr<TFaultFileSystem::TFileState> TFaultFileSystem::StateOf(const std::string& path) {
  auto& state = files_[path];
  if (state == nullptr) {
    state = std::make_shared<TFileState>();
    state->Path = path;
  }
  return state;
}

int TFaultFileSystem::Step(TStepClass c, bool& shortWrite) {
  shortWrite = false;
  uint64_t& n = c == TStepClass::Read ? counts_.Reads : (c == TStepClass::Write ? counts_.Writes : counts_.Flushes);
  ++n;
  if (c != TStepClass::Read && cutAt_ != 0 && counts_.Writes + counts_.Flushes == cutAt_) {
    CutPowerLocked();
    return EIO;
  }
  if (!faultArmed_ || StepClassOf(faultKind_) != c || n != faultAt_) return 0;
  faultArmed_ = false;
  ++faultsFired_;
  switch (faultKind_) {
    case TFaultKind::DiskFull:
      return ENOSPC;
    case TFaultKind::ShortWrite:
      shortWrite = true;
      return 0;
    default:
      return EIO;
  }
}

void TFaultFileSystem::CutPowerLocked() {
  powerOff_ = true;
  cutAt_ = 0;
  ++generation_;
  lastLoss_ = TPowerLoss{};
  random_.seed(cutSeed_);
  for (auto& [path, state] : files_) {
    if (state->Log.empty()) continue;
    const TLossMode mode = modes_[random_() % modes_.size()];
    ApplyLoss(*state, mode);
    state->Log.clear();
  }
}

TFileOpenOptions TFaultFileSystem::BaseOptions(const TFileOpenOptions& options) const {
  TFileOpenOptions base = options;
  if (!forwardFlushes_) base.WriteThrough = false;
  return base;
}

// Puts the file in the state the cut leaves: every write since the last
// flush that is to go is undone (newest first, back to the first that goes
// or is torn), then those that stay, the durable ones and the torn parts are
// put down again in their order.
void TFaultFileSystem::ApplyLoss(TFileState& state, TLossMode mode) {
  const size_t n = state.Log.size();
  // Bytes of each write that reach the disk (a cut: 1 when it happens).
  std::vector<size_t> kept(n, 0);
  std::vector<size_t> pending;
  for (size_t i = 0; i < n; ++i) {
    const TUnflushed& e = state.Log[i];
    const size_t whole = e.IsCut ? 1 : e.New.size();
    if (e.Durable) {
      kept[i] = whole;
    } else {
      pending.push_back(i);
    }
  }
  auto torn = [&](const TUnflushed& e) -> size_t {
    if (e.IsCut) return 0;
    const int64_t end = e.Offset + static_cast<int64_t>(e.New.size());
    const int64_t first = (e.Offset / kSectorSize + 1) * kSectorSize;
    const int64_t last = ((end - 1) / kSectorSize) * kSectorSize;
    if (first > last) return 0;
    const int64_t boundaries = (last - first) / kSectorSize + 1;
    const int64_t at = first + kSectorSize * static_cast<int64_t>(random_() % static_cast<uint64_t>(boundaries));
    return static_cast<size_t>(at - e.Offset);
  };
  auto whole = [&](size_t i) { return state.Log[i].IsCut ? size_t{1} : state.Log[i].New.size(); };
  switch (mode) {
    case TLossMode::LoseAll:
      break;
    case TLossMode::KeepPrefix: {
      const size_t stay = static_cast<size_t>(random_() % (pending.size() + 1));
      for (size_t k = 0; k < stay; ++k) kept[pending[k]] = whole(pending[k]);
      if (stay < pending.size() && random_() % 2 == 0) kept[pending[stay]] = torn(state.Log[pending[stay]]);
      break;
    }
    case TLossMode::KeepAny:
      for (size_t i : pending) {
        const uint64_t roll = random_() % 4;
        if (roll < 2) kept[i] = whole(i);
        else if (roll == 2) kept[i] = torn(state.Log[i]);
      }
      break;
  }

  TPowerLoss& loss = lastLoss_;
  ++loss.Files;
  ++loss.Modes[mode];
  size_t first = n;
  for (size_t i : pending) {
    const size_t all = whole(i);
    if (kept[i] == all) {
      ++loss.WritesKept;
    } else {
      if (kept[i] > 0) ++loss.WritesTorn;
      else ++loss.WritesLost;
      if (!state.Log[i].IsCut) loss.BytesLost += static_cast<int64_t>(all - kept[i]);
      first = std::min(first, i);
    }
  }
  if (first == n) return;

  // A handle of the file, or one opened for the purpose.
  std::unique_ptr<TFile> own;
  TFile* file = state.Handles.empty() ? nullptr : state.Handles.front()->BaseFile();
  if (file == nullptr) {
    TFileOpenOptions options;
    options.Write = true;
    if (base_->OpenFile(state.Path, options, own) != 0) return;
    file = own.get();
  }
  size_t done = 0;
  for (size_t i = n; i-- > first;) {
    const TUnflushed& e = state.Log[i];
    if (e.IsCut) {
      if (e.Offset < e.SizeBefore) file->WriteAt(e.Offset, e.Old.data(), e.Old.size(), done);
      else file->Truncate(e.SizeBefore);
    } else {
      if (!e.Old.empty()) file->WriteAt(e.Offset, e.Old.data(), e.Old.size(), done);
      if (e.SizeBefore < e.Offset + static_cast<int64_t>(e.New.size())) file->Truncate(e.SizeBefore);
    }
  }
  for (size_t i = first; i < n; ++i) {
    const TUnflushed& e = state.Log[i];
    if (kept[i] == 0) continue;
    if (e.IsCut) file->Truncate(e.Offset);
    else file->WriteAt(e.Offset, e.New.data(), kept[i], done);
  }
  if (own != nullptr) own->Close();
}

// ---------------------------------------------------------------------------
// The seam

int TFaultFileSystem::OpenFile(const std::string& path, const TFileOpenOptions& options,
                               std::unique_ptr<TFile>& file) {
  std::unique_ptr<THandle> handle;
  {
    std::lock_guard lock(mutex_);
    if (powerOff_) return EIO;
    std::unique_ptr<TFile> base;
    if (int err = base_->OpenFile(path, BaseOptions(options), base)) return err;
    std::shared_ptr<TFileState> state = StateOf(path);
    handle = std::make_unique<THandle>(*this, state, std::move(base), options.WriteThrough);
    state->Handles.push_back(handle.get());
  }
  // Outside the lock: a handle file held before closes as it goes.
  file = std::move(handle);
  return 0;
}

int TFaultFileSystem::CreateFile(const std::string& path, const TFileOpenOptions& options,
                                 std::unique_ptr<TFile>& file) {
  std::unique_ptr<THandle> handle;
  {
    std::lock_guard lock(mutex_);
    if (powerOff_) return EIO;
    std::unique_ptr<TFile> base;
    if (int err = base_->CreateFile(path, BaseOptions(options), base)) return err;
    std::shared_ptr<TFileState> state = StateOf(path);
    // The file starts afresh, durably.
    state->Log.clear();
    handle = std::make_unique<THandle>(*this, state, std::move(base), options.WriteThrough);
    state->Handles.push_back(handle.get());
  }
  file = std::move(handle);
  return 0;
}

int TFaultFileSystem::DeleteFile(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (powerOff_) return EIO;
  if (int err = base_->DeleteFile(path)) return err;
  auto it = files_.find(path);
  if (it != files_.end() && it->second->Handles.empty()) files_.erase(it);
  return 0;
}

int TFaultFileSystem::RenameFile(const std::string& path, const std::string& newPath) {
  std::lock_guard lock(mutex_);
  if (powerOff_) return EIO;
  if (int err = base_->RenameFile(path, newPath)) return err;
  auto it = files_.find(path);
  if (it != files_.end() && it->second->Handles.empty()) {
    std::shared_ptr<TFileState> state = it->second;
    files_.erase(it);
    state->Path = newPath;
    files_[newPath] = state;
  }
  return 0;
}

int TFaultFileSystem::Exists(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (powerOff_) return EIO;
  return base_->Exists(path);
}

int TFaultFileSystem::ListDirectory(const std::string& directory, std::vector<std::string>& names) {
  std::lock_guard lock(mutex_);
  if (powerOff_) return EIO;
  return base_->ListDirectory(directory, names);
}

bool TFaultFileSystem::IsWritable(const std::string& path) {
  std::lock_guard lock(mutex_);
  return powerOff_ || base_->IsWritable(path);
}

bool TFaultFileSystem::IsDirectory(const std::string& path) {
  std::lock_guard lock(mutex_);
  return !powerOff_ && base_->IsDirectory(path);
}

int TFaultFileSystem::CanonicalPath(const std::string& path, std::string& canonical) {
  std::lock_guard lock(mutex_);
  if (powerOff_) return EIO;
  return base_->CanonicalPath(path, canonical);
}

}  // namespace tessel
