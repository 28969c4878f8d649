// On a kernel without Landlock nothing but Ghostscript's own safe mode would
// keep a watermark job (which runs the job's PostScript) from every file the
// service can reach: the service refuses such jobs and says why, unless the
// settings accept the risk. The other jobs still run, with the rest of their
// confinement.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/path_utils.h"
#include "config/text_utils.h"
#include "service/service_process.h"

namespace quillaro::testing {
namespace {

const std::string kPage =
    "%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (page) show showpage\n";
// The watermark route stamps PostScript inside its PJL header.
const std::string kPjlJob =
    "\x1b%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\n" + kPage + "\x1b%-12345X";

TEST(WithoutLandlockTest, WatermarkJobsAreRefusedUnlessAllowedWhileOtherJobsRun) {
  const std::string settings = "IsConvert=1\nType=0\nWMEnable=1\nWaitSeconds=20\n";
  ServiceProcess service(settings);
  // Every Landlock call of the service and its interpreter runs fails, as on
  // a kernel built without it.
  service.RunThrough((fs::path(ToNarrow(GetModuleFolder())) / "without_landlock").string());
  // The jobs wait in in/ before each start, so that only the look at start
  // finds them: one dropped as the watch begins may be processed twice, and
  // its results read while the second run rewrites them.
  WriteFileBytes(service.in() / "refusedWTR.ps_watermark.txt", "mine\n");
  WriteFileBytes(service.in() / "refusedWTR.ps", kPjlJob);
  WriteFileBytes(service.in() / "other.ps", kPage);
  ASSERT_TRUE(service.Start()) << service.Errors();

  ASSERT_TRUE(WaitForFile(service.out() / "refusedWTR.ps_watermark_done_error", 60))
      << service.Errors();
  EXPECT_FALSE(fs::exists(service.out() / "refusedWTR.ps.watermarked"));
  EXPECT_NE(service.Errors().find("watermark jobs are refused: this kernel offers no Landlock"),
            std::string::npos)
      << service.Errors();

  ASSERT_TRUE(WaitForFile(service.out() / "other.ps_done", 60)) << service.Errors();
  EXPECT_EQ(ReadFileBytes(service.out() / "other_pagescount.txt"), "1");

  // Allowed, the watermark job has only Ghostscript's safe mode around it. That mode also
  // lets a run read and write its temporary folder, so the run's TMPDIR must be a folder of
  // its own: the service folder here is under /tmp. Each file the job reads adds a page.
  ASSERT_EQ(service.Stop(), 0);
  service.WriteSettings(settings + "WMUnconfined=1\n");
  std::string attacks;
  for (const fs::path& path : {service.in() / "other.ps", service.root() / "settings.ini"}) {
    attacks += "{ (" + path.string() + ") (r) file 100 string readstring pop pop showpage } "
               "stopped pop\n";
  }
  attacks += "{ (" + (service.in() / "injected.ps").string() +
             ") (w) file dup (forged) writestring closefile } stopped pop\n";
  WriteFileBytes(service.in() / "allowedWTR.ps_watermark.txt", "mine\n");
  WriteFileBytes(service.in() / "allowedWTR.ps",
                 "\x1b%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\n%!PS\n" + attacks + kPage.substr(5) +
                     "\x1b%-12345X");
  ASSERT_TRUE(service.Start()) << service.Errors();
  ASSERT_TRUE(WaitForFile(service.out() / "allowedWTR.ps_watermark_done_ok", 60))
      << service.Errors();
  EXPECT_NE(ReadFileBytes(service.out() / "allowedWTR.ps.watermarked").find("%%Pages: 1\n"),
            std::string::npos)
      << "a file of others was read";
  EXPECT_FALSE(fs::exists(service.in() / "injected.ps"));
}

}  // namespace
}  // namespace quillaro::testing
