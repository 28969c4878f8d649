#include <gtest/gtest.h>

#include <string>

#include "config/job.h"
#include "support/service_folder.h"

namespace quillaro {
namespace {

using testing::ServiceFolder;

// The prolog with the loaded defaults and the text SAMPLE, written out in
// full (tabs and line feeds as they must appear).
constexpr char kSamplePrologWithDefaults[] =
    "<<\n"
    "\t/EndPage\n"
    "\t{\n"
    "\t  exch pop 0 eq\n"
    "\t  {\n"
    "\t\tsave initgraphics\n"
    "\t\t/Helvetica 12 selectfont\n"
    "\t\t20 20 moveto\n"
    "\t\t0.8 setgray\n"
    "\t\t(SAMPLE) false charpath\n"
    "\t\tstroke\n"
    "\t\trestore\n"
    "\t\ttrue\n"
    "\t  }\n"
    "\t  {\n"
    "\t\tfalse\n"
    "\t  } ifelse\n"
    "\t}\n"
    "\t>> setpagedevice";

constexpr char kPrologEnd[] = ") false charpath\n\t\tstroke\n\t\trestore\n\t\ttrue\n"
                              "\t  }\n\t  {\n\t\tfalse\n\t  } ifelse\n\t}\n\t>> setpagedevice";

// Job with the settings loaded from no settings.ini: the defaults.
Job DefaultJob() {
  ServiceFolder folder;
  return Job();
}

// The text between "(" and the closing part of the prolog.
std::string TextPart(const std::string& prolog) {
  const std::size_t start = prolog.find('(');
  const std::size_t end = prolog.rfind(kPrologEnd);
  if (start == std::string::npos || end == std::string::npos || end < start) return "<none>";
  return prolog.substr(start + 1, end - start - 1);
}

TEST(WatermarkPrologTest, DefaultsAndSampleGiveTheFixedProgram) {
  const Job job = DefaultJob();
  const std::string prolog = job.BuildWatermarkProlog("SAMPLE");
  EXPECT_EQ(prolog, kSamplePrologWithDefaults);
  // 210 characters of program around the text, which starts at character 118.
  EXPECT_EQ(prolog.size(), 210u + 6u);
  EXPECT_EQ(prolog.find("SAMPLE"), 117u);
}

TEST(WatermarkPrologTest, SettingsAreFilledInAsTheyStand) {
  ServiceFolder folder;
  folder.WriteSettings(
      "WMFontType=Times\nWMFontSize=100\nWMLeftOffset=0\nWMBottomOffset=100000\n"
      "WMGrayLevel=0.50\n");
  const Job job;
  const std::string prolog = job.BuildWatermarkProlog("x");
  EXPECT_NE(prolog.find("\t\t/Times 100 selectfont\n\t\t0 100000 moveto\n\t\t0.50 setgray\n"
                        "\t\t(x) false charpath\n"),
            std::string::npos)
      << prolog;
}

TEST(WatermarkPrologTest, HostileTextStaysInsideItsStringLiteral) {
  const Job job = DefaultJob();
  const struct {
    std::string text;
    std::string expected;
  } cases[] = {
      {") pop (x", "\\) pop \\(x"},
      {"(balanced)", "\\(balanced\\)"},
      {"a\\b\\", "a\\\\b\\\\"},
      {"\\) (/tmp/x) (w) file", "\\\\\\) \\(/tmp/x\\) \\(w\\) file"},
      {"tab\there", "tab\\011here"},
      {"cr\rlf\nff\f", "cr\\015lf\\012ff\\014"},
      {std::string("nul\0" "7", 5), "nul\\0007"},
      {"\x1A\x7F", "\\032\\177"},
      {"caf\xC3\xA9", "caf\\303\\251"},
      {"100% {}[]<>/", "100% {}[]<>/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string prolog = job.BuildWatermarkProlog(c.text);
    EXPECT_EQ(TextPart(prolog), c.expected);
    // Nothing but the text changed.
    EXPECT_EQ(prolog.size(), 210u + c.expected.size());
    EXPECT_EQ(prolog.rfind(kPrologEnd), prolog.size() - (sizeof kPrologEnd - 1));
  }
}

TEST(WatermarkPrologTest, OverLongPrologIsCutAtItsFixedSize) {
  const Job job = DefaultJob();
  // With the defaults the fixed part is 210 characters and the text starts
  // at character 118: 3885 characters just fit.
  EXPECT_EQ(job.BuildWatermarkProlog(std::string(3885, 'A')).size(), 4095u);
  EXPECT_EQ(job.BuildWatermarkProlog(std::string(3885, 'A')).rfind(kPrologEnd),
            4095u - (sizeof kPrologEnd - 1));

  const std::string cut = job.BuildWatermarkProlog(std::string(4000, 'A'));
  ASSERT_EQ(cut.size(), 4095u);
  EXPECT_EQ(cut.substr(cut.size() - 10), std::string(10, 'A'));  // ends inside the text
  EXPECT_EQ(cut.find(kPrologEnd), std::string::npos);

  // Escapes count towards the size like any other character.
  const std::string escaped = job.BuildWatermarkProlog(std::string(3000, ')'));
  EXPECT_EQ(escaped.size(), 4095u);
  EXPECT_EQ(escaped.substr(117, 4), "\\)\\)");
  EXPECT_EQ(escaped.find(kPrologEnd), std::string::npos);
}

}  // namespace
}  // namespace quillaro
