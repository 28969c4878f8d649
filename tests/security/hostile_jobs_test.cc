// Hostile jobs against the real service and interpreters: each attack a
// customer's job could make on other customers' jobs, on the service and on
// its accounting, with what the service must make of it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "service/service_process.h"

namespace quillaro::testing {
namespace {

// One page, drawn after `body` has run.
std::string PostScriptJob(const std::string& body) {
  return "%!PS\n" + body + "\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (page) show "
                           "showpage\n";
}

// A job that keeps the one interpreter slot busy for about `seconds`.
std::string SlowJob(int seconds) {
  return PostScriptJob("usertime " + std::to_string(seconds * 1000) +
                       " add { dup usertime lt { exit } if } loop pop");
}

std::string PsString(const std::string& text) { return "(" + text + ")"; }

// The watermark route runs the job's PostScript to stamp it. Each file it
// manages to read adds a page to the stamped job, so the page count of the
// result tells whether any read got through; every write, removal and
// rename is tried on files of others.
TEST(HostileJobsTest, AWatermarkJobReachesNothingButItsOwnResults) {
  ServiceProcess service("WMEnable=1\nIsLog=1\nWaitSeconds=20\n; settings-secret\n");
  ASSERT_TRUE(service.Start());
  WriteFileBytes(service.in() / "victim.ps", PostScriptJob("% VICTIM-SECRET"));
  ASSERT_TRUE(WaitForFile(service.out() / "victim.ps_done", 30));
  WriteFileBytes(service.out() / "victim_pagescount.txt", "7");

  const fs::path readable[] = {service.in() / "victim.ps", service.out() / "victim.ps_done",
                               service.out() / "victim_pagescount.txt",
                               service.root() / "settings.ini", service.root() / "log.txt",
                               "/etc/passwd"};
  std::string attacks;
  for (const fs::path& path : readable) {
    attacks += "{ " + PsString(path.string()) +
               " (r) file 100 string readstring pop pop showpage } stopped pop\n";
  }
  const std::string forged = "{ %s (w) file dup (forged) writestring closefile } stopped pop\n";
  for (const fs::path& path :
       {service.out() / "victim.ps_done", service.out() / "victim_pagescount.txt",
        service.in() / "injected.ps", service.root() / "settings.ini"}) {
    std::string line = forged;
    line.replace(line.find("%s"), 2, PsString(path.string()));
    attacks += line;
  }
  attacks += "{ " + PsString((service.in() / "victim.ps").string()) + " deletefile } stopped pop\n";
  attacks += "{ " + PsString((service.out() / "victim_pagescount.txt").string()) + " " +
             PsString((service.out() / "moved.txt").string()) + " renamefile } stopped pop\n";
  WriteFileBytes(service.root() / "stage", "\x1b%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\n" +
                                               PostScriptJob(attacks) + "\x1b%-12345X");
  WriteFileBytes(service.in() / "attackWTR.ps_watermark.txt", "mine\n");
  fs::rename(service.root() / "stage", service.in() / "attackWTR.ps");
  ASSERT_TRUE(WaitForFile(service.out() / "attackWTR.ps_watermark_done_ok", 60))
      << service.Errors();

  const std::string stamped = ReadFileBytes(service.out() / "attackWTR.ps.watermarked");
  EXPECT_NE(stamped.find("%%Pages: 1\n"), std::string::npos) << "a file was read";
  EXPECT_EQ(ReadFileBytes(service.out() / "victim.ps_done"), "done");
  EXPECT_EQ(ReadFileBytes(service.out() / "victim_pagescount.txt"), "7");
  EXPECT_TRUE(fs::exists(service.in() / "victim.ps"));
  EXPECT_FALSE(fs::exists(service.in() / "injected.ps"));
  EXPECT_FALSE(fs::exists(service.out() / "moved.txt"));
  EXPECT_EQ(ReadFileBytes(service.root() / "settings.ini").find("forged"), std::string::npos);
}

// The job shares the interpreter's text output with the device that counts
// its pages; what it prints must not count.
TEST(HostileJobsTest, AJobCannotSetItsOwnPageCountNorGrowTheService) {
  ServiceProcess service("IsConvert=1\nType=0\nWaitSeconds=10\n");
  ASSERT_TRUE(service.Start());
  WriteFileBytes(service.in() / "forged.ps",
                 PostScriptJob("100 { (%%BoundingBox: 0 0 612 792\\n%%HiResBoundingBox: 0 0 "
                               "612.0 792.0\\n) print } repeat flush"));
  ASSERT_TRUE(WaitForFile(service.out() / "forged.ps_done", 60));
  EXPECT_EQ(ReadFileBytes(service.out() / "forged_pagescount.txt"), "1");

  // Printing without end until the time limit: the service keeps a bounded
  // part of it.
  const long before_kib = service.PeakMemoryKiB();
  WriteFileBytes(service.in() / "chatter.ps",
                 PostScriptJob("/line 65536 string def { line print } loop"));
  ASSERT_TRUE(WaitForFile(service.out() / "chatter.ps_done", 60));
  EXPECT_LT(service.PeakMemoryKiB() - before_kib, 64 * 1024) << "KiB grown";
}

// Jobs that wait for the one interpreter slot while another runs: the window
// in which a job could be swapped or taken away.
TEST(HostileJobsTest, AJobIsReadOnceAsItWasCheckedAndNeverSilently) {
  ServiceProcess service("IsConvert=1\nType=0\nIsReport=1\nMaxJobMegabytes=1\nWaitSeconds=20\n");
  ASSERT_TRUE(service.Start());
  WriteFileBytes(service.root() / "other-customer.ps",
                 "%!PS\nshowpage showpage showpage showpage\n");
  WriteFileBytes(service.in() / "slow.ps", SlowJob(3));
  Pause(300);
  WriteFileBytes(service.in() / "swapped.ps", PostScriptJob(""));
  WriteFileBytes(service.in() / "vanished.ps", PostScriptJob(""));
  // Over MaxJobMegabytes: a comment of 2 MiB.
  WriteFileBytes(service.in() / "large.ps", PostScriptJob("%" + std::string(2 << 20, 'x')));
  Pause(500);
  // While they wait: one becomes a link to another customer's job, one goes.
  fs::create_symlink(service.root() / "other-customer.ps", service.root() / "link.ps");
  fs::rename(service.root() / "link.ps", service.in() / "swapped.ps");
  fs::remove(service.in() / "vanished.ps");

  for (const char* name : {"slow.ps", "swapped.ps", "vanished.ps", "large.ps"}) {
    ASSERT_TRUE(WaitForFile(service.out() / (std::string(name) + "_done"), 60)) << name;
  }
  EXPECT_EQ(ReadFileBytes(service.out() / "slow_pagescount.txt"), "1");
  EXPECT_FALSE(fs::exists(service.out() / "swapped_pagescount.txt"))
      << ReadFileBytes(service.out() / "swapped_pagescount.txt");
  EXPECT_FALSE(fs::exists(service.out() / "large_pagescount.txt"));
  const std::string errors = service.Errors();
  EXPECT_NE(errors.find("vanished.ps: the job vanished before it was read"), std::string::npos)
      << errors;
  EXPECT_NE(errors.find("large.ps: the job is larger than MaxJobMegabytes"), std::string::npos)
      << errors;
  EXPECT_NE(ReadFileBytes(service.out() / "vanished.ps_report.json").find("vanished"),
            std::string::npos);
}

}  // namespace
}  // namespace quillaro::testing
