#include "platform/child_confinement.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/path_utils.h"
#include "config/text_utils.h"
#include "platform/child_process.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::ServiceFolder;
using testing::WriteFileBytes;

// Runs the real gs beside the test program without its own safety checks
// (as the watermark route does), so only the confinement stands between
// the job and the machine.
int RunUnsafeGs(const ServiceFolder& folder, const fs::path& job, std::string& output) {
  const std::u16string gs = ToWide((folder.root() / "gs").string());
  const std::u16string line =
      ToWide("gs -q -dNOSAFER -dBATCH -dNOPAUSE -sDEVICE=nullpage \"" + job.string() + "\"");
  return ProcessRunner::Run(gs, line, output, 30);
}

class ChildConfinementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.HasInterpreters());
    if (LandlockAbiVersion() <= 0) GTEST_SKIP() << "this kernel has no Landlock";
  }
  ServiceFolder folder_;
};

TEST_F(ChildConfinementTest, JobCannotReadSystemFilesEvenWithoutSafeMode) {
  const fs::path job = folder_.in() / "peek.ps";
  WriteFileBytes(job,
                 "%!PS\n"
                 "{ (/etc/passwd) (r) file 200 string readstring pop (LEAK:) print print }"
                 " stopped { (DENIED) print } if\n"
                 "{ (" + (folder_.root() / "settings.ini").string() + ") (r) file pop (INI) print }"
                 " stopped { (NOINI) print } if\n");
  folder_.WriteSettings("IsLog=1\n");
  std::string output;
  RunUnsafeGs(folder_, job, output);
  EXPECT_NE(output.find("DENIED"), std::string::npos) << output;
  EXPECT_EQ(output.find("root:"), std::string::npos) << output;
  // The module folder itself is readable (interpreters, fonts), but its
  // files are not private: settings.ini is an ordinary readable file there.
  EXPECT_NE(output.find("INI"), std::string::npos) << output;
}

TEST_F(ChildConfinementTest, JobWritesOnlyInInOutAndItsScratchFolder) {
  testing::TempDir outside;
  const fs::path beside_binary = folder_.root() / "planted.txt";
  const fs::path job = folder_.in() / "write.ps";
  auto try_write = [](const fs::path& path, const std::string& tag) {
    return "{ (" + path.string() + ") (w) file dup (x) writestring closefile (" + tag +
           ":OK) print } stopped { (" + tag + ":DENIED) print } if\n";
  };
  WriteFileBytes(job, "%!PS\n" + try_write(outside.path() / "planted.txt", "TMP") +
                          try_write(beside_binary, "ROOT") +
                          try_write(folder_.out() / "result.txt", "OUT") +
                          try_write(folder_.in() / "work.txt", "IN") +
                          // The scratch folder is where TMPDIR points.
                          "(TMPDIR) getenv { (SCRATCH=) print print } if\n");
  std::string output;
  RunUnsafeGs(folder_, job, output);

  EXPECT_NE(output.find("TMP:DENIED"), std::string::npos) << output;
  EXPECT_NE(output.find("ROOT:DENIED"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(outside.path() / "planted.txt"));
  EXPECT_FALSE(fs::exists(beside_binary));
  EXPECT_EQ(ReadFileBytes(folder_.out() / "result.txt"), "x");
  EXPECT_EQ(ReadFileBytes(folder_.in() / "work.txt"), "x");

  // A private folder per run, gone once the run has ended.
  const size_t at = output.find("SCRATCH=");
  ASSERT_NE(at, std::string::npos) << output;
  const std::string scratch = output.substr(at + 8, output.find_first_of("\r\n ", at) - at - 8);
  EXPECT_NE(scratch.find("quillaro-run-"), std::string::npos) << scratch;
  EXPECT_FALSE(fs::exists(scratch));
}

TEST_F(ChildConfinementTest, OrdinaryRenderingStillWorks) {
  const fs::path job = folder_.in() / "page.ps";
  WriteFileBytes(job, "%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (Hi) show showpage\n");
  const std::u16string gs = ToWide((folder_.root() / "gs").string());
  std::string output;
  EXPECT_EQ(ProcessRunner::Run(gs,
                               ToWide("gs -q -dBATCH -dNOPAUSE -sDEVICE=png16m -r50 -sOutputFile=\"" +
                                      (folder_.out() / "p%d.png").string() + "\" \"" +
                                      job.string() + "\""),
                               output, 30),
            0)
      << output;
  EXPECT_EQ(ReadFileBytes(folder_.out() / "p1.png").substr(1, 3), "PNG");
}

}  // namespace
}  // namespace quillaro
