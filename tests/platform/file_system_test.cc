#include "platform/file_system.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quillaro
