#include "config/text_utils.h"

#include <cstdio>

#include "platform/code_page.h"

namespace quillaro {

std::u16string ToWide(const std::string& narrow) { return NarrowToWide(narrow); }

std::string ToNarrow(const std::u16string& wide) { return WideToNarrow(wide); }

std::u16string FormatIntW(int32_t value) {
  std::string narrow = FormatIntA(value);
  return std::u16string(narrow.begin(), narrow.end());
}

std::string FormatIntA(int32_t value) {
  char buffer[32];
  int n = std::snprintf(buffer, sizeof buffer, "%i", value);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string FormatFloatA(float value) {
  char buffer[32];
  int n = std::snprintf(buffer, sizeof buffer, "%.2f", static_cast<double>(value));
  if (n < 0) return std::string();
  // Only 31 bytes may be used; a huge value is cut there rather than spilling.
  return std::string(buffer, static_cast<size_t>(n) < sizeof buffer ? static_cast<size_t>(n)
                                                                     : sizeof buffer - 1);
}

namespace {

template <typename String>
void ReplaceAllImpl(String& text, const String& find, const String& replacement) {
  if (find.empty()) return;
  size_t pos = text.find(find);
  while (pos != String::npos && pos < text.size()) {
    text.replace(pos, find.size(), replacement);
    pos = text.find(find, pos + replacement.size());
  }
}

}  // namespace

void ReplaceAll(std::string& text, const std::string& find, const std::string& replacement) {
  ReplaceAllImpl(text, find, replacement);
}

void ReplaceAll(std::u16string& text, const std::u16string& find,
                const std::u16string& replacement) {
  ReplaceAllImpl(text, find, replacement);
}

int32_t SplitString(const std::string& input, const std::string& separator,
                    std::vector<std::string>& pieces, bool keep_empty) {
  if (input.empty() || separator.empty()) return 0;
  std::vector<size_t> positions;
  for (size_t pos = input.find(separator); pos != std::string::npos;
       pos = input.find(separator, pos + separator.size())) {
    positions.push_back(pos);
  }
  if (positions.empty()) return 0;
  size_t start = 0;
  auto append = [&](size_t end) {
    if (end > start || keep_empty) pieces.push_back(input.substr(start, end - start));
  };
  for (size_t pos : positions) {
    append(pos);
    start = pos + separator.size();
  }
  append(input.size());
  return static_cast<int32_t>(positions.size());
}

}  // namespace quillaro
