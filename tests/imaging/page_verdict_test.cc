// How a rendered page is judged colour, mono or blank, and what ink it takes.

#include "imaging/page_verdict.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "config/path_utils.h"
#include "config/text_utils.h"
#include "platform/child_process.h"
#include "platform/module_path.h"
#include "platform/system_files.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro::testing {
namespace {

const ColourRule kRule;  // the defaults

// Coloured and inked pixels are counted wherever they stand, including between the runs of
// white that the scan steps over eight at a time, and the verdict falls at the thresholds: a
// block of colour counts where its neighbourhood is coloured too, which for colour of chroma
// just above the threshold is its inside only.
TEST(PageVerdictTest, CountsPixelsAnywhereAndJudgesAtTheThresholds) {
  const struct {
    int side;      // a square block of this side
    bool notched;  // less one corner pixel
    uint8_t r, g, b;
    InkVerdict verdict;
  } kCases[] = {
      {8, false, 255, 0, 0, InkVerdict::kColour},      {8, true, 255, 0, 0, InkVerdict::kMono},
      {12, false, 200, 225, 212, InkVerdict::kColour}, {12, true, 200, 225, 212, InkVerdict::kMono},
      {12, false, 200, 224, 212, InkVerdict::kMono},   {1, false, 247, 247, 247, InkVerdict::kMono},
      {12, false, 248, 250, 252, InkVerdict::kBlank},
  };
  constexpr int kWidth = 41, kHeight = 30;
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.side) + (c.notched ? " notched" : "") + " of " +
                 std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b));
    std::vector<uint8_t> rgb(3 * kWidth * kHeight, 255);
    for (int y = 0; y < c.side; ++y) {
      for (int x = 0; x < c.side; ++x) {
        if (c.notched && x == 0 && y == 0) continue;
        uint8_t* pixel = &rgb[3 * ((y + 9) * kWidth + x + 13)];
        pixel[0] = c.r, pixel[1] = c.g, pixel[2] = c.b;
      }
    }
    EXPECT_EQ(JudgeInk(CountPageInk(rgb.data(), kWidth, kHeight, kRule), kRule), c.verdict);
  }
}

// The page's CMYK gives a neutral pixel's gray to black, and colour only to colour.
TEST(PageVerdictTest, InkOfNeutralPixelsGoesToBlack) {
  const uint8_t rgb[] = {0, 0, 0, 128, 128, 128, 255, 0, 0, 255, 255, 255};
  const PageInkCounts counts = CountPageInk(rgb, 4, 1, ColourRule{});
  EXPECT_EQ(counts.black, 255u + 127u);
  EXPECT_EQ(counts.cyan, 0u);
  EXPECT_EQ(counts.magenta, 255u);
  EXPECT_EQ(counts.yellow, 255u);
  EXPECT_EQ(counts.pixels, 4u);
}

// Black text printed or scanned a pixel out of register has coloured fringes along every
// stroke: not colour. A thin red rule and a small logo away from the text still are.
TEST(PageVerdictTest, MisregisteredBlackTextIsMonoYetAThinRuleIsColour) {
  QUILLARO_SKIP_WITHOUT_INTERPRETERS();
  TempDir dir;  // the interpreter's private folder, where it may write (as another user)
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  std::string ps =
      "%!PS\n<</PageSize [300 200]>> setpagedevice /Helvetica findfont 11 scalefont setfont\n";
  for (int line = 0; line < 8; ++line) {
    ps.append("10 ")
        .append(std::to_string(180 - 14 * line))
        .append(" moveto (The minutes of the third quarterly meeting) show\n");
  }
  const std::string rule =
      "1 0 0 setrgbcolor 10 30 280 0.5 rectfill 0.1 0.3 0.8 setrgbcolor "
      "250 5 14 14 rectfill\n";
  auto render = [&](const std::string& source, int dpi) {
    WriteFileBytes(dir.path() / "page.ps", source + "showpage\n");
    // The interpreter beside the test program, started as the service starts it.
    const std::string line = "gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=ppmraw -r" +
                             std::to_string(dpi) + " \"-sOutputFile=" + dir.File("page.ppm") +
                             "\" \"" + dir.File("page.ps") + "\"";
    ProcessRunner::Options options;
    options.private_folder = dir.path().string();
    std::string output;
    const std::u16string gs =
        GetModuleFolder() + char16_t{kPathSeparator} + InterpreterFiles().postscript;
    EXPECT_EQ(ProcessRunner::Run(gs, ToWide(line), output, 60, nullptr, options), 0) << output;
    const std::string bytes = ReadFileBytes(dir.path() / "page.ppm");
    // "P6", width, height, 255, each after blanks or a "#" comment line; one blank, pixels.
    size_t at = 2;
    int numbers[3] = {0, 0, 0};
    for (int& number : numbers) {
      while (at < bytes.size() &&
             (std::isspace(static_cast<unsigned char>(bytes[at])) || bytes[at] == '#')) {
        if (bytes[at] == '#') at = bytes.find('\n', at);
        ++at;
      }
      while (at < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[at])))
        number = number * 10 + (bytes[at++] - '0');
    }
    const int width = numbers[0], height = numbers[1];
    std::vector<uint8_t> rgb(bytes.begin() + static_cast<std::ptrdiff_t>(at) + 1, bytes.end());
    EXPECT_EQ(rgb.size(), static_cast<size_t>(width) * height * 3);
    return std::make_tuple(rgb, width, height);
  };
  // A 300 dpi scan out of register by one of its pixels (red to the right, blue down), looked
  // at in 100 dpi as the report does: three by three scan pixels averaged.
  // Named variables, not a structured binding: clang 14 does not let a lambda capture one.
  std::vector<uint8_t> scan;
  int scan_width = 0, scan_height = 0;
  std::tie(scan, scan_width, scan_height) = render(ps, 300);
  const int width = scan_width / 3, height = scan_height / 3;
  auto at = [&](int x, int y, int channel) -> int {
    if (x < 0 || y < 0) return 255;
    return scan[3 * (static_cast<size_t>(y) * scan_width + x) + channel];
  };
  std::vector<uint8_t> shifted(static_cast<size_t>(width) * height * 3);
  uint64_t raw_coloured = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int sums[3] = {0, 0, 0};
      for (int dy = 0; dy < 3; ++dy) {
        for (int dx = 0; dx < 3; ++dx) {
          sums[0] += at(3 * x + dx - 1, 3 * y + dy, 0);
          sums[1] += at(3 * x + dx, 3 * y + dy, 1);
          sums[2] += at(3 * x + dx, 3 * y + dy - 1, 2);
        }
      }
      uint8_t* pixel = &shifted[3 * (static_cast<size_t>(y) * width + x)];
      for (int c = 0; c < 3; ++c) pixel[c] = static_cast<uint8_t>(sums[c] / 9);
      raw_coloured +=
          std::max({pixel[0], pixel[1], pixel[2]}) - std::min({pixel[0], pixel[1], pixel[2]}) >
          kRule.chroma_threshold;
    }
  }
  EXPECT_GT(raw_coloured,
            10 * kRule.min_coloured_pixels);  // by chroma alone: colour many times over
  const PageInkCounts misregistered = CountPageInk(shifted.data(), width, height, kRule);
  EXPECT_EQ(JudgeInk(misregistered, kRule), InkVerdict::kMono)
      << misregistered.coloured << " of " << raw_coloured;

  auto [marked, marked_width, marked_height] = render(ps + rule, 100);
  EXPECT_EQ(JudgeInk(CountPageInk(marked.data(), marked_width, marked_height, kRule), kRule),
            InkVerdict::kColour);
}

}  // namespace
}  // namespace quillaro::testing
