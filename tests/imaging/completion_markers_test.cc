#include <gtest/gtest.h>

#include "config/job.h"
#include "config/text_utils.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

// Markers hold their word with no line end, keep the job's extension (none
// for "report") and replace a longer marker of an earlier job.
TEST(CompletionMarkersTest, MarkersHoldExactlyTheirWord) {
  testing::ServiceFolder folder;
  testing::WriteFileBytes(folder.out() / "a.pcl_done", "something much longer");
  Job job;
  job.WriteDoneMarker(ToWide((folder.in() / "a.pcl").string()));
  job.WriteDoneMarker(ToWide((folder.in() / "report").string()));
  job.WriteWatermarkMarker(ToWide((folder.in() / "j.ps").string()), 7);
  job.WriteWatermarkMarker(ToWide((folder.in() / "k.ps").string()), 0);
  EXPECT_EQ(testing::ReadFileBytes(folder.out() / "a.pcl_done"), "done");
  EXPECT_EQ(testing::ReadFileBytes(folder.out() / "report_done"), "done");
  EXPECT_EQ(testing::ReadFileBytes(folder.out() / "j.ps_watermark_done_ok"), "watermark done");
  EXPECT_EQ(testing::ReadFileBytes(folder.out() / "k.ps_watermark_done_error"), "watermark error");
  EXPECT_FALSE(std::filesystem::exists(folder.out() / "k.ps_done"));
  std::filesystem::remove_all(folder.out());  // a marker that cannot be written is skipped
  job.WriteDoneMarker(u"/nowhere/a.pcl");
  EXPECT_FALSE(std::filesystem::exists(folder.out()));
}

}  // namespace
}  // namespace quillaro
