#include "platform/directory_watch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::TempDir;

// Collects changes until `count` have arrived, giving up after five seconds
// without news so that a missing change fails the test instead of hanging it.
std::vector<DirectoryChange> Collect(DirectoryWatch& watch, size_t count) {
  std::vector<DirectoryChange> changes;
  while (changes.size() < count) {
    ManualResetEvent wake(false);
    ManualResetEvent done(false);
    std::thread alarm([&] {
      if (!done.Wait(5000)) wake.Set();
    });
    bool overflowed = false;
    DirectoryWatch::Result result = watch.WaitForChanges(wake, 4096, &changes, &overflowed);
    done.Set();
    alarm.join();
    if (result != DirectoryWatch::Result::kChanges) break;
  }
  return changes;
}

TEST(DirectoryWatchTest, ReportsFilesWhenClosedRenamedAndRemoved) {
  TempDir dir;
  const std::string folder = dir.path().string();
  DirectoryWatch watch;
  ASSERT_TRUE(watch.AddFolder(folder));

  {
    std::ofstream job(dir.File("a.pcl"), std::ios::binary);
    job << "half";
    job.flush();
    // Written but still open: nothing yet.
    ManualResetEvent wake(true);
    std::vector<DirectoryChange> early;
    bool overflowed = false;
    EXPECT_EQ(watch.WaitForChanges(wake, 4096, &early, &overflowed),
              DirectoryWatch::Result::kWoken);
    job << " and the rest";
  }
  // The system merges a change with an identical one still unread, so each
  // step is read before the next.
  std::vector<DirectoryChange> changes = Collect(watch, 1);
  {
    std::ofstream again(dir.File("a.pcl"), std::ios::binary | std::ios::app);
    again << "more";
  }
  std::vector<DirectoryChange> more = Collect(watch, 1);
  changes.insert(changes.end(), more.begin(), more.end());
  std::filesystem::rename(dir.path() / "a.pcl", dir.path() / "b.pcl");
  std::filesystem::create_directory(dir.path() / "sub");  // creation alone: nothing
  std::filesystem::remove(dir.path() / "b.pcl");
  more = Collect(watch, 3);
  changes.insert(changes.end(), more.begin(), more.end());

  struct Expected {
    uint32_t action;
    const char* name;
  } expected[] = {
      {kFileActionAdded, "a.pcl"},
      {kFileActionModified, "a.pcl"},
      {kFileActionRenamedOldName, "a.pcl"},
      {kFileActionRenamedNewName, "b.pcl"},
      {kFileActionRemoved, "b.pcl"},
  };
  std::string got;
  for (const DirectoryChange& c : changes) got += std::to_string(c.action) + ":" + c.name + " ";
  ASSERT_EQ(changes.size(), std::size(expected)) << got;
  for (size_t i = 0; i < changes.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(changes[i].action, expected[i].action);
    EXPECT_EQ(changes[i].name, expected[i].name);
    EXPECT_EQ(changes[i].folder, folder);
  }
}

TEST(DirectoryWatchTest, RefusesAMissingFolderAndFailsWhenClosed) {
  TempDir dir;
  DirectoryWatch watch;
  EXPECT_FALSE(watch.AddFolder(dir.File("missing")));
  watch.Close();
  ManualResetEvent wake(false);
  std::vector<DirectoryChange> changes;
  bool overflowed = false;
  EXPECT_EQ(watch.WaitForChanges(wake, 4096, &changes, &overflowed),
            DirectoryWatch::Result::kFailed);
}

}  // namespace
}  // namespace quillaro
