#include "inspect/bounding_box.h"

#include <gtest/gtest.h>

#include <string>

namespace quillaro {
namespace {

TEST(BoundingBoxTest, TakesTheLargestUpperRightCornerInMillimetres) {
  const struct {
    const char* what;
    std::string output;
    float width, height;
  } cases[] = {
      {"one page",
       "%%BoundingBox: 0 0 595 842\n%%HiResBoundingBox: 0.000000 0.000000 594.990000 841.980000\n",
       209.8992f, 297.0318f},
      {"corners from different pages",
       "%%HiResBoundingBox: 0 0 300 800\n%%HiResBoundingBox: 0 0 590 400\n", 208.1389f,
       282.2222f},
      {"lower-left corner ignored", "%%HiResBoundingBox: 100 100 300 300\n", 105.8333f,
       105.8333f},
      {"CR before LF", "%%HiResBoundingBox: 0 0 72 144\r\n", 25.4f, 50.8f},
      {"last line without LF", "GPL Ghostscript\n%%HiResBoundingBox: 0 0 72 72", 25.4f, 25.4f},
      {"text before the marker", "page 1 %%HiResBoundingBox: 0 0 72 72\n", 25.4f, 25.4f},
      {"two blanks between numbers", "%%HiResBoundingBox: 0 0  72 72\n", 0, 0},
      {"integer box alone", "%%BoundingBox: 0 0 595 842\n", 0, 0},
      {"no blank after the colon", "%%HiResBoundingBox:0 0 72 72\n", 0, 0},
      {"marker and nothing after", "%%HiResBoundingBox: \n", 0, 0},
      {"three blanks, trailing", "%%HiResBoundingBox: 0 72 72 \n", 0, 0},
      {"not numbers", "%%HiResBoundingBox: a b c d\n", 0, 0},
      {"number then junk", "%%HiResBoundingBox: 0 0 72pt 1.44e2x\n", 25.4f, 50.8f},
      {"negative corners", "%%HiResBoundingBox: -9 -9 -1 -1\n", 0, 0},
      {"empty output", "", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    float width = -1, height = -1;
    ReadBoundingBox(c.output, width, height);
    EXPECT_NEAR(width, c.width, 5e-5);
    EXPECT_NEAR(height, c.height, 5e-5);
  }
}

TEST(BoundingBoxTest, ConvertsInDoublePrecisionBeforeNarrowing) {
  float width = 0, height = 0;
  ReadBoundingBox("%%HiResBoundingBox: 0 0 594.99 841.98\n", width, height);
  EXPECT_EQ(width, static_cast<float>(static_cast<double>(594.99f) / 72.0 * 25.4));
  EXPECT_EQ(height, static_cast<float>(static_cast<double>(841.98f) / 72.0 * 25.4));
}

}  // namespace
}  // namespace quillaro
