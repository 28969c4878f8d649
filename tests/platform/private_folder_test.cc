// A job brought into its run's private folder, as every run does before an interpreter reads it:
// only a plain file with one name, never what a link leads to, at most as large as allowed, and
// what was checked is what is copied. The same test on Linux and under Wine.
#include "platform/private_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "support/temp_dir.h"

namespace quillaro::testing {
namespace {

namespace fs = std::filesystem;

TEST(PrivateFolderTest, OnlyAPlainFileWithOneNameIsBroughtIn) {
  TempDir in;
  WriteFileBytes(in.path() / "job.ps", "%!PS the job");
  WriteFileBytes(in.path() / "secret.ps", "another customer's job");
  OsError error;
  const std::unique_ptr<PrivateFolder> folder = PrivateFolder::Make(&error);
  ASSERT_TRUE(folder) << error.ToString();
  const fs::path inside = folder->path();

  EXPECT_EQ(folder->CopyIn(in.File("job.ps"), "job.ps", 1 << 20, &error), CopyInResult::kCopied)
      << error.ToString();
  EXPECT_EQ(ReadFileBytes(inside / "job.ps"), "%!PS the job");
  // A name already taken in the folder is never written over.
  EXPECT_EQ(folder->CopyIn(in.File("secret.ps"), "job.ps", 1 << 20, &error), CopyInResult::kFailed);
  EXPECT_EQ(error.kind(), OsErrorKind::kAlreadyExists) << error.ToString();
  EXPECT_EQ(ReadFileBytes(inside / "job.ps"), "%!PS the job");
  EXPECT_EQ(folder->CopyIn(in.File("gone.ps"), "gone.ps", 1 << 20, &error), CopyInResult::kMissing);
  EXPECT_EQ(folder->CopyIn(in.File("job.ps"), "large.ps", 5, &error), CopyInResult::kTooLarge);

  // A second name for another customer's job, a folder: neither is read.
  fs::create_hard_link(in.path() / "secret.ps", in.path() / "hard.ps");
  EXPECT_EQ(folder->CopyIn(in.File("hard.ps"), "hard.ps", 1 << 20, &error), CopyInResult::kRefused);
  fs::create_directory(in.path() / "folder.ps");
  EXPECT_EQ(folder->CopyIn(in.File("folder.ps"), "folder.ps", 1 << 20, &error),
            CopyInResult::kRefused);
  for (const char* name : {"hard.ps", "folder.ps", "large.ps"}) {
    EXPECT_FALSE(fs::exists(inside / name)) << name;
  }
}

TEST(PrivateFolderTest, ALinkIsNeverFollowed) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine 8 makes no symbolic link (CreateSymbolicLinkW and mklink make none, and "
                  "libstdc++ has no create_symlink for Windows), so it cannot show the refusal "
                  "of a reparse point";
#endif
  TempDir in;
  WriteFileBytes(in.path() / "secret.ps", "another customer's job");
  fs::create_symlink(in.path() / "secret.ps", in.path() / "link.ps");
  OsError error;
  const std::unique_ptr<PrivateFolder> folder = PrivateFolder::Make(&error);
  ASSERT_TRUE(folder) << error.ToString();
  EXPECT_EQ(folder->CopyIn(in.File("link.ps"), "link.ps", 1 << 20, &error), CopyInResult::kRefused);
  EXPECT_FALSE(fs::exists(fs::path(folder->path()) / "link.ps"));
}

}  // namespace
}  // namespace quillaro::testing
