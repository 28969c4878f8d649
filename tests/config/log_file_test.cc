#include "config/log_file.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::ReadFileBytes;

// The log is UTF-16LE; the tests write only ASCII, so every second byte must be 0.
std::string AsciiFromUtf16(const std::string& bytes) {
  std::string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) text += bytes[i + 1] == '\0' ? bytes[i] : '?';
  return text;
}

const char kStamp[] = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\t";

// Only a missing or empty file gets the byte order mark and the banner first. CR LF in a message
// becomes LF, and a message is cut at 1024 code units.
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
    EXPECT_TRUE(std::regex_match(AsciiFromUtf16(bytes.substr(2)),
                                 std::regex(banner + kStamp + "\r\n" + kStamp + "one\ntwo\n\r\n" +
                                            kStamp + std::string(1024, 'x') + "\r\n")))
        << start;
  }
}

}  // namespace
}  // namespace quillaro
