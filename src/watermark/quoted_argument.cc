#include "watermark/quoted_argument.h"

#include <cstddef>

namespace quillaro {

std::string QuoteArgument(std::string_view text) {
  std::string quoted = "\"";
  std::size_t pending_backslashes = 0;
  for (const char c : text) {
    if (c == '\\') {
      ++pending_backslashes;
      continue;
    }
    if (c == '"') {
      // 2n+1 backslashes before a quote give n backslashes and the quote.
      quoted.append(pending_backslashes * 2 + 1, '\\');
    } else {
      quoted.append(pending_backslashes, '\\');
    }
    pending_backslashes = 0;
    quoted += c;
  }
  // 2n backslashes before the closing quote give n backslashes.
  quoted.append(pending_backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

}  // namespace quillaro
