#include "service/change_watcher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "config/text_utils.h"
#include "platform/wait.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::TempDir;

struct Record {
  uint32_t action;
  std::u16string path;
};

// Takes the next record, failing after five seconds without one.
bool Next(ChangeWatcher& watcher, Record* record) {
  if (WaitAny({watcher.WaitHandle()}, 5000) != 0) return false;
  return watcher.Pop(&record->action, &record->path);
}

TEST(ChangeWatcherTest, QueuesEveryRecordWithItsFullPath) {
  TempDir dir;
  ChangeWatcher watcher(1000);
  watcher.Watch(ToWide(dir.path().string()), false, 16384);
  // The watch is set up on the watcher's thread; a first file proves it runs.
  Record record;
  for (int tries = 0; tries < 50; ++tries) {
    testing::WriteFileBytes(dir.path() / "probe", "p");
    if (WaitAny({watcher.WaitHandle()}, 100) == 0) break;
  }
  while (watcher.Pop(&record.action, &record.path) && WaitAny({watcher.WaitHandle()}, 100) == 0) {
  }

  testing::WriteFileBytes(dir.path() / "a.pcl", "job");
  std::filesystem::rename(dir.path() / "a.pcl", dir.path() / "b.pcl");
  const std::u16string folder = ToWide(dir.path().string());
  struct {
    uint32_t action;
    std::u16string path;
  } expected[] = {{1, folder + u"/a.pcl"}, {4, folder + u"/a.pcl"}, {5, folder + u"/b.pcl"}};
  for (const auto& e : expected) {
    ASSERT_TRUE(Next(watcher, &record));
    EXPECT_EQ(record.action, e.action);
    EXPECT_EQ(record.path, e.path);
  }
  watcher.Terminate();
  watcher.Terminate();
}

TEST(ChangeWatcherTest, LosesNoFileWhenTheQueueOverflows) {
  TempDir dir;
  ChangeWatcher watcher(10);
  watcher.Watch(ToWide(dir.path().string()), false, 16384);
  Record record;
  for (int tries = 0; tries < 50; ++tries) {
    testing::WriteFileBytes(dir.path() / "probe", "p");
    if (WaitAny({watcher.WaitHandle()}, 100) == 0) break;
  }
  while (watcher.Pop(&record.action, &record.path) && WaitAny({watcher.WaitHandle()}, 100) == 0) {
  }

  constexpr int kFiles = 300;  // thirty times the queue
  for (int i = 0; i < kFiles; ++i) {
    testing::WriteFileBytes(dir.path() / ("job" + std::to_string(i)), "x");
  }
  std::set<std::u16string> seen;
  int records = 0;
  while (Next(watcher, &record)) {
    ++records;
    seen.insert(record.path);
    if (static_cast<int>(seen.size()) == kFiles) break;
  }
  EXPECT_EQ(static_cast<int>(seen.size()), kFiles);
  EXPECT_EQ(records, kFiles);  // and none twice
}

TEST(ChangeWatcherTest, TerminateWithoutWatchAndAMissingFolderAreHarmless) {
  ChangeWatcher idle(5);
  idle.Terminate();
  TempDir dir;
  ChangeWatcher watcher(5);
  watcher.Watch(ToWide(dir.File("missing")), false, 16384);
  EXPECT_EQ(WaitAny({watcher.WaitHandle()}, 100), kWaitTimeout);
  uint32_t action = 9;
  std::u16string path = u"x";
  EXPECT_FALSE(watcher.Pop(&action, &path));
  EXPECT_TRUE(path.empty());
  watcher.Terminate();
}

}  // namespace
}  // namespace quillaro
