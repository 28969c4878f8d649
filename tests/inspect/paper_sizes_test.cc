#include "inspect/paper_sizes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace quillaro {
namespace {

std::vector<int32_t> Keys(const PaperTable& table) {
  std::vector<int32_t> keys;
  for (const auto& [key, paper] : table) keys.push_back(key);
  return keys;
}

TEST(PaperSizesTest, FillsTheWholeTable) {
  PaperTable table = {{99, PaperSize("stale", 1, 1)}};
  FillPaperTable(table);
  ASSERT_EQ(table.size(), 77u);
  EXPECT_EQ(table.begin()->first, 0);
  EXPECT_EQ(table.rbegin()->first, 76);
  const struct {
    int32_t key;
    const char* name;
    const char* pjl_name;
    float width, height;
  } samples[] = {
      {0, "Unknown", "Unknown", 0.0f, 0.0f},
      {1, "A4 Sheet", "A4", 210.0f, 297.0f},
      {5, "B4 sheet", "JIS B4", 250.0f, 354.0f},
      {16, "Executive", "UNKNOWN", 184.15f, 266.7f},
      {38, "6 3/4 Envelope", "UNKNOWN", 92.08f, 165.1f},
      {54, "SuperA/SuperA/A4", "UNKNOWN", 227.0f, 356.0f},
      {74, "B6 (JIS)", "UNKNOWN", 128.0f, 182.0f},
      {75, "B6 (JIS)", "UNKNOWN", 182.0f, 128.0f},
      {76, "12, 11 in", "UNKNOWN", 304.8f, 279.4f},
  };
  for (const auto& s : samples) {
    SCOPED_TRACE(s.key);
    const PaperSize& paper = table.at(s.key);
    EXPECT_EQ(paper.Name, s.name);
    EXPECT_EQ(paper.PjlName, s.pjl_name);
    EXPECT_EQ(paper.WidthMm, s.width);
    EXPECT_EQ(paper.HeightMm, s.height);
  }
  // Only the first ten entries can be selected by a PJL paper value.
  for (const auto& [key, paper] : table) {
    EXPECT_EQ(paper.PjlName == "UNKNOWN", key >= 10) << key;
  }
}

TEST(PaperSizesTest, SelectsByPjlNameInTableOrder) {
  PaperTable table;
  FillPaperTable(table);
  // How page measurement looks up a "@PJL SET PAPER" value.
  const auto lookup = [&](const std::string& value) -> int32_t {
    for (const auto& [key, paper] : table) {
      std::string upper = paper.PjlName;
      for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      }
      if (upper == value) return key;
    }
    return -1;
  };
  EXPECT_EQ(lookup("LETTER"), 2);
  EXPECT_EQ(lookup("UNKNOWN"), 0);
  EXPECT_EQ(lookup("JIS B5"), 6);
  EXPECT_EQ(lookup(" A4"), -1);
}

TEST(PaperSizesTest, NamesMeasuredSizesWithAWideningTolerance) {
  const struct {
    float width, height;
    std::vector<int32_t> keys;
  } cases[] = {
      {209.9f, 296.9f, {1, 7, 9, 17, 30, 40, 41, 47, 50, 52}},
      {210.0f, 297.0f, {7, 9, 30, 40, 41, 47, 50, 56}},
      {296.0f, 209.0f, {69}},
      {0.0f, 0.0f, {0}},
      {-5.0f, 10.0f, {0}},
      {5000.0f, 5000.0f, {0}},
      // A Letter page measured just inside the sheet.
      {215.5f, 279.0f, {2, 7, 9, 13, 21, 30, 40, 41, 43, 51}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
    PaperTable result = {{42, PaperSize()}};
    MatchPaperSizes(result, c.width, c.height, 5.0f);
    EXPECT_EQ(Keys(result), c.keys);
  }
  PaperTable result;
  MatchPaperSizes(result, 0.0f, 0.0f, 5.0f);
  ASSERT_EQ(result.size(), 1u);
  EXPECT_EQ(result.at(0).Name, "Unknown");
}

TEST(PaperSizesTest, ComparesInSinglePrecision) {
  // In single precision the A4 height margin at tolerance 10 ends at
  // 282.85715 mm, just above the exact 282.857142...; a height measured there
  // fits A4 one walk later than double arithmetic would let it, and the last
  // walk then finds no new paper instead of key 52.
  PaperTable result;
  MatchPaperSizes(result, 209.0f, 282.8571472167969f, 5.0f);
  EXPECT_EQ(Keys(result), (std::vector<int32_t>{1, 7, 9, 17, 30, 40, 41, 47}));
  // A measured size equal to the sheet does not fit it: it must be smaller.
  MatchPaperSizes(result, 215.9f, 279.0f, 5.0f);
  EXPECT_EQ(result.count(2), 0u);
  MatchPaperSizes(result, std::nextafter(215.9f, 0.0f), 279.0f, 5.0f);
  EXPECT_EQ(result.count(2), 1u);
}

TEST(PaperSizesTest, EndsOnAStepThatCannotWiden) {
  for (float step : {0.0f, -5.0f}) {
    SCOPED_TRACE(step);
    PaperTable result;
    MatchPaperSizes(result, 100.0f, 100.0f, step);
    EXPECT_EQ(Keys(result), std::vector<int32_t>{0});
  }
}

}  // namespace
}  // namespace quillaro
