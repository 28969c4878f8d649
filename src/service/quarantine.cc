// Quarantine: a job the interpreters could not read is moved out of in/ into
// failed/ beside it, with the reason next to it, so that someone can look at
// it; in/ keeps only jobs that are waiting.

#include "service/quarantine.h"

#include <filesystem>
#include <system_error>

#include "config/path_utils.h"
#include "config/result_names.h"
#include "config/text_utils.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "report/job_failure.h"

namespace quillaro {

bool QuarantineFailedJob(const std::u16string& job_path, const ReportNotes& notes) {
  const std::optional<std::string> reason = JobFailureReason(notes);
  if (!reason || job_path.empty()) return false;
  const std::string folder = ToNarrow(GetDataFolder()) + kPathSeparator + "failed";
  const std::string name = ToNarrow(JobFileName(job_path));
  std::error_code error;
  std::filesystem::create_directory(folder, error);
  // A rename within the service folder: the job's bytes are never copied,
  // and a job of the same name quarantined earlier is replaced.
  std::filesystem::rename(ToNarrow(job_path), folder + kPathSeparator + name, error);
  if (error) return false;
  WriteNewFile(WithSuffix(folder + kPathSeparator + name, kReasonSuffix), *reason + "\n");
  return true;
}

}  // namespace quillaro
