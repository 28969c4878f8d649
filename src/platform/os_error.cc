#include "platform/os_error.h"

#include <cstdio>

namespace quillaro {

std::string ServiceReportLine(const OsError& error, std::string_view what) {
  std::string text(what);
  if (!error.call.empty()) {
    if (!text.empty()) text += ": ";
    text += error.ToString();
  }
  std::string line = "quillaro: ";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      line += escaped;
    } else {
      line += c;
    }
  }
  line += '\n';
  return line;
}

}  // namespace quillaro
