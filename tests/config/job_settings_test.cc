#include <gtest/gtest.h>

#include "config/job.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::ServiceFolder;

TEST(JobSettingsTest, MissingFileGivesEveryDefault) {
  ServiceFolder folder;
  Job job;
  EXPECT_EQ(job.Loaded, 1);
  EXPECT_FALSE(job.IsConvert);
  EXPECT_EQ(job.Type, 0);
  EXPECT_EQ(job.ImageType, 0);
  EXPECT_EQ(job.PagesMaxCount, 10);
  EXPECT_EQ(job.Quality, 80);
  EXPECT_EQ(job.LongPixelLength, 80);
  EXPECT_EQ(job.DeleteSeconds, 900);
  EXPECT_FALSE(job.IsLog);
  EXPECT_EQ(job.WaitSeconds, 30);
  EXPECT_FALSE(job.WMEnable);
  EXPECT_EQ(job.WMGrayLevel, u"0.8");
  EXPECT_EQ(job.WMFontSize, 12);
  EXPECT_EQ(job.WMFontType, u"Helvetica");
  EXPECT_EQ(job.WMBottomOffset, 20);
  EXPECT_EQ(job.WMLeftOffset, 20);
}

TEST(JobSettingsTest, IntegerCorrectionsKeepInclusiveBounds) {
  ServiceFolder folder;
  struct Case {
    std::string line;
    int32_t Job::*field;
    int32_t expected;
  } cases[] = {
      {"WaitSeconds=0", &Job::WaitSeconds, 10},      {"WaitSeconds=10", &Job::WaitSeconds, 10},
      {"WaitSeconds=60", &Job::WaitSeconds, 60},     {"WaitSeconds=61", &Job::WaitSeconds, 60},
      {"WaitSeconds=-5", &Job::WaitSeconds, 10},     {"WMFontSize=2", &Job::WMFontSize, 12},
      {"WMFontSize=3", &Job::WMFontSize, 3},         {"WMFontSize=100", &Job::WMFontSize, 100},
      {"WMFontSize=101", &Job::WMFontSize, 12},      {"WMBottomOffset=-1", &Job::WMBottomOffset, 20},
      {"WMBottomOffset=0", &Job::WMBottomOffset, 0}, {"WMBottomOffset=100000", &Job::WMBottomOffset, 100000},
      {"WMBottomOffset=100001", &Job::WMBottomOffset, 20},
      {"WMLeftOffset=-1", &Job::WMLeftOffset, 20},   {"WMLeftOffset=100000", &Job::WMLeftOffset, 100000},
      {"WMLeftOffset=100001", &Job::WMLeftOffset, 20},
      // The profile reader's integer rule: blanks, sign, digits, then stop.
      {"Type=  2abc", &Job::Type, 2},                {"Type=abc", &Job::Type, 0},
      {"Type=-3", &Job::Type, -3},                   {"Quality=\"55\"", &Job::Quality, 55},
      {"PagesMaxCount=+7", &Job::PagesMaxCount, 7},
  };
  for (const Case& c : cases) {
    folder.WriteSettings(c.line + "\n");
    Job job;
    EXPECT_EQ(job.*(c.field), c.expected) << c.line;
  }
}

TEST(JobSettingsTest, FlagsAreTrueOnlyForExactlyOne) {
  ServiceFolder folder;
  for (const auto& [value, expected] : {std::pair{"1", true}, {"2", false}, {"0", false},
                                        {"-1", false}, {" 1 ", true}}) {
    folder.WriteSettings(std::string("IsConvert=") + value + "\nIsLog=" + value +
                         "\nWMEnable=" + value + "\n");
    Job job;
    EXPECT_EQ(job.IsConvert, expected) << value;
    EXPECT_EQ(job.IsLog, expected) << value;
    EXPECT_EQ(job.WMEnable, expected) << value;
  }
}

TEST(JobSettingsTest, GrayLevelTextIsKeptOnlyWhenItsNumberIsInRange) {
  ServiceFolder folder;
  for (const auto& [value, expected] :
       {std::pair<std::string, std::u16string>{"0", u"0.8"}, {"1", u"1"}, {".5", u".5"},
        {"0.5abc", u"0.5abc"}, {"abc", u"0.8"}, {"1.01", u"0.8"}, {"1.000000001", u"1.000000001"},
        {"0.000000001", u"0.8"}, {"-0.5", u"0.8"}, {"  0.3", u"0.3"}, {"", u"0.8"}}) {
    folder.WriteSettings("WMGrayLevel=" + value + "\n");
    Job job;
    EXPECT_EQ(job.WMGrayLevel, expected) << value;
  }
}

TEST(JobSettingsTest, FontTypeMustMatchExactly) {
  ServiceFolder folder;
  for (const auto& [value, expected] :
       {std::pair<std::string, std::u16string>{"Times", u"Times"}, {"Courier", u"Courier"},
        {"Arial", u"Arial"}, {"times", u"Helvetica"}, {"Times-Roman", u"Helvetica"}}) {
    folder.WriteSettings("WMFontType=" + value + "\n");
    Job job;
    EXPECT_EQ(job.WMFontType, expected) << value;
  }
}

TEST(JobSettingsTest, ReadsTheFileTheWayWindowsProfilesAre) {
  ServiceFolder folder;
  testing::WriteFileBytes(folder.root() / "settings.ini",
                          "\xEF\xBB\xBF; comment\r\n"
                          "[Other]\r\nType=5\r\n"
                          "  [ settings ]  \r\n"
                          ";Type=4\r\n"
                          "  type  =  2  \r\n"
                          "TYPE=3\r\n"
                          "WMFontType = 'Times'\r\n"
                          "[Settings]\r\nQuality=10\r\n");
  Job job;
  EXPECT_EQ(job.Type, 2);               // first key of the first matching section
  EXPECT_EQ(job.WMFontType, u"Times");  // single quotes removed
  EXPECT_EQ(job.Quality, 80);           // a second [Settings] is not read
}

TEST(JobSettingsTest, LoadSettingsRereadsTheFile) {
  ServiceFolder folder;
  folder.WriteSettings("Type=1\n");
  Job job;
  job.OutputFile = "kept";
  folder.WriteSettings("Type=2\n");
  job.LoadSettings();
  EXPECT_EQ(job.Type, 2);
  EXPECT_EQ(job.OutputFile, "kept");
}

}  // namespace
}  // namespace quillaro
