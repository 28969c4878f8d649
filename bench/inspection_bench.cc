// The inspection functions on a 100 MB job of one single line (raster data
// without any LF), the worst case for line reading. Run one function at a
// time under /usr/bin/time -v to see the largest memory a single test takes:
//   inspection_bench --benchmark_filter=IsPostScript
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "inspect/language_detection.h"
#include "inspect/pjl_header.h"

namespace quillaro {
namespace {

constexpr size_t kFileBytes = 100u << 20;

// Written in 1 MB chunks, so that the file does not count against the
// memory being measured. Removed at exit.
class OneLineJob {
 public:
  OneLineJob() {
    path_ = (std::filesystem::temp_directory_path() / "quillaro-one-line-job.prn").string();
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr) return;
    const std::string head = "\x1b%-12345X@PJL ENTER LANGUAGE=PCL";
    std::fwrite(head.data(), 1, head.size(), file);
    const std::string chunk(1u << 20, 'x');
    for (size_t written = head.size(); written < kFileBytes; written += chunk.size()) {
      std::fwrite(chunk.data(), 1, std::min(chunk.size(), kFileBytes - written), file);
    }
    std::fclose(file);
  }
  ~OneLineJob() { std::filesystem::remove(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

const std::string& JobPath() {
  static const OneLineJob job;
  return job.path();
}

void BM_HasUel(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(HasUel(JobPath()));
}
void BM_IsPostScript(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(IsPostScript(JobPath()));
}
void BM_IsPcl(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(IsPcl(JobPath()));
}
void BM_IsXps(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(IsXps(JobPath()));
}
void BM_GetPjlLanguage(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(GetPjlLanguage(JobPath()));
}
void BM_GetPjlCopies(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(GetPjlCopies(JobPath()));
}
// Reads the whole job by design: the pieces are the job's bytes.
void BM_SplitPjlJob(benchmark::State& state) {
  for (auto _ : state) {
    std::string header, body, trailer;
    benchmark::DoNotOptimize(SplitPjlJob(JobPath(), header, body, trailer));
  }
}

BENCHMARK(BM_HasUel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IsPostScript)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IsPcl)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IsXps)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPjlLanguage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPjlCopies)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitPjlJob)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillaro
