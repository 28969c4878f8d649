#include "report/page_verdict.h"

#include <algorithm>
#include <cstring>

namespace quillaro {
namespace {

// Eight white pixels: 24 bytes of 0xFF. Most of a page is white, and white
// is neither coloured nor inked.
bool IsWhiteBlock(const uint8_t* rgb) {
  uint64_t words[3];
  std::memcpy(words, rgb, sizeof(words));
  return (words[0] & words[1] & words[2]) == ~uint64_t{0};
}

}  // namespace

void CountPageInk(const uint8_t* rgb, size_t pixel_count, PageInkCounts& counts) {
  uint64_t coloured = 0;
  uint64_t inked = 0;
  size_t i = 0;
  while (i < pixel_count) {
    if (pixel_count - i >= 8 && IsWhiteBlock(rgb + 3 * i)) {
      i += 8;
      continue;
    }
    const uint8_t* pixel = rgb + 3 * i;
    const int lowest = std::min({pixel[0], pixel[1], pixel[2]});
    const int highest = std::max({pixel[0], pixel[1], pixel[2]});
    coloured += highest - lowest > kChromaThreshold;
    inked += lowest < kInkedBelow;
    ++i;
  }
  counts.coloured += coloured;
  counts.inked += inked;
}

InkVerdict JudgeInk(const PageInkCounts& counts) {
  if (counts.coloured >= kMinColouredPixels) return InkVerdict::kColour;
  return counts.inked > 0 ? InkVerdict::kMono : InkVerdict::kBlank;
}

const char* InkVerdictName(InkVerdict verdict) {
  switch (verdict) {
    case InkVerdict::kColour:
      return "colour";
    case InkVerdict::kMono:
      return "mono";
    case InkVerdict::kBlank:
      break;
  }
  return "blank";
}

}  // namespace quillaro
