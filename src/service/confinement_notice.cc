#include "service/confinement_notice.h"

#include <cstdio>

#include "config/job.h"
#include "config/log_file.h"
#include "config/text_utils.h"

namespace quillaro {

bool ReportInterpreterConfinement(int landlock_abi_version) {
  if (landlock_abi_version > 0) return false;
  std::fprintf(stderr, "quillaro: %s\n", kUnconfinedNotice);
  // The operator who reads log.txt rather than the journal must see it too.
  Job settings;
  if (settings.IsLog) WriteLog(ToWide(kUnconfinedNotice));
  return true;
}

}  // namespace quillaro
