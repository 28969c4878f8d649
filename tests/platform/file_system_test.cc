#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/module_path.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::TempDir;

TEST(FileSystemTest, ExistenceCoversFilesFoldersAndWildcards) {
  TempDir dir;
  testing::WriteFileBytes(dir.path() / "job.pcl", "x");
  std::filesystem::create_directory(dir.path() / "sub");
  std::filesystem::create_directory(dir.path() / "empty");
  std::filesystem::create_symlink(dir.path() / "gone", dir.path() / "dangling");

  struct Case {
    std::string path;
    bool exists;
  } cases[] = {
      {dir.File("job.pcl"), true},     {dir.File("sub"), true},
      {dir.File("missing"), false},    {dir.File("dangling"), true},
      {dir.File("*"), true},           {dir.File("*.pcl"), true},
      {dir.File("j?b.pcl"), true},     {dir.File("*.ps"), false},
      {dir.File("empty/*"), false},    {dir.File("job.pc?x"), false},
      {dir.File("[j]ob.pcl"), false},  {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(PathExists(c.path), c.exists) << c.path;
}

TEST(FileSystemTest, RemoveFileReportsWhetherItRemoved) {
  TempDir dir;
  testing::WriteFileBytes(dir.path() / "a", "x");
  EXPECT_TRUE(RemoveFile(dir.File("a")));
  EXPECT_FALSE(RemoveFile(dir.File("a")));
}

TEST(ModulePathTest, NamesTheRunningTestProgram) {
  std::optional<std::string> exe = ExecutablePath();
  ASSERT_TRUE(exe.has_value());
  EXPECT_EQ(std::filesystem::path(*exe).filename(), "platform_tests");
  EXPECT_TRUE(std::filesystem::path(*exe).is_absolute());
}

TEST(FileSystemTest, EntriesAreTakenForWhatTheyAreAndLinksAreNeverFollowed) {
  TempDir dir;
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
  EXPECT_FALSE(WriteNewFile(dir.File("folder"), "x"));
}

}  // namespace
}  // namespace quillaro
