#include "config/log_file.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::ReadFileBytes;
using namespace std::string_literals;

// The log is UTF-16LE; the tests write only ASCII, so every second byte must be 0.
std::string AsciiFromUtf16(const std::string& bytes) {
  std::string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) text += bytes[i + 1] == '\0' ? bytes[i] : '?';
  return text;
}

const char kStamp[] = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\t";

// Only a missing or empty file gets the byte order mark and the banner first. A message is cut at
// 1024 code units.
TEST(LogFileTest, AppendsStampedLinesAfterMarkAndBannerOfANewFile) {
  testing::ServiceFolder folder;
  for (const std::string start : {"missing", "", "xy"}) {
    if (start != "missing") testing::WriteFileBytes(folder.log(), start);
    WriteLog(u"");
    WriteLog(u"one\r\ntwo\r\n");
    WriteLog(std::u16string(1500, u'x'));
    const std::string bytes = ReadFileBytes(folder.log());
    ASSERT_TRUE(bytes.starts_with(start == "xy" ? "xy" : "\xFF\xFE")) << start;
    const std::string banner = start == "xy" ? "" : "Quillaro Log File\r\n={50}\r\n";
    EXPECT_TRUE(std::regex_match(
        AsciiFromUtf16(bytes.substr(2)),
        std::regex(banner + kStamp + "\r\n" + kStamp + "one\\\\x0D\\\\x0Atwo\\\\x0D\\\\x0A\r\n" +
                   kStamp + std::string(1024, 'x') + "\r\n")))
        << start;
  }
}

// A job's name goes into its log lines, and whoever drops the job chooses it: a line break in
// it must not start a line of its own (one that looks like the service's), nor may a TAB, an
// escape sequence for the terminal that shows the log, or a Unicode line break. Each control
// character is written as its code; everything else, backslashes included, stays as it is.
TEST(LogFileTest, EscapesControlCharactersSoANameCannotForgeLines) {
  testing::ServiceFolder folder;
  const std::u16string forged = u"2020-01-01 00:00:00\tConverting GS file /srv/in/x.ps OK";
  WriteLog(u"Converting GS file C:\\in\\a\r\n" + forged + u"\r\n.ps OK");
  WriteLog(u"b\tc\x1B[2Jd\x7F\x85\u2028e\u00E9\0f"s);
  const std::string bytes = ReadFileBytes(folder.log());
  std::u16string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  static_cast<unsigned char>(bytes[i + 1]) << 8);
  }
  const size_t banner = text.find(u"=\r\n") + 3;
  const std::u16string lines = text.substr(banner);
  // Two messages, two lines: the only line ends are the writer's own.
  size_t line_ends = 0;
  for (size_t at = lines.find(u'\n'); at != std::u16string::npos; at = lines.find(u'\n', at + 1)) {
    ++line_ends;
    EXPECT_EQ(lines[at - 1], u'\r');
  }
  EXPECT_EQ(line_ends, 2u);
  EXPECT_NE(lines.find(u"\tConverting GS file C:\\in\\a\\x0D\\x0A2020-01-01 00:00:00\\x09"
                       u"Converting GS file /srv/in/x.ps OK\\x0D\\x0A.ps OK\r\n"),
            std::u16string::npos);
  EXPECT_NE(lines.find(u"\tb\\x09c\\x1B[2Jd\\x7F\\x85\\u2028e\u00E9\\x00f\r\n"),
            std::u16string::npos);
}

}  // namespace
}  // namespace quillaro
