#include "FaultTrial.h"

#include <map>
#include <random>
#include <stdexcept>

#include "engine/base/TesselError.h"
#include "engine/storage/FileSystem.h"

namespace tesselstress {
namespace {

using tessel::TFaultFileSystem;

// The writes of one writer: inserts of new ids, updates (each a new
// version, whose note is longer or shorter than the last) and deletes of
// the ids it knows to be there.
class Workload {
 public:
  Workload(uint64_t seed, const std::vector<Commit>& baseline) : rng_(seed) {
    for (const Commit& c : baseline) {
      live_.push_back(c.Id);
      versions_[c.Id] = c.Version;
    }
  }

  // Makes one write. inFlight is set before the write begins; the answer is
  // the write, which returned.
  Commit Next(StressConnection& conn, std::optional<Commit>& inFlight) {
    tessel::TTesselTable& t = conn.Table();
    const int roll = static_cast<int>(rng_() % 100);
    if (roll < 55 || live_.empty()) {
      const Commit c{OpKind::Insert, kCrashWriter * kKeysPerOwner + next_++, 1, kCrashWriter, ++seq_};
      t.Append();
      conn.Assign(MakeRow(c.Id, c.Version, c.Writer, c.Seq));
      inFlight = c;
      t.Post();
      live_.push_back(c.Id);
      versions_[c.Id] = 1;
      return c;
    }
    const size_t index = rng_() % live_.size();
    const int32_t id = live_[index];
    if (!conn.Find(id)) throw std::runtime_error("record " + std::to_string(id) + " not found");
    if (roll < 88) {
      t.Edit();
      const Commit c{OpKind::Update, id, versions_[id] + 1, kCrashWriter, ++seq_};
      conn.Assign(MakeRow(c.Id, c.Version, c.Writer, c.Seq));
      inFlight = c;
      t.Post();
      versions_[id] = c.Version;
      return c;
    }
    const Commit c{OpKind::Delete, id, versions_[id], kCrashWriter, ++seq_};
    inFlight = c;
    t.Delete();
    live_[index] = live_.back();
    live_.pop_back();
    return c;
  }

 private:
  std::mt19937_64 rng_;
  std::vector<int32_t> live_;
  std::map<int32_t, int32_t> versions_;
  int32_t next_ = 1;
  int32_t seq_ = 0;
};

StressConnection::Options SharedOptions(const std::shared_ptr<tessel::TFileSystem>& files) {
  StressConnection::Options options;
  options.ForceBufferFlush = true;
  options.LockRetryCount = 0;
  options.LockWaitTime = 0;
  options.FileSystem = files;
  return options;
}

bool IsEngineError(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const tessel::ETesselEngineError&) {
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Power trials

PowerOutcome RunPowerWriter(const PowerTrial& trial) {
  PowerOutcome out;
  auto faults = std::make_shared<TFaultFileSystem>(tessel::OperatingSystemFiles());
  if (!trial.Modes.empty()) faults->SetLossModes(trial.Modes);
  faults->CutPowerAt(trial.CutAt, Mix(trial.Seed, 4));
  Workload work(Mix(trial.Seed, 1), trial.Baseline);
  std::optional<Commit> inFlight;
  constexpr int kMostWrites = 100000;
  try {
    StressConnection conn(trial.Dir + kCrashTableName, SharedOptions(faults));
    out.Writer.Started = true;
    for (int n = 0; n < kMostWrites && !faults->PowerIsOff(); ++n) {
      out.Writer.Committed.push_back(work.Next(conn, inFlight));
      inFlight.reset();
    }
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    if (!IsEngineError(error)) {
      out.Error = "the writer raised what is no engine error: " + ErrorText(error);
    } else if (!faults->PowerIsOff()) {
      out.Error = "the writer failed before the cut: " + ErrorText(error);
    }
  }
  // The connection is gone (its close failed quietly once the power was
  // off); a writer that ran out of work gets its cut now.
  out.CutDuringWork = faults->PowerIsOff();
  if (!out.CutDuringWork) faults->CutPower(Mix(trial.Seed, 4));
  out.Loss = faults->LastLoss();
  out.Writer.InFlight = inFlight;
  out.Writer.Error = out.Error;
  return out;
}

// ---------------------------------------------------------------------------
// I/O trials

const char* IoOperationName(IoOperation op) {
  switch (op) {
    case IoOperation::Open: return "open";
    case IoOperation::Insert: return "insert";
    case IoOperation::Grow: return "grow";
    case IoOperation::Shrink: return "shrink";
    case IoOperation::Delete: return "delete";
    case IoOperation::Close: return "close";
  }
  return "?";
}

bool ParseIoOperation(const std::string& name, IoOperation& op) {
  for (IoOperation o : {IoOperation::Open, IoOperation::Insert, IoOperation::Grow, IoOperation::Shrink,
                        IoOperation::Delete, IoOperation::Close}) {
    if (name == IoOperationName(o)) {
      op = o;
      return true;
    }
  }
  return false;
}

namespace {

// A baseline id whose next version's note is longer (grow) or shorter than
// its first, from the middle of the table on.
int32_t UpdateTarget(const std::vector<Commit>& baseline, bool grow, int32_t seq) {
  for (size_t i = baseline.size() / 2; i < baseline.size() + baseline.size() / 2; ++i) {
    const Commit& c = baseline[i % baseline.size()];
    const size_t now = MakeRow(c.Id, c.Version, c.Writer, c.Seq).Note.size();
    const size_t next = MakeRow(c.Id, c.Version + 1, kCrashWriter, seq).Note.size();
    if (grow ? next > now : next < now) return c.Id;
  }
  throw std::runtime_error("the template has no row to update");
}

// Runs action; answers the engine code it failed with (0: it returned).
// Anything else than an engine error is noted in error.
uint16_t Attempt(const char* what, std::string& error, const std::function<void()>& action,
                 std::string* text = nullptr) {
  try {
    action();
    return 0;
  } catch (...) {
    const std::exception_ptr e = std::current_exception();
    if (!IsEngineError(e)) {
      if (error.empty()) error = std::string(what) + ": " + ErrorText(e);
      return 0xFFFF;
    }
    if (text != nullptr) *text = ErrorText(e);
    return EngineCode(e);
  }
}

}  // namespace

IoOutcome RunIoTrial(const IoTrial& trial) {
  IoOutcome out;
  auto faults = std::make_shared<TFaultFileSystem>(tessel::OperatingSystemFiles());
  const std::string path = trial.Dir + kCrashTableName;
  std::unique_ptr<StressConnection> conn;
  int32_t seq = 0;
  std::vector<Commit> pending;  // an exclusive table's writes, made durable by its close
  std::optional<Commit> write;  // the operation's own write

  // Everything before the operation runs without a fault.
  const bool exclusive = trial.Operation == IoOperation::Close;
  if (trial.Operation != IoOperation::Open) {
    StressConnection::Options options = SharedOptions(faults);
    options.Exclusive = exclusive;
    conn = std::make_unique<StressConnection>(path, options);
  }
  tessel::TTesselTable* t = conn ? &conn->Table() : nullptr;
  switch (trial.Operation) {
    case IoOperation::Open:
      break;
    case IoOperation::Insert:
      write = Commit{OpKind::Insert, kCrashWriter * kKeysPerOwner + 1, 1, kCrashWriter, ++seq};
      break;
    case IoOperation::Grow:
    case IoOperation::Shrink: {
      ++seq;
      const int32_t id = UpdateTarget(trial.Baseline, trial.Operation == IoOperation::Grow, seq);
      write = Commit{OpKind::Update, id, 2, kCrashWriter, seq};
      if (!conn->Find(id)) throw std::runtime_error("record " + std::to_string(id) + " not found");
      break;
    }
    case IoOperation::Delete: {
      const Commit& victim = trial.Baseline[trial.Baseline.size() / 2];
      write = Commit{OpKind::Delete, victim.Id, victim.Version, kCrashWriter, ++seq};
      if (!conn->Find(victim.Id)) throw std::runtime_error("record " + std::to_string(victim.Id) + " not found");
      break;
    }
    case IoOperation::Close: {
      for (int i = 1; i <= 3; ++i) {
        const Commit c{OpKind::Insert, kCrashWriter * kKeysPerOwner + i, 1, kCrashWriter, ++seq};
        t->Append();
        conn->Assign(MakeRow(c.Id, c.Version, c.Writer, c.Seq));
        t->Post();
        pending.push_back(c);
      }
      const Commit& first = trial.Baseline.front();
      const Commit c{OpKind::Update, first.Id, first.Version + 1, kCrashWriter, ++seq};
      if (!conn->Find(c.Id)) throw std::runtime_error("record " + std::to_string(c.Id) + " not found");
      t->Edit();
      conn->Assign(MakeRow(c.Id, c.Version, c.Writer, c.Seq));
      t->Post();
      pending.push_back(c);
      break;
    }
  }

  // The operation, with the fault armed.
  faults->ResetCounts();
  if (trial.Fault) faults->FailAt(trial.Kind, trial.At);
  out.OperationError = Attempt("the operation", out.Error, [&] {
    switch (trial.Operation) {
      case IoOperation::Open: {
        conn = std::make_unique<StressConnection>(path, SharedOptions(faults));
        t = &conn->Table();
        std::vector<Row> rows;
        for (t->First(); !t->Eof(); t->Next()) rows.push_back(conn->Read());
        const CheckReport report = CheckContents(trial.Baseline, rows);
        out.ReadProblems = report.Problems();
        for (const std::string& d : report.Details) out.ReadDetails.push_back("open read: " + d);
        break;
      }
      case IoOperation::Insert:
        t->Append();
        conn->Assign(MakeRow(write->Id, write->Version, write->Writer, write->Seq));
        t->Post();
        break;
      case IoOperation::Grow:
      case IoOperation::Shrink:
        t->Edit();
        conn->Assign(MakeRow(write->Id, write->Version, write->Writer, write->Seq));
        t->Post();
        break;
      case IoOperation::Delete:
        t->Delete();
        break;
      case IoOperation::Close:
        conn->Close();
        break;
    }
  }, &out.OperationText);
  out.Steps = faults->Counts();
  out.FaultFired = faults->FaultsFired() > 0;
  faults->ClearFault();

  if (out.OperationError == 0) {
    if (write) out.Writer.Committed.push_back(*write);
    for (const Commit& c : pending) out.Writer.Committed.push_back(c);
  } else {
    out.Writer.InFlight = write;
    for (const Commit& c : pending) out.Writer.AlsoInFlight.push_back(c);
  }

  // The table used on: in the same session, or (after a close) a new one.
  if (conn != nullptr) conn->CancelQuietly();
  if (trial.Operation == IoOperation::Close || conn == nullptr) {
    conn.reset();
    out.ReadAfter = Attempt("opening again", out.Error,
                            [&] { conn = std::make_unique<StressConnection>(path, SharedOptions(faults)); });
  }
  if (conn != nullptr) {
    t = &conn->Table();
    std::vector<Row> rows;
    const uint16_t read = Attempt("reading on", out.Error, [&] {
      for (t->First(); !t->Eof(); t->Next()) rows.push_back(conn->Read());
    });
    if (read == 0) {
      std::vector<Commit> returned = trial.Baseline;
      returned.insert(returned.end(), out.Writer.Committed.begin(), out.Writer.Committed.end());
      std::vector<Commit> undecided = out.Writer.AlsoInFlight;
      if (out.Writer.InFlight) undecided.push_back(*out.Writer.InFlight);
      const CheckReport report = CheckContents(returned, rows, undecided);
      out.ReadAfterProblems = report.Problems();
      for (const std::string& d : report.Details) out.ReadDetails.push_back("reading on: " + d);
    }
    if (out.ReadAfter == 0) out.ReadAfter = read;
    const Commit more{OpKind::Insert, kCrashWriter * kKeysPerOwner + 100, 1, kCrashWriter, ++seq};
    out.InsertAfter = Attempt("inserting on", out.Error, [&] {
      t->Append();
      conn->Assign(MakeRow(more.Id, more.Version, more.Writer, more.Seq));
      t->Post();
    });
    if (out.InsertAfter == 0) out.Writer.Committed.push_back(more);
    else out.Writer.AlsoInFlight.push_back(more);
    conn->CancelQuietly();
    out.CloseAfter = Attempt("closing", out.Error, [&] { conn->Close(); });
    conn.reset();
  }
  out.Writer.Started = true;
  out.Writer.Error = out.Error;
  return out;
}

}  // namespace tesselstress
