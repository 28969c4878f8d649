#include "service/aged_file_cleanup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "config/text_utils.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::TempDir;

TEST(AgedFileCleanupTest, DeletesOnlyFilesOlderThanTheLimitAndNeverFolders) {
  TempDir dir;
  testing::WriteFileBytes(dir.path() / "job.pcl", "x");
  testing::WriteFileBytes(dir.path() / "job.pcl_done", "done");
  std::filesystem::create_directory(dir.path() / "sub");
  testing::WriteFileBytes(dir.path() / "sub" / "inner.pcl", "x");
  const std::u16string folder = ToWide(dir.path().string());

  // Just created: not older than an hour, nor than zero seconds.
  CleanFolder(folder, 3600);
  CleanFolder(folder, 0);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "job.pcl"));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "job.pcl_done"));

  // Any age is past a negative limit: the files go, the folder and what it
  // holds stay.
  CleanFolder(folder, -1);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "job.pcl"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "job.pcl_done"));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "sub" / "inner.pcl"));

  CleanFolder(ToWide(dir.File("missing")), -1);  // nothing to do, no harm
}

TEST(AgedFileCleanupTest, CleansInAndOutAtStartAndStopsPromptly) {
  testing::ServiceFolder service;
  service.WriteSettings("DeleteSeconds=-5\n");
  testing::WriteFileBytes(service.in() / "old.pcl", "x");
  testing::WriteFileBytes(service.out() / "old.pcl_done", "done");
  std::filesystem::create_directory(service.out() / "keep");

  ThreadEventPair events;
  events.stopped.Reset();
  Thread thread;
  ASSERT_TRUE(thread.Start([&] { RunCleanup(events); }));
  // The first pass runs before the first sleep; stop right after it.
  for (int i = 0; i < 100 && std::filesystem::exists(service.out() / "old.pcl_done"); ++i) {
    ManualResetEvent(false).Wait(20);
  }
  events.stop_request.Set();
  ASSERT_TRUE(events.stopped.Wait(2500));
  thread.Join();
  EXPECT_FALSE(std::filesystem::exists(service.in() / "old.pcl"));
  EXPECT_FALSE(std::filesystem::exists(service.out() / "old.pcl_done"));
  EXPECT_TRUE(std::filesystem::exists(service.out() / "keep"));
}

}  // namespace
}  // namespace quillaro
