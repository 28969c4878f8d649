#include "interp/page_file_pattern.h"

#include <gtest/gtest.h>

namespace quillaro {
namespace {

TEST(PageFilePatternTest, OnlyThePagePlaceholderIsReplaced) {
  const std::string pattern = "/srv/out/" + EscapePagePattern("50%d off %% x") + "_%d.png_";
  EXPECT_EQ(pattern, "/srv/out/50%%d off %%%% x_%d.png_");
  EXPECT_EQ(PageFileName(pattern, 12), "/srv/out/50%d off %% x_12.png_");
  EXPECT_EQ(PageFileName("a_%d.png_", 1), "a_1.png_");
  EXPECT_EQ(PageFileName("trailing%", 3), "trailing%");
}

}  // namespace
}  // namespace quillaro
