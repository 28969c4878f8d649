#include "config/settings.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::ServiceFolder;

TEST(SettingsTest, CorrectionsKeepInclusiveBoundsAndValidText) {
  ServiceFolder folder;
  const std::tuple<std::string, int32_t Settings::*, int32_t> numbers[] = {
      {"WaitSeconds=0", &Settings::WaitSeconds, 10},
      {"WaitSeconds=10", &Settings::WaitSeconds, 10},
      {"WaitSeconds=60", &Settings::WaitSeconds, 60},
      {"WaitSeconds=61", &Settings::WaitSeconds, 60},
      {"WMFontSize=2", &Settings::WMFontSize, 12},
      {"WMFontSize=3", &Settings::WMFontSize, 3},
      {"WMFontSize=100", &Settings::WMFontSize, 100},
      {"WMFontSize=101", &Settings::WMFontSize, 12},
      {"WMBottomOffset=-1", &Settings::WMBottomOffset, 20},
      {"WMBottomOffset=0", &Settings::WMBottomOffset, 0},
      {"WMLeftOffset=100000", &Settings::WMLeftOffset, 100000},
      {"WMLeftOffset=100001", &Settings::WMLeftOffset, 20},
      // The integer rule is ReadLeadingInteger's (PJL tests); settings wrap past 32 bits.
      {"Type= -4294967298abc", &Settings::Type, -2},
      {"Quality=\"55\"", &Settings::Quality, 55}};
  for (const auto& [line, field, expected] : numbers) {
    folder.WriteSettings(line + "\n");
    EXPECT_EQ(LoadSettings().*field, expected) << line;
  }
  // Flags are true for exactly 1; the gray level keeps its text when its number is in (0, 1];
  // the font type must be one of three names exactly.
  const std::tuple<std::string, bool, std::string, std::u16string, std::string, std::u16string>
      texts[] = {{"1", true, "1", u"1", "Courier", u"Courier"},
                 {" 1 ", true, "1.000000001", u"1.000000001", "Arial", u"Arial"},
                 {"2", false, "  .3abc", u".3abc", "Times", u"Times"},
                 {"0", false, "0", u"0.8", "times", u"Helvetica"},
                 {"-1", false, "1.01", u"0.8", "Times-Roman", u"Helvetica"},
                 {"1", true, "0.000000001", u"0.8", "", u"Helvetica"},
                 {"1", true, "-0.5", u"0.8", "Helvetica", u"Helvetica"}};
  for (const auto& [flag, set, gray, gray_level, font, font_type] : texts) {
    folder.WriteSettings("IsConvert=" + flag + "\nIsLog=" + flag + "\nWMEnable=" + flag +
                         "\nWMGrayLevel=" + gray + "\nWMFontType=" + font + "\n");
    const Settings job = LoadSettings();
    EXPECT_EQ(std::tie(job.IsConvert, job.IsLog, job.WMEnable), std::make_tuple(set, set, set))
        << flag;
    EXPECT_TRUE(job.WMGrayLevel == gray_level) << gray;
    EXPECT_TRUE(job.WMFontType == font_type) << font;
  }
}

TEST(SettingsTest, ReadsTheFileTheWayWindowsProfilesAreAndRereadsIt) {
  ServiceFolder folder;
  testing::WriteFileBytes(folder.root() / "settings.ini",
                          "\xEF\xBB\xBF; comment\r\n[Other]\r\nType=5\r\n  [ settings ]  \r\n"
                          ";Type=4\r\n  type  =  2  \r\nTYPE=3\r\nWMFontType = 'Times'\r\n"
                          "[Settings]\r\nQuality=10\r\n");
  const Settings settings = LoadSettings();
  EXPECT_EQ(settings.Type, 2);               // first key of the first matching section
  EXPECT_EQ(settings.WMFontType, u"Times");  // single quotes removed
  EXPECT_EQ(settings.Quality, 80);           // a second [Settings] is not read
  folder.WriteSettings("Type=1\n");
  EXPECT_EQ(LoadSettings().Type, 1);
}

}  // namespace
}  // namespace quillaro
