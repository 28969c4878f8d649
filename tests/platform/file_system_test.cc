#include "platform/file_system.h"

#include <gtest/gtest.h>

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
      {"job.pcl", true},  {"empty", true},     {"missing", false}, {"dangling", true},
      {"*.pcl", true},    {"j?b.pcl", true},   {"*.ps", false},    {"empty/*", false},
      {"[j]ob.pcl", false},
  };
  for (const auto& [name, exists] : cases) EXPECT_EQ(PathExists(dir.File(name)), exists) << name;
  EXPECT_FALSE(PathExists(""));
}

}  // namespace
}  // namespace quillaro
