// What the containment of a job costs, beside what it protects: one confined
// run of a program that does nothing (its own scratch folder, the Landlock
// ruleset, the seccomp filter, the change of user when run as root) against a
// bare fork and exec of the same program, and taking a job into its private
// folder (the folder made, the job opened, checked and copied) by job size.
// An interpreter run of a small job takes 100 to 300 ms on this machine.

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "config/text_utils.h"
#include "platform/child_process.h"
#include "platform/private_folder.h"

extern char** environ;

namespace quillaro {
namespace {

constexpr char kProgram[] = "/bin/true";

void BM_BareRun(benchmark::State& state) {
  char* const argv[] = {const_cast<char*>(kProgram), nullptr};
  for (auto _ : state) {
    pid_t pid = 0;
    if (::posix_spawn(&pid, kProgram, nullptr, nullptr, argv, environ) != 0) {
      state.SkipWithError("posix_spawn failed");
      break;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
}
BENCHMARK(BM_BareRun)->Unit(benchmark::kMicrosecond);

void BM_ConfinedRun(benchmark::State& state) {
  for (auto _ : state) {
    std::string output;
    if (ProcessRunner::Run(ToWide(kProgram), u"true", output, 10) != 0) {
      state.SkipWithError("the confined run failed");
      break;
    }
  }
}
BENCHMARK(BM_ConfinedRun)->Unit(benchmark::kMicrosecond);

void BM_TakeJobIntoItsFolder(benchmark::State& state) {
  const std::filesystem::path job =
      std::filesystem::temp_directory_path() / "quillaro-containment-bench.job";
  {
    std::ofstream file(job, std::ios::binary);
    const std::string block(1 << 20, 'x');
    for (int64_t i = 0; i < state.range(0); ++i) file << block;
  }
  for (auto _ : state) {
    OsError error;
    std::unique_ptr<PrivateFolder> folder = PrivateFolder::Make(&error);
    if (!folder || folder->CopyIn(job.string(), "job.ps", uint64_t{1} << 40, &error) !=
                       CopyInResult::kCopied) {
      state.SkipWithError(error.ToString().c_str());
      break;
    }
  }
  std::filesystem::remove(job);
  state.SetBytesProcessed(state.iterations() * state.range(0) << 20);
}
BENCHMARK(BM_TakeJobIntoItsFolder)->Arg(1)->Arg(64)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quillaro
