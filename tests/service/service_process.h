#ifndef QUILLARO_TESTS_SERVICE_SERVICE_PROCESS_H_
#define QUILLARO_TESTS_SERVICE_SERVICE_PROCESS_H_

// The real service binary as a black box, for the end-to-end tests: started
// in a temporary service folder of its own, fed jobs, stopped or killed.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "config/path_utils.h"
#include "config/text_utils.h"
#include "platform/named_lock.h"
#include "service/interpreter_lock.h"
#include "support/temp_dir.h"

namespace quillaro::testing {

inline void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The real service binary running in a temporary service folder of its own:
// the binary is copied there (it finds its folder through its real path),
// and gs, gpcl6, gxps and urwfonts/ are linked beside it as the test
// program's own folder has them. Killed on destruction if still running.
class ServiceProcess {
 public:
  // `settings` goes into settings.ini under [Settings]. With a
  // `folder_name`, the service folder is that sub-folder of the temporary
  // folder (to make its path long, for example).
  explicit ServiceProcess(const std::string& settings, const std::string& folder_name = "")
      : root_(folder_name.empty() ? dir_.path() : dir_.path() / folder_name) {
    namespace fs = std::filesystem;
    const fs::path tests = ToNarrow(GetModuleFolder());
    // build/tests/service/service_tests -> build/quillaro
    const fs::path binary = tests.parent_path().parent_path() / "quillaro";
    std::error_code error;
    fs::create_directories(root_, error);
    fs::copy_file(binary, root_ / "quillaro", error);
    EXPECT_FALSE(error) << "copying " << binary << ": " << error.message();
    for (const char* link : {"gs", "gpcl6", "gxps", "urwfonts"}) {
      fs::path target = fs::read_symlink(tests / link, error);
      if (!error) fs::create_symlink(target, root_ / link, error);
    }
    fs::create_directory(in());
    fs::create_directory(out());
    WriteSettings(settings);
  }
  ~ServiceProcess() {
    if (!pid_.empty() && !std::filesystem::exists(root_ / "exit_code")) Kill();
  }
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  std::filesystem::path in() const { return root_ / "in"; }
  std::filesystem::path out() const { return root_ / "out"; }
  const std::filesystem::path& root() const { return root_; }
  // The temporary folder that holds everything of this test.
  const std::filesystem::path& scratch() const { return dir_.path(); }
  const std::string& pid() const { return pid_; }
  void WriteSettings(const std::string& settings) const {
    WriteFileBytes(root_ / "settings.ini", "[Settings]\n" + settings);
  }

  // Starts the service (again, after a stop or a kill) and waits until it
  // reports running and its watch on in/ stands. False when it does not
  // come up.
  bool Start() {
    std::error_code error;
    for (const char* stale : {"exit_code", "stderr.txt", "pid"}) {
      std::filesystem::remove(root_ / stale, error);
    }
    const std::string dir = root_.string();
    // A shell of its own waits for the service and keeps its exit code.
    const std::string command = "cd '" + dir +
                                "' && (./quillaro 2>stderr.txt & echo $! >pid; wait $!; "
                                "echo $? >exit_code.tmp; mv exit_code.tmp exit_code) "
                                ">/dev/null 2>&1 &";
    if (std::system(command.c_str()) != 0) return false;
    for (int i = 0; i < 200; ++i) {
      if (Errors().find("running") != std::string::npos) {
        pid_ = ReadFileBytes(root_ / "pid");
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

  // Sends SIGTERM and waits up to `timeout_seconds` for the exit; returns
  // the exit code, or nothing on a time-out.
  std::optional<int> Stop(int timeout_seconds = 90) {
    if (pid_.empty()) return std::nullopt;
    std::system(("kill -TERM " + pid_).c_str());
    for (int i = 0; i < timeout_seconds * 20; ++i) {
      if (Exited()) return std::atoi(ReadFileBytes(root_ / "exit_code").c_str());
      Pause(50);
    }
    return std::nullopt;
  }

  // Kills the service with SIGKILL and waits for it to be gone.
  void Kill() {
    if (pid_.empty()) return;
    std::system(("kill -KILL " + pid_ + " 2>/dev/null").c_str());
    for (int i = 0; i < 100 && !Exited(); ++i) Pause(50);
  }

  bool Exited() const { return std::filesystem::exists(root_ / "exit_code"); }

  // The service's peak resident memory (VmHWM) in KiB; 0 when unknown.
  long PeakMemoryKiB() const { return StatusField("VmHWM:"); }

  // A field of /proc/PID/status in KiB (or as counted); 0 when unknown.
  long StatusField(const std::string& field) const {
    const std::string status = ReadFileBytes("/proc/" + pid_ + "/status");
    const size_t at = status.find(field);
    if (pid_.empty() || at == std::string::npos) return 0;
    return std::atol(status.c_str() + at + field.size());
  }

  // What the service wrote to standard error.
  std::string Errors() const { return ReadFileBytes(root_ / "stderr.txt"); }

 private:
  TempDir dir_;
  std::filesystem::path root_;
  std::string pid_;
};

// Waits up to `timeout_seconds` until `path` exists.
inline bool WaitForFile(const std::filesystem::path& path, int timeout_seconds) {
  for (int i = 0; i < timeout_seconds * 20; ++i) {
    if (std::filesystem::exists(path)) return true;
    Pause(50);
  }
  return false;
}

// Number of directory entries of `folder` whose name ends with `suffix`.
inline int CountEndingWith(const std::filesystem::path& folder, const std::string& suffix) {
  int count = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
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
inline void CopyIn(const std::filesystem::path& job, const ServiceProcess& service,
                   const std::string& name) {
  std::filesystem::copy_file(job, service.in() / name,
                             std::filesystem::copy_options::overwrite_existing);
}
inline void MoveIn(const std::filesystem::path& job, const ServiceProcess& service,
                   const std::string& name) {
  const std::filesystem::path staged = service.root() / ("staged_" + name);
  std::filesystem::copy_file(job, staged, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::rename(staged, service.in() / name);
}

inline std::string Stem(const std::string& name) { return name.substr(0, name.rfind('.')); }

// Holds the machine-wide interpreter lock the way a job does, so that every
// worker the service starts waits.
class InterpreterLockHolder {
 public:
  InterpreterLockHolder()
      : lock_(std::u16string(kInterpreterLockPrefix) + kInterpreterLockSuffix) {
    EXPECT_EQ(lock_.Acquire(nullptr), NamedLock::Result::kAcquired);
  }
  void Release() { lock_.Release(); }

 private:
  NamedLock lock_;
};

}  // namespace quillaro::testing

#endif  // QUILLARO_TESTS_SERVICE_SERVICE_PROCESS_H_
