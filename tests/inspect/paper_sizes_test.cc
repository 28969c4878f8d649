#include "inspect/paper_sizes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "inspect/bounding_box.h"

namespace quillaro {
namespace {

TEST(PaperSizesTest, NamesMeasuredSizesWithAWideningTolerance) {
  const struct {
    float width, height, step;
    std::vector<int32_t> keys;
  } cases[] = {
      {209.9f, 296.9f, 5.0f, {1, 7, 9, 17, 30, 40, 41, 47, 50, 52}},
      {210.0f, 297.0f, 5.0f, {7, 9, 30, 40, 41, 47, 50, 56}},  // the sheet itself does not fit
      {296.0f, 209.0f, 5.0f, {69}},
      {215.5f, 279.0f, 5.0f, {2, 7, 9, 13, 21, 30, 40, 41, 43, 51}},
      {0.0f, 0.0f, 5.0f, {0}},
      {-5.0f, 10.0f, 5.0f, {0}},
      {5000.0f, 5000.0f, 5.0f, {0}},
      // In single precision the A4 height margin at tolerance 10 ends just
      // above the exact 282.857142...: A4 fits one walk later than in double
      // arithmetic, and the last walk then finds nothing instead of key 52.
      {209.0f, 282.8571472167969f, 5.0f, {1, 7, 9, 17, 30, 40, 41, 47}},
      {std::nextafter(215.9f, 0.0f), 279.0f, 5.0f, {2, 7, 9, 13, 21, 30, 40, 41, 43, 51}},
      {215.9f, 279.0f, 5.0f, {30, 43, 44, 47, 50}},  // no 215.9 mm wide entry: must be smaller
      // A step that does not widen the tolerance must still end the search.
      {100.0f, 100.0f, 0.0f, {0}},
      {100.0f, 100.0f, -5.0f, {0}},
  };
  for (const auto& c : cases) {
    PaperTable result = {{42, PaperSize()}};
    MatchPaperSizes(result, c.width, c.height, c.step);
    std::vector<int32_t> keys;
    for (const auto& [key, paper] : result) keys.push_back(key);
    EXPECT_EQ(keys, c.keys) << c.width << " x " << c.height << " step " << c.step;
    if (keys == std::vector<int32_t>{0}) {
      EXPECT_EQ(result.at(0).Name, "Unknown");
    }
  }
}

// Points to millimetres as the result is defined: in double precision, then narrowed.
float Mm(float points) { return static_cast<float>(points / 72.0 * 25.4); }

TEST(BoundingBoxTest, TakesTheLargestUpperRightCornerInMillimetres) {
  const struct {
    std::string output;
    float x, y;  // the corner expected, in points
  } cases[] = {
      {"%%BoundingBox: 0 0 595 842\n%%HiResBoundingBox: 0.000000 0.000000 594.990000 841.980000\n",
       594.99f, 841.98f},
      // The two maxima may come from different pages; the lower-left corner is not used.
      {"%%HiResBoundingBox: 0 0 300 800\n%%HiResBoundingBox: 0 0 590 400\n", 590, 800},
      {"%%HiResBoundingBox: 100 100 300 300\n", 300, 300},
      {"%%HiResBoundingBox: 0 0 72 144\r\n", 72, 144},
      {"GPL Ghostscript\n%%HiResBoundingBox: 0 0 72 72", 72, 72},
      {"page 1 %%HiResBoundingBox: 0 0 72 72\n", 72, 72},
      {"%%HiResBoundingBox: 0 0 72pt 1.44e2x\n", 72, 144},
      {"%%HiResBoundingBox: 0 0  72 72\n", 0, 0},
      {"%%BoundingBox: 0 0 595 842\n", 0, 0},
      {"%%HiResBoundingBox:0 0 72 72\n", 0, 0},
      {"%%HiResBoundingBox: \n", 0, 0},
      {"%%HiResBoundingBox: 0 72 72 \n", 0, 0},
      {"%%HiResBoundingBox: a b c d\n", 0, 0},
      {"%%HiResBoundingBox: -9 -9 -1 -1\n", 0, 0},
      {"", 0, 0},
  };
  for (const auto& c : cases) {
    float width = -1, height = -1;
    ReadBoundingBox(c.output, width, height);
    EXPECT_EQ(width, Mm(c.x)) << c.output;
    EXPECT_EQ(height, Mm(c.y)) << c.output;
  }
}

}  // namespace
}  // namespace quillaro
