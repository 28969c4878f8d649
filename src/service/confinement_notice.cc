#include "service/confinement_notice.h"

#include <string>

#include "config/log_file.h"
#include "config/settings.h"
#include "config/text_utils.h"
#include "platform/child_confinement.h"
#include "platform/os_error.h"

namespace quillaro {

bool ReportInterpreterConfinement(int sandbox_version) {
  if (sandbox_version > 0) return false;
  const std::string notice = std::string(kUnconfinedNotice) + NoFileSystemSandboxReason();
  // Through the service's error line, so that it reaches the event log on
  // Windows too.
  ReportOsError(OsError{}, notice);
  // The operator who reads log.txt rather than the journal must see it too.
  const Settings settings = LoadSettings();
  if (settings.IsLog) WriteLog(ToWide(notice));
  return true;
}

}  // namespace quillaro
