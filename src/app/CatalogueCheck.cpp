#include "app/CatalogueCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "engine/base/TesselError.h"
#include "engine/components/Session.h"
#include "engine/storage/DataTable.h"
#include "platform/core/PosixFile.h"

namespace marrowick {

namespace {

// The table for the time of one check: files opened and headers checked as
// the first cursor would, with the faults the structure check mends let
// through; closed (and written back) on release.
class TCheckedTable {
 public:
  TCheckedTable(const std::string& tablePath, bool exclusive, tessel::TTesselSession* session) {
    const size_t slash = tablePath.rfind('/');
    const std::string directory = slash == std::string::npos ? std::string() : tablePath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? tablePath : tablePath.substr(slash + 1);
    table_ = std::make_unique<tessel::TDataTable>(directory, name);
    table_->Settings.Exclusive = exclusive;
    table_->Settings.WriteThrough = true;
    table_->OpenFiles();
    try {
      table_->ValidateHeaders(true);
      if (table_->IsEncrypted()) {
        // Only someone who may open the catalogue checks or repairs it.
        if (session == nullptr) tessel::RaiseEngineError(tessel::ec::PasswordRequired, table_->TableName());
        tessel::CheckTablePassword(*table_, *session);
      }
    } catch (...) {
      CloseQuietly(false);
      throw;
    }
  }
  ~TCheckedTable() { CloseQuietly(true); }
  TCheckedTable(const TCheckedTable&) = delete;
  TCheckedTable& operator=(const TCheckedTable&) = delete;

  tessel::TDataTable& Table() { return *table_; }
  void Close() {
    if (!table_->IsOpen()) return;
    table_->CloseFiles(true);
  }

 private:
  void CloseQuietly(bool flush) {
    if (!table_ || !table_->IsOpen()) return;
    try {
      table_->CloseFiles(flush);
    } catch (...) {
    }
  }
  std::unique_ptr<tessel::TDataTable> table_;
};

TCatalogueCheckReport RunCheck(tessel::TDataTable& table, bool repair, const TCheckProgress& progress) {
  TCatalogueCheckReport report;
  report.Repaired = repair;
  tessel::TVerifyOptions options;
  options.Repair = repair;
  options.Progress = progress;
  report.Summary = tessel::VerifyTable(table, options, [&report](const tessel::TVerifyFinding& finding) {
    report.Findings.push_back((finding.AfterRepair ? "After repair: " : "") + finding.Message);
  });
  return report;
}

[[noreturn]] void RaiseSystemError(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}

// Copies one file to a new file of mode 0600 that must not exist yet; the
// copy is on the disk when this returns.
void CopyNewFile(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) RaiseSystemError(errno, "Cannot read " + from);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    RaiseSystemError(error, "Cannot create " + to);
  }
  int error = 0;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = errno;
      break;
    }
    if (got == 0) break;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(out, buffer + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) {
        error = errno;
        break;
      }
      done += put;
    }
    if (error != 0) break;
  }
  if (error == 0 && ::fsync(out) != 0) error = errno;
  ::close(in);
  if (::close(out) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(to.c_str());
    RaiseSystemError(error, "Cannot copy " + from + " to " + to);
  }
}

// The table's files as they are named on the disk; a file that is not
// there is left out.
std::vector<std::string> ExistingTableFiles(const std::string& tablePath) {
  std::vector<std::string> files;
  for (const char* extension : {".DAT", ".IDX", ".BLB"}) {
    std::string resolved;
    const std::string formed = tessel::TDataTable::FormFileName("", tablePath, extension);
    if (::platform::ResolveFileName(formed, resolved) == 0) files.push_back(resolved);
  }
  return files;
}

std::string TwoDigits(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", value);
  return text;
}

}  // namespace

std::string BackupFileName(const std::string& path, const ::platform::LocalDateTime& when, int attempt) {
  const size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
  std::string stamp = "-" + std::to_string(when.Year) + "-" + TwoDigits(when.Month) + "-" + TwoDigits(when.Day) +
                      "-" + TwoDigits(when.Hour) + TwoDigits(when.Minute);
  if (attempt > 1) stamp += "-" + std::to_string(attempt);
  return path.substr(0, dot) + stamp + path.substr(dot);
}

std::vector<std::string> BackupCatalogue(const std::string& tablePath, const ::platform::LocalDateTime& when) {
  const std::vector<std::string> files = ExistingTableFiles(tablePath);
  if (files.empty() || files.front().size() < 4 ||
      !::platform::EqualsIgnoreAsciiCase(files.front().substr(files.front().size() - 4), ".DAT")) {
    tessel::RaiseEngineError(tessel::ec::InvalidPath, tablePath);
  }
  // One name for all three files: the first attempt that none of them has.
  int attempt = 1;
  for (;; ++attempt) {
    bool taken = false;
    for (const std::string& file : files) {
      struct stat st {};
      if (::lstat(BackupFileName(file, when, attempt).c_str(), &st) == 0) taken = true;
    }
    if (!taken) break;
  }
  std::vector<std::string> copies;
  try {
    for (const std::string& file : files) {
      const std::string copy = BackupFileName(file, when, attempt);
      CopyNewFile(file, copy);
      copies.push_back(copy);
    }
  } catch (...) {
    for (const std::string& copy : copies) ::unlink(copy.c_str());
    throw;
  }
  return copies;
}

TCatalogueCheckReport CheckCatalogue(const std::string& tablePath, tessel::TTesselSession* session,
                                     const TCheckProgress& progress) {
  TCheckedTable table(tablePath, false, session);
  TCatalogueCheckReport report = RunCheck(table.Table(), false, progress);
  table.Close();
  return report;
}

TCatalogueCheckReport RepairCatalogue(const std::string& tablePath, const ::platform::LocalDateTime& when,
                                      tessel::TTesselSession* session, const TCheckProgress& progress) {
  // For this program's use alone from here on: nobody writes while the
  // files are copied and repaired.
  TCheckedTable table(tablePath, true, session);
  const std::vector<std::string> backup = BackupCatalogue(tablePath, when);
  // An index file lost and laid down anew is filled before the check.
  table.Table().CompleteRecreatedIndex();
  TCatalogueCheckReport report = RunCheck(table.Table(), true, progress);
  report.BackupFiles = backup;
  table.Close();
  return report;
}

std::string ReportSummary(const TCatalogueCheckReport& report) {
  const tessel::TVerifySummary& s = report.Summary;
  auto count = [](int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  std::string text = "Checked " + count(s.ActiveRecords, "site", "sites") + " in " +
                     count(s.RecordSlots, "record slot", "record slots") + ", " +
                     count(s.IndexesChecked, "index", "indexes") + " and " +
                     count(s.BlobValues, "note", "notes") + ". ";
  if (!report.Repaired) {
    if (s.Total() == 0) return text + "The catalogue is sound.";
    return text + "The check found " + count(s.Total(), "error", "errors") +
           ". Repair copies the catalogue's files to a backup beside them first, then fixes what can be fixed.";
  }
  text += "The repair found " + count(s.Total(), "error", "errors") + " and fixed " + std::to_string(s.TotalFixed()) +
          ". ";
  if (s.Remaining == 0) {
    text += "The check after the repair found none: the catalogue is sound.";
  } else {
    text += "The check after the repair still finds " + count(s.Remaining, "error", "errors") +
            " that cannot be fixed.";
  }
  if (!report.BackupFiles.empty()) {
    text += " The files as they were before the repair are kept as";
    for (size_t i = 0; i < report.BackupFiles.size(); ++i) {
      const std::string& file = report.BackupFiles[i];
      const size_t slash = file.rfind('/');
      text += (i == 0 ? " " : i + 1 == report.BackupFiles.size() ? " and " : ", ") +
              (slash == std::string::npos ? file : file.substr(slash + 1));
    }
    text += ".";
  }
  return text;
}

bool IsDamagedTableError(const std::exception& error) {
  const auto* engine = dynamic_cast<const tessel::ETesselEngineError*>(&error);
  if (engine == nullptr) return false;
  switch (engine->Code()) {
    case tessel::ec::HeaderCorrupt:
    case tessel::ec::RecordBuffersCorrupt:
    case tessel::ec::BlobBuffersCorrupt:
    case tessel::ec::PageBuffersCorrupt:
    case tessel::ec::ReadError:
    case tessel::ec::InvalidBlobOffset:
    case tessel::ec::InvalidBlobLength:
      return true;
    default:
      return false;
  }
}

}  // namespace marrowick
