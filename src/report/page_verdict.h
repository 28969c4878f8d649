#ifndef QUILLARO_REPORT_PAGE_VERDICT_H_
#define QUILLARO_REPORT_PAGE_VERDICT_H_

#include <cstddef>
#include <cstdint>

namespace quillaro {

// How a page is charged: in colour, in black and white, or not at all.
enum class InkVerdict { kColour, kMono, kBlank };

// A pixel counts as coloured when its largest and smallest channels differ
// by more than this, and as inked when its darkest channel is below
// kInkedBelow. See docs/report.md for the measurements behind both numbers
// and behind kMinColouredPixels.
inline constexpr int kChromaThreshold = 24;
inline constexpr int kInkedBelow = 248;
// A page is colour when at least this many of its pixels are coloured.
inline constexpr uint64_t kMinColouredPixels = 64;

// The pixel counts a verdict is made from.
struct PageInkCounts {
  uint64_t coloured = 0;
  uint64_t inked = 0;
  bool operator==(const PageInkCounts&) const = default;
};

// Adds `pixel_count` pixels of 8-bit RGB (three bytes each, R first) to
// `counts`.
void CountPageInk(const uint8_t* rgb, size_t pixel_count, PageInkCounts& counts);

// Colour with at least kMinColouredPixels coloured pixels, else mono with
// any inked pixel, else blank.
InkVerdict JudgeInk(const PageInkCounts& counts);

// "colour", "mono" or "blank".
const char* InkVerdictName(InkVerdict verdict);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_PAGE_VERDICT_H_
