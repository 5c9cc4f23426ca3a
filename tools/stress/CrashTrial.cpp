#include "CrashTrial.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <map>
#include <random>

#include "engine/base/TesselError.h"
#include "engine/storage/Record.h"
#include "engine/storage/TableVerify.h"

namespace tesselstress {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// One report of the writer on its pipe (a write of this size is atomic).
struct Message {
  char Tag = 0;  // 'R' ready, 'B' write begun, 'C' write returned, 'E' error
  char Kind = 0;
  uint16_t Code = 0;
  int32_t Id = 0;
  int32_t Version = 0;
  int32_t Seq = 0;
};

void Send(int fd, const Message& m) {
  ssize_t n;
  do {
    n = write(fd, &m, sizeof m);
  } while (n < 0 && errno == EINTR);
}

void Send(int fd, char tag, const Commit& c) {
  Send(fd, Message{tag, static_cast<char>(c.Kind), 0, c.Id, c.Version, c.Seq});
}

// Inserts (most of the time), updates and deletes until it is killed.
// Reports each write before it begins and after it returns.
[[noreturn]] void WriterProcess(const TrialSetup& setup, int fd) {
  std::mt19937_64 rng(Mix(setup.Seed, 1));
  try {
    StressConnection::Options options;
    options.ForceBufferFlush = setup.WriteThrough;
    options.LockRetryCount = 0;
    StressConnection conn(setup.Dir + kCrashTableName, options);
    tessel::TTesselTable& t = conn.Table();
    std::vector<int32_t> live;
    std::map<int32_t, int32_t> versions;
    for (const Commit& c : setup.Baseline) {
      live.push_back(c.Id);
      versions[c.Id] = c.Version;
    }
    int32_t next = 1;
    int32_t seq = 0;
    if (setup.KillAtWrite > 0) {
      // The parent follows this process's system calls from here on.
      if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) throw std::runtime_error("ptrace refused");
      raise(SIGSTOP);
    }
    Send(fd, Message{'R'});
    for (;;) {
      const int roll = static_cast<int>(rng() % 100);
      if (roll < 70 || live.empty()) {
        const Commit c{OpKind::Insert, kCrashWriter * kKeysPerOwner + next++, 1, kCrashWriter, ++seq};
        t.Append();
        conn.Assign(MakeRow(c.Id, c.Version, c.Writer, c.Seq));
        Send(fd, 'B', c);
        t.Post();
        Send(fd, 'C', c);
        live.push_back(c.Id);
        versions[c.Id] = 1;
        continue;
      }
      const size_t index = rng() % live.size();
      const int32_t id = live[index];
      if (!conn.Find(id)) throw std::runtime_error("record " + std::to_string(id) + " not found");
      if (roll < 90) {
        t.Edit();
        const Row current = conn.Read();
        if (current.Version != versions[id])
          throw std::runtime_error("record " + std::to_string(id) + " has a wrong version");
        const Commit c{OpKind::Update, id, current.Version + 1, kCrashWriter, ++seq};
        conn.Assign(MakeRow(c.Id, c.Version, c.Writer, c.Seq));
        Send(fd, 'B', c);
        t.Post();
        Send(fd, 'C', c);
        versions[id] = c.Version;
      } else {
        const Commit c{OpKind::Delete, id, versions[id], kCrashWriter, ++seq};
        Send(fd, 'B', c);
        t.Delete();
        Send(fd, 'C', c);
        live[index] = live.back();
        live.pop_back();
      }
    }
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    std::cerr << "crash writer: " << ErrorText(error) << std::endl;
    Send(fd, Message{'E', 0, EngineCode(error)});
  }
  _exit(3);
}

// Reads what is there into buffer; false at the end of the pipe.
bool ReadSome(int fd, std::string& buffer) {
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n > 0) {
      buffer.append(chunk, static_cast<size_t>(n));
      return true;
    }
    if (n == 0) return false;
    if (errno != EINTR) return false;
  }
}

// Waits up to the deadline for data; false when the deadline passed.
bool WaitReadable(int fd, Clock::time_point deadline) {
  for (;;) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return false;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    pollfd p{fd, POLLIN, 0};
    const int r = ppoll(&p, 1, &timeout, nullptr);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return true;  // let the read report it
  }
}

json ReportJson(const CheckReport& r) {
  return {{"rows", r.RowsChecked},        {"expected", r.ExpectedRows},   {"problems", r.Problems()},
          {"missing", r.Missing},         {"extra", r.Extra},             {"stale", r.Stale},
          {"unreported", r.Unreported},   {"wrongWriter", r.WrongWriter}, {"lostUpdates", r.LostUpdates},
          {"gaps", r.VersionGaps},        {"staleDeletes", r.StaleDeletes}, {"torn", r.TornRows},
          {"inFlightApplied", r.InFlightApplied}, {"tornInFlight", r.TornInFlight}, {"details", r.Details}};
}

json ErrorJson(const std::exception_ptr& error) {
  return {{"code", EngineCode(error)}, {"text", ErrorText(error)}};
}

json CompareContents(const std::string& path, const std::vector<Commit>& commits,
                     const std::vector<Commit>& inFlight) {
  StressConnection conn(path, StressConnection::Options{});
  std::vector<Row> rows;
  tessel::TTesselTable& t = conn.Table();
  for (t.First(); !t.Eof(); t.Next()) rows.push_back(conn.Read());
  json result = ReportJson(CheckContents(commits, rows, inFlight));
  result["recordCount"] = t.RecordCount();
  conn.Close();
  return result;
}

json Verify(const std::string& dir, bool repair) {
  VerifyAccess access(dir, kCrashTableName, repair);
  std::vector<std::string> lines;
  tessel::TVerifyOptions options;
  options.Repair = repair;
  const tessel::TVerifySummary s = tessel::VerifyTable(access.Table(), options, [&](const tessel::TVerifyFinding& f) {
    if (lines.size() < 12) lines.push_back(f.Message);
  });
  access.Close();
  json areas = json::array();
  for (int a = 0; a < tessel::kVerifyAreaCount; ++a) areas.push_back(s.Found[static_cast<size_t>(a)]);
  return {{"total", s.Total()},       {"fixed", s.TotalFixed()}, {"remaining", s.Remaining},
          {"sound", s.Sound()},       {"areas", areas},          {"rebuilt", s.RebuiltIndexes.size()},
          {"lines", lines}};
}

// Why a table does not open: the data file's length against its header,
// read without the open checks.
json Diagnose(const std::string& dir) {
  try {
    tessel::TDataTable table(dir, kCrashTableName);
    table.OpenFiles();
    tessel::TDataFile& data = table.Data();
    const int64_t length = data.FileLength();
    const int64_t size = std::max(data.RecordSize(), 1);
    const int64_t slots = (length - data.DataStart()) / size;
    const int64_t rest = (length - data.DataStart()) % size;
    const int32_t counted = data.Header.NextRecordNumber - 1;
    table.CloseFiles(false);
    std::string text = "data file holds " + std::to_string(slots) + " slots";
    if (rest != 0) text += " and " + std::to_string(rest) + " bytes";
    text += ", its header counts " + std::to_string(counted);
    return {{"slots", slots}, {"rest", rest}, {"counted", counted}, {"text", text}};
  } catch (...) {
    return {{"text", "the files do not open: " + ErrorText(std::current_exception())}};
  }
}

// The data header's last record identifier against the identifiers the
// slots carry: a slot written by an insert whose header never reached the
// file carries one the header does not know, which the next insert would
// hand out again. (Identifiers wrap at 2147483647; the trials never get
// there.)
json RecordIdentifiers(const std::string& dir) {
  VerifyAccess access(dir, kCrashTableName, false);
  tessel::TDataFile& data = access.Table().Data();
  int32_t highest = 0;
  int32_t slot = 0;
  for (int32_t r = 1; r <= data.PhysicalRecordCount(); ++r) {
    tessel::TRecord* record = data.FetchRecord(r, nullptr, data.RecordsPerRead);
    const int32_t id = record->RecordId();
    data.ReleaseRecord(record);
    if (id > highest) {
      highest = id;
      slot = r;
    }
  }
  json result = {{"last", data.Header.LastAutoIncValue}, {"highest", highest}, {"slot", slot}};
  access.Close();
  return result;
}

// A few writes on the repaired table: it must take them and stay sound.
void WriteAfterRepair(const std::string& path) {
  StressConnection conn(path, StressConnection::Options{});
  tessel::TTesselTable& t = conn.Table();
  const int32_t id = 2 * kKeysPerOwner + 1;
  for (int32_t i = 0; i < 3; ++i) {
    t.Append();
    conn.Assign(MakeRow(id + i, 1, 2, i + 1));
    t.Post();
  }
  t.First();
  if (!t.Eof()) {
    t.Edit();
    const Row current = conn.Read();
    conn.Assign(MakeRow(current.Id, current.Version + 1, 2, 10));
    t.Post();
  }
  if (!conn.Find(id + 1)) throw std::runtime_error("a record inserted after the repair is not found");
  t.Delete();
  conn.Close();
}

}  // namespace

namespace {

// Whether a system call changes a file.
bool FileWrite(uint64_t nr) {
  return nr == SYS_pwrite64 || nr == SYS_pwritev || nr == SYS_write || nr == SYS_writev ||
         nr == SYS_ftruncate || nr == SYS_fallocate;
}

// Follows the stopped writer's system calls and kills it as it enters its
// setup.KillAtWrite-th file write. Answers the writes it let through (-1
// when the writer ended first). The pipe is read on the way, so that the
// writer never waits on a full one.
int64_t KillAtWrite(pid_t pid, const TrialSetup& setup, int pipeFd, int reportFd, std::string& buffer) {
  ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
  int64_t writes = 0;
  int deliver = 0;
  for (uint64_t stops = 0;; ++stops) {
    if (ptrace(PTRACE_SYSCALL, pid, nullptr, deliver) != 0) return -1;
    deliver = 0;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) return -1;
    if (stops % 64 == 0) ReadSome(pipeFd, buffer);
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      deliver = WSTOPSIG(status) == SIGTRAP || WSTOPSIG(status) == SIGSTOP ? 0 : WSTOPSIG(status);
      continue;
    }
    __ptrace_syscall_info info{};
    if (ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0) continue;
    if (info.op != PTRACE_SYSCALL_INFO_ENTRY || !FileWrite(info.entry.nr)) continue;
    // Writes of the report pipe are the writer's own; only the table's
    // files count.
    const int fd = static_cast<int>(info.entry.args[0]);
    if ((info.entry.nr == SYS_write || info.entry.nr == SYS_writev) && (fd == reportFd || fd <= 2)) continue;
    if (++writes == setup.KillAtWrite) {
      kill(pid, SIGKILL);
      return writes - 1;
    }
  }
}

}  // namespace

WriterReport RunWriter(const TrialSetup& setup) {
  WriterReport report;
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  std::cout.flush();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    close(fds[0]);
    WriterProcess(setup, fds[1]);
  }
  close(fds[1]);
  std::string buffer;
  bool open = true;
  if (setup.KillAtWrite > 0) {
    // The writer stops itself once the table is open.
    int status = 0;
    if (waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status)) {
      fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
      report.Started = true;
      report.WritesBeforeKill = KillAtWrite(pid, setup, fds[0], fds[1], buffer);
      fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) & ~O_NONBLOCK);
    }
  } else {
    // The writer's start, then the random delay while its reports are read.
    const auto startDeadline = Clock::now() + std::chrono::seconds(setup.TimeoutSeconds);
    while (open && buffer.empty() && WaitReadable(fds[0], startDeadline)) open = ReadSome(fds[0], buffer);
    if (!buffer.empty() && buffer[0] == 'R') {
      report.Started = true;
      const auto killAt = Clock::now() + std::chrono::microseconds(setup.DelayMicros);
      while (open && WaitReadable(fds[0], killAt)) open = ReadSome(fds[0], buffer);
    }
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) report.ExitSignal = WTERMSIG(status);
  if (report.ExitSignal != 0 && report.ExitSignal != SIGKILL)
    report.Error = "the writer died by signal " + std::to_string(report.ExitSignal);
  while (open) open = ReadSome(fds[0], buffer);
  close(fds[0]);

  std::optional<Commit> begun;
  for (size_t at = 0; at + sizeof(Message) <= buffer.size(); at += sizeof(Message)) {
    Message m;
    std::memcpy(&m, buffer.data() + at, sizeof m);
    const Commit c{static_cast<OpKind>(m.Kind), m.Id, m.Version, kCrashWriter, m.Seq};
    if (m.Tag == 'B') {
      begun = c;
    } else if (m.Tag == 'C') {
      report.Committed.push_back(c);
      begun.reset();
    } else if (m.Tag == 'E') {
      report.Error = "the writer stopped with engine code " + std::to_string(m.Code);
    }
  }
  report.InFlight = begun;
  if (!report.Started && report.Error.empty()) report.Error = "the writer did not start";
  return report;
}

json CheckDamagedTable(const std::string& dir, const std::vector<Commit>& commits,
                       const std::vector<Commit>& inFlight) {
  const std::string path = dir + kCrashTableName;
  json r;
  // 1. Open as a program would, and read everything in key order.
  try {
    {
      StressConnection conn(path, StressConnection::Options{});
      conn.Close();
    }
    r["open"] = 0;
    try {
      r["before"] = CompareContents(path, commits, inFlight);
    } catch (...) {
      r["beforeError"] = ErrorJson(std::current_exception());
    }
  } catch (...) {
    r["open"] = EngineCode(std::current_exception());
    r["openText"] = ErrorText(std::current_exception());
    r["diagnosis"] = Diagnose(dir);
  }
  // 2. The structure check, shared.
  try {
    r["verify"] = Verify(dir, false);
  } catch (...) {
    r["verifyError"] = ErrorJson(std::current_exception());
  }
  // 3. The repair, exclusive.
  try {
    r["repair"] = Verify(dir, true);
  } catch (...) {
    r["repairError"] = ErrorJson(std::current_exception());
  }
  // 4. Checked again, and compared again.
  try {
    r["verifyAfter"] = Verify(dir, false);
  } catch (...) {
    r["verifyAfterError"] = ErrorJson(std::current_exception());
  }
  try {
    r["identifiers"] = RecordIdentifiers(dir);
  } catch (...) {
    r["identifiersError"] = ErrorJson(std::current_exception());
  }
  try {
    r["after"] = CompareContents(path, commits, inFlight);
  } catch (...) {
    r["afterError"] = ErrorJson(std::current_exception());
  }
  // 5. Written again, and checked.
  try {
    WriteAfterRepair(path);
    r["writeVerify"] = Verify(dir, false);
  } catch (...) {
    r["writeError"] = ErrorJson(std::current_exception());
  }
  return r;
}

json RunChecker(const TrialSetup& setup, const WriterReport& writer) {
  std::vector<Commit> commits = setup.Baseline;
  commits.insert(commits.end(), writer.Committed.begin(), writer.Committed.end());
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  std::cout.flush();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    close(fds[0]);
    json result;
    try {
      std::vector<Commit> undecided = writer.AlsoInFlight;
      if (writer.InFlight) undecided.insert(undecided.begin(), *writer.InFlight);
      result = CheckDamagedTable(setup.Dir, commits, undecided);
    } catch (...) {
      result["checkerError"] = ErrorText(std::current_exception());
    }
    const std::string text = result.dump();
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(fds[1], text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(fds[1]);
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  bool open = true;
  bool hung = false;
  const auto deadline = Clock::now() + std::chrono::seconds(setup.TimeoutSeconds);
  while (open) {
    if (!WaitReadable(fds[0], deadline)) {
      hung = true;
      kill(pid, SIGKILL);
      break;
    }
    open = ReadSome(fds[0], text);
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  json result;
  if (hung) {
    result["checker"] = "hang";
  } else if (WIFSIGNALED(status)) {
    result["checker"] = "crash (signal " + std::to_string(WTERMSIG(status)) + ")";
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    result["checker"] = "exit code " + std::to_string(WEXITSTATUS(status));
  } else {
    result = json::parse(text, nullptr, false);
    if (result.is_discarded()) {
      result = json::object();
      result["checker"] = "no answer";
    }
  }
  return result;
}

}  // namespace tesselstress
