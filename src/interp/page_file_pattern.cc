#include "interp/page_file_pattern.h"

#include "config/text_utils.h"

namespace quillaro {

std::string EscapePagePattern(const std::string& text) {
  std::string escaped = text;
  ReplaceAll(escaped, "%", "%%");
  return escaped;
}

std::string PageFileName(const std::string& pattern, int page) {
  std::string name;
  name.reserve(pattern.size() + 8);
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size()) {
      if (pattern[i + 1] == '%') {
        name.push_back('%');
        ++i;
        continue;
      }
      if (pattern[i + 1] == 'd') {
        name += std::to_string(page);
        ++i;
        continue;
      }
    }
    name.push_back(pattern[i]);
  }
  return name;
}

}  // namespace quillaro
