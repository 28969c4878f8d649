#include "platform/pnm_header.h"

namespace quillaro {
namespace {

// The blanks of the C locale's isspace, which PNM readers use.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A field of the header: blanks and comments, then a decimal number of at
// most 10 digits (the widest a 32-bit side needs). `at` moves past it.
std::optional<uint64_t> ReadField(std::string_view bytes, size_t& at) {
  for (;;) {
    if (at == bytes.size()) return std::nullopt;
    if (bytes[at] == '#') {
      while (at < bytes.size() && bytes[at] != '\n' && bytes[at] != '\r') ++at;
    } else if (IsBlank(bytes[at])) {
      ++at;
    } else {
      break;
    }
  }
  uint64_t value = 0;
  size_t digits = 0;
  while (at < bytes.size() && IsDigit(bytes[at]) && digits < 10) {
    value = value * 10 + static_cast<uint64_t>(bytes[at++] - '0');
    ++digits;
  }
  if (digits == 0 || (at < bytes.size() && IsDigit(bytes[at]))) return std::nullopt;
  return value;
}

}  // namespace

std::optional<PnmHeader> ReadPnmHeader(std::string_view bytes) {
  if (bytes.size() < 2 || bytes[0] != 'P') return std::nullopt;
  PnmHeader header;
  switch (bytes[1]) {
    case '4':
      header.format = PnmFormat::kBitmap;
      break;
    case '5':
      header.format = PnmFormat::kGreyMap;
      break;
    case '6':
      header.format = PnmFormat::kPixMap;
      break;
    default:
      return std::nullopt;
  }
  size_t at = 2;
  const std::optional<uint64_t> width = ReadField(bytes, at);
  const std::optional<uint64_t> height = ReadField(bytes, at);
  if (!width || !height || *width == 0 || *height == 0) return std::nullopt;
  header.width = *width;
  header.height = *height;
  if (header.format != PnmFormat::kBitmap) {
    const std::optional<uint64_t> max_value = ReadField(bytes, at);
    if (!max_value || *max_value == 0 || *max_value > 65535) return std::nullopt;
    header.max_value = *max_value;
  }
  // Exactly one blank ends the header; the pixels follow it.
  if (at == bytes.size() || !IsBlank(bytes[at])) return std::nullopt;
  header.pixel_offset = at + 1;
  return header;
}

}  // namespace quillaro
