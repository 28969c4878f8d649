#include "config/log_file.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::ReadFileBytes;
using testing::ServiceFolder;

// The log is UTF-16LE; the tests only write ASCII, so dropping every second
// byte gives the text back.
std::string AsciiFromUtf16(const std::string& bytes) {
  std::string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    EXPECT_EQ(bytes[i + 1], '\0');
    text.push_back(bytes[i]);
  }
  return text;
}

const char kBanner[] = "Quillaro Log File\r\n==================================================\r\n";

TEST(LogFileTest, NewFileGetsMarkBannerAndOneLine) {
  ServiceFolder folder;
  WriteLog(u"Converting PS file /x.ps OK");
  std::string bytes = ReadFileBytes(folder.log());
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  std::string text = AsciiFromUtf16(bytes.substr(2));
  ASSERT_EQ(text.substr(0, sizeof kBanner - 1), kBanner);
  std::string line = text.substr(sizeof kBanner - 1);
  EXPECT_TRUE(std::regex_match(
      line, std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\tConverting PS file /x.ps OK\r\n")))
      << line;
}

TEST(LogFileTest, EmptyFileGetsBannerButNonEmptyFileDoesNot) {
  ServiceFolder folder;
  testing::WriteFileBytes(folder.log(), "");
  WriteLog(u"a");
  EXPECT_EQ(AsciiFromUtf16(ReadFileBytes(folder.log()).substr(2)).substr(0, 17), "Quillaro Log File");

  testing::WriteFileBytes(folder.log(), "xy");
  WriteLog(u"");
  std::string bytes = ReadFileBytes(folder.log());
  EXPECT_EQ(bytes.substr(0, 2), "xy");
  std::string line = AsciiFromUtf16(bytes.substr(2));
  EXPECT_TRUE(std::regex_match(line, std::regex("[-0-9: ]{19}\t\r\n"))) << line;
}

TEST(LogFileTest, MessageLosesCrLfAndIsCutAt1024Units) {
  ServiceFolder folder;
  testing::WriteFileBytes(folder.log(), "..");
  WriteLog(u"one\r\ntwo\r\n");
  WriteLog(std::u16string(1500, u'x'));
  std::string text = AsciiFromUtf16(ReadFileBytes(folder.log()).substr(2));
  size_t first_end = text.find("\r\n");
  ASSERT_NE(first_end, std::string::npos);
  EXPECT_EQ(text.substr(20, first_end - 20), "one\ntwo\n");
  std::string second = text.substr(first_end + 2);
  EXPECT_EQ(second.size(), 20u + 1024u + 2u);
  EXPECT_EQ(second.substr(20, 1024), std::string(1024, 'x'));
}

}  // namespace
}  // namespace quillaro
