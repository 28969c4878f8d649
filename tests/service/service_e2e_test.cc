// The service as a black box: the real binary in a temporary service folder, fed real print
// jobs by copy and by move, stopped by SIGTERM.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "config/settings.h"
#include "imaging/image_output.h"
#include "interp/page_measurement.h"
#include "interp/page_rendering.h"
#include "platform/image_codec.h"
#include "platform/named_lock.h"
#include "service/completion_markers.h"
#include "service/interpreter_lock.h"
#include "service_process.h"
#include "support/corpus.h"
#include "support/service_folder.h"

namespace quillaro::testing {
namespace {

// The machine-wide interpreter lock, as a job holds it: every worker waits.
const std::u16string kLockName = std::u16string(kInterpreterLockPrefix) + kInterpreterLockSuffix;

using Folder = std::map<std::string, std::string>;  // file name: bytes

Folder ReadFolder(const fs::path& folder) {
  Folder files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] = ReadFileBytes(entry.path());
  }
  return files;
}

// The messages of log.txt (UTF-16LE, ASCII here) without their time stamps, by the name of the
// job they name, in their order: jobs that run side by side mix their lines, but never the lines
// of one job.
std::map<std::string, std::vector<std::string>> LogMessages(const fs::path& root) {
  const std::string bytes = ReadFileBytes(root / "log.txt");
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i];
  std::vector<std::string> lines;
  SplitString(text, "\r\n", lines, false);
  std::map<std::string, std::vector<std::string>> messages;
  for (const std::string& line : lines) {
    const size_t in = line.find("/in/");
    if (line.find('\t') == std::string::npos || in == std::string::npos) continue;
    const std::string name = line.substr(in + 4, line.find(' ', in) - in - 4);
    std::string message = line.substr(line.find('\t') + 1);
    const size_t folder = line.rfind(' ', in) + 1;
    ReplaceAll(message, line.substr(folder, in - folder), "");
    messages[name].push_back(message);
  }
  return messages;
}

// A corpus job under a name whose STEM is its own: several jobs share a STEM (a4_3pages.ps,
// a4_3pages.pdf, ...), and the last of them would leave the results.
std::string OwnStem(const std::string& name) {
  return Stem(name) + "_" + name.substr(name.rfind('.') + 1) + name.substr(name.rfind('.'));
}

// The whole corpus through the service, one job at a time and two at once, measured beside its
// rendering on this machine's two cores: every result file and every log line is the same as
// when the stages run one after another on PNG page files, as they did before raster pages.
TEST(ServiceTest, CorpusResultsAreTheSameOneOrTwoJobsAtOnceAndAsFromPngPages) {
  const std::string settings = "IsConvert=1\nType=2\nImageType=0\nPagesMaxCount=10\nIsLog=1\n";
  Folder results[2];
  std::map<std::string, std::vector<std::string>> logs[2];
  for (int parallel : {1, 2}) {
    SCOPED_TRACE(parallel);
    ServiceProcess service(settings + "Parallel=" + std::to_string(parallel) + "\n");
    ASSERT_TRUE(service.Start()) << service.Errors();
    bool by_copy = true;  // every other job moved in: a rename, never a write
    for (const CorpusEntry& entry : CorpusEntries()) {
      CopyIn(CorpusPath(entry.name), service, OwnStem(entry.name), !by_copy);
      by_copy = !by_copy;
    }
    // Names the stages give their own files: never processed.
    for (const char* name : {"job_pagescount.txt", "scan.png", "ps_2_pcl_a.ps"})
      WriteFileBytes(service.in() / name, "%!PS\n");
    for (const CorpusEntry& entry : CorpusEntries())
      ASSERT_TRUE(WaitForFile(service.out() / (OwnStem(entry.name) + "_done"), 120)) << entry.name;
    EXPECT_EQ(service.Stop(), 0);
    results[parallel - 1] = ReadFolder(service.out());
    logs[parallel - 1] = LogMessages(service.root());
  }
  int pages = 0;
  for (const CorpusEntry& entry : CorpusEntries()) pages += entry.pages;
  EXPECT_EQ(results[0].size(), CorpusEntries().size() * 4 + pages);  // marker, 3 text files
  EXPECT_EQ(results[0][OwnStem(CorpusEntries().front().name) + "_done"], "done");
  EXPECT_TRUE(results[0] == results[1]);

  // The stages in this process, in the worker's order, on PNG page files.
  ASSERT_TRUE(InitializeImaging());
  ServiceFolder folder;
  folder.WriteSettings(settings);
  for (const CorpusEntry& entry : CorpusEntries()) {
    const fs::path job_file = folder.in() / OwnStem(entry.name);
    const std::u16string path = ToWide(job_file.string());
    fs::copy_file(CorpusPath(entry.name), job_file);
    const Settings loaded = LoadSettings();
    const StagedJob job{job_file.string(), {}};
    MeasurePages(loaded, job);
    ConvertPageImages(loaded, job, RenderPages(loaded, job, PageFiles::kPng).pattern);
    WriteDoneMarker(path);
  }
  const Folder png = ReadFolder(folder.out());
  EXPECT_EQ(png.size(), results[0].size());
  for (const auto& [name, bytes] : png) EXPECT_TRUE(results[0][name] == bytes) << name;
  EXPECT_EQ(logs[0], LogMessages(folder.root()));
  EXPECT_EQ(logs[1], logs[0]);
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
  // This test holds the service's lock: both take it in the service's folder.
  struct SharedLockFolder {
    explicit SharedLockFolder(const fs::path& folder) {
      ::setenv("QUILLARO_LOCK_FOLDER", folder.c_str(), 1);
    }
    ~SharedLockFolder() { ::unsetenv("QUILLARO_LOCK_FOLDER"); }
  } shared_lock_folder(service.root());
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
// dispatch and then ends it between two pages, its rendered pages and unfinished images removed.
// (Images are made under a pending name and get their own once the job's results are all in.)
TEST(ServiceTest, AStopDuringALongImagingStageEndsWithinTheDrainLimit) {
  ServiceProcess service(
      "IsConvert=1\nType=2\nWaitSeconds=60\nPagesMaxCount=300\nLongPixelLength=6000\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  WriteFileBytes(service.in() / "long.ps",
                 "%!PS\n1 1 300 { 0.3 setgray 100 100 300 400 rectfill showpage pop } for\n");
  ASSERT_TRUE(WaitForFile(service.out() / "long_1.jpg.part_", 120));
  EXPECT_EQ(service.Stop(60), 0);
  EXPECT_FALSE(fs::exists(service.out() / "long.ps_done"));
  EXPECT_EQ(CountEndingWith(service.out(), ".ppm_") + CountEndingWith(service.out(), ".part_"), 0);
}

}  // namespace
}  // namespace quillaro::testing
