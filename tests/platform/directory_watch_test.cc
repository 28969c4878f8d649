#include "platform/directory_watch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

namespace fs = std::filesystem;

TEST(DirectoryWatchTest, ReportsFilesOnlyOnceClosedAndMapsRenamesAndRemovals) {
  testing::TempDir dir;
  DirectoryWatch watch;
  OsError error;
  EXPECT_FALSE(watch.AddFolder(dir.File("missing"), &error));
  EXPECT_EQ(error.kind(), OsErrorKind::kNotFound) << error.ToString();
  ASSERT_TRUE(watch.AddFolder(dir.path().string()));
  ManualResetEvent wake(false), done(false);
  std::thread alarm([&] {  // a missing change must fail the test, not hang it
    if (!done.Wait(10000)) wake.Set();
  });
  std::vector<DirectoryChange> got;
  bool overflowed = false;
  auto collect = [&](size_t total) {
    while (got.size() < total && watch.WaitForChanges(wake, 4096, &got, &overflowed) ==
                                     DirectoryWatch::Result::kChanges) {
    }
  };
  {
    // Writes to a file still open are no news: no one may read it half-written.
    std::ofstream job(dir.File("a.pcl"), std::ios::binary);
    job << "half" << std::flush;
    job << " and the rest" << std::flush;
  }
  // The system merges a change with an identical one still unread, so each
  // step is read before the next.
  collect(1);
  std::ofstream(dir.File("a.pcl"), std::ios::binary | std::ios::app) << "more";
  collect(2);
  fs::rename(dir.path() / "a.pcl", dir.path() / "b.pcl");
  fs::create_directory(dir.path() / "sub");  // creation alone: nothing
  fs::remove(dir.path() / "b.pcl");
  collect(5);
  done.Set();
  alarm.join();
  std::string changes;
  for (const DirectoryChange& c : got) {
    changes += std::to_string(c.action) + ":" + c.name + (c.folder == dir.path() ? " " : "? ");
  }
  EXPECT_EQ(changes, "1:a.pcl 3:a.pcl 4:a.pcl 5:b.pcl 2:b.pcl ");
}

}  // namespace
}  // namespace quillaro
