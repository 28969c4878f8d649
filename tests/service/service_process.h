#ifndef QUILLARO_TESTS_SERVICE_SERVICE_PROCESS_H_
#define QUILLARO_TESTS_SERVICE_SERVICE_PROCESS_H_

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "config/path_utils.h"
#include "config/text_utils.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro::testing {

namespace fs = std::filesystem;

inline void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

template <typename Done>
bool WaitFor(Done done, int seconds) {
  for (int i = 0; i < seconds * 20 && !done(); ++i) Pause(50);
  return done();
}
inline bool WaitForFile(const fs::path& path, int s) {
  return WaitFor([&] { return fs::exists(path); }, s);
}

// Every test here runs the real service on real jobs: without the interpreters, all are skipped.
class InterpretersRequired : public ::testing::Environment {
 public:
  void SetUp() override { QUILLARO_SKIP_WITHOUT_INTERPRETERS(); }
};
inline ::testing::Environment* const kInterpretersRequired =
    ::testing::AddGlobalTestEnvironment(new InterpretersRequired);

// The real service binary, copied into a temporary service folder of its own (it finds its
// folder through its real path) with gs, gpcl6, gxps and urwfonts/ linked beside it. Killed on
// destruction if still running.
class ServiceProcess {
 public:
  // `settings` goes under [Settings]; `folder_name` puts the service in a sub-folder.
  explicit ServiceProcess(const std::string& settings, const std::string& folder_name = "")
      : root_(dir_.path() / folder_name) {
    const fs::path tests = ToNarrow(GetModuleFolder());  // build/tests/service
    std::error_code error;
    fs::create_directories(root_, error);
    // As an installed service folder: interpreters, which may run as another
    // user, can reach programs kept in it (in/, out/ and the rest stay theirs
    // to refuse by the confinement).
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_exec |
                                     fs::perms::others_exec, error);
    fs::copy_file(tests.parent_path().parent_path() / "quillaro", root_ / "quillaro", error);
    EXPECT_FALSE(error) << error.message();
    for (const char* link : {"gs", "gpcl6", "gxps", "urwfonts"}) {
      fs::create_symlink(fs::read_symlink(tests / link), root_ / link);
    }
    real_gs_ = fs::read_symlink(root_ / "gs");
    fs::create_directory(in());
    fs::create_directory(out());
    WriteSettings(settings);
  }
  ~ServiceProcess() { Kill(); }

  fs::path in() const { return root_ / "in"; }
  fs::path out() const { return root_ / "out"; }
  const fs::path& root() const { return root_; }
  void WriteSettings(const std::string& settings) const {
    WriteFileBytes(root_ / "settings.ini", "[Settings]\n" + settings);
  }
  // Puts `script` (with its #! line) in place of gs, for the interpreters' user to run too;
  // RestoreGs() links the real one back.
  void ReplaceGs(const std::string& script) const {
    fs::remove(root_ / "gs");
    WriteFileBytes(root_ / "gs", script);
    fs::permissions(root_ / "gs", fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read |
                                      fs::perms::others_exec);
  }
  void RestoreGs() const {
    fs::remove(root_ / "gs");
    fs::create_symlink(real_gs_, root_ / "gs");
  }
  const fs::path& real_gs() const { return real_gs_; }
  std::string Errors() const { return ReadFileBytes(root_ / "stderr.txt"); }
  bool Exited() const { return fs::exists(root_ / "exit_code"); }
  bool Alive() const { return !pid_.empty() && fs::exists("/proc/" + pid_); }

  // Starts the service through `launcher` (a program that execs the one it is given), from
  // the next Start() on.
  void RunThrough(const std::string& launcher) { launcher_ = launcher; }

  // Starts the service (again) and waits until it reports running: its watch on in/ stands.
  // Unless `wait_ready`, returns as soon as its process exists.
  bool Start(bool wait_ready = true) {
    for (const char* stale : {"exit_code", "stderr.txt", "pid"}) fs::remove(root_ / stale);
    // A shell of its own waits for the service and keeps its exit code.
    const std::string command = "cd '" + root_.string() +
                                "' && (" + launcher_ + " ./quillaro 2>stderr.txt & echo $! >pid; wait $!; "
                                "echo $? >exit_code.tmp; mv exit_code.tmp exit_code) "
                                ">/dev/null 2>&1 &";
    if (std::system(command.c_str()) != 0) return false;
    if (!WaitFor([&] { return ReadFileBytes(root_ / "pid").ends_with('\n'); }, 10)) return false;
    pid_ = std::to_string(std::atoi(ReadFileBytes(root_ / "pid").c_str()));
    return pid_ != "0" && (!wait_ready || WaitFor([&] { return Ready(); }, 10));
  }
  bool Ready() const { return Errors().find("running") != std::string::npos; }
  // Whether it has blocked SIGTERM, which it does first thing to take its controls.
  bool TakesSignals() const {
    const std::string status = ReadFileBytes("/proc/" + pid_ + "/status");
    const size_t at = status.find("SigBlk:");
    return at != std::string::npos && (std::stoull(status.substr(at + 7), nullptr, 16) & 0x4000);
  }
  // Sends SIGTERM; the exit code, or nothing when the service is not gone within `seconds`.
  std::optional<int> Stop(int seconds = 90) {
    std::system(("kill -TERM " + pid_).c_str());
    if (!WaitFor([&] { return Exited(); }, seconds)) return std::nullopt;
    return std::atoi(ReadFileBytes(root_ / "exit_code").c_str());
  }
  void Kill() {
    if (pid_.empty() || Exited()) return;
    std::system(("kill -KILL " + pid_ + " 2>/dev/null").c_str());
    WaitFor([&] { return Exited(); }, 5);
  }
  // The service's peak resident memory in KiB; 0 when unknown.
  long PeakMemoryKiB() const {
    const std::string status = ReadFileBytes("/proc/" + pid_ + "/status");
    const size_t at = status.find("VmHWM:");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
  }

 private:
  TempDir dir_;
  fs::path root_;
  fs::path real_gs_;
  std::string launcher_;
  std::string pid_;
};

inline int CountEndingWith(const fs::path& folder, const std::string& suffix) {
  int count = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    count += entry.path().filename().string().ends_with(suffix);
  }
  return count;
}

// Drops a job into in/ as a user would: a copy written in place, or a finished file moved in.
inline void CopyIn(const fs::path& job, const ServiceProcess& service, const std::string& name,
                   bool by_move = false) {
  fs::copy_file(job, (by_move ? service.root() : service.in()) / name);
  if (by_move) fs::rename(service.root() / name, service.in() / name);
}

inline std::string Stem(const std::string& name) { return name.substr(0, name.rfind('.')); }

}  // namespace quillaro::testing

#endif  // QUILLARO_TESTS_SERVICE_SERVICE_PROCESS_H_
