#include "platform/child_confinement.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/text_utils.h"
#include "platform/child_process.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

namespace fs = std::filesystem;

// Landlock confines the child on Linux (Windows has no file-system sandbox for
// it, only the job object the runner tests show). gs runs without its own safe
// mode (as the watermark route runs it), so only the confinement stands
// between a hostile job and the machine; the same run renders a page, so the
// confinement still lets an ordinary job through.
TEST(ChildConfinementTest, JobRendersButCanNeitherReadSystemFilesNorWriteOutsideItsFolders) {
  testing::ServiceFolder folder;
  QUILLARO_SKIP_WITHOUT_INTERPRETERS();
  if (FileSystemSandboxVersion() <= 0) GTEST_SKIP() << "this kernel has no Landlock";
  testing::TempDir outside;
  // The write to out/ shows that the writes themselves work.
  const fs::path planted[] = {outside.path() / "planted.txt", folder.root() / "planted.txt",
                              folder.out() / "allowed.txt"};
  std::string job =
      "%!PS\n{ (/etc/passwd) (r) file 200 string readstring pop (LEAK:) print print }"
      " stopped { (DENIED) print } if\n";
  for (const fs::path& path : planted) {
    job += "{ (" + path.string() + ") (w) file dup (x) writestring closefile } stopped pop\n";
  }
  job += "/Helvetica findfont 24 scalefont setfont 72 700 moveto (Hi) show showpage\n";
  testing::WriteFileBytes(folder.in() / "job.ps", job);
  std::string output;
  EXPECT_EQ(ProcessRunner::Run(ToWide((folder.root() / "gs").string()),
                               ToWide("gs -q -dNOSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r50 "
                                      "-sOutputFile=\"" +
                                      (folder.out() / "p%d.png").string() + "\" \"" +
                                      (folder.in() / "job.ps").string() + "\""),
                               output, 30),
            0)
      << output;
  EXPECT_EQ(testing::ReadFileBytes(folder.out() / "p1.png").substr(1, 3), "PNG");
  EXPECT_NE(output.find("DENIED"), std::string::npos) << output;
  EXPECT_EQ(output.find("root:"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(planted[0]));
  EXPECT_FALSE(fs::exists(planted[1]));
  EXPECT_EQ(testing::ReadFileBytes(planted[2]), "x");
}

}  // namespace
}  // namespace quillaro
