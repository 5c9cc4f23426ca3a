// A file system for tests and the fault trials that wraps another and makes
// the faults a process kill cannot make:
//
// - I/O errors. Every read, every write (a truncation counts as one) and
//   every flush that reaches a file is a numbered step of its class. FailAt
//   makes the nth step of a class from now fail once: a read or a write with
//   EIO, a write with ENOSPC, a short write (part of the bytes put down and
//   reported so), a flush with EIO. The step fails and nothing else changes.
//
// - Power loss. The layer remembers, per file, what was written since the
//   file's last flush (each write with the bytes it replaced). A power cut,
//   now or as the nth write or flush from now is entered (that one never
//   happens), throws it away as a power cut would: per file, all of it, a
//   random prefix of it in write order, or any of it (the disk wrote it out
//   in another order), where a write left partly may be torn at a 512-byte
//   sector boundary. From the cut on, every handle opened before it fails
//   with EIO (its locks answer yes, so that nothing waits on a dead machine),
//   and every operation fails until RestorePower.
//
// What is durable follows the operating system: a write through a
// write-through handle is durable when it returns unless the handle defers
// its flushes; a cut through such a handle flushes the whole file; a flush
// (Sync, or SyncDeferred after deferred writes) makes every earlier write to
// the file durable. Creating, deleting and renaming files are durable at
// once (the engine never flushes directories; the trials do not create
// files while they count).
//
// The wrapped file system is not asked to flush (the layer keeps durability
// itself), so trials on a disk directory run at the speed of the page cache;
// ForwardFlushes passes flushes and write-through on.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/FileSystem.h"

namespace tessel {

enum class TFaultKind : uint8_t {
  ReadError,   // a read fails with EIO, nothing read
  WriteError,  // a write fails with EIO, nothing written
  DiskFull,    // a write fails with ENOSPC, nothing written
  ShortWrite,  // a write puts down the first half of its bytes and says so
  FlushError,  // a flush fails with EIO; what it was to make durable is not
};
const char* FaultKindName(TFaultKind kind);

// The class of steps a fault kind hits.
enum class TStepClass : uint8_t { Read, Write, Flush };
TStepClass StepClassOf(TFaultKind kind);

struct TStepCounts {
  uint64_t Reads = 0;
  uint64_t Writes = 0;  // truncations included
  uint64_t Flushes = 0;
  uint64_t Of(TStepClass c) const { return c == TStepClass::Read ? Reads : c == TStepClass::Write ? Writes : Flushes; }
};

// How a power cut treats one file's writes since its last flush.
enum class TLossMode : uint8_t {
  LoseAll,     // every one is gone
  KeepPrefix,  // the first n stay (n drawn from none to all); the next may be torn
  KeepAny,     // each stays or goes on its own; one that goes may be torn
};
const char* LossModeName(TLossMode mode);

// What the last power cut threw away.
struct TPowerLoss {
  int Files = 0;        // files with writes since their last flush
  int WritesKept = 0;   // of those writes: reached the disk after all
  int WritesTorn = 0;   // reached it in part
  int WritesLost = 0;   // never reached it
  int64_t BytesLost = 0;
  std::map<TLossMode, int> Modes;  // files by the mode drawn for them
};

class TFaultFileSystem : public TFileSystem {
 public:
  explicit TFaultFileSystem(std::shared_ptr<TFileSystem> base);
  ~TFaultFileSystem() override;
  TFaultFileSystem(const TFaultFileSystem&) = delete;
  TFaultFileSystem& operator=(const TFaultFileSystem&) = delete;

  TFileSystem& Base() const { return *base_; }
  // Pass flushes and write-through on to the wrapped file system (off).
  void ForwardFlushes(bool on);

  // ---- Steps.
  TStepCounts Counts() const;
  void ResetCounts();

  // ---- I/O errors: the nth step of the kind's class from now (1: the
  // next) fails as the kind says. One fault is armed at a time; it fires
  // once.
  void FailAt(TFaultKind kind, uint64_t nth);
  void ClearFault();
  bool FaultArmed() const;
  // How many armed faults have fired since the file system was made.
  int FaultsFired() const;

  // ---- Power loss. The modes a cut draws from for each file (all three
  // unless set); a cut draws with the generator seeded by seed.
  void SetLossModes(std::vector<TLossMode> modes);
  // The power goes as the nth write or flush from now is entered.
  void CutPowerAt(uint64_t nth, uint64_t seed);
  // The power goes now.
  void CutPower(uint64_t seed);
  bool PowerIsOff() const;
  const TPowerLoss& LastLoss() const;
  // Files may be opened again; handles opened before the cut stay dead.
  void RestorePower();
  // Writes since their file's last flush, over every file.
  size_t UnflushedWrites() const;

  // ---- The seam.
  int OpenFile(const std::string& path, const TFileOpenOptions& options, std::unique_ptr<TFile>& file) override;
  int CreateFile(const std::string& path, const TFileOpenOptions& options, std::unique_ptr<TFile>& file) override;
  int DeleteFile(const std::string& path) override;
  int RenameFile(const std::string& path, const std::string& newPath) override;
  int Exists(const std::string& path) override;
  int ListDirectory(const std::string& directory, std::vector<std::string>& names) override;
  bool IsWritable(const std::string& path) override;
  bool IsDirectory(const std::string& path) override;
  int CanonicalPath(const std::string& path, std::string& canonical) override;

 private:
  class THandle;
  friend class THandle;

  // One write or cut since the file's last flush.
  struct TUnflushed {
    bool IsCut = false;
    int64_t Offset = 0;          // a write's position; a cut's new length
    int64_t SizeBefore = 0;      // the file's length before it
    std::vector<uint8_t> Old;    // the bytes it replaced (or, for a cut, the bytes cut off)
    std::vector<uint8_t> New;    // a write's bytes
    bool Durable = false;        // made durable on its own (write-through)
  };
  struct TFileState {
    std::string Path;
    std::vector<TUnflushed> Log;
    std::vector<THandle*> Handles;
  };

  // The callers hold mutex_.
  std::shared_ptr<TFileState> StateOf(const std::string& path);
  // Counts a step of its class; answers the error of a fault or a cut that
  // it sets off (0: go ahead). shortWrite tells that a short write is due.
  int Step(TStepClass c, bool& shortWrite);
  void CutPowerLocked();
  void ApplyLoss(TFileState& state, TLossMode mode);
  TFileOpenOptions BaseOptions(const TFileOpenOptions& options) const;

  std::shared_ptr<TFileSystem> base_;
  mutable std::mutex mutex_;
  bool forwardFlushes_ = false;
  TStepCounts counts_;
  bool faultArmed_ = false;
  TFaultKind faultKind_ = TFaultKind::ReadError;
  uint64_t faultAt_ = 0;  // in counts_ of the fault's class
  int faultsFired_ = 0;
  uint64_t cutAt_ = 0;    // in writes + flushes; 0: none planned
  uint64_t cutSeed_ = 0;
  std::vector<TLossMode> modes_{TLossMode::LoseAll, TLossMode::KeepPrefix, TLossMode::KeepAny};
  std::mt19937_64 random_;
  bool powerOff_ = false;
  uint64_t generation_ = 0;  // one more at each cut
  TPowerLoss lastLoss_;
  std::map<std::string, std::shared_ptr<TFileState>> files_;
};

}  // namespace tessel
