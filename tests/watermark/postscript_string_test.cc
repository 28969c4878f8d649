#include "watermark/postscript_string.h"

#include <gtest/gtest.h>

#include <string>

namespace quillaro {
namespace {

TEST(PostScriptStringTest, LimitKeepsWholeEscapesOnly) {
  const struct {
    std::string text;
    std::size_t limit;
    std::string expected;
  } cases[] = {
      {"ab(c", 3, "ab"},   {"ab(c", 4, "ab\\("}, {"a\x01", 4, "a"},
      {"a\x01", 5, "a\\001"}, {"abc", 0, ""},   {"", 10, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + " / " + std::to_string(c.limit));
    EXPECT_EQ(EscapePostScriptString(c.text, c.limit), c.expected);
  }
}

}  // namespace
}  // namespace quillaro
