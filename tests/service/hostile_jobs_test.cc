// The service under attack: links, pipes and folders dropped into in/, and a
// corpus of broken, odd and huge jobs. Whatever arrives, the service stays
// up, each job gets its marker, nothing but the job's own outputs changes,
// and the service's memory stays bounded.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "service_process.h"
#include "support/corpus.h"
#include "support/temp_dir.h"

namespace quillaro::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kUel[] = "\x1B%-12345X";

// The service's own memory, whatever the jobs: well below what reading a
// 100 MB job whole would take. AddressSanitizer's shadow memory and
// quarantine make the figure meaningless there; it only has to stay sane.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kMaxServiceMemoryKiB = 1024 * 1024;
#else
constexpr long kMaxServiceMemoryKiB = 96 * 1024;
#endif

// Size and modification time of every entry under a folder, links not
// followed, keyed by the path relative to it.
using Snapshot = std::map<std::string, std::pair<uintmax_t, fs::file_time_type>>;

Snapshot TakeSnapshot(const fs::path& folder) {
  Snapshot snapshot;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::path& path = it->path();
    const fs::file_status status = fs::symlink_status(path, error);
    uintmax_t size = fs::is_regular_file(status) ? fs::file_size(path, error) : 0;
    fs::file_time_type time = fs::is_symlink(status) ? fs::file_time_type() : fs::last_write_time(path, error);
    snapshot[fs::relative(path, folder).string()] = {size, time};
  }
  return snapshot;
}

// Entries added, removed or changed between two snapshots for which
// `allowed(relative path)` is false.
template <typename Allowed>
std::vector<std::string> UnexpectedChanges(const Snapshot& before, const Snapshot& after,
                                           Allowed allowed) {
  std::vector<std::string> changed;
  for (const auto& [path, entry] : after) {
    auto old = before.find(path);
    if ((old == before.end() || old->second != entry) && !allowed(path)) changed.push_back(path);
  }
  for (const auto& [path, entry] : before) {
    if (after.count(path) == 0 && !allowed(path)) changed.push_back(path + " (removed)");
  }
  return changed;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool ProcessAlive(const std::string& pid) {
  return !pid.empty() && fs::exists("/proc/" + pid);
}

// A file of `bytes` random bytes, the same for every run.
std::string RandomBytes(size_t bytes) {
  std::mt19937 random(20240611);
  std::string data(bytes, '\0');
  for (char& c : data) c = static_cast<char>(random() & 0xFF);
  return data;
}

// In the staging folder `staging` beside in/, then renamed into in/: links
// and pipes made in place are never reported (they are not written), but
// one moved in is.
void MoveIntoIn(const ServiceProcess& service, const fs::path& staged) {
  fs::rename(staged, service.in() / staged.filename());
}

TEST(HostileJobsTest, LinksPipesAndFoldersInInAreNeverRead) {
  ServiceProcess service("IsConvert=1\nType=0\nWMEnable=1\n");
  const fs::path outside = service.scratch();
  const std::string ps = CorpusPath("a4_3pages.ps");
  const std::string pjl = CorpusPath("pjl_ps_a4_qty2.prn");
  ASSERT_FALSE(ps.empty());
  ASSERT_FALSE(pjl.empty());
  // Real jobs and text outside the service folder, which no job may reach.
  fs::copy_file(ps, outside / "secret.ps");
  fs::copy_file(pjl, outside / "secret.prn");
  WriteFileBytes(outside / "secret_text.txt", "SECRETTEXT\n");
  WriteFileBytes(outside / "victim.txt", "untouched");
  // Present before the start, so never dispatched itself.
  fs::copy_file(ps, service.in() / "inside_target.ps");
  ASSERT_TRUE(service.Start()) << service.Errors();

  const fs::path staging = service.root() / "staging";
  fs::create_directory(staging);
  fs::create_symlink(outside / "secret.ps", staging / "outside_link.ps");
  fs::create_symlink(service.in() / "inside_target.ps", staging / "inside_link.ps");
  fs::create_symlink(outside / "nothing.ps", staging / "dangling.ps");
  fs::create_hard_link(outside / "secret.ps", staging / "hard.ps");
  ASSERT_EQ(std::system(("mkfifo '" + (staging / "pipe.ps").string() + "'").c_str()), 0);
  fs::create_symlink(outside / "secret.prn", staging / "linkWTR.prn");
  fs::create_directory(staging / "folder.ps");
  WriteFileBytes(staging / "folder.ps" / "inner.ps", ReadFileBytes(ps));
  // Watermark side files and intermediates planted as links.
  WriteFileBytes(service.in() / "linkWTR.prn_watermark.txt", "STAMP\n");
  fs::create_symlink(outside / "secret_text.txt", service.in() / "sideWTR.prn_watermark.txt");
  WriteFileBytes(service.in() / "plantWTR.prn_watermark.txt", "STAMP\n");
  fs::create_symlink(outside / "victim.txt", service.in() / "plantWTR.prn.copy");
  fs::create_hard_link(outside / "victim.txt", service.in() / "plantWTR.prn_watermark.code");

  const std::vector<std::string> refused = {"outside_link.ps", "inside_link.ps", "dangling.ps",
                                            "hard.ps", "pipe.ps"};
  for (const std::string& name : refused) MoveIntoIn(service, staging / name);
  MoveIntoIn(service, staging / "linkWTR.prn");
  MoveIntoIn(service, staging / "folder.ps");
  CopyIn(pjl, service, "sideWTR.prn");
  CopyIn(pjl, service, "plantWTR.prn");
  CopyIn(ps, service, "control.ps");

  for (const std::string& name : refused) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(WaitForFile(service.out() / (name + "_done"), 60));
    EXPECT_FALSE(fs::exists(service.out() / (Stem(name) + "_pagescount.txt")));
  }
  EXPECT_TRUE(WaitForFile(service.out() / "linkWTR.prn_watermark_done_error", 60));
  EXPECT_FALSE(fs::exists(service.out() / "linkWTR.prn.watermarked"));
  EXPECT_TRUE(WaitForFile(service.out() / "sideWTR.prn_watermark_done_error", 60));
  EXPECT_EQ(ReadFileBytes(service.out() / "sideWTR.prn.watermarked").find("SECRETTEXT"),
            std::string::npos);
  // The planted links are replaced, not written through; stamping works.
  EXPECT_TRUE(WaitForFile(service.out() / "plantWTR.prn_watermark_done_ok", 60));
  EXPECT_EQ(ReadFileBytes(outside / "victim.txt"), "untouched");
  EXPECT_TRUE(WaitForFile(service.out() / "control.ps_done", 60));
  EXPECT_EQ(ReadFileBytes(service.out() / "control_pagescount.txt"), "3");

  // A folder is no job: no marker for it nor for what it holds.
  EXPECT_EQ(CountEndingWith(service.out(), "folder.ps_done"), 0);
  EXPECT_EQ(CountEndingWith(service.out(), "inner.ps_done"), 0);
  EXPECT_EQ(ReadFileBytes(outside / "secret_text.txt"), "SECRETTEXT\n");
  EXPECT_EQ(service.Stop(), 0);
}

// One bad or odd job: its name in in/ and its bytes.
struct BadJob {
  std::string name;
  std::string bytes;
};

// Drops `jobs` into a running service, waits for each marker, and checks
// that the service is up, its memory bounded and that nothing changed but
// the jobs and their own outputs.
void RunBadJobs(ServiceProcess& service, const std::vector<BadJob>& jobs) {
  const Snapshot before = TakeSnapshot(service.scratch());
  for (const BadJob& job : jobs) WriteFileBytes(service.in() / job.name, job.bytes);
  for (const BadJob& job : jobs) {
    SCOPED_TRACE(job.name);
    EXPECT_TRUE(WaitForFile(service.out() / (job.name + "_done"), 120));
  }
  ASSERT_TRUE(ProcessAlive(service.pid())) << service.Errors();
  const long peak_kib = service.PeakMemoryKiB();
  EXPECT_GT(peak_kib, 0);
  EXPECT_LT(peak_kib, kMaxServiceMemoryKiB);
  ::testing::Test::RecordProperty("service_peak_kib", std::to_string(peak_kib));

  const auto allowed = [&](const std::string& path) {
    const fs::path relative = fs::relative(service.scratch() / path, service.root());
    const std::string inside = relative.string();
    if (StartsWith(inside, "..")) return false;
    // The folders' own times change with what comes and goes in them.
    if (inside == "in" || inside == "out" || inside == "." || inside == "log.txt" ||
        inside == "stderr.txt") {
      return true;
    }
    for (const BadJob& job : jobs) {
      if (inside == "in/" + job.name || StartsWith(inside, "out/" + Stem(job.name))) return true;
    }
    return false;
  };
  const std::vector<std::string> changed =
      UnexpectedChanges(before, TakeSnapshot(service.scratch()), allowed);
  EXPECT_TRUE(changed.empty()) << "first unexpected change: " << changed.front();
  EXPECT_EQ(service.Stop(), 0);
}

TEST(HostileJobsTest, BrokenAndOddJobsEachGetTheirMarker) {
  ServiceProcess service("IsConvert=1\nType=1\nWaitSeconds=10\nIsLog=1\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  const std::string document = ReadFileBytes(CorpusPath("a4_3pages.ps"));
  const std::string pdf = ReadFileBytes(CorpusPath("a4_3pages.pdf"));
  ASSERT_FALSE(document.empty());
  ASSERT_FALSE(pdf.empty());
  std::vector<BadJob> jobs = {
      {"empty.pcl", ""},
      {"one_byte.ps", "%"},
      {"random.bin", RandomBytes(65536)},
      {"half.pdf", pdf.substr(0, pdf.size() / 2)},
      {"endless.ps", "%!PS\n{ 1 pop } loop\n"},
      {"no_language.prn", std::string(kUel) + "@PJL JOB NAME=\"x\"\r\n@PJL SET COPIES=2\r\n" +
                              document + kUel + "@PJL EOJ\r\n" + kUel},
      {"endless_pjl.prn", std::string(kUel) + "@PJL " + std::string(200000, 'A')},
      {"with blanks in it.ps", document},
      {"100%_sure%d%s.ps", document},
      {"Gr\xC3\xBC\xC3\x9F" "e_\xE6\x97\xA5\xE6\x9C\xAC.ps", document},
      {"line\nfeed.ps", document},
  };
  RunBadJobs(service, jobs);
  // Odd names are jobs like any other.
  for (size_t i = 7; i < jobs.size(); ++i) {
    EXPECT_EQ(ReadFileBytes(service.out() / (Stem(jobs[i].name) + "_pagescount.txt")), "3")
        << jobs[i].name;
    EXPECT_TRUE(fs::exists(service.out() / (Stem(jobs[i].name) + "_1.jpg"))) << jobs[i].name;
  }
}

TEST(HostileJobsTest, APathLongerThanTwoHundredSixtyCharactersIsProcessed) {
  ServiceProcess service("IsConvert=1\nType=0\n", "service_" + std::string(200, 'f'));
  ASSERT_TRUE(service.Start()) << service.Errors();
  const std::string name = std::string(120, 'n') + ".ps";
  ASSERT_GT((service.in() / name).string().size(), 260u);
  RunBadJobs(service, {{name, ReadFileBytes(CorpusPath("a4_3pages.ps"))}});
  EXPECT_EQ(ReadFileBytes(service.out() / (Stem(name) + "_pagescount.txt")), "3");
}

// About a minute of interpreter time: run by bench/hostile_jobs.sh, or with
// QUILLARO_SLOW_TESTS=1.
TEST(HostileJobsTest, AHundredMegabyteJobOfOneLine) {
  if (std::getenv("QUILLARO_SLOW_TESTS") == nullptr) {
    GTEST_SKIP() << "slow: set QUILLARO_SLOW_TESTS=1 (bench/hostile_jobs.sh does)";
  }
  ServiceProcess service("IsConvert=1\nType=1\nWaitSeconds=10\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  std::string line(100 * 1000 * 1000, 'x');
  line.replace(0, 5, "%!PS ");
  std::string pjl_line = std::string(kUel) + "@PJL SET COPIES=" + std::string(100 * 1000 * 1000, '9');
  RunBadJobs(service, {{"huge_line.ps", std::move(line)}, {"huge_pjl.prn", std::move(pjl_line)}});
}

}  // namespace
}  // namespace quillaro::testing
