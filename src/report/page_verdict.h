#ifndef QUILLARO_REPORT_PAGE_VERDICT_H_
#define QUILLARO_REPORT_PAGE_VERDICT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillaro {

// How a page is charged: in colour, in black and white, or not at all.
enum class InkVerdict { kColour, kMono, kBlank };

// The numbers of the colour verdict, settings of the service (the
// Report... keys of settings.ini) with these defaults; see docs/report.md
// for the measurements behind them. Every report carries the numbers that
// judged its pages.
struct ColourRule {
  // A pixel counts as coloured when its largest and smallest channels differ
  // by more than this, and as inked when its darkest channel is below
  // inked_below.
  int chroma_threshold = 24;
  int inked_below = 248;
  // A page is colour when at least this many of its pixels are coloured.
  uint64_t min_coloured_pixels = 64;
  // A coloured pixel counts only when colour survives its neighbourhood: the
  // mean of each channel over the square of this radius around it (at 100
  // dpi; beyond the page, white paper) must also differ by more than
  // chroma_threshold. Gray or black text printed or scanned a little out of
  // register has a coloured fringe on each side of every stroke, one the
  // other's complement, and their mean is gray; a thin coloured rule or a
  // small logo keeps its colour.
  int neighbourhood_radius_px = 2;
  bool operator==(const ColourRule&) const = default;
};

// The bounds a configured rule is held to (a value outside falls back to its
// default): a chroma of 255 or more and a page of no ink could never be
// told; a radius of 10 already averages over a 5 mm square.
inline constexpr int kMaxChromaThreshold = 254;
inline constexpr int kMaxInkedBelow = 256;
inline constexpr int kMaxNeighbourhoodRadiusPx = 10;

// The pixel counts a verdict is made from, and the page's ink in CMYK with
// its gray given to black (undercolour removal): per pixel k = min(c, m, y)
// of c = 255 - R, m = 255 - G, y = 255 - B, and c, m, y less k; summed.
struct PageInkCounts {
  uint64_t coloured = 0;  // whose neighbourhood is coloured too
  uint64_t inked = 0;
  uint64_t pixels = 0;
  uint64_t cyan = 0, magenta = 0, yellow = 0, black = 0;
  bool operator==(const PageInkCounts&) const = default;
};

// Counts one page row by row (8-bit RGB, three bytes a pixel, R first) by
// `rule`, which must lie within the bounds above. The neighbourhood test
// needs the rows around each one, so a row is judged the rule's radius in
// rows after it came. One counter serves one page on one thread.
class PageInkCounter {
 public:
  PageInkCounter(int32_t width, const ColourRule& rule);
  void AddRow(const uint8_t* rgb);
  // The counts of every row added; the counter is spent.
  PageInkCounts Finish();

 private:
  void JudgeRow(size_t row);  // the row `row` rows back from the newest

  size_t width_;
  ColourRule rule_;
  size_t radius_;
  size_t ring_;  // rows kept: 2 * radius_ + 1
  std::vector<std::vector<uint8_t>> rows_rgb_;     // ring of the last rows' pixels
  std::vector<std::vector<uint32_t>> candidates_;  // their pixels with chroma, by column
  size_t rows_ = 0;
  PageInkCounts counts_;
};

// The counts of a whole `width` x `height` page.
PageInkCounts CountPageInk(const uint8_t* rgb, int32_t width, int32_t height,
                           const ColourRule& rule);

// Colour with at least the rule's minimum of coloured pixels, else mono with
// any inked pixel, else blank. `counts` must have been made by `rule`.
InkVerdict JudgeInk(const PageInkCounts& counts, const ColourRule& rule);

// "colour", "mono" or "blank".
const char* InkVerdictName(InkVerdict verdict);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_PAGE_VERDICT_H_
