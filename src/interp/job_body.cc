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

}  // namespace quillaro
