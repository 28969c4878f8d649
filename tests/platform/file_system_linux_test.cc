// The file system functions on what only Linux tests can make: symbolic links and pipes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/file_system.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

TEST(FileSystemLinuxTest, LinksAndPipesAreTakenForWhatTheyAreAndNeverFollowed) {
  testing::TempDir dir;
  namespace fs = std::filesystem;
  testing::WriteFileBytes(dir.path() / "file", "bytes");
  fs::create_directory(dir.path() / "folder");
  fs::create_symlink(dir.path() / "file", dir.path() / "link");
  fs::create_symlink(dir.path() / "gone", dir.path() / "dangling");
  ASSERT_EQ(std::system(("mkfifo '" + dir.File("pipe") + "'").c_str()), 0);

  // A dangling link is an entry of its folder, also for a wildcard.
  EXPECT_TRUE(PathExists(dir.File("dangling")));
  EXPECT_TRUE(PathExists(dir.File("dang*")));
  const struct {
    const char* name;
    EntryKind kind;
    uint64_t hard_links;
  } cases[] = {{"folder", EntryKind::kFolder, 2},
               {"link", EntryKind::kLink, 1},
               {"dangling", EntryKind::kLink, 1},
               {"pipe", EntryKind::kOther, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const EntryInfo info = GetEntryInfo(dir.File(c.name));
    EXPECT_EQ(info.kind, c.kind);
    EXPECT_EQ(info.hard_links, c.hard_links);
    // A pipe with no writer must not block the open.
    EXPECT_EQ(OpenRegularFileForReading(dir.File(c.name)), nullptr);
  }

  // A planted link is replaced by the new file, its target left alone.
  EXPECT_TRUE(WriteNewFile(dir.File("link"), "new"));
  EXPECT_EQ(GetEntryInfo(dir.File("link")).kind, EntryKind::kFile);
  EXPECT_EQ(testing::ReadFileBytes(dir.path() / "link"), "new");
  EXPECT_EQ(testing::ReadFileBytes(dir.path() / "file"), "bytes");
  OsError error;
  EXPECT_FALSE(WriteNewFile(dir.File("folder"), "x", &error));
  EXPECT_EQ(error.ToString(), "open(\"" + dir.File("folder") + "\"): File exists (error 17)");
}

}  // namespace
}  // namespace quillaro
