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

}  // namespace quillaro
