// End-to-end cost of the interpreter stages: page measurement and page
// rendering of each job in $QUILLARO_BENCH_JOBS through the stage functions,
// as the job worker runs them. bench/interp_jobs.sh prepares the folder
// (interpreters, settings.ini, out/, the jobs) and compares these times with
// the same interpreter command lines run directly from a shell.

#include <cstdlib>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "config/settings.h"
#include "interp/page_measurement.h"
#include "interp/page_rendering.h"

namespace quillaro {
namespace {

int IterationCount() {
  const char* text = std::getenv("QUILLARO_BENCH_ITERATIONS");
  const int count = text != nullptr ? std::atoi(text) : 0;
  return count > 0 ? count : 5;
}

void BM_MeasurePages(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    if (!MeasurePages(LoadSettings(), {path, {}}).ok) state.SkipWithError("measurement failed");
  }
}

void BM_RenderPages(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    if (!RenderPages(LoadSettings(), {path, {}}).ok) state.SkipWithError("rendering failed");
  }
}

// Registers one pair of benchmarks per job file, sorted by name.
bool RegisterJobs() {
  const char* folder = std::getenv("QUILLARO_BENCH_JOBS");
  if (folder == nullptr) return false;
  std::error_code error;
  std::vector<std::filesystem::path> jobs;
  for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
    if (item.is_regular_file()) jobs.push_back(item.path());
  }
  std::sort(jobs.begin(), jobs.end());
  for (const std::filesystem::path& job : jobs) {
    const std::string path = job.string();
    const std::string name = job.filename().string();
    for (auto [stage, function] : {std::pair{"Measure/", &BM_MeasurePages},
                                   std::pair{"Render/", &BM_RenderPages}}) {
      benchmark::RegisterBenchmark((stage + name).c_str(), function, path)
          ->Iterations(IterationCount())
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
  }
  return true;
}

[[maybe_unused]] const bool registered = RegisterJobs();

}  // namespace
}  // namespace quillaro
