// No job is lost: jobs waiting in in/ when the service starts (dropped while it was down, or
// left at a stop) are processed, oldest first; the cleanup never deletes a job that has not been
// processed, nor an upload still in progress; hidden names are never jobs; a name too long for
// its marker still gets one; and a job's name cannot forge lines of log.txt.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/result_names.h"
#include "config/text_utils.h"
#include "platform/event.h"
#include "platform/wait.h"
#include "service/aged_file_cleanup.h"
#include "service/inbox_watcher.h"
#include "service/service_process.h"
#include "service/waiting_jobs.h"
#include "support/corpus.h"

namespace quillaro::testing {
namespace {

// Sets the modification time of `path` to `seconds_ago` before now.
void SetAge(const fs::path& path, int seconds_ago) {
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(seconds_ago));
}

std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A job waits until a marker of its own kind is written after it last changed: a marker of an
// earlier job of the same name, or of the other route, does not count; a long name's marker is
// found under its shortened name. Own outputs, hidden uploads and folders never wait.
TEST(NoJobLostTest, AJobWaitsUntilItsOwnMarkerIsWrittenAndTheOldestComesFirst) {
  TempDir dir;
  const fs::path in = dir.path() / "in", out = dir.path() / "out";
  fs::create_directories(in / "folder.ps");
  fs::create_directory(out);
  const std::string long_done(248, 'd'), long_waiting(248, 'w');
  const struct {
    std::string name;
    int age;
  } jobs[] = {{"new.pcl", 10},         {"old.pcl", 100},   {"mid.pcl", 50},
              {"done.pcl", 60},        {"aWTR.ps", 70},    {"bWTR.ps", 30},
              {long_done, 80},         {long_waiting, 20}, {".upload.pcl.x4Tz", 90},
              {"x_pagescount.txt", 90}};
  for (const auto& job : jobs) {
    WriteFileBytes(in / job.name, "job");
    SetAge(in / job.name, job.age);
  }
  fs::create_symlink("/etc/passwd", in / "link.ps");  // its own time: now
  Pause(20);
  // Written after their jobs: done.
  for (const std::string& marker :
       {std::string("done.pcl_done"), std::string("aWTR.ps_watermark_done_ok"),
        ToNarrow(MarkerFileName(ToWide(long_done), kDoneMarkerSuffix))}) {
    WriteFileBytes(out / marker, "done");
  }
  // Not the marker of the watermark route; and one left by the last job called again.pcl.
  WriteFileBytes(out / "bWTR.ps_done", "done");
  WriteFileBytes(out / "again.pcl_done", "done");
  Pause(20);
  WriteFileBytes(in / "again.pcl", "job");
  SetAge(in / "again.pcl", 40);

  std::vector<std::string> waiting;
  for (const std::u16string& path :
       InboxListing(ToWide(in.string()), ToWide(out.string())).WaitingJobs())
    waiting.push_back(fs::path(ToNarrow(path)).filename().string());
  EXPECT_EQ(waiting, (std::vector<std::string>{"old.pcl", "mid.pcl", "again.pcl", "bWTR.ps",
                                               long_waiting, "new.pcl", "link.ps"}));
  // Without out/, everything that is a job waits.
  EXPECT_EQ(InboxListing(ToWide(in.string()), ToWide((dir.path() / "none").string()))
                .WaitingJobs()
                .size(),
            10u);
}

// A pass of the cleanup with every file aged past the limit: what waits stays (with its
// watermark text), an upload still being written stays, everything else goes; out/ is not
// touched by the pass over in/.
TEST(NoJobLostTest, TheCleanupDeletesNoJobUnreadAndNoUploadInProgress) {
  TempDir dir;
  const fs::path in = dir.path() / "in", out = dir.path() / "out";
  fs::create_directory(in);
  fs::create_directory(out);
  for (const char* name :
       {"done.pcl", "waiting.pcl", "xWTR.ps", "xWTR.ps_watermark.txt", "yWTR.ps",
        "yWTR.ps_watermark.txt", ".abandoned.pcl.Q1", ".uploading.pcl.Q2", "z.pcl.pcl_2_ps"}) {
    WriteFileBytes(in / name, "x");
  }
  Pause(20);
  for (const char* marker : {"done.pcl_done", "yWTR.ps_watermark_done_error"}) {
    WriteFileBytes(out / marker, "done");
  }
  Pause(1100);  // ages are whole seconds since creation, which cannot be set back
  std::ofstream(in / ".uploading.pcl.Q2", std::ios::app) << "more";
  CleanInbox(ToWide(in.string()), ToWide(out.string()), 0);
  EXPECT_EQ(Listing(in), (std::vector<std::string>{".uploading.pcl.Q2", "waiting.pcl", "xWTR.ps",
                                                   "xWTR.ps_watermark.txt"}));
  EXPECT_EQ(Listing(out).size(), 2u);
  // Once processed, a job ages out as before.
  WriteFileBytes(out / "waiting.pcl_done", "done");
  CleanInbox(ToWide(in.string()), ToWide(out.string()), 0);
  EXPECT_FALSE(fs::exists(in / "waiting.pcl"));
}

// Stands in for the job workers, one call per job, as a real one would: takes one job at a time
// (the interpreter lock), leaving the wait when ended; records each job's name and writes its
// marker last. A job named "blocker" runs until released, one named "hung..." until ended, and
// one named "once..." the first time until ended.
class FakeWorkers {
 public:
  explicit FakeWorkers(fs::path out, int job_ms = 0) : out_(std::move(out)), job_ms_(job_ms) {}
  uint32_t Run(WorkerSlot* slot) {
    std::u16string path;
    const ManualResetEvent* cancel = nullptr;
    {
      std::lock_guard<std::mutex> lock(*slot->lock);
      path = slot->path;
      cancel = slot->cancel_event;
    }
    const std::string name = fs::path(ToNarrow(path)).filename().string();
    bool first_run;
    {
      std::lock_guard<std::mutex> lock(mu_);
      first_run = runs_.insert(name).second;
    }
    if (name.starts_with("hung") || (name.starts_with("once") && first_run)) {
      cancel->Wait(kInfinite);
      return 0;
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      names_.push_back(name);
    }
    if (name == "blocker") release_.Wait(kInfinite);
    while (job_ms_ > 0 && !interpreter_.try_lock_for(std::chrono::milliseconds(10))) {
      if (cancel->IsSet()) {
        ++ended_waiting_;  // ended while it waited: no marker
        return 0;
      }
    }
    Pause(job_ms_);
    std::ofstream(out_ / (name + "_done")) << "done";
    if (job_ms_ > 0) interpreter_.unlock();
    return 0;
  }
  std::vector<std::string> Names() {
    std::lock_guard<std::mutex> lock(mu_);
    return names_;
  }
  void Release() { release_.Set(); }
  int EndedWaiting() const { return ended_waiting_; }

 private:
  fs::path out_;
  int job_ms_;
  std::timed_mutex interpreter_;
  std::mutex mu_;
  std::vector<std::string> names_;
  std::set<std::string> runs_;
  std::atomic<int> ended_waiting_{0};
  ManualResetEvent release_{false};
};

// An inbox watcher over in/ and out/ of a fresh folder, with fake workers whose jobs take
// `job_ms`, on a thread of its own from Start() until it is destroyed (which stops it and drains
// its workers before they go).
class Inbox {
 public:
  explicit Inbox(int job_ms = 0) : workers(out, job_ms) {
    fs::create_directory(in);
    fs::create_directory(out);
  }
  ~Inbox() {
    events_.stop_request.Set();
    if (thread_.joinable()) thread_.join();
  }
  bool Start(WorkerPoolLimits limits = {}) {
    watcher_ = std::make_unique<InboxWatcher>(
        events_, ToWide(in.string()), ToWide(out.string()),
        [this](WorkerSlot* slot) { return workers.Run(slot); }, limits);
    thread_ = std::thread([this] { watcher_->Run(); });
    return events_.started.Wait(10000);
  }

  TempDir dir;
  const fs::path in = dir.path() / "in", out = dir.path() / "out";
  FakeWorkers workers;

 private:
  ThreadEventPair events_;
  std::unique_ptr<InboxWatcher> watcher_;
  std::thread thread_;
};

// Jobs found at start go out oldest first, before one dropped later; a hidden name is never
// handed out. When the watch loses its folder and finds it again, what waits there is handed
// out, even files whose times say nothing changed (a folder moved into place), but a job still
// running is not handed out a second time.
TEST(NoJobLostTest, TheInboxHandsOutWaitingJobsAtStartAndAfterLosingTrackOfItsFolder) {
  Inbox inbox;
  const fs::path& in = inbox.in;
  const fs::path staged = inbox.dir.path() / "staged";
  fs::create_directory(staged);
  for (const auto& [name, age] : {std::pair{"second", 20}, {"first", 30}, {".part", 40}}) {
    WriteFileBytes(in / name, "job");
    SetAge(in / name, age);
  }
  WriteFileBytes(staged / "moved_in", "job");  // made long before its folder becomes in/
  FakeWorkers& workers = inbox.workers;
  // Two workers run at once, so they may note their jobs in either order: compared as sets, with
  // each job once.
  std::vector<std::string> expected;
  auto handed_out = [&](const std::string& name) {
    expected.push_back(name);
    std::sort(expected.begin(), expected.end());
    return WaitFor([&] {
      std::vector<std::string> names = workers.Names();
      std::sort(names.begin(), names.end());
      return names == expected;
    }, 10);
  };
  ASSERT_TRUE(inbox.Start());
  Pause(200);  // a job dropped while the folder is looked through may be handed out twice
  WriteFileBytes(in / "third", "job");
  expected = {"first", "second"};
  EXPECT_TRUE(handed_out("third")) << ::testing::PrintToString(workers.Names());
  EXPECT_EQ(workers.Names().back(), "third");
  // Uploaded under a hidden name, then renamed: only the new name is a job.
  WriteFileBytes(in / ".fourth.x9", "job");
  Pause(300);
  fs::rename(in / ".fourth.x9", in / "fourth");
  EXPECT_TRUE(handed_out("fourth")) << ::testing::PrintToString(workers.Names());

  // A running job, then the folder moved away and back: its times are older than the loss.
  WriteFileBytes(in / "blocker", "job");
  EXPECT_TRUE(handed_out("blocker"));
  Pause(1500);
  fs::rename(in, inbox.dir.path() / "away");
  Pause(300);
  fs::rename(inbox.dir.path() / "away", in);
  WriteFileBytes(in / "probe", "job");
  EXPECT_TRUE(handed_out("probe")) << ::testing::PrintToString(workers.Names());
  Pause(1000);
  workers.Release();
  // A folder made elsewhere, with a job already in it, becomes in/.
  fs::remove_all(in);
  fs::rename(staged, in);
  EXPECT_TRUE(handed_out("moved_in")) << ::testing::PrintToString(workers.Names());
}

// The inbox keeps the paths it handed out until it sees them finished, and looks through the
// folder to forget them once there are many: a burst of jobs whose change records are still on
// the way must not be handed out a second time by that look.
TEST(NoJobLostTest, ABurstOfJobsIsHandedOutOnceEach) {
  Inbox inbox;
  ASSERT_TRUE(inbox.Start());
  Pause(200);  // past the look through the folder at start
  constexpr size_t kJobs = 3000;
  for (size_t i = 0; i < kJobs; ++i) WriteFileBytes(inbox.in / std::to_string(i), "job");
  WaitFor([&] { return inbox.workers.Names().size() >= kJobs; }, 60);
  Pause(500);
  const std::vector<std::string> names = inbox.workers.Names();
  EXPECT_EQ(names.size(), kJobs);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), kJobs);
}

// A worker's run limit counts its wait for the interpreter lock. Jobs found waiting at start
// enter the pool only as fast as they can run, so none of a long backlog is ended unprocessed
// for having waited behind the others; workers that hang past the limit (first in line here) do
// not hold the backlog up for ever (the next dispatch ends them, as any); and the queue waits
// without spinning.
TEST(NoJobLostTest, ABacklogKeepsPaceWithItsJobsAndIsNotHeldUpByHungWorkers) {
  Inbox inbox(200);
  const int hung = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 10);
  for (int i = 0; i < hung; ++i) {
    WriteFileBytes(inbox.in / ("hung" + std::to_string(i)), "job");
    SetAge(inbox.in / ("hung" + std::to_string(i)), 100);
  }
  constexpr size_t kJobs = 24;
  for (size_t i = 0; i < kJobs; ++i) WriteFileBytes(inbox.in / ("job" + std::to_string(i)), "job");
  WorkerPoolLimits limits;
  limits.run_limit_ms = 1000;
  limits.drain_limit_ms = 2000;  // a hung job is run twice; the second is ended at the stop
  const std::clock_t cpu = std::clock();
  ASSERT_TRUE(inbox.Start(limits));
  EXPECT_TRUE(WaitFor([&] { return Listing(inbox.out).size() == kJobs; }, 30))
      << Listing(inbox.out).size();
  // Seconds of jobs that sleep: the inbox sleeps too while its queue waits (measured: 0.05 s of
  // CPU; a wait that returns at once for a worker ended but not yet joined spins for 3 s).
  EXPECT_LT(static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC, 0.75);
}

// The same burst dropped while the service runs loses none either; and a job whose worker was
// ended for running past the limit is run once more.
TEST(NoJobLostTest, ABurstBehindSlowJobsLosesNoneAndAJobEndedOnceRunsAgain) {
  Inbox inbox(200);
  WorkerPoolLimits limits;
  limits.run_limit_ms = 1000;
  ASSERT_TRUE(inbox.Start(limits));
  WriteFileBytes(inbox.in / "once", "job");
  constexpr size_t kJobs = 24;
  for (size_t i = 0; i < kJobs; ++i) WriteFileBytes(inbox.in / ("job" + std::to_string(i)), "job");
  EXPECT_TRUE(WaitFor([&] { return Listing(inbox.out).size() == kJobs + 1; }, 30))
      << Listing(inbox.out).size();
  EXPECT_EQ(inbox.workers.EndedWaiting(), 0);
}

// Jobs still waiting when the service is stopped, and jobs dropped while it is down (older than
// DeleteSeconds by the time it starts again), all get their results and their marker after the
// restart: none is skipped, none is deleted by the cleanup before it is read. That cleaning, at
// start, takes the aged jobs already processed with their results, and keeps fresh files and
// sub-folders of out/.
TEST(NoJobLostTest, JobsLeftAtAStopOrDroppedWhileStoppedAreAllProcessedAfterARestart) {
  ServiceProcess service("IsConvert=1\nType=0\nParallel=1\nWaitSeconds=60\nDeleteSeconds=3\n");
  // gs after 3 s, through no shell command that forks: an interpreter run may start no process.
  service.ReplaceGs("#!/usr/bin/python3\nimport os, sys, time\ntime.sleep(3)\nos.execv('" +
                    service.real_gs().string() + "', ['gs'] + sys.argv[1:])\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  std::vector<std::string> names;
  for (int i = 0; i < 4; ++i) names.push_back("at_stop" + std::to_string(i) + ".pdf");
  for (const std::string& name : names) CopyIn(CorpusPath("a4_3pages.pdf"), service, name);
  // The interpreter lock has no queue order: whichever comes first.
  ASSERT_TRUE(WaitFor([&] { return CountEndingWith(service.out(), "_done") > 0; }, 60));
  EXPECT_EQ(service.Stop(), 0);
  // The stop came while they waited.
  std::vector<std::string> processed;
  std::erase_if(names, [&](const std::string& name) {
    const bool done = fs::exists(service.out() / (name + "_done"));
    if (done) processed.push_back(name);
    return done;
  });
  ASSERT_GE(names.size(), 2u);
  for (int i = 0; i < 5; ++i) {
    names.push_back("while_down" + std::to_string(i) + ".pdf");
    CopyIn(CorpusPath("a4_3pages.pdf"), service, names.back(), i % 2 == 1);
  }
  fs::create_directories(service.out() / "keep" / "inner");
  WriteFileBytes(service.out() / "keep" / "inner.txt", "x");
  Pause(4000);  // older than DeleteSeconds at the restart's first cleaning
  names.push_back("fresh.pdf");
  CopyIn(CorpusPath("a4_3pages.pdf"), service, "fresh.pdf");
  WriteFileBytes(service.out() / "fresh.txt", "x");
  service.RestoreGs();
  ASSERT_TRUE(service.Start()) << service.Errors();
  EXPECT_TRUE(WaitFor([&] { return !fs::exists(service.out() / (processed[0] + "_done")); }, 5));
  for (const std::string& name : processed) {
    EXPECT_FALSE(fs::exists(service.in() / name)) << name;
    EXPECT_FALSE(fs::exists(service.out() / (name + "_done"))) << name;
    EXPECT_FALSE(fs::exists(service.out() / (Stem(name) + "_pagescount.txt"))) << name;
  }
  for (const fs::path& kept : {service.in() / "fresh.pdf", service.out() / "fresh.txt",
                               service.out() / "keep" / "inner.txt"})
    EXPECT_TRUE(fs::exists(kept)) << kept;
  WaitFor([&] {
    return std::all_of(names.begin(), names.end(), [&](const std::string& name) {
      return fs::exists(service.out() / (name + "_done"));
    });
  }, 90);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(fs::exists(service.out() / (name + "_done")));
    EXPECT_EQ(ReadFileBytes(service.out() / (Stem(name) + "_pagescount.txt")), "3");
  }
  EXPECT_EQ(service.Stop(), 0);
}

// On the running service: a name too long for its marker gets a shortened marker, which the next
// start knows (the job is not run again); a name with line breaks writes one log line per event.
TEST(NoJobLostTest, LongNamesAndNamesWithLineBreaksHaveADefinedOutcome) {
  ServiceProcess service("IsConvert=1\nType=0\nIsLog=1\nWMEnable=1\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  const std::string long_name = std::string(248, 'l') + ".pdf";
  const std::string long_watermark = "WTR" + std::string(230, 'w') + ".ps";
  const std::string forging = "x\n2020-01-01 00:00:00\tCalculating PDF file forged OK\r\n.pdf";
  CopyIn(CorpusPath("a4_3pages.pdf"), service, long_name);
  CopyIn(CorpusPath("a4_3pages.ps"), service, long_watermark);
  CopyIn(CorpusPath("a4_3pages.pdf"), service, forging);
  EXPECT_TRUE(WaitForFile(service.out() / (forging + "_done"), 30));
  const std::regex long_marker("l{200,}~[0-9a-f]{16}_done");
  const std::regex watermark_marker("WTRw{200,}~[0-9a-f]{16}_watermark_done_(ok|error)");
  auto markers = [&] {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(service.out())) {
      const std::string name = entry.path().filename().string();
      if (std::regex_match(name, long_marker) || std::regex_match(name, watermark_marker)) {
        found.push_back(entry.path());
      }
    }
    return found;
  };
  ASSERT_TRUE(WaitFor([&] { return markers().size() == 2; }, 30)) << service.Errors();
  // One line per event: the name's line breaks and TAB are written as their codes.
  std::string log;
  const std::string bytes = ReadFileBytes(service.root() / "log.txt");
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) log += bytes[i + 1] == 0 ? bytes[i] : '?';
  EXPECT_EQ(log.find("\n2020-01-01"), std::string::npos) << log;
  EXPECT_NE(log.find("x\\x0A2020-01-01 00:00:00\\x09Calculating PDF file forged OK\\x0D\\x0A.pdf"),
            std::string::npos)
      << log;
  EXPECT_EQ(service.Stop(), 0);

  // At the next start the shortened markers count: those jobs are not run again.
  std::vector<fs::file_time_type> written;
  for (const fs::path& marker : markers()) written.push_back(fs::last_write_time(marker));
  ASSERT_TRUE(service.Start()) << service.Errors();
  CopyIn(CorpusPath("a4_3pages.pdf"), service, "after_restart.pdf");
  EXPECT_TRUE(WaitForFile(service.out() / "after_restart.pdf_done", 30));
  EXPECT_EQ(service.Stop(), 0);
  std::vector<fs::file_time_type> again;
  for (const fs::path& marker : markers()) again.push_back(fs::last_write_time(marker));
  EXPECT_EQ(again, written);
}

}  // namespace
}  // namespace quillaro::testing
