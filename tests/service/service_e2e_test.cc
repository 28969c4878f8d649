// The service as a black box: the real binary in a temporary service folder, fed real print
// jobs by copy and by move, stopped by SIGTERM.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/directory_watch.h"
#include "platform/event.h"
#include "platform/named_lock.h"
#include "service/interpreter_lock.h"
#include "service_process.h"
#include "support/corpus.h"

namespace quillaro::testing {
namespace {

// The machine-wide interpreter lock, as a job holds it: every worker waits.
const std::u16string kLockName = std::u16string(kInterpreterLockPrefix) + kInterpreterLockSuffix;

TEST(ServiceTest, EveryCorpusJobByCopyAndByMoveGetsItsResultsAndOwnOutputsAreSkipped) {
  ServiceProcess service("IsConvert=1\nType=0\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  bool by_copy = true;  // every other job moved in: a rename, never a write
  for (const CorpusEntry& entry : CorpusEntries()) {
    CopyIn(CorpusPath(entry.name), service, entry.name, !by_copy);
    by_copy = !by_copy;
  }
  WriteFileBytes(service.in() / "scan.png", "%!PS\n");  // a name the stages give their own files

  for (const CorpusEntry& entry : CorpusEntries()) {
    SCOPED_TRACE(entry.name);
    ASSERT_TRUE(WaitForFile(service.out() / (entry.name + "_done"), 60));
    EXPECT_EQ(ReadFileBytes(service.out() / (Stem(entry.name) + "_pagescount.txt")),
              std::to_string(entry.pages * entry.copies));
    EXPECT_TRUE(fs::exists(service.out() / (Stem(entry.name) + "_papersize.txt")));
  }
  EXPECT_EQ(service.Stop(), 0);
  // Read once the service is done: a marker exists a moment before its word is in it.
  EXPECT_EQ(ReadFileBytes(service.out() / (CorpusEntries().front().name + "_done")), "done");
  EXPECT_FALSE(fs::exists(service.out() / "scan.png_done"));
  EXPECT_EQ(CountEndingWith(service.out(), "_done"), static_cast<int>(CorpusEntries().size()));
}

TEST(ServiceTest, EachJobRunsTheStagesItsSettingsAskForAndSettingsChangesApplyAtOnce) {
  ServiceProcess service("IsConvert=0\nType=2\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  const struct {
    const char* settings;
    const char* name;
    bool measured, images, coverage;
  } cases[] = {
      {"IsConvert=0\nType=2\n", "c0t2.pdf", false, false, false},
      {"IsConvert=1\nType=0\n", "c1t0.pdf", true, false, false},
      {"IsConvert=1\nType=1\nImageType=2\n", "c1t1.pdf", true, true, false},
      {"IsConvert=1\nType=2\nImageType=2\n", "c1t2.pdf", true, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    service.WriteSettings(c.settings);  // read afresh for every job: no restart
    CopyIn(CorpusPath("letter_2pages.pdf"), service, c.name);
    ASSERT_TRUE(WaitForFile(service.out() / (std::string(c.name) + "_done"), 60));
    const std::string stem = (service.out() / Stem(c.name)).string();
    for (const char* suffix :
         {"_pagescount.txt", "_papersize.txt", "_1.png", "_2.png", "_colorcoverage.txt"}) {
      const bool made = suffix[1] == 'p' ? c.measured : suffix[1] == 'c' ? c.coverage : c.images;
      EXPECT_EQ(fs::exists(stem + suffix), made) << suffix;
    }
  }
  EXPECT_EQ(service.Stop(), 0);
}

TEST(ServiceTest, AnEleventhJobWhileTenWaitIsProcessedAndStopDrainsWaitingWorkers) {
  ServiceProcess service("IsConvert=0\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  {
    NamedLock lock(kLockName);
    ASSERT_EQ(lock.Acquire(nullptr), NamedLock::Result::kAcquired);
    for (int i = 0; i < 11; ++i) WriteFileBytes(service.in() / std::to_string(i), "\033E");
    // All ten workers wait for the lock; the eleventh job waits for a slot.
    Pause(1500);
    EXPECT_EQ(CountEndingWith(service.out(), "_done"), 0);
  }
  for (int i = 0; i < 11; ++i) {
    EXPECT_TRUE(WaitForFile(service.out() / (std::to_string(i) + "_done"), 30)) << i;
  }
  // Workers that see the stop once they get the lock leave their files.
  NamedLock lock(kLockName);
  ASSERT_EQ(lock.Acquire(nullptr), NamedLock::Result::kAcquired);
  for (int i = 0; i < 3; ++i) WriteFileBytes(service.in() / ("late" + std::to_string(i)), "\033E");
  Pause(500);
  std::thread release([&] { Pause(1000), lock.Release(); });
  const std::optional<int> code = service.Stop();
  release.join();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(CountEndingWith(service.out(), "_done"), 11);
  EXPECT_NE(service.Errors().find("stopped"), std::string::npos) << service.Errors();
}

// Converting 300 pages into big images lasts minutes; a stop lets the worker run 45 s from its
// dispatch and then ends it between two pages, its rendered pages removed.
TEST(ServiceTest, AStopDuringALongImagingStageEndsWithinTheDrainLimit) {
  ServiceProcess service(
      "IsConvert=1\nType=2\nWaitSeconds=60\nPagesMaxCount=300\nLongPixelLength=6000\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  WriteFileBytes(service.in() / "long.ps",
                 "%!PS\n1 1 300 { 0.3 setgray 100 100 300 400 rectfill showpage pop } for\n");
  ASSERT_TRUE(WaitForFile(service.out() / "long_1.jpg", 120));
  EXPECT_EQ(service.Stop(60), 0);
  EXPECT_FALSE(fs::exists(service.out() / "long.ps_done"));
  EXPECT_EQ(CountEndingWith(service.out(), ".png_"), 0);
}

TEST(ServiceTest, RemovesAgedFilesAtStartButKeepsFreshOnesAndSubFolders) {
  ServiceProcess service("DeleteSeconds=3\n");
  fs::create_directories(service.out() / "keep" / "inner");
  WriteFileBytes(service.out() / "keep" / "inner.txt", "x");
  for (const fs::path& folder : {service.in(), service.out()}) WriteFileBytes(folder / "old", "x");
  Pause(4000);  // ages are creation times, which cannot be set back
  for (const fs::path& folder : {service.in(), service.out()}) WriteFileBytes(folder / "new", "x");
  ASSERT_TRUE(service.Start()) << service.Errors();
  EXPECT_TRUE(WaitFor([&] { return !fs::exists(service.out() / "old"); }, 5));
  for (const fs::path& folder : {service.in(), service.out()}) {
    EXPECT_FALSE(fs::exists(folder / "old")) << folder;
    EXPECT_TRUE(fs::exists(folder / "new")) << folder;
  }
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
  // Appended rather than "f" + ...: GCC 12 sees a false overlap (-Wrestrict) in the latter.
  auto job_name = [](int i) { return std::string("f").append(std::to_string(i)); };
  for (int i = 0; i < kJobs; ++i) WriteFileBytes(staging / job_name(i), "\033E");
  // A job processed twice rewrites its marker: a second change of the same name.
  DirectoryWatch markers;
  ASSERT_TRUE(markers.AddFolder(service.out().string()));
  for (int i = 0; i < kJobs; ++i) {
    fs::rename(staging / job_name(i), service.in() / job_name(i));
  }
  std::map<std::string, int> writes;
  std::vector<DirectoryChange> changes;
  // Until every marker is there, then a little longer for a late duplicate to show.
  for (bool settling = false;;) {
    ManualResetEvent wake(false), done(false);
    std::thread alarm([&] {
      if (!done.Wait(settling ? 1500 : 30000)) wake.Set();
    });
    changes.clear();
    bool overflowed = false;
    const DirectoryWatch::Result result =
        markers.WaitForChanges(wake, 65536, &changes, &overflowed);
    done.Set();
    alarm.join();
    ASSERT_FALSE(overflowed);
    for (const DirectoryChange& change : changes) ++writes[change.name];
    if (result != DirectoryWatch::Result::kChanges) {
      ASSERT_TRUE(settling) << writes.size() << " markers";
      break;
    }
    settling = static_cast<int>(writes.size()) >= kJobs;
  }
  EXPECT_EQ(service.Stop(), 0);
  for (const auto& [name, count] : writes) EXPECT_EQ(count, 1) << name;
  EXPECT_EQ(CountEndingWith(service.out(), "_done"), kJobs);
}

}  // namespace
}  // namespace quillaro::testing
