#include <gtest/gtest.h>

#include <tuple>

#include "config/job.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::ServiceFolder;

TEST(JobSettingsTest, CorrectionsKeepInclusiveBoundsAndValidText) {
  ServiceFolder folder;
  const std::tuple<std::string, int32_t Job::*, int32_t> numbers[] = {
      {"WaitSeconds=0", &Job::WaitSeconds, 10},
      {"WaitSeconds=10", &Job::WaitSeconds, 10},
      {"WaitSeconds=60", &Job::WaitSeconds, 60},
      {"WaitSeconds=61", &Job::WaitSeconds, 60},
      {"WMFontSize=2", &Job::WMFontSize, 12},
      {"WMFontSize=3", &Job::WMFontSize, 3},
      {"WMFontSize=100", &Job::WMFontSize, 100},
      {"WMFontSize=101", &Job::WMFontSize, 12},
      {"WMBottomOffset=-1", &Job::WMBottomOffset, 20},
      {"WMBottomOffset=0", &Job::WMBottomOffset, 0},
      {"WMLeftOffset=100000", &Job::WMLeftOffset, 100000},
      {"WMLeftOffset=100001", &Job::WMLeftOffset, 20},
      // The integer rule is ReadLeadingInteger's (PJL tests); settings wrap past 32 bits.
      {"Type= -4294967298abc", &Job::Type, -2},
      {"Quality=\"55\"", &Job::Quality, 55}};
  for (const auto& [line, field, expected] : numbers) {
    folder.WriteSettings(line + "\n");
    EXPECT_EQ(Job().*field, expected) << line;
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
    const Job job;
    EXPECT_EQ(std::tie(job.IsConvert, job.IsLog, job.WMEnable), std::make_tuple(set, set, set))
        << flag;
    EXPECT_TRUE(job.WMGrayLevel == gray_level) << gray;
    EXPECT_TRUE(job.WMFontType == font_type) << font;
  }
}

TEST(JobSettingsTest, ReadsTheFileTheWayWindowsProfilesAreAndRereadsIt) {
  ServiceFolder folder;
  testing::WriteFileBytes(folder.root() / "settings.ini",
                          "\xEF\xBB\xBF; comment\r\n[Other]\r\nType=5\r\n  [ settings ]  \r\n"
                          ";Type=4\r\n  type  =  2  \r\nTYPE=3\r\nWMFontType = 'Times'\r\n"
                          "[Settings]\r\nQuality=10\r\n");
  Job job;
  EXPECT_EQ(job.Type, 2);               // first key of the first matching section
  EXPECT_EQ(job.WMFontType, u"Times");  // single quotes removed
  EXPECT_EQ(job.Quality, 80);           // a second [Settings] is not read
  job.OutputFile = "kept";
  folder.WriteSettings("Type=1\n");
  job.LoadSettings();
  EXPECT_EQ(job.Type, 1);
  EXPECT_EQ(job.OutputFile, "kept");
}

}  // namespace
}  // namespace quillaro
