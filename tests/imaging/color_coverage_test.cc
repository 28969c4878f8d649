#include "imaging/color_coverage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/staged_job.h"
#include "imaging/image_output.h"
#include "interp/page_file_pattern.h"
#include "support/service_folder.h"
#include "test_pages.h"

namespace quillaro {
namespace {

using testing::EncodePng;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

// The fast scan must give bit-identical sums to the per-pixel formula. Pages are runs of random
// colour, white and grey most often, of lengths that do not fill the scan's 8-pixel white blocks.
TEST(PixelInkTest, FastScanMatchesTheDirectFormula) {
  std::mt19937 random(20240607);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> rgb;
    const size_t pixels = random() % 5000;
    while (rgb.size() < pixels * 3) {
      const uint32_t kind = random() % 4, colour = kind == 0 ? 0xFFFFFF : random();
      const uint8_t r = colour & 0xFF, g = kind == 2 ? r : colour >> 8 & 0xFF,
                    b = kind == 2 ? r : colour >> 16 & 0xFF;
      for (size_t i = kind == 3 ? 39 : random() % 40; i < 40 && rgb.size() < pixels * 3; ++i)
        rgb.insert(rgb.end(), {r, g, b});
    }
    PageInkSums fast, direct;
    AddRgbPixelsInk(rgb.data(), pixels, fast);
    for (size_t i = 0; i < rgb.size(); i += 3) AddPixelInk(rgb[i], rgb[i + 1], rgb[i + 2], direct);
    ASSERT_EQ(fast, direct) << "round " << round;
  }
}

// The result file for space-separated pages, black, cyan, magenta, yellow, gray, empty pages.
std::string Params(const std::string& values) {
  std::istringstream in(values);
  std::string text = "[Params]", value;
  for (const char* key : {"pages", "black", "cyan", "magenta", "yellow", "gray", "empty"})
    text += "\r\n" + std::string(key) + "=" + (in >> value ? value : "");
  return text;
}

class ColorCoverageJobTest : public testing::ImagingTest {
 protected:
  void UseStem(const std::string& stem) {
    pattern_ = (folder_.out() / (stem + "_%d.png_")).string();
    job_.path = (folder_.in() / (stem + ".job")).string();
    coverage_file_ = folder_.out() / (stem + "_colorcoverage.txt");
  }
  std::filesystem::path Page(int n) const { return PageFileName(pattern_, n); }
  void Measure() {  // coverage alone: the stage makes no image
    Settings settings;
    settings.Type = 2;
    settings.PagesMaxCount = 0;
    ConvertPageImages(settings, job_, pattern_);
  }

  testing::ServiceFolder folder_;
  StagedJob job_;
  std::string pattern_;
  std::filesystem::path coverage_file_;
};

TEST_F(ColorCoverageJobTest, WritesTheResultFileByteForByte) {
  auto png = [](int channels, std::vector<uint8_t> samples, int bit_depth = 8) {
    return EncodePng(1, 1, channels, bit_depth, samples);
  };
  const std::string white = png(3, {255, 255, 255}), black = png(3, {0, 0, 0});
  const struct {
    std::string stem;
    std::vector<std::pair<int, std::string>> pages;
    std::string values;  // as Params takes them
  } cases[] = {
      {"white", {{1, white}, {2, white}, {3, white}}, "3 0.00 0.00 0.00 0.00 0.00 1,2,3"},
      // CMYK by truncating integer division; gray 178 per red pixel.
      {"red", {{1, png(3, {255, 0, 0})}}, "1 0.00 0.00 100.00 100.00 69.80"},
      {"brown", {{1, png(3, {200, 100, 50})}}, "1 0.00 0.00 49.80 74.90 50.98"},
      // No neutral pixel, so no black however dark.
      {"blue", {{1, png(3, {0, 0, 40})}}, "1 0.00 100.00 100.00 0.00 98.04"},
      // R = G = B = 128 (black 127, gray 126) in every PNG layout: grey, 16 bits
      // (the high byte counts), alpha (ignored, not flattened).
      {"grey",
       {{1, png(1, {128})},
        {2, png(2, {128, 0})},
        {4, png(4, {128, 128, 128, 0})},
        {3, png(3, {0x80, 0, 0x80, 0x7F, 0x80, 0xFF}, 16)}},
       "4 49.80 0.00 0.00 0.00 49.41"},
      {"halves", {{1, black}, {2, white}}, "2 50.00 0.00 0.00 0.00 50.00 2"},
      // The count stops at the first missing page: page 5 is never read.
      {"gap", {{1, white}, {2, white}, {3, white}, {5, black}}, "3 0.00 0.00 0.00 0.00 0.00 1,2,3"},
      // Pages that do not decode count, as empty.
      {"bad", {{1, black}, {2, "no image"}, {3, ""}}, "3 33.33 0.00 0.00 0.00 33.33 2,3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stem);
    UseStem(c.stem);
    WriteFileBytes(coverage_file_, std::string(500, 'x'));  // an earlier result
    for (const auto& [n, bytes] : c.pages) WriteFileBytes(Page(n), bytes);
    Measure();
    EXPECT_EQ(ReadFileBytes(coverage_file_), Params(c.values));
  }
}

// No file without pages (page 1 missing, no pattern, no placeholder); at most 499 pages are read.
TEST_F(ColorCoverageJobTest, PageCountLimits) {
  UseStem("long");
  const std::string black = EncodePng(1, 1, 3, 8, {0, 0, 0}), first = Page(1).string();
  for (const std::string& output : {pattern_, std::string(), first}) {
    pattern_ = output;
    Measure();
    WriteFileBytes(first, black);
  }
  EXPECT_FALSE(std::filesystem::exists(coverage_file_));
  UseStem("long");
  for (int n = 1; n <= 501; ++n) WriteFileBytes(Page(n), black);
  Measure();
  EXPECT_EQ(ReadFileBytes(coverage_file_), Params("499 100.00 0.00 0.00 0.00 100.00"));
}

}  // namespace
}  // namespace quillaro
