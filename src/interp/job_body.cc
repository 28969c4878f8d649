#include "interp/job_body.h"

#include "inspect/pjl_header.h"
#include "platform/file_system.h"

namespace quillaro {

std::optional<std::string> WritePjlJobBody(const std::string& job_path, const char* suffix) {
  std::string header, body, trailer;
  if (SplitPjlJob(job_path, header, body, trailer) == 0 || body.empty()) return std::nullopt;
  const std::string path = job_path + suffix;
  if (!WriteNewFile(path, body)) return std::nullopt;
  return path;
}

int RunOnJobOrItsBody(const std::string& job_path, const char* suffix,
                      const std::function<int(const std::string& input)>& run) {
  if (const int result = run(job_path); result != 0) return result;
  // No interpreter read the whole job: a PJL-wrapped one is read again
  // without its PJL layer, as the printer's language interpreter reads it.
  const std::optional<std::string> body = WritePjlJobBody(job_path, suffix);
  if (!body) return 0;
  const int result = run(*body);
  RemoveFile(*body);
  return result;
}

}  // namespace quillaro
