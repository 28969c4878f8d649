#include "imaging/color_coverage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "config/job.h"
#include "config/text_utils.h"
#include "interp/page_file_pattern.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"
#include "test_pages.h"

namespace quillaro {
namespace {

using testing::ReadFileBytes;
using testing::ServiceFolder;
using testing::WriteSolidPng;

TEST(RgbToCmykTest, ConvertsByTheIntegerRule) {
  struct Case {
    uint8_t r, g, b, c, m, y, k;
  };
  const Case cases[] = {
      {0, 0, 0, 0, 0, 0, 255},         {255, 255, 255, 0, 0, 0, 0},
      {255, 0, 0, 0, 255, 255, 0},     {128, 128, 128, 0, 0, 0, 127},
      {200, 100, 50, 0, 127, 191, 55}, {1, 0, 0, 0, 255, 255, 254},
      {0, 255, 254, 255, 0, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << int{c.r} << "," << int{c.g} << "," << int{c.b});
    const Cmyk cmyk = RgbToCmyk(c.r, c.g, c.b);
    EXPECT_EQ(cmyk.c, c.c);
    EXPECT_EQ(cmyk.m, c.m);
    EXPECT_EQ(cmyk.y, c.y);
    EXPECT_EQ(cmyk.k, c.k);
  }
}

TEST(PixelInkTest, ClassifiesNeutralAndColouredPixels) {
  PageInkSums sums;
  AddPixelInk(128, 128, 128, sums);  // neutral: black 127, gray just below 127
  EXPECT_EQ(sums, (PageInkSums{0, 0, 0, 127, 126}));
  sums = PageInkSums();
  AddPixelInk(1, 0, 0, sums);  // very dark but coloured: no black at all
  EXPECT_EQ(sums.black, 0u);
  EXPECT_EQ(sums.magenta, 255u);
  AddPixelInk(0, 0, 0, sums);
  EXPECT_EQ(sums.black, 255u);
}

PageInkSums DirectSums(const std::vector<uint8_t>& rgb) {
  PageInkSums sums;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3)
    AddPixelInk(rgb[i], rgb[i + 1], rgb[i + 2], sums);
  return sums;
}

TEST(PixelInkTest, FastScanMatchesTheDirectFormulaForEveryColour) {
  std::vector<uint8_t> rgb(256 * 3);
  for (int r = 0; r < 256; ++r) {
    for (int g = 0; g < 256; ++g) {
      for (int b = 0; b < 256; ++b) {
        rgb[3 * b] = static_cast<uint8_t>(r);
        rgb[3 * b + 1] = static_cast<uint8_t>(g);
        rgb[3 * b + 2] = static_cast<uint8_t>(b);
      }
      PageInkSums fast;
      AddRgbPixelsInk(rgb.data(), 256, fast);
      ASSERT_EQ(fast, DirectSums(rgb)) << "r=" << r << " g=" << g;
    }
  }
}

TEST(PixelInkTest, FastScanMatchesTheDirectFormulaOnRandomPages) {
  std::mt19937 random(20240607);
  for (int round = 0; round < 300; ++round) {
    // Runs of random length and colour, white most often, as on real pages,
    // and lengths that do not fill the scan's eight-pixel white blocks.
    std::vector<uint8_t> rgb;
    const size_t pixels = random() % 5000;
    while (rgb.size() < pixels * 3) {
      const uint32_t kind = random() % 4;
      const uint32_t colour = kind == 0 ? 0xFFFFFF : random();
      const uint8_t r = static_cast<uint8_t>(colour);
      const uint8_t g = kind == 2 ? r : static_cast<uint8_t>(colour >> 8);
      const uint8_t b = kind == 2 ? r : static_cast<uint8_t>(colour >> 16);
      const size_t run = kind == 3 ? 1 : 1 + random() % 40;
      for (size_t i = 0; i < run && rgb.size() < pixels * 3; ++i)
        rgb.insert(rgb.end(), {r, g, b});
    }
    PageInkSums fast;
    AddRgbPixelsInk(rgb.data(), pixels, fast);
    ASSERT_EQ(fast, DirectSums(rgb)) << "round " << round;
  }
}

TEST(PageInkPercentageTest, FollowsTheSinglePrecisionSteps) {
  const uint32_t letter = 850 * 1100;
  EXPECT_EQ(PageInkPercentage(uint64_t{255} * letter, letter), 100.0f);
  EXPECT_EQ(FormatFloatA(PageInkPercentage(uint64_t{178} * letter, letter)),
            "69.80");
  EXPECT_EQ(FormatFloatA(PageInkPercentage(uint64_t{126} * letter, letter)),
            "49.41");
  EXPECT_EQ(PageInkPercentage(0, letter), 0.0f);
  EXPECT_EQ(PageInkPercentage(12345, 0), 0.0f);  // no pixels: no ink, never NaN
  // The sum is rounded to single precision before it is scaled: 2^24 + 1
  // becomes 2^24.
  const uint64_t odd = (uint64_t{1} << 24) + 1;
  EXPECT_EQ(PageInkPercentage(odd, 1u << 20),
            static_cast<float>(16777216.0 * 100.0 / 1048576.0 / 255.0));
}

// Rendered page files as page rendering leaves them in out/.
class ColorCoverageJobTest : public testing::ImagingTest {
 protected:
  void SetUp() override {
    ImagingTest::SetUp();
    job_.OutputFile = (folder_.out() / "job_%d.png_").string();
    job_.ColorCoverageFile = (folder_.out() / "job_colorcoverage.txt").string();
  }
  std::filesystem::path Page(int n) const {
    return PageFileName(job_.OutputFile, n);
  }
  std::string Result() const { return ReadFileBytes(job_.ColorCoverageFile); }

  ServiceFolder folder_;
  Job job_;
};

std::string ResultText(const std::string& pages, const std::string& black,
                       const std::string& cyan, const std::string& magenta,
                       const std::string& yellow, const std::string& gray,
                       const std::string& empty) {
  return "[Params]\r\npages=" + pages + "\r\nblack=" + black +
         "\r\ncyan=" + cyan + "\r\nmagenta=" + magenta +
         "\r\nyellow=" + yellow + "\r\ngray=" + gray + "\r\nempty=" + empty;
}

TEST_F(ColorCoverageJobTest, WhitePagesAreAllEmpty) {
  for (int n = 1; n <= 3; ++n) WriteSolidPng(Page(n), 17, 22, 255, 255, 255);
  job_.MeasureColorCoverage();
  EXPECT_EQ(Result(),
            ResultText("3", "0.00", "0.00", "0.00", "0.00", "0.00", "1,2,3"));
}

TEST_F(ColorCoverageJobTest, SolidPagesGiveTheirKnownValues) {
  struct Case {
    uint8_t r, g, b;
    std::string expected;
  } const cases[] = {
      {255, 0, 0,
       ResultText("1", "0.00", "0.00", "100.00", "100.00", "69.80", "")},
      {128, 128, 128,
       ResultText("1", "49.80", "0.00", "0.00", "0.00", "49.41", "")},
      {0, 0, 0,
       ResultText("1", "100.00", "0.00", "0.00", "0.00", "100.00", "")},
      // Dark but coloured: no black.
      {0, 0, 40,
       ResultText("1", "0.00", "100.00", "100.00", "0.00", "98.04", "")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << int{c.r} << "," << int{c.g} << "," << int{c.b});
    WriteSolidPng(Page(1), 85, 110, c.r, c.g, c.b);
    job_.MeasureColorCoverage();
    EXPECT_EQ(Result(), c.expected);
  }
}

TEST_F(ColorCoverageJobTest, AveragesOverPagesAndListsEmptyOnes) {
  WriteSolidPng(Page(1), 85, 110, 0, 0, 0);
  WriteSolidPng(Page(2), 85, 110, 255, 255, 255);
  job_.MeasureColorCoverage();
  EXPECT_EQ(Result(),
            ResultText("2", "50.00", "0.00", "0.00", "0.00", "50.00", "2"));
}

TEST_F(ColorCoverageJobTest, StopsAtTheFirstMissingPage) {
  for (int n : {1, 2, 3, 5}) WriteSolidPng(Page(n), 8, 8, 255, 255, 255);
  job_.MeasureColorCoverage();
  EXPECT_EQ(Result(),
            ResultText("3", "0.00", "0.00", "0.00", "0.00", "0.00", "1,2,3"));
}

TEST_F(ColorCoverageJobTest, ReadsAtMost499Pages) {
  const std::string page =
      testing::EncodePng(2, 2, 3, 8, std::vector<uint8_t>(12, 0));
  for (int n = 1; n <= 501; ++n) testing::WriteFileBytes(Page(n), page);
  job_.MeasureColorCoverage();
  EXPECT_EQ(Result(),
            ResultText("499", "100.00", "0.00", "0.00", "0.00", "100.00", ""));
}

TEST_F(ColorCoverageJobTest, WritesNothingWithoutPages) {
  job_.MeasureColorCoverage();  // page 1 missing
  EXPECT_FALSE(std::filesystem::exists(job_.ColorCoverageFile));
  WriteSolidPng(Page(1), 8, 8, 0, 0, 0);
  job_.OutputFile.clear();
  job_.MeasureColorCoverage();
  EXPECT_FALSE(std::filesystem::exists(job_.ColorCoverageFile));
  // A name without the page placeholder names no set of pages.
  job_.OutputFile = Page(1).string();
  job_.MeasureColorCoverage();
  EXPECT_FALSE(std::filesystem::exists(job_.ColorCoverageFile));
}

TEST_F(ColorCoverageJobTest, ReplacesAnEarlierResult) {
  testing::WriteFileBytes(job_.ColorCoverageFile, std::string(500, 'x'));
  WriteSolidPng(Page(1), 8, 8, 255, 255, 255);
  job_.MeasureColorCoverage();
  EXPECT_EQ(Result(),
            ResultText("1", "0.00", "0.00", "0.00", "0.00", "0.00", "1"));
}

TEST_F(ColorCoverageJobTest, UnreadablePageCountsAsEmpty) {
  WriteSolidPng(Page(1), 10, 10, 0, 0, 0);
  testing::WriteFileBytes(Page(2), "not an image at all");
  testing::WriteFileBytes(Page(3), "");
  job_.MeasureColorCoverage();
  EXPECT_EQ(Result(),
            ResultText("3", "33.33", "0.00", "0.00", "0.00", "33.33", "2,3"));
}

TEST_F(ColorCoverageJobTest, TruncatedPageKeepsTheRowsThatDecode) {
  // 100 black rows; the file is cut in its second half. The rows that
  // decode are black, the missing ones add no ink but still count.
  std::string png =
      testing::EncodePng(100, 100, 3, 8, std::vector<uint8_t>(30000, 0));
  testing::WriteFileBytes(Page(1), png.substr(0, png.size() * 3 / 4));
  job_.MeasureColorCoverage();
  const std::string result = Result();
  ASSERT_NE(result.find("pages=1\r\n"), std::string::npos) << result;
  const double black = std::stod(result.substr(result.find("black=") + 6));
  EXPECT_GT(black, 0.0) << result;
  EXPECT_LT(black, 76.0) << result;
}

TEST_F(ColorCoverageJobTest, PercentInTheJobNameIsNoPlaceholder) {
  job_.OutputFile =
      (folder_.out() / (EscapePagePattern("50%d off") + "_%d.png_")).string();
  WriteSolidPng(folder_.out() / "50%d off_1.png_", 8, 8, 0, 0, 0);
  job_.MeasureColorCoverage();
  EXPECT_EQ(Result(),
            ResultText("1", "100.00", "0.00", "0.00", "0.00", "100.00", ""));
}

TEST_F(ColorCoverageJobTest, MeasuresPagesRenderedByTheInterpreter) {
  // Page 1 all red, page 2 blank, page 3 a black bar over the top fifth:
  // 220 rows, and the interpreter's fill rule adds the row the edge touches.
  const std::string job =
      "%!PS\n"
      "1 0 0 setrgbcolor clippath fill showpage\n"
      "showpage\n"
      "0 setgray 0 633.6 612 158.4 rectfill showpage\n";
  ASSERT_TRUE(testing::RenderWithGhostscript(job, job_.OutputFile));
  ASSERT_TRUE(std::filesystem::exists(Page(3)));
  job_.MeasureColorCoverage();
  EXPECT_EQ(Result(),
            ResultText("3", "6.70", "0.00", "33.33", "33.33", "29.96", "2"));
}

}  // namespace
}  // namespace quillaro
