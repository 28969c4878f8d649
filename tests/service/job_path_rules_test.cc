#include "service/job_path_rules.h"

#include <gtest/gtest.h>

#include "config/text_utils.h"

namespace quillaro {
namespace {

TEST(JobPathRulesTest, SkipsTheStagesOwnOutputsCaseSensitivelyAnywhereInThePath) {
  struct Case {
    const char16_t* path;
    bool skipped;
  } cases[] = {
      {u"/srv/q/in/job_pagescount.txt", true},
      {u"/srv/q/in/scan.PNG.pcl", false},
      {u"/srv/q/in/ps_2_pcl_a.ps", true},
      {u"/srv/q/in/a.pcl_2_ps", true},
      {u"/srv/q/in/x_colorcoverage.txt", true},
      {u"/srv/q/in/x_papersize.txt", true},
      {u"/srv/q/in/x.copy", true},
      {u"/srv/q/in/x.jpg", true},
      {u"/srv/q/in/x.jpeg", true},
      {u"/srv/q/in/x.gif", true},
      {u"/srv/q/in/x.tiff", true},
      {u"/srv/q/in/x.png", true},
      {u"/srv/q/in/x.tif", false},
      {u"/srv/q/in/job.pcl_watermark.txt", true},
      {u"/srv/q/in/Watermark.pcl", false},
      {u"/srv/watermark/in/job.pcl", true},  // the folder counts too
      {u"/srv/q/in/invoiceWTR.pcl", false},
      {u"/srv/q/in/invoiceWTRwatermark.pcl", true},
      {u"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsOwnOutputPath(c.path), c.skipped) << ToNarrow(c.path);
}

TEST(JobPathRulesTest, TakesTheWatermarkRouteOnlyForUpperCaseWtr) {
  EXPECT_TRUE(IsWatermarkPath(u"/srv/q/in/invoiceWTR.pcl"));
  EXPECT_TRUE(IsWatermarkPath(u"/srv/WTR/in/a.pcl"));
  EXPECT_FALSE(IsWatermarkPath(u"/srv/q/in/invoicewtr.pcl"));
  EXPECT_FALSE(IsWatermarkPath(u"/srv/q/in/invoiceWT.pcl"));
}

}  // namespace
}  // namespace quillaro
