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

#include "config/path_utils.h"
#include "config/text_utils.h"
#include "platform/directory_watch.h"
#include "platform/event.h"
#include "platform/named_lock.h"
#include "service/interpreter_lock.h"
#include "support/corpus.h"
#include "support/temp_dir.h"

namespace quillaro::testing {
namespace {

// The real service binary running in a temporary service folder of its own:
// the binary is copied there (it finds its folder through its real path),
// and gs, gpcl6, gxps and urwfonts/ are linked beside it as the test
// program's own folder has them. Killed on destruction if still running.
class ServiceProcess {
 public:
  // `settings` goes into settings.ini under [Settings].
  explicit ServiceProcess(const std::string& settings);
  ~ServiceProcess();

  std::filesystem::path in() const { return dir_.path() / "in"; }
  std::filesystem::path out() const { return dir_.path() / "out"; }
  const std::filesystem::path& root() const { return dir_.path(); }
  void WriteSettings(const std::string& settings) const;

  // Starts the service and waits until it reports running and its watch on
  // in/ stands. False when it does not come up.
  bool Start();
  // Sends SIGTERM and waits up to `timeout_seconds` for the exit; returns
  // the exit code, or nothing on a time-out.
  std::optional<int> Stop(int timeout_seconds = 90);
  // What the service wrote to standard error.
  std::string Errors() const;

 private:
  TempDir dir_;
  std::string pid_;
};

// Waits up to `timeout_seconds` until `path` exists.
bool WaitForFile(const std::filesystem::path& path, int timeout_seconds);

// Number of directory entries of `folder` whose name ends with `suffix`.
int CountEndingWith(const std::filesystem::path& folder, const std::string& suffix);

namespace fs = std::filesystem;

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

ServiceProcess::ServiceProcess(const std::string& settings) {
  const fs::path tests = ToNarrow(GetModuleFolder());
  // build/tests/service/service_tests -> build/quillaro
  const fs::path binary = tests.parent_path().parent_path() / "quillaro";
  std::error_code error;
  fs::copy_file(binary, dir_.path() / "quillaro", error);
  EXPECT_FALSE(error) << "copying " << binary << ": " << error.message();
  for (const char* link : {"gs", "gpcl6", "gxps", "urwfonts"}) {
    fs::path target = fs::read_symlink(tests / link, error);
    if (!error) fs::create_symlink(target, dir_.path() / link, error);
  }
  fs::create_directory(in());
  fs::create_directory(out());
  WriteSettings(settings);
}

ServiceProcess::~ServiceProcess() {
  if (!pid_.empty() && !fs::exists(dir_.path() / "exit_code")) {
    std::system(("kill -KILL " + pid_ + " 2>/dev/null").c_str());
    for (int i = 0; i < 100 && !fs::exists(dir_.path() / "exit_code"); ++i) Pause(50);
  }
}

void ServiceProcess::WriteSettings(const std::string& settings) const {
  WriteFileBytes(dir_.path() / "settings.ini", "[Settings]\n" + settings);
}

bool ServiceProcess::Start() {
  const std::string dir = dir_.path().string();
  // A shell of its own waits for the service and keeps its exit code.
  const std::string command = "cd '" + dir +
                              "' && (./quillaro 2>stderr.txt & echo $! >pid; wait $!; "
                              "echo $? >exit_code.tmp; mv exit_code.tmp exit_code) "
                              ">/dev/null 2>&1 &";
  if (std::system(command.c_str()) != 0) return false;
  for (int i = 0; i < 200; ++i) {
    if (Errors().find("running") != std::string::npos) {
      pid_ = ReadFileBytes(dir_.path() / "pid");
      while (!pid_.empty() && (pid_.back() == '\n' || pid_.back() == ' ')) pid_.pop_back();
      // The watch on in/ is set up by the watcher's own thread just after
      // the service reports running; give it a moment.
      Pause(300);
      return !pid_.empty();
    }
    Pause(50);
  }
  return false;
}

std::optional<int> ServiceProcess::Stop(int timeout_seconds) {
  if (pid_.empty()) return std::nullopt;
  std::system(("kill -TERM " + pid_).c_str());
  for (int i = 0; i < timeout_seconds * 20; ++i) {
    if (fs::exists(dir_.path() / "exit_code")) {
      return std::atoi(ReadFileBytes(dir_.path() / "exit_code").c_str());
    }
    Pause(50);
  }
  return std::nullopt;
}

std::string ServiceProcess::Errors() const { return ReadFileBytes(dir_.path() / "stderr.txt"); }

bool WaitForFile(const std::filesystem::path& path, int timeout_seconds) {
  for (int i = 0; i < timeout_seconds * 20; ++i) {
    if (fs::exists(path)) return true;
    Pause(50);
  }
  return false;
}

int CountEndingWith(const std::filesystem::path& folder, const std::string& suffix) {
  int count = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() >= suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      ++count;
    }
  }
  return count;
}


// Drops a job into in/ as a user would: a copy written in place, or a move
// of a finished file from elsewhere on the same file system.
void CopyIn(const fs::path& job, const ServiceProcess& service, const std::string& name) {
  fs::copy_file(job, service.in() / name, fs::copy_options::overwrite_existing);
}
void MoveIn(const fs::path& job, const ServiceProcess& service, const std::string& name) {
  const fs::path staged = service.root() / ("staged_" + name);
  fs::copy_file(job, staged, fs::copy_options::overwrite_existing);
  fs::rename(staged, service.in() / name);
}

std::string Stem(const std::string& name) { return name.substr(0, name.rfind('.')); }

// Holds the machine-wide interpreter lock the way a job does, so that every
// worker the service starts waits.
class InterpreterLockHolder {
 public:
  InterpreterLockHolder() : lock_(std::u16string(kInterpreterLockPrefix) + kInterpreterLockSuffix) {
    EXPECT_EQ(lock_.Acquire(nullptr), NamedLock::Result::kAcquired);
  }
  void Release() { lock_.Release(); }

 private:
  NamedLock lock_;
};

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
