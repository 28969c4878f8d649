#include "node/job_name.h"

namespace quillaro {
namespace {

// Leaves room in a 255-byte file name for the longest suffix the service
// adds ("_watermark_done_error") and a page number.
constexpr size_t kMaxNameBytes = 200;
constexpr size_t kMaxKeptExtensionBytes = 16;

}  // namespace

std::string SafeJobName(const std::string& name) {
  std::string safe = name;
  for (char& c : safe) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) c = '_';
  }
  if (safe.empty()) return "job";
  if (safe[0] == '.') safe[0] = '_';
  if (safe.size() > kMaxNameBytes) {
    const size_t dot = safe.rfind('.');
    std::string extension;
    if (dot != std::string::npos && safe.size() - dot <= kMaxKeptExtensionBytes) {
      extension = safe.substr(dot);
    }
    safe = safe.substr(0, kMaxNameBytes - extension.size()) + extension;
  }
  return safe;
}

std::string KeptExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot + 1 == name.size() || name.size() - dot - 1 > 8) return {};
  for (size_t i = dot + 1; i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return {};
  }
  return name.substr(dot);
}

std::string RestoreResultName(const std::string& file, const std::string& job_id,
                              const std::string& name) {
  const std::string extension = KeptExtension(name);
  const std::string stem = extension.empty() ? name : name.substr(0, name.size() - extension.size());
  const std::string run_name = job_id + extension;
  if (file.compare(0, run_name.size(), run_name) == 0) return name + file.substr(run_name.size());
  if (file.compare(0, job_id.size(), job_id) == 0) return stem + file.substr(job_id.size());
  return file;
}

}  // namespace quillaro
