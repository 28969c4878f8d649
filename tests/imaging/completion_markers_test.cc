#include <gtest/gtest.h>

#include "config/job.h"
#include "config/text_utils.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

// Exactly the word, no line end; the job's extension kept; an earlier, longer marker replaced.
TEST(CompletionMarkersTest, MarkersHoldExactlyTheirWord) {
  testing::ServiceFolder folder;
  testing::WriteFileBytes(folder.out() / "a.pcl_done", "something much longer");
  Job job;
  job.WriteDoneMarker(ToWide((folder.in() / "a.pcl").string()));
  job.WriteDoneMarker(ToWide((folder.in() / "report").string()));
  job.WriteWatermarkMarker(ToWide((folder.in() / "j.ps").string()), 7);
  EXPECT_EQ(testing::ReadFileBytes(folder.out() / "a.pcl_done"), "done");
  EXPECT_EQ(testing::ReadFileBytes(folder.out() / "report_done"), "done");
  EXPECT_EQ(testing::ReadFileBytes(folder.out() / "j.ps_watermark_done_ok"), "watermark done");
}

}  // namespace
}  // namespace quillaro
