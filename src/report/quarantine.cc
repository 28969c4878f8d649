// Quarantine: a job the interpreters could not read is moved out of in/ into
// failed/ beside it, with the reason next to it, so that someone can look at
// it; in/ keeps only jobs that are waiting.

#include <filesystem>
#include <system_error>

#include "config/job.h"
#include "config/path_utils.h"
#include "config/text_utils.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "report/job_failure.h"

namespace quillaro {

int Job::QuarantineFailedJob(std::u16string job_path) {
  const std::optional<std::string> reason = JobFailureReason(Report);
  if (!reason || job_path.empty()) return 0;
  const std::string folder = ToNarrow(GetDataFolder()) + kPathSeparator + "failed";
  const std::string name = ToNarrow(JobFileName(job_path));
  std::error_code error;
  std::filesystem::create_directory(folder, error);
  // A rename within the service folder: the job's bytes are never copied,
  // and a job of the same name quarantined earlier is replaced.
  std::filesystem::rename(ToNarrow(job_path), folder + kPathSeparator + name, error);
  if (error) return 0;
  WriteNewFile(folder + kPathSeparator + name + ".reason.txt", *reason + "\n");
  return 1;
}

}  // namespace quillaro
