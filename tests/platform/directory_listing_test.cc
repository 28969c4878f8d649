#include "platform/directory_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "support/temp_dir.h"

namespace quillaro {
namespace {

namespace fs = std::filesystem;

int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TEST(DirectoryListingTest, ListsEachEntryOnceWithItsKindAndTimes) {
  testing::TempDir dir;
  testing::WriteFileBytes(dir.path() / "job.pcl", "x");
  fs::create_directory(dir.path() / "sub");
  testing::WriteFileBytes(dir.path() / "sub" / "inner", "x");
  const int64_t start = NowSeconds();
  std::optional<std::vector<DirectoryEntry>> entries = ListDirectory(dir.path().string());
  ASSERT_TRUE(entries.has_value());
  std::sort(entries->begin(), entries->end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  ASSERT_EQ(entries->size(), 2u);
  const DirectoryEntry& file = (*entries)[0];
  const DirectoryEntry& folder = (*entries)[1];
  EXPECT_EQ(file.name + " " + folder.name, "job.pcl sub");
  EXPECT_TRUE(file.is_regular_file && !file.is_folder);
  EXPECT_TRUE(folder.is_folder && !folder.is_regular_file);
  for (const DirectoryEntry& entry : *entries) {
    SCOPED_TRACE(entry.name);
    ASSERT_TRUE(entry.creation_seconds.has_value());
    EXPECT_NEAR(static_cast<double>(*entry.creation_seconds), start, 60);
    EXPECT_NEAR(entry.modification_time_ns / 1e9, start, 60);
    EXPECT_GE(entry.change_time_ns, entry.modification_time_ns);
  }

  // A rename changes the entry, not its content: a copy keeps its writer's time, a
  // rename into the inbox is still noticed.
  const auto old_time = fs::file_time_type::clock::now() - std::chrono::hours(24);
  fs::last_write_time(dir.path() / "job.pcl", old_time);
  fs::rename(dir.path() / "job.pcl", dir.path() / "moved.pcl");
  entries = ListDirectory(dir.path().string());
  ASSERT_TRUE(entries.has_value());
  for (const DirectoryEntry& entry : *entries) {
    if (entry.name != "moved.pcl") continue;
    EXPECT_LT(entry.modification_time_ns / 1e9, start - 3600);
    EXPECT_NEAR(entry.change_time_ns / 1e9, start, 60);
  }

  EXPECT_FALSE(ListDirectory(dir.File("missing")).has_value());
  EXPECT_FALSE(ListDirectory(dir.File("moved.pcl")).has_value());
  fs::remove_all(dir.path() / "sub");
  EXPECT_EQ(ListDirectory(dir.path().string())->size(), 1u);
}

}  // namespace
}  // namespace quillaro
