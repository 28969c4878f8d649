#include "platform/child_confinement.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "config/text_utils.h"
#include "platform/child_process.h"
#include "platform/private_folder.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

namespace fs = std::filesystem;

// Landlock confines the child on Linux (Windows has no file-system sandbox for
// it, only the job object the runner tests show). gs runs without its own safe
// mode, so only the confinement stands between a hostile job and the machine:
// it may write in its private folder alone, not even in the service's in/ and
// out/; the same run renders a page there, so an ordinary job still goes
// through.
TEST(ChildConfinementTest, JobRendersButCanNeitherReadSystemFilesNorWriteOutsideItsFolder) {
  testing::ServiceFolder folder;
  QUILLARO_SKIP_WITHOUT_INTERPRETERS();
  if (FileSystemSandboxVersion() <= 0) GTEST_SKIP() << "this kernel has no Landlock";
  testing::TempDir outside;
  OsError error;
  const std::unique_ptr<PrivateFolder> own = PrivateFolder::Make(&error);
  ASSERT_TRUE(own) << error.ToString();
  const fs::path mine = own->path();
  fs::permissions(outside.path(), fs::perms::all);
  const fs::path planted[] = {outside.path() / "planted.txt", folder.root() / "planted.txt",
                              folder.out() / "planted.txt", folder.in() / "planted.txt",
                              mine / "allowed.txt"};
  std::string job =
      "%!PS\n{ (/etc/passwd) (r) file 200 string readstring pop (LEAK:) print print }"
      " stopped { (DENIED) print } if\n";
  for (const fs::path& path : planted) {
    job += "{ (" + path.string() + ") (w) file dup (x) writestring closefile } stopped pop\n";
  }
  job += "/Helvetica findfont 24 scalefont setfont 72 700 moveto (Hi) show showpage\n";
  testing::WriteFileBytes(mine / "job.ps", job);
  PrivateFolder::ShareWithChildren((mine / "job.ps").string(), false);
  std::string output;
  ProcessRunner::Options options;
  options.private_folder = mine.string();
  EXPECT_EQ(ProcessRunner::Run(ToWide((folder.root() / "gs").string()),
                               ToWide("gs -q -dNOSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r50 "
                                      "-sOutputFile=\"" +
                                      (mine / "p%d.png").string() + "\" \"" +
                                      (mine / "job.ps").string() + "\""),
                               output, 30, nullptr, options),
            0)
      << output;
  EXPECT_EQ(testing::ReadFileBytes(mine / "p1.png").substr(1, 3), "PNG");
  EXPECT_NE(output.find("DENIED"), std::string::npos) << output;
  EXPECT_EQ(output.find("root:"), std::string::npos) << output;
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(fs::exists(planted[i])) << planted[i];
  EXPECT_EQ(testing::ReadFileBytes(planted[4]), "x");
}

}  // namespace
}  // namespace quillaro
