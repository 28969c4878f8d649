// Colour coverage: how much cyan, magenta, yellow, black and gray the
// rendered pages of a job put on paper, averaged over the pages, and which
// pages carry no ink at all.

#include "imaging/color_coverage.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "config/job.h"
#include "config/path_utils.h"
#include "config/result_file.h"
#include "config/text_utils.h"
#include "interp/page_file_pattern.h"
#include "platform/cancellation.h"
#include "platform/image_codec.h"

namespace quillaro {
namespace {

// A page whose decoded pixels would need more memory than this is read a
// row at a time instead (a 100-dpi A0 page takes about 46 MiB).
constexpr size_t kMaxDecodedPageBytes = size_t{256} << 20;

// What one pixel adds to the page sums.
struct PixelInk {
  uint32_t cyan = 0;
  uint32_t magenta = 0;
  uint32_t yellow = 0;
  uint32_t black = 0;
  uint32_t gray = 0;
};

// Look-up tables for the scan. The gray terms hold exactly the products the
// direct formula computes, and they are added in the same order, so the
// truncated sums match it bit for bit.
class InkTables {
 public:
  InkTables() {
    for (int v = 0; v < 256; ++v) {
      gray_red[v] = (255 - v) * 0.299;
      gray_green[v] = (255 - v) * 0.587;
      gray_blue[v] = (255 - v) * 0.114;
      neutral_gray[v] =
          static_cast<uint32_t>((gray_red[v] + gray_green[v]) + gray_blue[v]);
    }
    for (int k = 0; k < 255; ++k) {
      for (int d = 0; d <= 255 - k; ++d) {
        scaled_ink[k * 256 + d] = static_cast<uint8_t>(d * 255 / (255 - k));
      }
    }
  }

  double gray_red[256];
  double gray_green[256];
  double gray_blue[256];
  uint32_t neutral_gray[256];          // gray value of the pixel (v, v, v)
  uint8_t scaled_ink[256 * 256] = {};  // [k * 256 + d]: d * 255 / (255 - k)
};

const InkTables& Tables() {
  static const InkTables tables;
  return tables;
}

PixelInk InkOf(uint8_t r, uint8_t g, uint8_t b, const InkTables& tables) {
  PixelInk ink;
  if (r == g && g == b) {
    ink.black = 255u - r;
    ink.gray = tables.neutral_gray[r];
    return ink;
  }
  const int dr = 255 - r;
  const int dg = 255 - g;
  const int db = 255 - b;
  // Not neutral, so at least one channel is above 0 and k stays below 255.
  const int k = std::min({dr, dg, db});
  const uint8_t* scaled = &tables.scaled_ink[k * 256];
  ink.cyan = scaled[dr - k];
  ink.magenta = scaled[dg - k];
  ink.yellow = scaled[db - k];
  ink.gray = static_cast<uint32_t>((tables.gray_red[r] + tables.gray_green[g]) +
                                   tables.gray_blue[b]);
  return ink;
}

// Eight white pixels: 24 bytes of 0xFF.
bool IsWhiteBlock(const uint8_t* rgb) {
  uint64_t words[3];
  std::memcpy(words, rgb, sizeof(words));
  return (words[0] & words[1] & words[2]) == ~uint64_t{0};
}

struct PagePercentages {
  float cyan = 0;
  float magenta = 0;
  float yellow = 0;
  float black = 0;
  float gray = 0;
};

// Measures one page image. A page that cannot be opened, or has no pixels,
// reports 0 for every colour (and so counts as an empty page) instead of
// the 0 / 0 its pixel count would give. A page that cannot be decoded whole
// is read again a row at a time, and what it summed so far is dropped first;
// rows that still cannot be decoded add no ink but keep their share of the
// pixel count.
PagePercentages MeasurePage(const std::string& path) {
  PagePercentages page;
  std::optional<ImageFile> image = ImageFile::Open(path);
  if (!image) return page;
  const uint32_t width = static_cast<uint32_t>(image->width());
  const uint32_t height = static_cast<uint32_t>(image->height());
  PageInkSums sums;
  if (std::optional<RgbPixels> pixels = image->ReadRgb(kMaxDecodedPageBytes)) {
    AddRgbPixelsInk(pixels->data(), pixels->size_bytes() / 3, sums);
  } else {
    sums = PageInkSums();
    image->ReadRgbRows([&](int32_t, const uint8_t* row) {
      AddRgbPixelsInk(row, width, sums);
    });
  }
  // The pixel count is a 32-bit product: it wraps for pages beyond 4 billion
  // pixels, and a count that wraps to 0 is treated like a page without pixels.
  const uint32_t pixel_count = height * width;
  page.cyan = PageInkPercentage(sums.cyan, pixel_count);
  page.magenta = PageInkPercentage(sums.magenta, pixel_count);
  page.yellow = PageInkPercentage(sums.yellow, pixel_count);
  page.black = PageInkPercentage(sums.black, pixel_count);
  page.gray = PageInkPercentage(sums.gray, pixel_count);
  return page;
}

}  // namespace

Cmyk RgbToCmyk(uint8_t r, uint8_t g, uint8_t b) {
  const int dr = 255 - r;
  const int dg = 255 - g;
  const int db = 255 - b;
  const int k = std::min({dr, dg, db});
  Cmyk cmyk;
  cmyk.k = static_cast<uint8_t>(k);
  if (k == 255) return cmyk;
  cmyk.c = static_cast<uint8_t>((dr - k) * 255 / (255 - k));
  cmyk.m = static_cast<uint8_t>((dg - k) * 255 / (255 - k));
  cmyk.y = static_cast<uint8_t>((db - k) * 255 / (255 - k));
  return cmyk;
}

void AddPixelInk(uint8_t r, uint8_t g, uint8_t b, PageInkSums& sums) {
  const Cmyk cmyk = RgbToCmyk(r, g, b);
  if (cmyk.c == cmyk.m && cmyk.m == cmyk.y) {
    sums.black += cmyk.k;
  } else {
    sums.cyan += cmyk.c;
    sums.magenta += cmyk.m;
    sums.yellow += cmyk.y;
  }
  const double gray =
      ((255 - r) * 0.299 + (255 - g) * 0.587) + (255 - b) * 0.114;
  sums.gray += static_cast<uint64_t>(gray);
}

void AddRgbPixelsInk(const uint8_t* rgb, size_t pixel_count,
                     PageInkSums& sums) {
  const InkTables& tables = Tables();
  // Rendered pages are mostly long runs of one colour, white above all: a
  // pixel of the same colour as the one before reuses its ink, and white,
  // which adds nothing, is stepped over eight pixels at a time.
  constexpr uint32_t kWhite = 0xFFFFFF;
  uint32_t last_colour = kWhite;
  PixelInk ink;
  uint64_t cyan = 0;
  uint64_t magenta = 0;
  uint64_t yellow = 0;
  uint64_t black = 0;
  uint64_t gray = 0;
  size_t i = 0;
  while (i < pixel_count) {
    if (last_colour == kWhite) {
      while (pixel_count - i >= 8 && IsWhiteBlock(rgb + 3 * i)) i += 8;
      if (i == pixel_count) break;
    }
    const uint8_t* pixel = rgb + 3 * i;
    const uint32_t colour =
        pixel[0] | (uint32_t{pixel[1]} << 8) | (uint32_t{pixel[2]} << 16);
    if (colour != last_colour) {
      last_colour = colour;
      ink = InkOf(pixel[0], pixel[1], pixel[2], tables);
    }
    cyan += ink.cyan;
    magenta += ink.magenta;
    yellow += ink.yellow;
    black += ink.black;
    gray += ink.gray;
    ++i;
  }
  sums.cyan += cyan;
  sums.magenta += magenta;
  sums.yellow += yellow;
  sums.black += black;
  sums.gray += gray;
}

float PageInkPercentage(uint64_t sum, uint32_t pixel_count) {
  if (pixel_count == 0) return 0.0f;
  const double ink = static_cast<float>(static_cast<double>(sum));
  const double pixels = static_cast<float>(static_cast<double>(pixel_count));
  return static_cast<float>(ink * 100.0 / pixels / 255.0);
}

void Job::MeasureColorCoverage() {
  if (OutputFile.empty()) return;
  // A name without the page placeholder would name the same file for every
  // page: that is no set of rendered pages.
  if (PageFileName(OutputFile, 1) == PageFileName(OutputFile, 2)) return;

  float black = 0;
  float cyan = 0;
  float magenta = 0;
  float yellow = 0;
  float gray = 0;
  std::string empty_pages;
  int32_t page = 1;
  for (; page <= kColorCoverageMaxPages; ++page) {
    // A terminated worker must end soon, not after hundreds of pages: no
    // coverage then.
    if (CancellationRequested()) return;
    const std::string name = PageFileName(OutputFile, page);
    if (!FileExistsA(name)) break;
    const PagePercentages measured = MeasurePage(name);
    if (measured.cyan == 0.0f && measured.magenta == 0.0f &&
        measured.yellow == 0.0f && measured.black == 0.0f) {
      if (!empty_pages.empty()) empty_pages += ",";
      empty_pages += FormatIntA(page);
    }
    black += measured.black;
    cyan += measured.cyan;
    magenta += measured.magenta;
    yellow += measured.yellow;
    gray += measured.gray;
  }
  const int32_t pages = page - 1;
  if (pages == 0) return;

  const float count = static_cast<float>(pages);
  // Clients read this file on Windows too: CR LF line ends, none after the
  // last line.
  const std::string text = "[Params]\r\npages=" + FormatIntA(pages) +
                           "\r\nblack=" + FormatFloatA(black / count) +
                           "\r\ncyan=" + FormatFloatA(cyan / count) +
                           "\r\nmagenta=" + FormatFloatA(magenta / count) +
                           "\r\nyellow=" + FormatFloatA(yellow / count) +
                           "\r\ngray=" + FormatFloatA(gray / count) +
                           "\r\nempty=" + empty_pages;
  WriteResultFile(ColorCoverageFile, text);
}

}  // namespace quillaro
