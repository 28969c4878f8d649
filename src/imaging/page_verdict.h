#ifndef QUILLARO_IMAGING_PAGE_VERDICT_H_
#define QUILLARO_IMAGING_PAGE_VERDICT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "config/colour_rule.h"

namespace quillaro {

// How a page is charged: in colour, in black and white, or not at all.
enum class InkVerdict { kColour, kMono, kBlank };

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
  size_t ring_;                                    // rows kept: 2 * radius_ + 1
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

#endif  // QUILLARO_IMAGING_PAGE_VERDICT_H_
