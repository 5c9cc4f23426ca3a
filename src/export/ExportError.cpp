#include "export/ExportError.h"

#include <system_error>

namespace exports {

namespace {

std::string MessageOf(EExportError::TStage stage, const std::string& fileName,
                      const std::string& reason) {
  const char* action = stage == EExportError::esCreate ? "Cannot create file \"" : "Cannot write file \"";
  return action + fileName + "\". " + reason;
}

}  // namespace

EExportError::EExportError(const std::string& reason) : std::runtime_error(reason), reason_(reason) {}

EExportError::EExportError(TStage stage, const std::string& fileName, const std::string& reason)
    : std::runtime_error(MessageOf(stage, fileName, reason)),
      stage_(stage),
      fileName_(fileName),
      reason_(reason) {}

EExportError EExportError::FromErrno(TStage stage, const std::string& fileName, int errnum) {
  return EExportError(stage, fileName, std::generic_category().message(errnum));
}

}  // namespace exports
