#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace quillaro {
namespace {

namespace fs = std::filesystem;

// Existence follows the Windows directory search: folders count, and "*" / "?" in the last
// component match entries other than "." and "..", and nowhere else.
TEST(FileSystemTest, ExistenceCoversFoldersAndWildcards) {
  testing::TempDir dir;
  testing::WriteFileBytes(dir.path() / "job.pcl", "x");
  fs::create_directory(dir.path() / "empty");
  fs::create_directory(dir.path() / "jobs");
  testing::WriteFileBytes(dir.path() / "jobs" / "job.pcl", "x");
  const std::pair<std::string, bool> cases[] = {
      {"job.pcl", true}, {"empty", true}, {"missing", false}, {"*.pcl", true},
      {"j?b.pcl", true}, {"*.ps", false}, {"empty/*", false}, {"j*/job.pcl", false},
  };
  for (const auto& [name, exists] : cases) EXPECT_EQ(PathExists(dir.File(name)), exists) << name;
  EXPECT_FALSE(PathExists(""));
}

// Entries are taken for what they are; a new file replaces a second name of another file
// rather than writing through it.
TEST(FileSystemTest, EntriesRemovalAppendsAndNewFiles) {
  testing::TempDir dir;
  testing::WriteFileBytes(dir.path() / "shared", "shared");
  fs::create_hard_link(dir.path() / "shared", dir.path() / "second_name");
  fs::create_directory(dir.path() / "folder");
  const struct {
    const char* name;
    EntryKind kind;
    bool readable;
  } cases[] = {{"shared", EntryKind::kFile, true},
               {"folder", EntryKind::kFolder, false},
               {"missing", EntryKind::kMissing, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GetEntryInfo(dir.File(c.name)).kind, c.kind);
    std::FILE* file = OpenRegularFileForReading(dir.File(c.name));
    EXPECT_EQ(file != nullptr, c.readable);
    if (file != nullptr) std::fclose(file);
  }
  EXPECT_EQ(GetEntryInfo(dir.File("shared")).hard_links, 2u);
  EXPECT_EQ(GetEntryInfo(dir.File("missing")).hard_links, 0u);

  EXPECT_TRUE(WriteNewFile(dir.File("second_name"), "other"));
  EXPECT_EQ(testing::ReadFileBytes(dir.path() / "shared"), "shared");
  EXPECT_EQ(testing::ReadFileBytes(dir.path() / "second_name"), "other");
  OsError error;
  EXPECT_FALSE(WriteNewFile(dir.File("folder"), "x", &error));
  EXPECT_EQ(error.path, dir.File("folder"));

  // (What an append sees of the file: tests/config/log_file_test.cc.)
  error = OsError{};
  EXPECT_FALSE(AppendToFile(
      dir.File("missing/log.txt"), [](uint64_t) { return "x"; }, &error));
  EXPECT_EQ(error.path, dir.File("missing/log.txt"));

  EXPECT_TRUE(RemoveFile(dir.File("second_name")));
  EXPECT_FALSE(RemoveFile(dir.File("second_name")));
  EXPECT_FALSE(RemoveFile(dir.File("folder")));
  EXPECT_TRUE(FileNameFits(std::string(255, 'a')));
  EXPECT_FALSE(FileNameFits(std::string(256, 'a')));
}

}  // namespace
}  // namespace quillaro
