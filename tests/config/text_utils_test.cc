#include "config/text_utils.h"

#include <gtest/gtest.h>

#include "config/path_utils.h"

namespace quillaro {
namespace {

TEST(TextUtilsTest, ReplaceAllNeverRescansInsertedText) {
  for (auto [text, from, to, expected] :
       {std::tuple<std::string, std::string, std::string, std::string>{"\"a\"b\"", "\"", "", "ab"},
        {"a%b%%c", "%", "%%", "a%%b%%%%c"},
        {"-sOutputFile=x", "-sOutputFile=", "", "x"}}) {
    ReplaceAll(text, from, to);
    EXPECT_EQ(text, expected);
  }
  std::u16string wide = u"x\r\ny\r\n";
  ReplaceAll(wide, u"\r\n", u"\n");
  EXPECT_EQ(wide, u"x\ny\n");
}

TEST(TextUtilsTest, SplitStringCountsSeparatorsNotPieces) {
  const std::tuple<std::string, std::string, bool, int32_t, std::vector<std::string>> cases[] = {
      {"a,,b", ",", false, 2, {"a", "b"}},
      {"a,,b", ",", true, 2, {"a", "", "b"}},
      {",a", ",", false, 1, {"a"}},
      {"a,", ",", true, 1, {"a", ""}},
      {"abc", ",", false, 0, {}},
      {"", ",", true, 0, {}},
      {"abc", "", true, 0, {}},
      {"x==y=", "==", false, 1, {"x", "y="}},
      {"aaa", "aa", true, 1, {"", "a"}}};
  for (const auto& [input, separator, keep_empty, count, expected] : cases) {
    std::vector<std::string> pieces = {"before"}, want = pieces;  // appended to, never cleared
    EXPECT_EQ(SplitString(input, separator, pieces, keep_empty), count) << input;
    want.insert(want.end(), expected.begin(), expected.end());
    EXPECT_EQ(pieces, want) << input;
  }
}

TEST(TextUtilsTest, ConversionsKeepTheBytesOfInvalidTextAndReplaceOtherLoneSurrogates) {
  EXPECT_EQ(ToWide("caf\xC3\xA9 \xF0\x9F\x98\x80"), u"caf\u00E9 \U0001F600");
  EXPECT_EQ(ToWide(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
  // Latin-1 byte, truncated sequence, overlong form, encoded surrogate: one escape per byte.
  const std::string invalid = "lat\xE9|\xE2\x82|\xC0\xAF|\xED\xA0\x80";
  const std::u16string escaped = ToWide(invalid);
  EXPECT_EQ(escaped.substr(0, 5), std::u16string(u"lat") + char16_t{0xDCE9} + u"|");
  EXPECT_EQ(escaped.size(), invalid.size());
  EXPECT_EQ(ToNarrow(escaped), invalid);
  EXPECT_EQ(ToNarrow(u"caf\u00E9 \U0001F600"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(ToNarrow(std::u16string(1, char16_t{0xDC7F}) + u"x" + char16_t{0xD800}), "?x?");
}

TEST(PathUtilsTest, NameAndStemComeFromTheLastComponent) {
  EXPECT_EQ(JobFileName(u"/srv/q/in/a.b.pcl") + u" " + JobFileStem(u"/srv/q/in/a.b.pcl"),
            u"a.b.pcl a.b");
  EXPECT_EQ(JobFileStem(u"/srv/q.d/in/report"), u"report");
  EXPECT_EQ(JobFileStem(u"/srv/in/.hidden"), u"");
}

}  // namespace
}  // namespace quillaro
