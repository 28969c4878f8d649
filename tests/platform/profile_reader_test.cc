#include "platform/profile_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/code_page.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

// The rules of names, comments, quotes and numbers are those of the service's settings
// (tests/config/job_settings_test.cc); here: encodings, defaults and files that are not INI.

std::string Utf16LeWithMark(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text)
    bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  return bytes;
}

TEST(ProfileReaderTest, ReadsUtf16AndNarrowFilesAndGivesTheDefaultForWhatIsMissing) {
  testing::TempDir dir;
  const std::string path = dir.File("settings.ini");
  const std::u16string value = u"caf\u00E9 \u00FCber";
  const std::u16string long_value(3000, u'x');
  for (const std::string& bytes :
       {Utf16LeWithMark(u"[Settings]\r\nName=" + value + u"\r\nSize= 12abc\r\nLong=" + long_value +
                        u"\r\n"),
        "[Settings]\nName=" + WideToNarrow(value) +
            "\nSize=12abc\nLong=" + WideToNarrow(long_value) + "\n"}) {
    testing::WriteFileBytes(path, bytes);
    EXPECT_EQ(GetProfileText(u"settings", u"name", u"d", path), value);
    EXPECT_EQ(GetProfileInteger(u"Settings", u"Size", 7, path), 12);
    EXPECT_EQ(GetProfileText(u"Settings", u"Long", u"d", path).size(), kProfileValueMaxLength);
    EXPECT_EQ(GetProfileText(u"Settings", u"Other", u"d", path), u"d");
    EXPECT_EQ(GetProfileInteger(u"Settings", u"Other", -3, path), -3);
    EXPECT_EQ(GetProfileText(u"Other", u"Name", u"d", path), u"d");
  }
  for (const std::string& missing : {dir.File("missing.ini"), dir.path().string()}) {
    EXPECT_EQ(GetProfileText(u"Settings", u"Name", u"d", missing), u"d") << missing;
    EXPECT_EQ(GetProfileInteger(u"Settings", u"Size", 7, missing), 7) << missing;
  }
}

// Binary junk holds no section; a big file is read without trouble where its settings are.
TEST(ProfileReaderTest, BinaryAndHugeFilesAreReadSafely) {
  testing::TempDir dir;
  const std::string path = dir.File("settings.ini");
  std::string junk;
  for (int i = 0; i < 1 << 16; ++i) junk += static_cast<char>(i * 7 % 251 == '[' ? 0 : i * 7 % 251);
  testing::WriteFileBytes(path, junk);
  EXPECT_EQ(GetProfileInteger(u"Settings", u"Type", 5, path), 5);
  testing::WriteFileBytes(path, "[Settings]\nType=3\n" + std::string(8 << 20, ';') + "\n");
  EXPECT_EQ(GetProfileInteger(u"Settings", u"Type", 5, path), 3);
}

}  // namespace
}  // namespace quillaro
