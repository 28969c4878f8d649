#include "imaging/page_verdict.h"

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

PageInkCounter::PageInkCounter(int32_t width, const ColourRule& rule)
    : width_(width > 0 ? static_cast<size_t>(width) : 0),
      rule_(rule),
      radius_(static_cast<size_t>(std::max(rule.neighbourhood_radius_px, 0))),
      ring_(2 * radius_ + 1),
      rows_rgb_(ring_, std::vector<uint8_t>(3 * width_, 255)),
      candidates_(ring_) {}

void PageInkCounter::AddRow(const uint8_t* rgb) {
  std::memcpy(rows_rgb_[rows_ % ring_].data(), rgb, 3 * width_);
  std::vector<uint32_t>& candidates = candidates_[rows_ % ring_];
  candidates.clear();
  size_t i = 0;
  while (i < width_) {
    if (width_ - i >= 8 && IsWhiteBlock(rgb + 3 * i)) {
      i += 8;
      continue;
    }
    const uint8_t* pixel = rgb + 3 * i;
    const int lowest = std::min({pixel[0], pixel[1], pixel[2]});
    const int highest = std::max({pixel[0], pixel[1], pixel[2]});
    if (highest - lowest > rule_.chroma_threshold) candidates.push_back(static_cast<uint32_t>(i));
    counts_.inked += lowest < rule_.inked_below;
    counts_.black += static_cast<uint64_t>(255 - highest);
    counts_.cyan += static_cast<uint64_t>(highest - pixel[0]);
    counts_.magenta += static_cast<uint64_t>(highest - pixel[1]);
    counts_.yellow += static_cast<uint64_t>(highest - pixel[2]);
    ++i;
  }
  counts_.pixels += width_;
  ++rows_;
  if (rows_ > radius_) JudgeRow(radius_);
}

void PageInkCounter::JudgeRow(size_t back) {
  const size_t row = rows_ - 1 - back;
  const size_t first_row = row >= radius_ ? row - radius_ : 0;
  const size_t last_row = std::min(rows_ - 1, row + radius_);
  const int area = static_cast<int>(ring_ * ring_);
  for (const uint32_t x : candidates_[row % ring_]) {
    const size_t first = x >= radius_ ? x - radius_ : 0;
    const size_t last = std::min(width_ - 1, x + radius_);
    // Pixels beyond the page are white paper.
    int sums[3];
    const int outside = area - static_cast<int>((last_row - first_row + 1) * (last - first + 1));
    for (int& sum : sums) sum = 255 * outside;
    for (size_t y = first_row; y <= last_row; ++y) {
      const uint8_t* line = rows_rgb_[y % ring_].data();
      for (size_t column = first; column <= last; ++column) {
        for (int c = 0; c < 3; ++c) sums[c] += line[3 * column + static_cast<size_t>(c)];
      }
    }
    const int highest = std::max({sums[0], sums[1], sums[2]});
    const int lowest = std::min({sums[0], sums[1], sums[2]});
    counts_.coloured += highest - lowest > rule_.chroma_threshold * area;
  }
}

PageInkCounts PageInkCounter::Finish() {
  // The last rows, which no later row follows.
  for (size_t back = std::min(rows_, radius_); back > 0; --back) JudgeRow(back - 1);
  return counts_;
}

PageInkCounts CountPageInk(const uint8_t* rgb, int32_t width, int32_t height,
                           const ColourRule& rule) {
  PageInkCounter counter(width, rule);
  for (int32_t y = 0; y < height; ++y) {
    counter.AddRow(rgb + static_cast<size_t>(y) * static_cast<size_t>(width) * 3);
  }
  return counter.Finish();
}

InkVerdict JudgeInk(const PageInkCounts& counts, const ColourRule& rule) {
  if (counts.coloured >= rule.min_coloured_pixels) return InkVerdict::kColour;
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
