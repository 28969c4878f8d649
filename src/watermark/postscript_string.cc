#include "watermark/postscript_string.h"

namespace quillaro {

std::string EscapePostScriptString(std::string_view text, std::size_t max_length) {
  static constexpr char kOctalDigits[] = "01234567";
  std::string escaped;
  escaped.reserve(text.size() < max_length ? text.size() : max_length);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    char sequence[4];
    std::size_t length = 0;
    if (c == '(' || c == ')' || c == '\\') {
      sequence[length++] = '\\';
      sequence[length++] = c;
    } else if (byte < 0x20 || byte > 0x7E) {
      // Always three digits: a digit that follows in the text must not be
      // read as part of the escape.
      sequence[length++] = '\\';
      sequence[length++] = kOctalDigits[(byte >> 6) & 7];
      sequence[length++] = kOctalDigits[(byte >> 3) & 7];
      sequence[length++] = kOctalDigits[byte & 7];
    } else {
      sequence[length++] = c;
    }
    if (length > max_length - escaped.size()) break;
    escaped.append(sequence, length);
  }
  return escaped;
}

}  // namespace quillaro
