// The one error type of the exports. An error tied to a file reads
// `Cannot create file "NAME". REASON` or `Cannot write file "NAME". REASON`,
// REASON being the system's own words for what went wrong (or the message of
// the error that stopped the export); an error of a writer that has not
// been tied to a file yet reads as its reason alone.
#pragma once

#include <stdexcept>
#include <string>

namespace exports {

class EExportError : public std::runtime_error {
 public:
  enum TStage { esCreate, esWrite };

  // An error of the export itself (a worksheet too small for the grid, ...).
  explicit EExportError(const std::string& reason);
  EExportError(TStage stage, const std::string& fileName, const std::string& reason);

  // The system's reason for the error number errnum.
  static EExportError FromErrno(TStage stage, const std::string& fileName, int errnum);

  TStage Stage() const { return stage_; }
  const std::string& FileName() const { return fileName_; }
  const std::string& Reason() const { return reason_; }

 private:
  TStage stage_ = esWrite;
  std::string fileName_;
  std::string reason_;
};

}  // namespace exports
