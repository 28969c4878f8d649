// Colour coverage: how much cyan, magenta, yellow, black and gray the
// rendered pages of a job put on paper, averaged over the pages, and which
// pages carry no ink at all.

#include "imaging/color_coverage.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "config/text_utils.h"
#include "platform/image_codec.h"

namespace quillaro {
namespace {

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

PageInk MeasureRgbPage(const uint8_t* rgb, int32_t width, int32_t height) {
  PageInk page;
  page.pixel_count = static_cast<uint32_t>(height) * static_cast<uint32_t>(width);
  AddRgbPixelsInk(rgb, static_cast<size_t>(width) * static_cast<size_t>(height), page.sums);
  return page;
}

PageInk MeasurePageFile(const std::string& path) {
  PageInk page;
  std::optional<ImageFile> image = ImageFile::Open(path);
  if (!image) return page;
  const uint32_t width = static_cast<uint32_t>(image->width());
  const uint32_t height = static_cast<uint32_t>(image->height());
  if (std::optional<RgbPixels> pixels = image->ReadRgb(kMaxDecodedPageBytes)) {
    AddRgbPixelsInk(pixels->data(), pixels->size_bytes() / 3, page.sums);
  } else {
    image->ReadRgbRows([&](int32_t, const uint8_t* row) {
      AddRgbPixelsInk(row, width, page.sums);
    });
  }
  page.pixel_count = height * width;
  return page;
}

void ColorCoverage::AddPage(const PageInk& page) {
  ++pages_;
  const float cyan = PageInkPercentage(page.sums.cyan, page.pixel_count);
  const float magenta = PageInkPercentage(page.sums.magenta, page.pixel_count);
  const float yellow = PageInkPercentage(page.sums.yellow, page.pixel_count);
  const float black = PageInkPercentage(page.sums.black, page.pixel_count);
  const float gray = PageInkPercentage(page.sums.gray, page.pixel_count);
  // Gray is not looked at: a page of light gray alone counts as inked only
  // through its black.
  if (cyan == 0.0f && magenta == 0.0f && yellow == 0.0f && black == 0.0f) {
    if (!empty_pages_.empty()) empty_pages_ += ",";
    empty_pages_ += FormatIntA(pages_);
  }
  black_ += black;
  cyan_ += cyan;
  magenta_ += magenta;
  yellow_ += yellow;
  gray_ += gray;
}

std::string ColorCoverage::ResultText() const {
  const float count = static_cast<float>(pages_);
  // Clients read this file on Windows too: CR LF line ends, none after the
  // last line.
  return "[Params]\r\npages=" + FormatIntA(pages_) + "\r\nblack=" + FormatFloatA(black_ / count) +
         "\r\ncyan=" + FormatFloatA(cyan_ / count) + "\r\nmagenta=" +
         FormatFloatA(magenta_ / count) + "\r\nyellow=" + FormatFloatA(yellow_ / count) +
         "\r\ngray=" + FormatFloatA(gray_ / count) + "\r\nempty=" + empty_pages_;
}

}  // namespace quillaro
