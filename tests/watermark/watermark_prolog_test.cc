#include <gtest/gtest.h>

#include <string>

#include "config/settings.h"
#include "support/service_folder.h"
#include "watermark/watermark_pipeline.h"

namespace quillaro {
namespace {

// The prolog with the loaded defaults and the text SAMPLE, tabs and line feeds as they must be.
constexpr char kSampleProlog[] =
    "<<\n\t/EndPage\n\t{\n\t  exch pop 0 eq\n\t  {\n"
    "\t\tsave initgraphics\n\t\t/Helvetica 12 selectfont\n\t\t20 20 moveto\n\t\t0.8 setgray\n"
    "\t\t(SAMPLE) false charpath\n\t\tstroke\n\t\trestore\n\t\ttrue\n"
    "\t  }\n\t  {\n\t\tfalse\n\t  } ifelse\n\t}\n\t>> setpagedevice";
const std::string kStart(kSampleProlog, 117);     // up to the text, with the defaults
const std::string kEnd(kSampleProlog + 123, 93);  // after it

TEST(WatermarkPrologTest, TextIsEscapedIntoTheFixedProgramAndCutAt4095) {
  testing::ServiceFolder folder;  // no settings.ini: the defaults
  const Settings settings = LoadSettings();
  EXPECT_EQ(BuildWatermarkProlog(settings, "SAMPLE"), kSampleProlog);
  const struct {
    std::string text;
    std::string expected;  // what stands between kStart and the end of the prolog
  } cases[] = {
      {") pop (x", "\\) pop \\(x" + kEnd},
      {"\\) (/tmp/x) (w) file", "\\\\\\) \\(/tmp/x\\) \\(w\\) file" + kEnd},
      {"tab\tcr\rlf\nff\f", "tab\\011cr\\015lf\\012ff\\014" + kEnd},
      {std::string("nul\0007\032\177caf\303\251", 12), "nul\\0007\\032\\177caf\\303\\251" + kEnd},
      {"100% {}[]<>/", "100% {}[]<>/" + kEnd},
      // 3885 characters just fit; past that the prolog ends inside the text.
      {std::string(3885, 'A'), std::string(3885, 'A') + kEnd},
      {std::string(4000, 'A'), std::string(3978, 'A')},
      {std::string(3976, 'A') + ")", std::string(3976, 'A') + "\\)"},
      {std::string(3977, 'A') + ")", std::string(3977, 'A') + "\\"},  // bytes, not escapes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    const std::string prolog = BuildWatermarkProlog(settings, c.text);
    EXPECT_EQ(prolog.substr(0, kStart.size()), kStart);
    EXPECT_EQ(prolog.substr(kStart.size()), c.expected);
  }
}

}  // namespace
}  // namespace quillaro
