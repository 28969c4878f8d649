#include "platform/leading_integer.h"

#include <cstdint>
#include <limits>

namespace quillaro {
namespace {

template <typename Char>
int32_t ReadLeading(std::basic_string_view<Char> text, IntegerOverflow overflow) {
  auto is_blank = [](Char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  size_t at = 0;
  while (at < text.size() && is_blank(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  // Past 2^32 + 1 the saturated answer cannot change, and stopping there
  // keeps the sum from overflowing; wrapping keeps only the low 32 bits.
  constexpr uint64_t kSaturation = uint64_t{1} << 32;
  uint64_t magnitude = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    magnitude = magnitude * 10 + static_cast<uint64_t>(text[at] - '0');
    if (overflow == IntegerOverflow::kWrap) {
      magnitude &= 0xFFFFFFFFu;
    } else if (magnitude > kSaturation) {
      magnitude = kSaturation;
    }
  }
  if (overflow == IntegerOverflow::kWrap) {
    const uint32_t low = static_cast<uint32_t>(magnitude);
    return static_cast<int32_t>(negative ? 0u - low : low);
  }
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  const int64_t signed_magnitude = static_cast<int64_t>(magnitude);
  const int64_t value = negative ? -signed_magnitude : signed_magnitude;
  if (value > kMax) return std::numeric_limits<int32_t>::max();
  if (value < -kMax - 1) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

}  // namespace

int32_t ReadLeadingInteger(std::string_view text, IntegerOverflow overflow) {
  return ReadLeading(text, overflow);
}

int32_t ReadLeadingInteger(std::u16string_view text, IntegerOverflow overflow) {
  return ReadLeading(text, overflow);
}

}  // namespace quillaro
