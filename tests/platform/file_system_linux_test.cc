#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "support/temp_dir.h"

namespace quillaro {
namespace {

// Existence follows the Windows directory search: folders and dangling links
// count, and "*" / "?" in the last component match entries other than "." and "..".
TEST(FileSystemTest, ExistenceCoversFoldersLinksAndWildcards) {
  testing::TempDir dir;
  testing::WriteFileBytes(dir.path() / "job.pcl", "x");
  std::filesystem::create_directory(dir.path() / "empty");
  std::filesystem::create_symlink(dir.path() / "gone", dir.path() / "dangling");
  const std::pair<std::string, bool> cases[] = {
      {"job.pcl", true}, {"empty", true}, {"missing", false}, {"dangling", true},   {"*.pcl", true},
      {"j?b.pcl", true}, {"*.ps", false}, {"empty/*", false}, {"[j]ob.pcl", false},
  };
  for (const auto& [name, exists] : cases) EXPECT_EQ(PathExists(dir.File(name)), exists) << name;
  EXPECT_FALSE(PathExists(""));
}

TEST(FileSystemTest, EntriesAreTakenForWhatTheyAreAndLinksAreNeverFollowed) {
  testing::TempDir dir;
  namespace fs = std::filesystem;
  testing::WriteFileBytes(dir.path() / "file", "bytes");
  testing::WriteFileBytes(dir.path() / "shared", "shared");
  fs::create_hard_link(dir.path() / "shared", dir.path() / "second_name");
  fs::create_directory(dir.path() / "folder");
  fs::create_symlink(dir.path() / "file", dir.path() / "link");
  fs::create_symlink(dir.path() / "gone", dir.path() / "dangling");
  ASSERT_EQ(std::system(("mkfifo '" + dir.File("pipe") + "'").c_str()), 0);

  struct Case {
    const char* name;
    EntryKind kind;
    uint64_t hard_links;
    bool readable;
  } cases[] = {
      {"file", EntryKind::kFile, 1, true},        {"shared", EntryKind::kFile, 2, true},
      {"folder", EntryKind::kFolder, 2, false},   {"link", EntryKind::kLink, 1, false},
      {"dangling", EntryKind::kLink, 1, false},   {"pipe", EntryKind::kOther, 1, false},
      {"missing", EntryKind::kMissing, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const EntryInfo info = GetEntryInfo(dir.File(c.name));
    EXPECT_EQ(info.kind, c.kind);
    EXPECT_EQ(info.hard_links, c.hard_links);
    // A pipe with no writer must not block the open.
    std::FILE* file = OpenRegularFileForReading(dir.File(c.name));
    EXPECT_EQ(file != nullptr, c.readable);
    if (file != nullptr) std::fclose(file);
  }

  // A planted link is replaced by the new file, its target left alone.
  EXPECT_TRUE(WriteNewFile(dir.File("link"), "new"));
  EXPECT_EQ(GetEntryInfo(dir.File("link")).kind, EntryKind::kFile);
  EXPECT_EQ(testing::ReadFileBytes(dir.path() / "link"), "new");
  EXPECT_EQ(testing::ReadFileBytes(dir.path() / "file"), "bytes");
  // So is a hard link.
  EXPECT_TRUE(WriteNewFile(dir.File("second_name"), "other"));
  EXPECT_EQ(testing::ReadFileBytes(dir.path() / "shared"), "shared");
  OsError error;
  EXPECT_FALSE(WriteNewFile(dir.File("folder"), "x", &error));
  EXPECT_EQ(error.ToString(), "open(\"" + dir.File("folder") + "\"): File exists (error 17)");
}

}  // namespace
}  // namespace quillaro
