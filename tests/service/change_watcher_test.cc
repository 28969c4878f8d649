#include "service/change_watcher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "config/text_utils.h"
#include "platform/directory_watch.h"
#include "service/change_record.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

namespace fs = std::filesystem;

// Waits for the next record that is not a removal; "" when none comes
// within `timeout_ms`. A record that the folder was looked through is
// counted in `*rescans`, when given, and skipped.
std::string NextName(ChangeWatcher& watcher, uint32_t timeout_ms = 10000, int* rescans = nullptr) {
  for (;;) {
    if (!watcher.WaitHandle().Acquire(timeout_ms)) return "";
    uint32_t action = 0;
    std::u16string path;
    if (!watcher.Pop(&action, &path)) return "?";
    if (action == kFolderRescanned) {
      if (rescans != nullptr) ++*rescans;
      continue;
    }
    if (action != kFileActionRemoved) return fs::path(ToNarrow(path)).filename().string();
  }
}

// A queue far smaller than the burst: what does not fit is held back on the
// watcher's thread and handed over in order as room is made, none lost or
// repeated. Then the watched folder is deleted and made anew with files in
// it: those are found by looking through the new folder, and the consumer
// is told that it was looked through.
TEST(ChangeWatcherTest, HoldsBackWhatTheQueueCannotTakeAndRescansAFolderMadeAnew) {
  testing::TempDir dir;
  const fs::path in = dir.path() / "in";
  fs::create_directory(in);
  ChangeWatcher watcher(3);
  watcher.Watch(ToWide(in.string()), false, 16384);
  // The watch stands once a record arrives; each probe is written only after
  // the one before it went unseen.
  std::string seen;
  for (int probe = 0; probe < 100 && seen.empty(); ++probe) {
    testing::WriteFileBytes(in / ("probe" + std::to_string(probe)), "x");
    seen = NextName(watcher, 100);
  }
  ASSERT_FALSE(seen.empty());

  constexpr int kBurst = 200;
  for (int i = 0; i < kBurst; ++i) testing::WriteFileBytes(in / std::to_string(i), "x");
  for (int i = 0; i < kBurst; ++i) ASSERT_EQ(NextName(watcher), std::to_string(i));
  EXPECT_FALSE(watcher.WaitHandle().Acquire(200));

  fs::remove_all(in);
  fs::create_directory(in);
  testing::WriteFileBytes(in / "after", "x");
  int rescans = 0;
  EXPECT_EQ(NextName(watcher, 10000, &rescans), "after");
  // The notice may come just before or just after the file's own record. A
  // file written while the new folder is looked through is also seen by the
  // new watch, so it may come twice: the inbox takes a repeat as one.
  for (std::string next; !(next = NextName(watcher, 3000, &rescans)).empty();) {
    EXPECT_EQ(next, "after");
  }
  EXPECT_EQ(rescans, 1);
  watcher.Terminate();
}

// The kernel's notification queue overflows when nobody reads it; the watch
// must say so, so that its owner looks through the folder itself.
TEST(DirectoryWatchTest, SaysSoWhenTheSystemDroppedChanges) {
  testing::TempDir dir;
  DirectoryWatch watch;
  ASSERT_TRUE(watch.AddFolder(dir.path().string()));
  // More closed files than the kernel keeps notifications for (16384 by default).
  for (int i = 0; i < 17000; ++i) testing::WriteFileBytes(dir.path() / std::to_string(i), "");
  ManualResetEvent wake(false);
  std::vector<DirectoryChange> changes;
  bool overflowed = false;
  while (!overflowed &&
         watch.WaitForChanges(wake, 65536, &changes, &overflowed, 1000) ==
             DirectoryWatch::Result::kChanges) {
  }
  EXPECT_TRUE(overflowed) << changes.size() << " changes read";
}

}  // namespace
}  // namespace quillaro
