// The service as a black box: the real binary started in a temporary service
// folder, fed real print jobs by copy and by move, stopped by SIGTERM.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/directory_watch.h"
#include "platform/event.h"
#include "service_process.h"
#include "support/corpus.h"
#include "support/temp_dir.h"

namespace quillaro::testing {
namespace {

namespace fs = std::filesystem;

TEST(ServiceTest, ProcessesCopiedAndMovedJobsAndSkipsItsOwnOutputs) {
  ServiceProcess service("IsConvert=1\nType=2\nImageType=0\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  const std::vector<std::string> jobs = {"a4_3pages.pdf", "letter_2pages_colour.pcl",
                                         "letter_2pages.pxl", "a4_3pages.xps",
                                         "pjl_ps_a4_qty2.prn"};
  bool by_copy = true;
  for (const std::string& name : jobs) {
    const std::string path = CorpusPath(name);
    ASSERT_FALSE(path.empty());
    if (by_copy) {
      CopyIn(path, service, name);
    } else {
      MoveIn(path, service, name);
    }
    by_copy = !by_copy;
  }
  // Names the stages give their own files: never processed.
  WriteFileBytes(service.in() / "job_pagescount.txt", "3");
  WriteFileBytes(service.in() / "scan.png", "not an image");
  WriteFileBytes(service.in() / "ps_2_pcl_a.ps", "%!PS\n");

  for (const std::string& name : jobs) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(WaitForFile(service.out() / (name + "_done"), 120));
    const std::string stem = Stem(name);
    EXPECT_FALSE(ReadFileBytes(service.out() / (stem + "_pagescount.txt")).empty());
    EXPECT_TRUE(fs::exists(service.out() / (stem + "_papersize.txt")));
    EXPECT_TRUE(fs::exists(service.out() / (stem + "_colorcoverage.txt")));
    EXPECT_TRUE(fs::exists(service.out() / (stem + "_1.jpg")));
  }
  EXPECT_EQ(service.Stop(), 0);
  for (const char* skipped : {"job_pagescount", "scan", "ps_2_pcl_a"}) {
    EXPECT_EQ(CountEndingWith(service.out(), std::string(skipped) + ".txt_done") +
                  CountEndingWith(service.out(), std::string(skipped) + ".png_done") +
                  CountEndingWith(service.out(), std::string(skipped) + ".ps_done"),
              0)
        << skipped;
  }
  // Markers and results only: no rendered page is left behind.
  EXPECT_EQ(CountEndingWith(service.out(), ".png_"), 0);
  EXPECT_EQ(CountEndingWith(service.out(), "_done"), static_cast<int>(jobs.size()));
}

TEST(ServiceTest, EachJobRunsTheStagesItsSettingsAskForAndSettingsChangesApplyAtOnce) {
  ServiceProcess service("IsConvert=0\nType=2\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  const std::string source = CorpusPath("letter_2pages.pdf");
  ASSERT_FALSE(source.empty());

  struct Case {
    const char* settings;
    const char* name;
    bool measured;
    bool images;
    bool coverage;
  } cases[] = {
      {"IsConvert=0\nType=2\n", "c0t2.pdf", false, false, false},
      {"IsConvert=1\nType=0\n", "c1t0.pdf", true, false, false},
      {"IsConvert=1\nType=1\nImageType=2\n", "c1t1.pdf", true, true, false},
      {"IsConvert=1\nType=2\nImageType=2\n", "c1t2.pdf", true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The settings are read afresh for every job: no restart.
    service.WriteSettings(c.settings);
    CopyIn(source, service, c.name);
    ASSERT_TRUE(WaitForFile(service.out() / (std::string(c.name) + "_done"), 120));
    const std::string stem = Stem(c.name);
    EXPECT_EQ(fs::exists(service.out() / (stem + "_pagescount.txt")), c.measured);
    EXPECT_EQ(fs::exists(service.out() / (stem + "_papersize.txt")), c.measured);
    EXPECT_EQ(fs::exists(service.out() / (stem + "_1.png")), c.images);
    EXPECT_EQ(fs::exists(service.out() / (stem + "_2.png")), c.images);
    EXPECT_EQ(fs::exists(service.out() / (stem + "_colorcoverage.txt")), c.coverage);
  }
  EXPECT_EQ(service.Stop(), 0);
}

TEST(ServiceTest, AnEleventhJobWhileTenWaitIsStillProcessed) {
  ServiceProcess service("IsConvert=0\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  InterpreterLockHolder holder;
  for (int i = 0; i < 11; ++i) {
    WriteFileBytes(service.in() / ("job" + std::to_string(i) + ".pcl"), "\x1b" "E");
  }
  // All ten workers wait for the lock; the eleventh job waits for a slot.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(CountEndingWith(service.out(), "_done"), 0);
  holder.Release();
  for (int i = 0; i < 11; ++i) {
    EXPECT_TRUE(WaitForFile(service.out() / ("job" + std::to_string(i) + ".pcl_done"), 30)) << i;
  }
  EXPECT_EQ(service.Stop(), 0);
}

TEST(ServiceTest, StopDrainsWaitingWorkersWithoutProcessingAndExitsZero) {
  ServiceProcess service("IsConvert=0\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  InterpreterLockHolder holder;
  for (int i = 0; i < 3; ++i) {
    WriteFileBytes(service.in() / ("late" + std::to_string(i) + ".ps"), "%!PS\n");
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // The workers see the stop once they get the lock, and leave the files.
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    holder.Release();
  });
  std::optional<int> code = service.Stop();
  release.join();
  ASSERT_TRUE(code.has_value()) << service.Errors();
  EXPECT_EQ(*code, 0);
  EXPECT_EQ(CountEndingWith(service.out(), "_done"), 0);
  EXPECT_NE(service.Errors().find("stopped"), std::string::npos) << service.Errors();
}

TEST(ServiceTest, StopDuringARunningJobLetsItFinish) {
  ServiceProcess service("IsConvert=1\nType=2\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  const std::string source = CorpusPath("a4_3pages.pdf");
  ASSERT_FALSE(source.empty());
  CopyIn(source, service, "busy.pdf");
  // Stop while the interpreter measures or renders: the job's stages run on.
  for (int i = 0; i < 200 && !fs::exists(service.out() / "busy_pagescount.txt"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(service.Stop(), 0);
  EXPECT_TRUE(fs::exists(service.out() / "busy.pdf_done"));
}

TEST(ServiceTest, RemovesAgedFilesAtStartButNotSubFolders) {
  ServiceProcess service("DeleteSeconds=-1\n");
  WriteFileBytes(service.in() / "old.pcl", "x");
  WriteFileBytes(service.out() / "old.pcl_done", "done");
  fs::create_directories(service.out() / "keep" / "inner");
  WriteFileBytes(service.out() / "keep" / "inner.txt", "x");
  ASSERT_TRUE(service.Start()) << service.Errors();
  for (int i = 0; i < 100 && fs::exists(service.in() / "old.pcl"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_FALSE(fs::exists(service.in() / "old.pcl"));
  EXPECT_FALSE(fs::exists(service.out() / "old.pcl_done"));
  EXPECT_TRUE(fs::exists(service.out() / "keep" / "inner.txt"));
  // Files already in in/ at start are never dispatched.
  EXPECT_EQ(service.Stop(), 0);
  EXPECT_EQ(CountEndingWith(service.out(), "_done"), 0);
}

TEST(ServiceTest, AFloodOfTwoThousandJobsGivesOneMarkerEach) {
  ServiceProcess service("IsConvert=0\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  constexpr int kJobs = 2000;
  const fs::path staging = service.root() / "staging";
  fs::create_directory(staging);
  for (int i = 0; i < kJobs; ++i) {
    WriteFileBytes(staging / ("flood" + std::to_string(i) + ".pcl"), "\x1b" "E");
  }
  // Every marker write is watched: a job processed twice rewrites its
  // marker, which shows as a second change of the same name.
  DirectoryWatch markers;
  ASSERT_TRUE(markers.AddFolder(service.out().string()));
  for (int i = 0; i < kJobs; ++i) {
    const std::string name = "flood" + std::to_string(i) + ".pcl";
    fs::rename(staging / name, service.in() / name);
  }
  std::map<std::string, int> writes;
  ManualResetEvent wake(false);
  std::vector<DirectoryChange> changes;
  while (static_cast<int>(writes.size()) < kJobs) {
    ManualResetEvent done(false);
    std::thread alarm([&] {
      if (!done.Wait(30000)) wake.Set();
    });
    changes.clear();
    bool overflowed = false;
    DirectoryWatch::Result result = markers.WaitForChanges(wake, 65536, &changes, &overflowed);
    done.Set();
    alarm.join();
    ASSERT_FALSE(overflowed);
    ASSERT_EQ(result, DirectoryWatch::Result::kChanges) << writes.size() << " markers so far";
    for (const DirectoryChange& change : changes) ++writes[change.name];
  }
  // Give a late duplicate the chance to show.
  ManualResetEvent late_wake(false);
  std::thread alarm([&] { ManualResetEvent(false).Wait(1500), late_wake.Set(); });
  changes.clear();
  bool overflowed = false;
  while (markers.WaitForChanges(late_wake, 65536, &changes, &overflowed) ==
         DirectoryWatch::Result::kChanges) {
  }
  alarm.join();
  for (const DirectoryChange& change : changes) ++writes[change.name];
  EXPECT_EQ(service.Stop(), 0);
  for (const auto& [name, count] : writes) EXPECT_EQ(count, 1) << name;
  EXPECT_EQ(CountEndingWith(service.out(), ".pcl_done"), kJobs);
}

}  // namespace
}  // namespace quillaro::testing
