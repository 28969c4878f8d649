#include <gtest/gtest.h>

#include "config/job.h"
#include "config/text_utils.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::ReadFileBytes;
using testing::ServiceFolder;

TEST(CompletionMarkersTest, DoneMarkerKeepsTheExtensionAndHasNoLineEnd) {
  ServiceFolder folder;
  Job job;
  job.WriteDoneMarker(ToWide((folder.in() / "a.pcl").string()));
  job.WriteDoneMarker(ToWide((folder.in() / "report").string()));
  EXPECT_EQ(ReadFileBytes(folder.out() / "a.pcl_done"), "done");
  EXPECT_EQ(ReadFileBytes(folder.out() / "report_done"), "done");
}

TEST(CompletionMarkersTest, WatermarkMarkerReportsTheResultAndReplacesOldOnes) {
  ServiceFolder folder;
  Job job;
  testing::WriteFileBytes(folder.out() / "j.ps_watermark_done_ok", "something much longer");
  job.WriteWatermarkMarker(ToWide((folder.in() / "j.ps").string()), 7);
  job.WriteWatermarkMarker(ToWide((folder.in() / "k.ps").string()), 0);
  EXPECT_EQ(ReadFileBytes(folder.out() / "j.ps_watermark_done_ok"), "watermark done");
  EXPECT_EQ(ReadFileBytes(folder.out() / "k.ps_watermark_done_error"), "watermark error");
  EXPECT_FALSE(std::filesystem::exists(folder.out() / "k.ps_done"));
  EXPECT_FALSE(std::filesystem::exists(folder.out() / "k.ps_watermark_done_ok"));
}

TEST(CompletionMarkersTest, MissingOutFolderIsSkippedSilently) {
  ServiceFolder folder;
  std::filesystem::remove_all(folder.out());
  Job job;
  job.WriteDoneMarker(u"/nowhere/a.pcl");
  EXPECT_FALSE(std::filesystem::exists(folder.out()));
}

}  // namespace
}  // namespace quillaro
