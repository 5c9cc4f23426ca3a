// tessel-stress: K processes each doing M random operations (insert,
// update, delete, read, key search) on one shared table under the engine's
// locks, retrying what the engine refuses with its lock and "changed by
// another user" errors. Each process keeps a journal of the writes whose
// Post or Delete returned; at the end the table must pass the structure
// check and hold exactly what the journals say.
//
// Who may write what: process p inserts and deletes only its own keys
// (p * 1000000 + n), so which ids exist is fixed by p's journal alone;
// updates go to any record, and the record lock orders them (see
// StressModel.h).
#include <CLI/CLI.hpp>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "StressModel.h"
#include "StressTable.h"
#include "engine/base/TesselError.h"
#include "engine/cursor/DataCursor.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/TableVerify.h"

namespace tesselstress {
namespace {

constexpr const char* kTableName = "stress.dat";
constexpr int kMaxAttempts = 200;
constexpr int kHotRecords = 10;  // owner 0's first records, which every process updates

enum Kind { kInsert, kUpdate, kDelete, kRead, kSearch, kKindCount };
const char* const kKindNames[kKindCount] = {"insert", "update", "delete", "read", "key search"};

struct Settings {
  int Processes = 4;
  int Operations = 300;
  uint64_t Seed = 1;
  int Prefill = 50;
  int LockRetryCount = 2;
  int LockWaitTime = 2;
  bool Flush = false;
  bool Strict = false;
  std::string Dir;
  bool Keep = false;
};

// What one process did, by operation kind.
struct KindStats {
  int Attempted = 0;
  int Committed = 0;  // writes whose Post/Delete returned; reads and searches that finished
  int Skipped = 0;    // an update whose record another process had deleted, nothing to delete
  int GaveUp = 0;     // still refused after every attempt
  int Failed = 0;     // an unexpected error or a wrong answer
};

struct WorkerStats {
  KindStats Kinds[kKindCount];
  std::map<int, int> Retries;  // engine code -> retries
  int RowsRead = 0;
  nlohmann::json ToJson() const {
    nlohmann::json j;
    for (int k = 0; k < kKindCount; ++k) {
      const KindStats& s = Kinds[k];
      j["kinds"].push_back({s.Attempted, s.Committed, s.Skipped, s.GaveUp, s.Failed});
    }
    for (const auto& [code, n] : Retries) j["retries"][std::to_string(code)] = n;
    j["rows"] = RowsRead;
    return j;
  }
  void Add(const nlohmann::json& j) {
    for (int k = 0; k < kKindCount; ++k) {
      const auto& v = j.at("kinds").at(static_cast<size_t>(k));
      Kinds[k].Attempted += v[0].get<int>();
      Kinds[k].Committed += v[1].get<int>();
      Kinds[k].Skipped += v[2].get<int>();
      Kinds[k].GaveUp += v[3].get<int>();
      Kinds[k].Failed += v[4].get<int>();
    }
    if (j.contains("retries"))
      for (const auto& [code, n] : j["retries"].items()) Retries[std::stoi(code)] += n.get<int>();
    RowsRead += j.at("rows").get<int>();
  }
};

enum class Outcome { Done, Skipped, GaveUp, Failed };

// One process's part.
class Worker {
 public:
  Worker(const Settings& s, int number, const std::string& tablePath, const std::string& journalPath)
      : settings_(s), number_(number), rng_(Mix(s.Seed, static_cast<uint64_t>(number))), tablePath_(tablePath) {
    journal_ = std::fopen(journalPath.c_str(), "w");
    options_.ForceBufferFlush = s.Flush;
    options_.LockRetryCount = s.LockRetryCount;
    options_.LockWaitTime = s.LockWaitTime;
    options_.StrictChangeDetection = s.Strict;
  }
  ~Worker() {
    if (journal_ != nullptr) std::fclose(journal_);
  }

  int Run() {
    if (journal_ == nullptr) return 2;
    try {
      conn_ = std::make_unique<StressConnection>(tablePath_, options_);
    } catch (...) {
      Fail("the table does not open: " + ErrorText(std::current_exception()));
      return Finish();
    }
    for (int i = 0; i < settings_.Operations; ++i) {
      const int roll = static_cast<int>(rng_() % 100);
      Kind kind = roll < 30 ? kInsert : roll < 60 ? kUpdate : roll < 70 ? kDelete : roll < 85 ? kRead : kSearch;
      if (kind == kDelete && live_.empty()) kind = kInsert;
      KindStats& s = stats_.Kinds[kind];
      ++s.Attempted;
      Outcome outcome = Outcome::Done;
      switch (kind) {
        case kInsert: outcome = Insert(); break;
        case kUpdate: outcome = Update(); break;
        case kDelete: outcome = Delete(); break;
        case kRead: outcome = ReadSome(); break;
        default: outcome = Search(); break;
      }
      // Between operations this process holds no record lock.
      if (tessel::TDataCursor* cursor = conn_->Table().Cursor()) {
        const int held = cursor->Table()->RecordLocksHeld();
        if (held != 0) {
          Fail(std::to_string(held) + " record locks still held after a " + kKindNames[kind] + " of id " +
               std::to_string(target_));
          outcome = Outcome::Failed;
        }
      }
      switch (outcome) {
        case Outcome::Done: ++s.Committed; break;
        case Outcome::Skipped: ++s.Skipped; break;
        case Outcome::GaveUp: ++s.GaveUp; break;
        case Outcome::Failed: ++s.Failed; break;
      }
    }
    try {
      conn_->Close();
    } catch (...) {
      Fail("closing the table: " + ErrorText(std::current_exception()));
    }
    conn_.reset();
    return Finish();
  }

 private:
  int Finish() {
    std::fprintf(journal_, "S %s\n", stats_.ToJson().dump().c_str());
    std::fflush(journal_);
    return 0;
  }

  void Log(const Commit& c) { std::fprintf(journal_, "%s\n", FormatCommit(c).c_str()); }
  void Fail(const std::string& text) {
    std::fprintf(journal_, "F process %d: %s\n", number_, text.c_str());
    std::fflush(journal_);
  }

  // Runs body until it is not refused with a lock or change error.
  template <class Body>
  Outcome Attempt(const char* what, Body body) {
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
      try {
        return body();
      } catch (...) {
        const std::exception_ptr error = std::current_exception();
        conn_->CancelQuietly();
        const uint16_t code = EngineCode(error);
        if (code != tessel::ec::RecordLocked && code != tessel::ec::RecordChanged &&
            code != tessel::ec::GeneralLockFailure) {
          Fail(std::string(what) + " (at " + step_ + "): " + ErrorText(error));
          return Outcome::Failed;
        }
        ++stats_.Retries[code];
        lastRefusal_ = code;
        // A short random pause, longer after each refusal, so that
        // processes that keep meeting on one record drift apart.
        const int cap = std::min(5000, 100 * attempt);
        std::this_thread::sleep_for(std::chrono::microseconds(rng_() % static_cast<uint64_t>(cap)));
      }
    }
    std::fprintf(journal_, "N process %d: %s of id %d (at %s) gave up after %d attempts, last refused with %d\n",
                 number_, what, target_, step_, kMaxAttempts, lastRefusal_);
    return Outcome::GaveUp;
  }

  bool CheckRead(const Row& row, const std::string& where) {
    ++stats_.RowsRead;
    const std::string problem = CheckRow(row);
    if (problem.empty()) return true;
    Fail(where + ": " + problem);
    return false;
  }

  Row ReadRow() {
    step_ = "reading fields";
    return conn_->Read();
  }

  // Moves to a record chosen by its number in key order; false when the
  // table is empty.
  bool GotoRandomRecord() {
    tessel::TTesselTable& t = conn_->Table();
    step_ = "RecordCount";
    const int count = t.RecordCount();
    if (count <= 0) return false;
    step_ = "RecNo";
    t.SetRecNo(1 + static_cast<int>(rng_() % static_cast<uint64_t>(count)));
    return !t.IsEmpty() && !t.Eof();
  }

  // A key of a random owner, among as many keys as this process has used
  // (the others go at about the same pace).
  int32_t RandomKey() {
    const auto owner = static_cast<int32_t>(rng_() % static_cast<uint64_t>(settings_.Processes + 1));
    const int32_t used = owner == 0 ? settings_.Prefill : nextKey_ + nextKey_ / 4;
    return owner * kKeysPerOwner + 1 + static_cast<int32_t>(rng_() % static_cast<uint64_t>(std::max(used, 1)));
  }

  int32_t RandomLiveId() { return live_[rng_() % live_.size()]; }

  Outcome Insert() {
    const int32_t id = number_ * kKeysPerOwner + nextKey_;
    target_ = id;
    bool tried = false;
    const Outcome outcome = Attempt("insert", [&] {
      const int32_t seq = ++seq_;
      step_ = "Append";
      conn_->Table().Append();
      conn_->Assign(MakeRow(id, 1, number_, seq));
      step_ = "Post";
      try {
        conn_->Table().Post();
      } catch (const tessel::ETesselEngineError& e) {
        if (tried && e.Code() == tessel::ec::DuplicateKey) {
          conn_->CancelQuietly();
          Fail("insert of id " + std::to_string(id) + " was refused, yet the record is there");
          return Outcome::Failed;
        }
        tried = true;
        throw;
      }
      Log({OpKind::Insert, id, 1, number_, seq});
      live_.push_back(id);
      return Outcome::Done;
    });
    ++nextKey_;
    return outcome;
  }

  Outcome Update() {
    int32_t id = 0;
    const int roll = static_cast<int>(rng_() % 10);
    bool own = !live_.empty() && roll < 4;
    if (own) {
      id = RandomLiveId();
    } else if (roll < 6 && settings_.Prefill > 0) {
      // A few records every process writes to, so that they meet there.
      id = 1 + static_cast<int32_t>(rng_() % static_cast<uint64_t>(std::min(settings_.Prefill, kHotRecords)));
    } else {
      // Any record, by its position in key order.
      const Outcome found = Attempt("finding a record to update", [&] {
        if (!GotoRandomRecord()) return Outcome::Skipped;
        id = ReadRow().Id;
        return Outcome::Done;
      });
      if (found != Outcome::Done) return found;
      own = id / kKeysPerOwner == number_;
    }
    target_ = id;
    return Attempt("update", [&] {
      step_ = "FindKey";
      if (!conn_->Find(id)) {
        if (!own) return Outcome::Skipped;  // deleted by its owner meanwhile
        Fail("update: own record " + std::to_string(id) + " not found");
        return Outcome::Failed;
      }
      step_ = "Edit";
      conn_->Table().Edit();
      const Row current = ReadRow();
      if (!CheckRead(current, "update")) {
        conn_->CancelQuietly();
        return Outcome::Failed;
      }
      const int32_t seq = ++seq_;
      conn_->Assign(MakeRow(id, current.Version + 1, number_, seq));
      step_ = "Post";
      conn_->Table().Post();
      Log({OpKind::Update, id, current.Version + 1, number_, seq});
      return Outcome::Done;
    });
  }

  Outcome Delete() {
    const size_t index = rng_() % live_.size();
    const int32_t id = live_[index];
    target_ = id;
    const Outcome outcome = Attempt("delete", [&] {
      step_ = "FindKey";
      if (!conn_->Find(id)) {
        Fail("delete: own record " + std::to_string(id) + " not found");
        return Outcome::Failed;
      }
      const Row current = ReadRow();
      if (!CheckRead(current, "delete")) return Outcome::Failed;
      const int32_t seq = ++seq_;
      step_ = "Delete";
      conn_->Table().Delete();
      Log({OpKind::Delete, id, current.Version, number_, seq});
      return Outcome::Done;
    });
    if (outcome == Outcome::Done) {
      live_[index] = live_.back();
      live_.pop_back();
    }
    return outcome;
  }

  Outcome ReadSome() {
    return Attempt("read", [&] {
      tessel::TTesselTable& t = conn_->Table();
      if (rng_() % 2 == 0) {
        step_ = "FindNearest";
        t.FindNearest({dataset::Variant(RandomKey())});
      } else if (!GotoRandomRecord()) {
        return Outcome::Done;
      }
      bool sound = true;
      int32_t previous = -1;
      for (int i = 0; i < 5 && !t.Eof(); ++i) {
        const Row row = ReadRow();
        sound = CheckRead(row, "read") && sound;
        if (row.Id <= previous) {
          Fail("read: id " + std::to_string(row.Id) + " after " + std::to_string(previous) + " in key order");
          sound = false;
        }
        previous = row.Id;
        step_ = "Next";
        t.Next();
      }
      return sound ? Outcome::Done : Outcome::Failed;
    });
  }

  Outcome Search() {
    if (!live_.empty() && rng_() % 2 == 0) {
      const int32_t id = RandomLiveId();
      return Attempt("key search", [&] {
        step_ = "FindKey";
        if (!conn_->Find(id)) {
          Fail("key search: own record " + std::to_string(id) + " not found");
          return Outcome::Failed;
        }
        const Row row = ReadRow();
        if (!CheckRead(row, "key search")) return Outcome::Failed;
        if (row.Id != id) {
          Fail("key search for " + std::to_string(id) + " found " + std::to_string(row.Id));
          return Outcome::Failed;
        }
        return Outcome::Done;
      });
    }
    const std::string tag = "t" + std::to_string(rng_() % 37);
    return Attempt("search by tag", [&] {
      step_ = "Locate";
      if (!conn_->Table().Locate("tag", dataset::Variant(tag), 0)) return Outcome::Done;
      const Row row = ReadRow();
      if (!CheckRead(row, "search by tag")) return Outcome::Failed;
      if (row.Tag != tag) {
        Fail("search by tag " + tag + " found a row with tag " + row.Tag);
        return Outcome::Failed;
      }
      return Outcome::Done;
    });
  }

  const Settings& settings_;
  const int number_;
  std::mt19937_64 rng_;
  const std::string tablePath_;
  std::FILE* journal_ = nullptr;
  StressConnection::Options options_;
  std::unique_ptr<StressConnection> conn_;
  std::vector<int32_t> live_;
  int32_t nextKey_ = 1;
  int32_t seq_ = 0;
  WorkerStats stats_;
  const char* step_ = "";
  uint16_t lastRefusal_ = 0;
  int32_t target_ = 0;  // the id the operation under way writes  // the record set call under way, for failure reports
};

std::string JournalPath(const std::string& dir, int number) {
  return dir + "journal-" + std::to_string(number) + ".txt";
}

std::vector<Row> ReadAllRows(const std::string& tablePath, int* recordCount) {
  std::vector<Row> rows;
  StressConnection::Options options;
  StressConnection conn(tablePath, options);
  *recordCount = conn.Table().RecordCount();
  for (conn.Table().First(); !conn.Table().Eof(); conn.Table().Next()) rows.push_back(conn.Read());
  conn.Close();
  return rows;
}

int Run(Settings s) {
  bool madeDir = false;
  if (!PrepareWorkDirectory(s.Dir, "tessel-stress", madeDir)) return 2;
  const std::string tablePath = s.Dir + kTableName;

  std::cout << "tessel-stress: " << s.Processes << " processes x " << s.Operations << " operations, seed " << s.Seed
            << ", " << s.Prefill << " rows laid down first, lock retries " << s.LockRetryCount << " x "
            << s.LockWaitTime << " ms, " << (s.Flush ? "write-through" : "no write-through")
            << (s.Strict ? ", strict change detection" : "") << "\n"
            << "table: " << tablePath << std::endl;

  CreateStressTable(s.Dir, kTableName);
  std::vector<Commit> commits = Prefill(tablePath, s.Prefill);

  // The processes wait for the start pipe to close, so that they begin
  // together.
  int start[2];
  if (pipe(start) != 0) {
    std::perror("pipe");
    return 2;
  }
  std::vector<pid_t> pids;
  for (int p = 1; p <= s.Processes; ++p) {
    std::cout.flush();
    const pid_t pid = fork();
    if (pid < 0) {
      std::perror("fork");
      return 2;
    }
    if (pid == 0) {
      close(start[1]);
      char c;
      while (read(start[0], &c, 1) > 0) {
      }
      close(start[0]);
      int code = 2;
      {
        Worker worker(s, p, tablePath, JournalPath(s.Dir, p));
        code = worker.Run();
      }
      _exit(code);
    }
    pids.push_back(pid);
  }
  close(start[0]);
  const auto began = std::chrono::steady_clock::now();
  close(start[1]);

  int badExits = 0;
  for (size_t i = 0; i < pids.size(); ++i) {
    int status = 0;
    waitpid(pids[i], &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      ++badExits;
      std::cout << "process " << i + 1 << " ended "
                << (WIFSIGNALED(status) ? "by signal " + std::to_string(WTERMSIG(status))
                                        : "with exit code " + std::to_string(WEXITSTATUS(status)))
                << "\n";
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

  // The journals.
  WorkerStats total;
  std::vector<std::string> failures;
  std::vector<std::string> notes;
  int missingStats = 0;
  for (int p = 1; p <= s.Processes; ++p) {
    std::ifstream in(JournalPath(s.Dir, p));
    std::string line;
    bool sawStats = false;
    while (std::getline(in, line)) {
      if (line.rfind("S ", 0) == 0) {
        total.Add(nlohmann::json::parse(line.substr(2)));
        sawStats = true;
      } else if (line.rfind("F ", 0) == 0) {
        failures.push_back(line.substr(2));
      } else if (line.rfind("N ", 0) == 0) {
        notes.push_back(line.substr(2));
      } else if (auto c = ParseCommit(line)) {
        commits.push_back(*c);
      } else {
        failures.push_back("process " + std::to_string(p) + ": unreadable journal line: " + line);
      }
    }
    if (!sawStats) ++missingStats;
  }

  // The structure check.
  int findings = -1;
  std::vector<std::string> findingLines;
  std::string verifyError;
  try {
    VerifyAccess access(s.Dir, kTableName, false);
    const tessel::TVerifySummary summary =
        tessel::VerifyTable(access.Table(), tessel::TVerifyOptions{}, [&](const tessel::TVerifyFinding& f) {
          if (findingLines.size() < 20) findingLines.push_back(f.Message);
        });
    access.Close();
    findings = summary.Total();
  } catch (...) {
    verifyError = ErrorText(std::current_exception());
  }

  // The contents.
  int recordCount = -1;
  CheckReport report;
  std::string readError;
  try {
    const std::vector<Row> rows = ReadAllRows(tablePath, &recordCount);
    report = CheckContents(commits, rows);
  } catch (...) {
    readError = ErrorText(std::current_exception());
  }

  // The figures.
  int ops = 0;
  std::cout << "\n" << std::left << std::setw(12) << "operation" << std::right << std::setw(10) << "attempted"
            << std::setw(11) << "completed" << std::setw(9) << "skipped" << std::setw(9) << "gave up" << std::setw(8)
            << "failed" << "\n";
  for (int k = 0; k < kKindCount; ++k) {
    const KindStats& st = total.Kinds[k];
    ops += st.Attempted;
    std::cout << std::left << std::setw(12) << kKindNames[k] << std::right << std::setw(10) << st.Attempted
              << std::setw(11) << st.Committed << std::setw(9) << st.Skipped << std::setw(9) << st.GaveUp
              << std::setw(8) << st.Failed << "\n";
  }
  int retries = 0;
  std::cout << "retries:";
  for (const auto& [code, n] : total.Retries) {
    std::cout << " " << n << " after " << code;
    retries += n;
  }
  if (total.Retries.empty()) std::cout << " none";
  std::cout << " (10258 record in use, 8708 changed by another user, 10249 lock failure)\n";
  std::cout << std::fixed << std::setprecision(1) << "elapsed: " << seconds << " s, " << ops / seconds
            << " operations/s, " << total.RowsRead << " rows read and checked\n";
  std::cout << "committed writes in the journals: " << commits.size() << " (" << s.Prefill << " laid down first)\n";
  std::cout << "table: " << recordCount << " records, " << report.ExpectedRows << " expected\n";
  if (verifyError.empty()) {
    std::cout << "structure check: " << (findings == 0 ? "clean" : std::to_string(findings) + " findings") << "\n";
  } else {
    std::cout << "structure check failed: " << verifyError << "\n";
  }
  for (const std::string& f : findingLines) std::cout << "  " << f << "\n";
  if (!readError.empty()) std::cout << "reading the table failed: " << readError << "\n";
  std::cout << "contents: " << report.RowsChecked << " rows checked; " << report.Missing << " missing, "
            << report.Extra << " extra, " << report.Stale << " stale, " << report.Unreported << " unreported, "
            << report.WrongWriter << " wrong writer, " << report.LostUpdates << " lost updates, " << report.VersionGaps
            << " version gaps, " << report.StaleDeletes << " stale deletes, " << report.TornRows << " torn rows\n";
  for (const std::string& d : report.Details) std::cout << "  " << d << "\n";
  for (size_t i = 0; i < failures.size() && i < 20; ++i) std::cout << "failure: " << failures[i] << "\n";
  if (failures.size() > 20) std::cout << "... " << failures.size() - 20 << " more failures\n";

  int gaveUp = 0;
  for (const KindStats& st : total.Kinds) gaveUp += st.GaveUp;
  // Operations still refused after every attempt are reported, but they
  // say how the processes met on records, not whether the engine is right.
  for (size_t i = 0; i < notes.size() && i < 10; ++i) std::cout << "note: " << notes[i] << "\n";
  const bool pass = badExits == 0 && missingStats == 0 && failures.empty() && verifyError.empty() && findings == 0 &&
                    readError.empty() && report.Problems() == 0 && recordCount == report.ExpectedRows;
  std::cout << "result: " << (pass ? "PASS" : "FAIL") << std::endl;
  if (pass && madeDir && !s.Keep) std::filesystem::remove_all(s.Dir);
  else if (!pass || s.Keep) std::cout << "files kept in " << s.Dir << "\n";
  return pass ? 0 : 1;
}

}  // namespace
}  // namespace tesselstress

int main(int argc, char** argv) {
  tesselstress::Settings s;
  CLI::App app{"Runs processes that insert, update, delete and read one shared table at once, then checks\n"
               "the table's structure and that it holds exactly what the processes committed."};
  app.add_option("-p,--processes", s.Processes, "Number of processes")->check(CLI::Range(1, 64));
  app.add_option("-n,--operations", s.Operations, "Operations per process")->check(CLI::Range(1, 1000000));
  app.add_option("--seed", s.Seed, "Seed of the random choices");
  app.add_option("--prefill", s.Prefill, "Rows laid down before the processes start")->check(CLI::Range(0, 100000));
  app.add_option("--lock-retries", s.LockRetryCount, "Retries of a refused record lock")->check(CLI::Range(0, 255));
  app.add_option("--lock-wait", s.LockWaitTime, "Milliseconds between them")->check(CLI::Range(0, 65535));
  app.add_flag("--flush", s.Flush, "Write every change through to the disk (ForceBufferFlush)");
  app.add_flag("--strict", s.Strict, "Every read looks for other processes' changes (StrictChangeDetection)");
  app.add_option("--dir", s.Dir, "Directory for the table and the journals (default: a new temporary one)");
  app.add_flag("--keep", s.Keep, "Keep the table and the journals");
  CLI11_PARSE(app, argc, argv);
  try {
    return tesselstress::Run(s);
  } catch (const std::exception& e) {
    std::cerr << "tessel-stress: " << e.what() << "\n";
    return 2;
  }
}
