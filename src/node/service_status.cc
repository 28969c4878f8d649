#include "node/service_status.h"

#include <optional>
#include <sstream>

#include "node/file_bundle.h"

namespace quillaro {

ServiceStatus ReadServiceStatus(const std::string& path) {
  ServiceStatus status;
  std::optional<std::string> text = ReadWholeFile(path);
  if (!text) return status;
  std::istringstream lines(*text);
  std::string line;
  const std::string prefix = "quillaro: Quillaro ";
  while (std::getline(lines, line)) {
    if (line.compare(0, prefix.size(), prefix) != 0) continue;
    status.running = line.compare(prefix.size(), 8, "running ") == 0;
    if (status.running) ++status.starts;
  }
  return status;
}

}  // namespace quillaro
