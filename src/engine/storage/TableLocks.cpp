// The multi-user protocol of a table: read, write, record and all-records
// locks at fixed byte positions of the table's files, and change detection
// through the change counters at the start of each file.
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <random>

#include "engine/base/TesselError.h"
#include "engine/storage/DataTable.h"
#include "platform/core/Clock.h"

namespace tessel {

namespace {

// Lock positions, far beyond any real data.
constexpr int64_t kWriteLockByte = 2147483647;     // data file: one writer at a time
constexpr int64_t kRecordLockBase = 2147483646;    // data file: record r at base - r
constexpr int64_t kAllRecordsStart = 2047483645;   // data file: every record lock position
constexpr int64_t kAllRecordsLength = 100000001;
constexpr int64_t kReaderByteBase = 2147483647;    // index/BLOB: reader n at base - n
constexpr int kReaderNumbers = 65534;              // n runs from 1 to 65534
constexpr int64_t kReadersStart = 2147418112;      // index/BLOB: covers every reader byte
constexpr int64_t kReadersLength = 65535;
constexpr int32_t kMaxLockableRecord = 100000001;

std::atomic<int> gLockRetries{TDataTable::kLockRetries};
std::atomic<uint32_t> gLockRetryWait{TDataTable::kLockRetryWait};

// Cleared in a forked child, which must not repeat its parent's draws. A
// fork handler rather than a getpid() per draw: every read lock draws.
std::atomic<bool> gReaderGeneratorSeeded{false};
void ForgetReaderSeed() { gReaderGeneratorSeeded.store(false, std::memory_order_relaxed); }

// A uniform draw from 1 to 65534. The generator is seeded once per process
// (again in a forked child).
int DrawReaderNumber() {
  static std::mutex mutex;
  static std::mt19937 generator;
  static std::once_flag forkHandler;
  std::call_once(forkHandler, [] { ::pthread_atfork(nullptr, nullptr, &ForgetReaderSeed); });
  std::lock_guard guard(mutex);
  if (!gReaderGeneratorSeeded.load(std::memory_order_relaxed)) {
    const pid_t pid = ::getpid();
    std::random_device device;
    std::seed_seq seed{device(), device(), static_cast<unsigned>(pid),
                       static_cast<unsigned>(platform::TickCount())};
    generator.seed(seed);
    gReaderGeneratorSeeded.store(true, std::memory_order_relaxed);
  }
  return std::uniform_int_distribution<int>(1, kReaderNumbers)(generator);
}

// One attempt, then up to retries more, waitMs apart.
bool LockRetrying(TFileHandler& file, int64_t position, int64_t length, int retries, uint32_t waitMs) {
  for (int attempt = 0;; ++attempt) {
    if (file.Lock(position, length)) return true;
    if (attempt >= retries) return false;
    platform::WaitMilliseconds(waitMs);
  }
}

// Takes a reader byte of file; answers its position, 0 when none could be had.
int64_t LockReaderByte(TFileHandler& file) {
  const int retries = gLockRetries.load();
  const uint32_t wait = gLockRetryWait.load();
  for (int attempt = 0;; ++attempt) {
    const int64_t position = kReaderByteBase - DrawReaderNumber();
    if (file.Lock(position, 1)) return position;
    if (attempt >= retries) return 0;
    platform::WaitMilliseconds(wait);
  }
}

}  // namespace

void TDataTable::SetLockRetryLimitsForTests(int retries, uint32_t waitMilliseconds) {
  gLockRetries = retries < 0 ? 0 : retries;
  gLockRetryWait = waitMilliseconds;
}

// ---------------------------------------------------------------------------
// Read and write locks

bool TDataTable::BeginRead() {
  if (readLocked_ || writeLocked_ || IsExclusive() || IsReadOnly()) return false;
  // A table that is not open has nothing to lock (and is not to be waited for).
  if (!index_.IsOpen()) RaiseEngineError(ec::GeneralLockFailure, tableName_);
  const int64_t indexByte = LockReaderByte(index_);
  if (indexByte == 0) RaiseEngineError(ec::GeneralLockFailure, tableName_);
  int64_t blobByte = 0;
  if (blob_.IsOpen()) {
    blobByte = LockReaderByte(blob_);
    if (blobByte == 0) {
      index_.Unlock(indexByte, 1);
      RaiseEngineError(ec::GeneralLockFailure, tableName_);
    }
  }
  readLocked_ = true;
  indexReaderByte_ = indexByte;
  blobReaderByte_ = blobByte;
  try {
    return DetectChanges();
  } catch (...) {
    // A failed change check leaves nothing locked.
    try {
      EndRead();
    } catch (...) {
    }
    throw;
  }
}

void TDataTable::EndRead() {
  if (!readLocked_) return;
  bool ok = true;
  if (indexReaderByte_ != 0) ok = index_.Unlock(indexReaderByte_, 1) && ok;
  if (blobReaderByte_ != 0) ok = blob_.Unlock(blobReaderByte_, 1) && ok;
  readLocked_ = false;
  indexReaderByte_ = 0;
  blobReaderByte_ = 0;
  if (!ok) RaiseEngineError(ec::CannotUnlock, tableName_);
}

bool TDataTable::BeginWrite() {
  if (writeLocked_ || IsExclusive() || IsReadOnly()) return false;
  if (!data_.IsOpen() || !index_.IsOpen()) RaiseEngineError(ec::GeneralLockFailure, tableName_);
  // The write lock's ranges cover this table's own reader bytes.
  if (readLocked_) EndRead();
  const int retries = gLockRetries.load();
  const uint32_t wait = gLockRetryWait.load();
  if (!LockRetrying(data_, kWriteLockByte, 1, retries, wait)) {
    RaiseEngineError(ec::GeneralLockFailure, tableName_);
  }
  // Waits until no reader is inside.
  if (!LockRetrying(index_, kReadersStart, kReadersLength, retries, wait)) {
    data_.Unlock(kWriteLockByte, 1);
    RaiseEngineError(ec::GeneralLockFailure, tableName_);
  }
  if (blob_.IsOpen() && !LockRetrying(blob_, kReadersStart, kReadersLength, retries, wait)) {
    index_.Unlock(kReadersStart, kReadersLength);
    data_.Unlock(kWriteLockByte, 1);
    RaiseEngineError(ec::GeneralLockFailure, tableName_);
  }
  writeLocked_ = true;
  blobWriteLocked_ = blob_.IsOpen();
  try {
    return DetectChanges();
  } catch (...) {
    try {
      EndWrite();
    } catch (...) {
    }
    throw;
  }
}

void TDataTable::EndWrite() {
  if (!writeLocked_) return;
  bool ok = true;
  if (blobWriteLocked_) ok = blob_.Unlock(kReadersStart, kReadersLength) && ok;
  ok = index_.Unlock(kReadersStart, kReadersLength) && ok;
  ok = data_.Unlock(kWriteLockByte, 1) && ok;
  writeLocked_ = false;
  blobWriteLocked_ = false;
  if (!ok) RaiseEngineError(ec::GeneralLockFailure, tableName_);
}

// ---------------------------------------------------------------------------
// Record locks

bool TDataTable::IsRecordLocked(int32_t recordNumber) const {
  if (recordNumber < 1) return false;
  const size_t word = static_cast<size_t>(recordNumber) / 64;
  return word < recordLockBits_.size() && (recordLockBits_[word] >> (recordNumber % 64) & 1u) != 0;
}

void TDataTable::SetRecordLockBit(int32_t recordNumber, bool held) {
  const size_t word = static_cast<size_t>(recordNumber) / 64;
  if (word >= recordLockBits_.size()) recordLockBits_.resize(word + 1, 0);
  const uint64_t bit = uint64_t{1} << (recordNumber % 64);
  if (held) {
    recordLockBits_[word] |= bit;
    ++recordLockCount_;
  } else {
    recordLockBits_[word] &= ~bit;
    --recordLockCount_;
  }
}

bool TDataTable::LockRecord(int32_t recordNumber) {
  if (IsExclusive() || IsReadOnly() || allRecordsLocked_) return false;
  if (recordNumber < 1 || recordNumber > kMaxLockableRecord) {
    RaiseEngineError(ec::RecordBuffersCorrupt, tableName_);
  }
  const bool hadReadLock = readLocked_;
  bool changed = false;
  if (!Settings.StrictChangeDetection) changed = BeginRead();

  const int64_t position = kRecordLockBase - recordNumber;
  // A record this table holds already is refused like one another user
  // holds: the file's lock would not tell them apart on every platform.
  for (int attempt = 0;; ++attempt) {
    if (!IsRecordLocked(recordNumber) && data_.Lock(position, 1)) {
      SetRecordLockBit(recordNumber, true);
      if (!Settings.StrictChangeDetection) return changed;
      // Without the read lock's check, the record lock checks itself.
      try {
        return DetectChanges();
      } catch (...) {
        data_.Unlock(position, 1);
        SetRecordLockBit(recordNumber, false);
        throw;
      }
    }
    if (attempt >= Settings.LockRetryCount) break;
    platform::WaitMilliseconds(Settings.LockWaitTime);
  }
  // What this call locked is given back.
  if (!hadReadLock && readLocked_) {
    try {
      EndRead();
    } catch (...) {
    }
  }
  RaiseEngineError(ec::RecordLocked, tableName_);
}

void TDataTable::UnlockRecord(int32_t recordNumber) {
  if (IsExclusive() || IsReadOnly() || allRecordsLocked_) return;
  if (!IsRecordLocked(recordNumber)) RaiseEngineError(ec::CannotUnlock, tableName_);
  if (!data_.Unlock(kRecordLockBase - recordNumber, 1)) RaiseEngineError(ec::CannotUnlock, tableName_);
  SetRecordLockBit(recordNumber, false);
}

bool TDataTable::LockAllRecords() {
  if (IsExclusive() || IsReadOnly() || allRecordsLocked_) return false;
  // This table's own record locks lie inside the range as well.
  const bool ownRecordLocks = recordLockCount_ > 0;
  bool locked = false;
  for (int attempt = 0; !ownRecordLocks; ++attempt) {
    if (data_.Lock(kAllRecordsStart, kAllRecordsLength)) {
      locked = true;
      break;
    }
    if (attempt >= Settings.LockRetryCount) break;
    platform::WaitMilliseconds(Settings.LockWaitTime);
  }
  if (!locked) RaiseEngineError(ec::TableLocked, tableName_);
  allRecordsLocked_ = true;
  try {
    return DetectChanges();
  } catch (...) {
    try {
      UnlockAllRecords();
    } catch (...) {
    }
    throw;
  }
}

void TDataTable::UnlockAllRecords() {
  if (IsExclusive() || IsReadOnly()) return;
  if (!allRecordsLocked_) RaiseEngineError(ec::CannotUnlock, tableName_);
  allRecordsLocked_ = false;
  if (!data_.Unlock(kAllRecordsStart, kAllRecordsLength)) RaiseEngineError(ec::CannotUnlock, tableName_);
}

void TDataTable::ReleaseLocks() {
  auto quietly = [](auto&& action) {
    try {
      action();
    } catch (...) {
    }
  };
  if (allRecordsLocked_) quietly([&] { UnlockAllRecords(); });
  allRecordsLocked_ = false;
  for (size_t word = 0; word < recordLockBits_.size(); ++word) {
    for (int bit = 0; bit < 64 && recordLockBits_[word] != 0; ++bit) {
      if ((recordLockBits_[word] >> bit & 1u) == 0) continue;
      const int32_t recordNumber = static_cast<int32_t>(word * 64 + static_cast<size_t>(bit));
      data_.Unlock(kRecordLockBase - recordNumber, 1);
      recordLockBits_[word] &= ~(uint64_t{1} << bit);
    }
  }
  recordLockBits_.clear();
  recordLockCount_ = 0;
  quietly([&] { EndRead(); });
  readLocked_ = false;
  quietly([&] { EndWrite(); });
  writeLocked_ = false;
}

// ---------------------------------------------------------------------------
// Change detection

bool TDataTable::DetectChanges() {
  bool changed = false;
  if (index_.ReadChangeCounter() != index_.Header.ChangeCounter) {
    index_.DropPages();
    index_.ReadIndexHeader();
    data_.ReadHeader();
    data_.DropRecords();
    changed = true;
  } else if (data_.ReadChangeCounter() != data_.Header.ChangeCounter) {
    data_.ReadHeader();
    data_.DropRecords();
    changed = true;
  }
  if (blob_.IsOpen() && blob_.ReadChangeCounter() != blob_.Header.ChangeCounter) {
    blob_.ReadBlobHeader();
    blob_.DropBlocks();
    changed = true;
  }
  if (changed) ++changesTakenIn_;
  return changed;
}

bool TDataTable::ChangedElsewhere() {
  if (IsExclusive() || !data_.IsOpen() || !index_.IsOpen()) return false;
  if (index_.ReadChangeCounter() != index_.Header.ChangeCounter) return true;
  if (data_.ReadChangeCounter() != data_.Header.ChangeCounter) return true;
  return blob_.IsOpen() && blob_.ReadChangeCounter() != blob_.Header.ChangeCounter;
}

}  // namespace tessel
