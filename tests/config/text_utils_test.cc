#include "config/text_utils.h"

#include <gtest/gtest.h>

#include "config/path_utils.h"

namespace quillaro {
namespace {

TEST(TextUtilsTest, ReplaceAllNeverRescansInsertedText) {
  std::string quotes = "\"a\"b\"";
  ReplaceAll(quotes, "\"", "");
  EXPECT_EQ(quotes, "ab");

  std::string arg = "-sOutputFile=/srv/out/x.png";
  ReplaceAll(arg, "-sOutputFile=", "");
  EXPECT_EQ(arg, "/srv/out/x.png");

  std::string percent = "a%b%%c";
  ReplaceAll(percent, "%", "%%");
  EXPECT_EQ(percent, "a%%b%%%%c");

  std::u16string wide = u"x\r\ny\r\n";
  ReplaceAll(wide, u"\r\n", u"\n");
  EXPECT_EQ(wide, u"x\ny\n");
}

TEST(TextUtilsTest, SplitStringCountsSeparatorsNotPieces) {
  struct Case {
    std::string input, separator;
    bool keep_empty;
    int32_t count;
    std::vector<std::string> pieces;
  } cases[] = {
      {"a,,b", ",", false, 2, {"a", "b"}},
      {"a,,b", ",", true, 2, {"a", "", "b"}},
      {",a", ",", false, 1, {"a"}},
      {"a,", ",", true, 1, {"a", ""}},
      {"abc", ",", false, 0, {}},
      {"", ",", true, 0, {}},
      {"abc", "", true, 0, {}},
      {"x==y=", "==", false, 1, {"x", "y="}},
      {"aaa", "aa", true, 1, {"", "a"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> pieces = {"before"};
    EXPECT_EQ(SplitString(c.input, c.separator, pieces, c.keep_empty), c.count) << c.input;
    std::vector<std::string> expected = {"before"};
    expected.insert(expected.end(), c.pieces.begin(), c.pieces.end());
    EXPECT_EQ(pieces, expected) << c.input;
  }
}

TEST(TextUtilsTest, FormatsNumbersLikePrintf) {
  EXPECT_EQ(FormatIntW(-5), u"-5");
  EXPECT_EQ(FormatIntA(2147483647), "2147483647");
  EXPECT_EQ(FormatFloatA(12.345f), "12.35");  // 12.345f is 12.3450002670288...
  EXPECT_EQ(FormatFloatA(0.0f), "0.00");
  EXPECT_EQ(FormatFloatA(0.125f), "0.12");  // exact binary half: round to even
  EXPECT_EQ(FormatFloatA(100.0f), "100.00");
}

TEST(TextUtilsTest, ConversionsReplaceWhatCannotBeCarried) {
  EXPECT_EQ(ToWide(""), u"");
  EXPECT_EQ(ToWide("caf\xC3\xA9"), u"caf\u00E9");
  EXPECT_EQ(ToWide("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(ToWide(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
  EXPECT_EQ(ToWide("a\xFFz"), u"a\uFFFDz");
  EXPECT_EQ(ToWide("\xE2\x82"), u"\uFFFD");           // truncated sequence
  EXPECT_EQ(ToWide("\xC0\xAF"), u"\uFFFD\uFFFD");     // overlong form
  EXPECT_EQ(ToWide("\xED\xA0\x80"), u"\uFFFD");  // encoded surrogate
  EXPECT_EQ(ToNarrow(u"caf\u00E9 \U0001F600"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(ToNarrow(std::u16string(1, char16_t{0xD800}) + u"x"), "?x");
  EXPECT_EQ(ToNarrow(u""), "");
}

TEST(PathUtilsTest, NameAndStemComeFromTheLastComponent) {
  EXPECT_EQ(JobFileName(u"/srv/q/in/a.b.pcl"), u"a.b.pcl");
  EXPECT_EQ(JobFileStem(u"/srv/q/in/a.b.pcl"), u"a.b");
  EXPECT_EQ(JobFileStem(u"/srv/q.d/in/report"), u"report");
  EXPECT_EQ(JobFileName(u"bare.ps"), u"bare.ps");
  EXPECT_EQ(JobFileStem(u"/srv/in/.hidden"), u"");
}

}  // namespace
}  // namespace quillaro
