// Faults and hostile input around the running service: each has a defined outcome, and the
// service stays up.

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "service_process.h"
#include "support/corpus.h"

namespace quillaro::testing {
namespace {

// Its own memory stays far below what reading a job whole would take (not under ASan).
#if defined(__SANITIZE_ADDRESS__)
constexpr long kMaxServiceMemoryKiB = 1024 * 1024;
#else
constexpr long kMaxServiceMemoryKiB = 96 * 1024;
#endif

// Number of processes with `argument` as one argument of their command line.
int CountProcessesWithArgument(const std::string& argument) {
  int count = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string cmdline = ReadFileBytes(entry.path() / "cmdline");
    count += cmdline.find('\0' + argument + '\0') != std::string::npos;
  }
  return count;
}

TEST(ServiceFaultsTest, EachFaultFailsOnlyTheJobsItTouches) {
  ServiceProcess service("IsConvert=1\nType=0\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  const fs::path gs = service.root() / "gs";
  const fs::path settings = service.root() / "settings.ini";
  std::string garbage = "[Settings\nIsConvert\n=1\n";
  for (int i = 0; i < 100000; ++i) garbage += static_cast<char>((i * 7919) % 256);
  // Each fault, a job, whether it gets its marker and its page count; then the repair.
  const struct {
    const char* name;
    std::function<void()> fault, repair;
    bool marker, measured;
  } cases[] = {
      {"no_gs.pdf", [&] { fs::remove(gs); }, [] {}, true, false},
      {"crashing_gs.pdf", [&] { service.ReplaceGs("#!/bin/sh\nkill -SEGV $$\n"); },
       [&] { service.RestoreGs(); }, true, false},
      // Settings that cannot be read mean the defaults, which convert nothing.
      {"settings_folder.pdf", [&] { fs::remove(settings), fs::create_directory(settings); },
       [&] { fs::remove(settings); }, true, false},
      {"settings_garbage.pdf", [&] { WriteFileBytes(settings, garbage); },
       [&] { service.WriteSettings("IsConvert=1\nType=0\n"); }, true, false},
      // The service does not make out/ (it belongs to whoever installed it) nor write beside it.
      {"no_out.pdf", [&] { fs::remove_all(service.out()); },
       [&] { EXPECT_FALSE(fs::exists(service.out())); }, false, false},
      {"out_is_a_file.pdf", [&] { WriteFileBytes(service.out(), "not a folder"); },
       [&] {
         EXPECT_EQ(ReadFileBytes(service.out()), "not a folder");
         fs::remove(service.out()), fs::create_directory(service.out());
       },
       false, false},
      // A new in/ is watched again; the job dropped at once is found by the rescan.
      {"in_made_anew.pdf",
       [&] { fs::remove_all(service.in()), Pause(200), fs::create_directory(service.in()); }, [] {},
       true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.fault();
    CopyIn(CorpusPath("a4_3pages.pdf"), service, c.name);
    const fs::path marker = service.out() / (std::string(c.name) + "_done");
    EXPECT_EQ(WaitForFile(marker, c.marker ? 30 : 3), c.marker);
    const std::string count = ReadFileBytes(service.out() / (Stem(c.name) + "_pagescount.txt"));
    EXPECT_EQ(count, c.measured ? "3" : "");
    c.repair();
  }
  EXPECT_EQ(CountEndingWith(service.root(), "_pagescount.txt"), 0);
  EXPECT_EQ(service.Stop(), 0);
  // A run that cannot start and a marker that cannot be written: each cause once on standard
  // error, with the call and the path (and the error; out/ may be a file by the marker's turn).
  const std::string errors = service.Errors();
  for (const std::string& line : {"execve(\"" + gs.string() + "\"): No such file or directory",
                                  "open(\"" + (service.out() / "no_out.pdf_done").string()}) {
    const size_t at = errors.find("quillaro: " + line);
    EXPECT_TRUE(at != std::string::npos && at == errors.rfind("quillaro: " + line)) << errors;
  }
}

// A stop while the service still starts is held until it runs; a job dropped the instant it
// reports running is seen; without an in/ to watch it does not start at all.
TEST(ServiceFaultsTest, StopsPromptlyWhenStoppedWhileStartingAndReadyMeansWatching) {
  ServiceProcess service("IsConvert=0\n");
  std::mt19937 random(20261207);
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(i);
    // Before its main runs no program can turn a SIGTERM into a clean stop: count from then.
    ASSERT_TRUE(service.Start(false));
    ASSERT_TRUE(WaitFor([&] { return service.TakesSignals() || service.Exited(); }, 10));
    Pause(static_cast<int>(random() % (i % 2 ? 1000 : 150)));  // half of them while it starts
    EXPECT_EQ(service.Stop(10), 0) << service.Errors();
  }
  for (int i = 0; i < 5; ++i) {
    const std::string name = "ready" + std::to_string(i);
    ASSERT_TRUE(service.Start(false));
    while (!service.Ready() && !service.Exited()) {}  // no pause: drop it at once
    WriteFileBytes(service.in() / name, "\033E");
    EXPECT_TRUE(WaitForFile(service.out() / (name + "_done"), 10)) << name;
    EXPECT_EQ(service.Stop(), 0);
  }
  fs::remove_all(service.in());
  ASSERT_TRUE(service.Start(false));
  EXPECT_TRUE(WaitFor([&] { return service.Exited(); }, 10));
  EXPECT_EQ(ReadFileBytes(service.root() / "exit_code"), "1\n");
  EXPECT_NE(service.Errors().find("cannot watch"), std::string::npos) << service.Errors();
  EXPECT_FALSE(service.Ready());
}

TEST(ServiceFaultsTest, KilledInTheMiddleOfAJobItStartsAgainWithTheLockFree) {
  ServiceProcess service("IsConvert=1\nType=0\nWaitSeconds=60\n");
  service.ReplaceGs("#!/bin/sh\nexec sleep 41.75\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  CopyIn(CorpusPath("a4_3pages.pdf"), service, "killed.pdf");
  ASSERT_TRUE(WaitFor([] { return CountProcessesWithArgument("41.75") == 1; }, 10));
  service.Kill();
  ASSERT_TRUE(service.Exited());
  // The interpreter dies with the service.
  EXPECT_TRUE(WaitFor([] { return CountProcessesWithArgument("41.75") == 0; }, 2));

  service.RestoreGs();
  ASSERT_TRUE(service.Start()) << service.Errors();
  // The interrupted job is run again at start, and the next one after it.
  CopyIn(CorpusPath("a4_3pages.pdf"), service, "after.pdf");
  for (const std::string stem : {"killed", "after"}) {
    EXPECT_TRUE(WaitForFile(service.out() / (stem + ".pdf_done"), 10)) << stem;
    EXPECT_EQ(ReadFileBytes(service.out() / (stem + "_pagescount.txt")), "3") << stem;
  }
  EXPECT_EQ(service.Stop(), 0);
}

// Big files belong to bench/hostile_jobs.sh. The path of every job here is over 260 characters.
TEST(ServiceFaultsTest, HostileJobsEachGetADefinedOutcome) {
  ServiceProcess service("IsConvert=1\nType=1\nWaitSeconds=3\n", std::string(220, 'f'));
  ASSERT_TRUE(service.Start()) << service.Errors();
  const std::string ps = ReadFileBytes(CorpusPath("a4_3pages.ps"));
  const std::string pdf = ReadFileBytes(CorpusPath("a4_3pages.pdf"));
  std::mt19937 random(20240611);
  std::string noise(65536, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  const struct {
    std::string name, bytes;
    bool counted;  // its three pages counted and rendered; the rest only have their marker
  } jobs[] = {
      {"empty.pcl", "", false},
      {"random.bin", noise, false},
      {"half.pdf", pdf.substr(0, pdf.size() / 2), true},  // gs rebuilds what is left
      {"endless.ps", "%!PS\n{ 1 pop } loop\n", false},    // killed after WaitSeconds
      {"with blanks in it.ps", ps, true},
      {"100%_sure%d%s.ps", ps, true},
      {"Gr\xC3\xBC\xC3\x9F"
       "e_\xE6\x97\xA5\xE6\x9C\xAC.ps",
       ps, true},
      {"line\nfeed.ps", ps, true},
      {"lat\xE9.ps", ps, true},  // Latin-1, not UTF-8: results and marker under the same bytes
      {std::string(120, 'n') + ".ps", ps, true},
  };
  // Moved in: a link to a job outside is refused, a folder holding a job is no job at all.
  fs::create_directory(service.root() / "folder.ps");
  WriteFileBytes(service.root() / "folder.ps" / "inner.ps", ps);
  fs::create_symlink(CorpusPath("a4_3pages.ps"), service.root() / "link.ps");
  for (const char* name : {"folder.ps", "link.ps"})
    fs::rename(service.root() / name, service.in() / name);
  // Made in place, never written: refused too, but each still ends with its marker.
  WriteFileBytes(service.root() / "outside.ps", ps);
  fs::create_hard_link(service.root() / "outside.ps", service.in() / "hard.ps");
  fs::create_symlink(CorpusPath("a4_3pages.ps"), service.in() / "soft.ps");
  ASSERT_EQ(std::system(("mkfifo '" + (service.in() / "pipe.ps").string() + "'").c_str()), 0);
  for (const auto& job : jobs) WriteFileBytes(service.in() / job.name, job.bytes);
  for (const auto& job : jobs) {
    SCOPED_TRACE(job.name);
    ASSERT_GT((service.in() / job.name).string().size(), 260u);
    EXPECT_TRUE(WaitForFile(service.out() / (job.name + "_done"), 30));
    const std::string count = ReadFileBytes(service.out() / (Stem(job.name) + "_pagescount.txt"));
    EXPECT_EQ(count == "3", job.counted) << count;
    EXPECT_TRUE(!job.counted || fs::exists(service.out() / (Stem(job.name) + "_1.jpg")));
  }
  for (const std::string refused : {"link", "hard", "soft", "pipe"}) {
    EXPECT_TRUE(WaitForFile(service.out() / (refused + ".ps_done"), 10)) << refused;
    int outputs = 0;  // of this job: its marker alone
    for (const auto& entry : fs::directory_iterator(service.out()))
      outputs += entry.path().filename().string().starts_with(refused);
    EXPECT_EQ(outputs, 1) << refused;
  }
  EXPECT_EQ(CountEndingWith(service.out(), "folder.ps_done") +
                CountEndingWith(service.out(), "inner.ps_done"),
            0);
  ASSERT_TRUE(service.Alive()) << service.Errors();
  EXPECT_GT(service.PeakMemoryKiB(), 0);
  EXPECT_LT(service.PeakMemoryKiB(), kMaxServiceMemoryKiB);
  EXPECT_EQ(service.Stop(), 0);
}

}  // namespace
}  // namespace quillaro::testing
