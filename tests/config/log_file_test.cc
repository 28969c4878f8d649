#include "config/log_file.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::ReadFileBytes;

// The log is UTF-16LE; the tests write only ASCII, so every second byte is 0.
std::string AsciiFromUtf16(const std::string& bytes) {
  std::string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    EXPECT_EQ(bytes[i + 1], '\0');
    text.push_back(bytes[i]);
  }
  return text;
}

const char kStamp[] = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\t";

// A missing or empty file gets the byte order mark and the banner first.
TEST(LogFileTest, NewOrEmptyFileGetsMarkBannerAndOneLine) {
  testing::ServiceFolder folder;
  for (bool empty_file : {false, true}) {
    if (empty_file) testing::WriteFileBytes(folder.log(), "");
    WriteLog(u"Converting PS file /x.ps OK");
    const std::string bytes = ReadFileBytes(folder.log());
    ASSERT_TRUE(bytes.starts_with("\xFF\xFE")) << empty_file;
    EXPECT_TRUE(std::regex_match(
        AsciiFromUtf16(bytes.substr(2)),
        std::regex(std::string("Quillaro Log File\r\n={50}\r\n") + kStamp +
                   "Converting PS file /x.ps OK\r\n")))
        << empty_file;
  }
}

// A file that holds anything gets neither; CR LF in a message becomes LF and
// the message is cut at 1024 code units.
TEST(LogFileTest, AppendsLinesToAnyNonEmptyFile) {
  testing::ServiceFolder folder;
  testing::WriteFileBytes(folder.log(), "xy");
  WriteLog(u"");
  WriteLog(u"one\r\ntwo\r\n");
  WriteLog(std::u16string(1500, u'x'));
  const std::string bytes = ReadFileBytes(folder.log());
  ASSERT_TRUE(bytes.starts_with("xy"));
  EXPECT_TRUE(std::regex_match(AsciiFromUtf16(bytes.substr(2)),
                               std::regex(std::string(kStamp) + "\r\n" + kStamp + "one\ntwo\n\r\n" +
                                          kStamp + std::string(1024, 'x') + "\r\n")));
}

}  // namespace
}  // namespace quillaro
