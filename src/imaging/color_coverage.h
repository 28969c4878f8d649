#ifndef QUILLARO_IMAGING_COLOR_COVERAGE_H_
#define QUILLARO_IMAGING_COLOR_COVERAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "interp/page_file_pattern.h"

namespace quillaro {

// Most page images one colour-coverage run reads (pages 1 to 499).
inline constexpr int32_t kColorCoverageMaxPages = kMaxExaminedPages;
// A page whose decoded pixels would need more memory than this is read a
// row at a time instead (a 100-dpi A0 page takes about 46 MiB).
inline constexpr size_t kMaxDecodedPageBytes = size_t{256} << 20;

// Ink of one pixel as cyan, magenta, yellow and black, each 0 to 255.
struct Cmyk {
  uint8_t c = 0;
  uint8_t m = 0;
  uint8_t y = 0;
  uint8_t k = 0;
};

// Integer conversion: k is the smallest of 255 - R, 255 - G, 255 - B; each
// colour is (its complement - k) * 255 / (255 - k), truncated; pure black
// gives c = m = y = 0 and k = 255.
Cmyk RgbToCmyk(uint8_t r, uint8_t g, uint8_t b);

// Ink sums of one page. A neutral pixel (R = G = B) adds its k to black and
// nothing to cyan, magenta or yellow; any other pixel adds its c, m and y and
// never its k. Every pixel adds its gray value,
// trunc(((255 - R) * 0.299 + (255 - G) * 0.587) + (255 - B) * 0.114)
// evaluated in double precision in that order (so R = G = B = 128 adds 126).
struct PageInkSums {
  uint64_t cyan = 0;
  uint64_t magenta = 0;
  uint64_t yellow = 0;
  uint64_t black = 0;
  uint64_t gray = 0;

  bool operator==(const PageInkSums&) const = default;
};

// Adds one pixel to `sums` by the rule above, computed directly.
void AddPixelInk(uint8_t r, uint8_t g, uint8_t b, PageInkSums& sums);

// Adds `pixel_count` pixels of 8-bit RGB (three bytes each, R first) to
// `sums`. Gives exactly the sums of AddPixelInk on every pixel, much faster:
// it is the scan that runs over every rendered page.
void AddRgbPixelsInk(const uint8_t* rgb, size_t pixel_count, PageInkSums& sums);

// A page sum as a percentage of full ink over `pixel_count` pixels:
// sum * 100 / pixel_count / 255, with the sum and the pixel count each
// rounded to single precision, the arithmetic in double precision and the
// result rounded to single precision, so every machine reports the same
// digits. A page without pixels gives 0.
float PageInkPercentage(uint64_t sum, uint32_t pixel_count);

// What one page adds to a job's colour coverage: its ink sums and its pixel
// count, a 32-bit product of its sides (it wraps for pages beyond 4 billion
// pixels, and a count that wraps to 0 counts as a page without pixels).
struct PageInk {
  PageInkSums sums;
  uint32_t pixel_count = 0;
};

// The ink of `width` x `height` pixels of 8-bit RGB (as AddRgbPixelsInk).
PageInk MeasureRgbPage(const uint8_t* rgb, int32_t width, int32_t height);

// The ink of the page image file at `path`, decoded by the image library. A
// file that cannot be opened gives no pixels (so 0 for every colour, and an
// empty page); one that cannot be decoded whole is read again a row at a
// time, and rows that still cannot be decoded add no ink but keep their
// share of the pixel count.
PageInk MeasurePageFile(const std::string& path);

// The colour coverage of one job, built page by page in page order: the
// per-page percentages summed in single precision, and the empty pages.
class ColorCoverage {
 public:
  // Adds the next page (the first call is page 1).
  void AddPage(const PageInk& page);
  int32_t pages() const { return pages_; }
  // The result file's content: "[Params]", pages=, then the averages of
  // black, cyan, magenta, yellow and gray with two decimals and the empty
  // pages, CR LF between lines and none after the last.
  std::string ResultText() const;

 private:
  int32_t pages_ = 0;
  float black_ = 0;
  float cyan_ = 0;
  float magenta_ = 0;
  float yellow_ = 0;
  float gray_ = 0;
  std::string empty_pages_;
};

}  // namespace quillaro

#endif  // QUILLARO_IMAGING_COLOR_COVERAGE_H_
