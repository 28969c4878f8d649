#include "config/text_utils.h"

#include <gtest/gtest.h>

#include "config/path_utils.h"
#include "platform/module_path.h"

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

TEST(PathUtilsTest, NameAndStemComeFromTheLastComponent) {
  // Paths with the system's own separator.
  auto path = [](std::string text) {
    for (char& c : text) c = c == '/' ? kPathSeparator : c;
    return ToWide(text);
  };
  EXPECT_EQ(JobFileName(path("/srv/q/in/a.b.pcl")) + u" " + JobFileStem(path("/srv/q/in/a.b.pcl")),
            u"a.b.pcl a.b");
  EXPECT_EQ(JobFileStem(path("/srv/q.d/in/report")), u"report");
  EXPECT_EQ(JobFileStem(path("/srv/in/.hidden")), u"");
}

}  // namespace
}  // namespace quillaro
