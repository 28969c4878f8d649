#include "platform/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cancellation.h"
#include "platform/child_confinement.h"
#include "platform/code_page.h"
#include "platform/module_path.h"
#include "platform/monotonic_clock.h"
#include "platform/os_error.h"
#include "platform/unique_fd_linux.h"

extern char** environ;

namespace quillaro {
namespace {

constexpr size_t kReadChunkBytes = 64 * 1024;

// A started child in a process group of its own, reached through a pidfd so
// that its end can be polled together with its output. Destroying a child
// that has not been reaped kills its whole group and reaps it: no path out of
// the runner leaves a process behind.
class ChildProcess {
 public:
  ChildProcess(pid_t pid, UniqueFd pidfd) : pid_(pid), pidfd_(std::move(pidfd)) {}
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (!reaped_) {
      KillGroup();
      Reap();
    }
  }

  int pidfd() const { return pidfd_.Get(); }

  // Kills every process of the child's group. Safe until the child is
  // reaped: its group id is its pid, which the kernel keeps while the child
  // exists, even as a zombie, so the signal cannot reach a stranger.
  void KillGroup() const {
    if (!reaped_) ::kill(-pid_, SIGKILL);
  }

  // Waits for the child to end (at once when it has) and returns its exit
  // code, or 128 + the signal that ended it; kCannotStart when even the wait
  // failed.
  int Reap() {
    siginfo_t info = {};
    int rc;
    do {
      rc = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED);
    } while (rc < 0 && errno == EINTR);
    reaped_ = true;
    if (rc < 0) return ProcessRunner::kCannotStart;
    if (info.si_code == CLD_EXITED) return info.si_status;
    return 128 + info.si_status;
  }

 private:
  pid_t pid_;
  UniqueFd pidfd_;
  bool reaped_ = false;
};

// Everything the child needs between fork and exec, made before the fork:
// after it only async-signal-safe calls are allowed.
struct ChildSetup {
  const char* program;
  char* const* argv;
  char* const* envp;
  const PreparedConfinement* confinement;
  int stdin_fd;
  int output_fd;
  int status_fd;  // close-on-exec; receives a ChildFailure when the child cannot go on
  pid_t parent_pid;
};

// What a child that cannot exec writes to the status pipe. `call` points at a
// string literal: the child is a copy of the parent's memory, so the parent
// reads the same text at the same address.
struct ChildFailure {
  const char* call;
  int error;
};

// Process-wide protections for the interpreter, applied in the child after
// its descriptors are in place and before exec. Anything that restricts what
// an interpreter may do to the machine belongs here (the resource limits,
// no core dumps among them, come with the confinement). Returns 0 or an
// errno, with the failed call in `*call`.
int ApplyChildProtections(const ChildSetup& setup, const char** call) {
  // Should the service die while the child runs, the child dies with it
  // rather than living on unsupervised. The parent may already be gone.
  *call = "prctl";
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) < 0) return errno;
  *call = "getppid";
  if (::getppid() != setup.parent_pid) return ESRCH;
  // Last: the file-system confinement and the resource limits. A child that
  // cannot be confined does not run at all.
  return setup.confinement->ApplyToChild(0, call);
}

// A private scratch folder for one run (the PDF and PostScript writers keep
// temporary files): the only place outside in/ and out/ the child may write.
// Removed with its contents on destruction.
class ScratchFolder {
 public:
  // On failure Valid() is false and `*error` (when not null) says why.
  explicit ScratchFolder(OsError* error) {
    std::string base = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && tmp[0] == '/') base = tmp;
    std::string pattern = base + "/quillaro-run-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
    } else {
      FailWith(error, LastOsError("mkdtemp", pattern));
    }
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    if (path_.empty()) return;
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  bool Valid() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The service's environment with TMPDIR pointing at the run's scratch folder
// and the run's own variables in place of any of the same name.
std::vector<std::string> ChildEnvironment(const std::string& scratch,
                                          const ProcessRunner::Environment& overrides) {
  auto replaced = [&](std::string_view variable) {
    if (variable.starts_with("TMPDIR=") || variable.starts_with("TEMP=") ||
        variable.starts_with("TMP=")) {
      return true;
    }
    for (const auto& [name, value] : overrides) {
      if (variable.size() > name.size() && variable.starts_with(name) &&
          variable[name.size()] == '=') {
        return true;
      }
    }
    return false;
  };
  std::vector<std::string> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (!replaced(*entry)) environment.emplace_back(*entry);
  }
  environment.push_back("TMPDIR=" + scratch);
  environment.push_back("TEMP=" + scratch);
  for (const auto& [name, value] : overrides) environment.push_back(name + "=" + value);
  return environment;
}

[[noreturn]] void ReportAndExit(int status_fd, const char* call, int error) {
  const ChildFailure failure = {call, error};
  // Nothing useful can be done when even this write fails.
  [[maybe_unused]] ssize_t written = ::write(status_fd, &failure, sizeof failure);
  ::_exit(127);
}

// Runs in the child after fork; never returns.
[[noreturn]] void ExecChild(const ChildSetup& setup) {
  // Own group first, so that the parent can kill the child and everything it
  // starts with one signal.
  if (::setpgid(0, 0) < 0) ReportAndExit(setup.status_fd, "setpgid", errno);

  // The service blocks signals for its own use and may ignore some; the
  // interpreter starts with the defaults.
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    ::signal(signal_number, SIG_DFL);
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  if (::dup2(setup.stdin_fd, STDIN_FILENO) < 0 || ::dup2(setup.output_fd, STDOUT_FILENO) < 0 ||
      ::dup2(setup.output_fd, STDERR_FILENO) < 0) {
    ReportAndExit(setup.status_fd, "dup2", errno);
  }
  // Every other descriptor closes at exec, also those a library opened
  // without close-on-exec; the status pipe stays usable until then.
  if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) < 0) {
    ReportAndExit(setup.status_fd, "close_range", errno);
  }

  const char* call = "";
  if (int error = ApplyChildProtections(setup, &call); error != 0) {
    ReportAndExit(setup.status_fd, call, error);
  }

  ::execve(setup.program, setup.argv, setup.envp);
  ReportAndExit(setup.status_fd, "execve", errno);
}

// Appends what the pipe holds now. Returns false once the pipe is at its
// end (every writer gone) or broken.
bool DrainAvailable(int fd, std::string& output) {
  char buffer[kReadChunkBytes];
  for (;;) {
    ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count > 0) {
      output.append(buffer, static_cast<size_t>(count));
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && errno == EAGAIN) return true;
    return false;
  }
}

// Reads the exec status pipe until its end: nothing means exec succeeded.
// Otherwise fills `*error` with what the child reported.
bool ExecFailed(int status_fd, const std::string& program, OsError* error) {
  ChildFailure failure = {"", 0};
  ssize_t count;
  do {
    count = ::read(status_fd, &failure, sizeof failure);
  } while (count < 0 && errno == EINTR);
  if (count <= 0) return false;
  // A partial record cannot happen for a pipe write this small; guard anyway.
  if (count != static_cast<ssize_t>(sizeof failure)) failure = {"execve", EIO};
  FailWith(error, OsError{failure.call, failure.error, program});
  return true;
}

// Waits for the child's end, its output, the deadline and the cancel event
// together. Returns true when the child ended by itself, false when the
// deadline passed or the work was cancelled.
bool Supervise(const ChildProcess& child, int output_fd, uint64_t deadline_ms,
               std::string& output) {
  const ManualResetEvent* cancel = CurrentCancellation();
  bool output_open = true;
  for (;;) {
    pollfd fds[3] = {{child.pidfd(), POLLIN, 0},
                     {output_open ? output_fd : -1, POLLIN, 0},
                     {cancel != nullptr ? cancel->native_handle() : -1, POLLIN, 0}};
    const uint64_t now = MonotonicMilliseconds();
    if (now >= deadline_ms) return false;
    const uint64_t left_ms = deadline_ms - now;
    int ready = ::poll(fds, 3, left_ms > INT32_MAX ? INT32_MAX : static_cast<int>(left_ms));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return false;  // cannot wait any more: treat as a run that never ended
    }
    // Output first, so that whatever the child wrote before it ended or was
    // stopped is kept.
    if (fds[1].revents != 0) output_open = DrainAvailable(output_fd, output);
    if (fds[2].revents != 0) return false;
    if (fds[0].revents != 0) return true;
  }
}

}  // namespace

int ProcessRunner::Run(const std::u16string& application, const std::u16string& command_line,
                       std::string& output, int32_t time_limit_seconds, OsError* error,
                       const Environment& environment_overrides) {
  const uint64_t start_ms = MonotonicMilliseconds();
  if (CancellationRequested()) return kTimedOut;

  const std::string program = WideToNarrow(application);
  std::vector<std::string> arguments = SplitCommandLine(WideToNarrow(command_line));
  // Windows always has a program name; execve needs at least argv[0].
  if (arguments.empty()) arguments.emplace_back();
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  const ScratchFolder scratch(error);
  if (!scratch.Valid()) return kCannotStart;
  std::vector<std::string> environment = ChildEnvironment(scratch.path(), environment_overrides);
  std::vector<char*> envp;
  envp.reserve(environment.size() + 1);
  for (std::string& variable : environment) envp.push_back(variable.data());
  envp.push_back(nullptr);
  const PreparedConfinement confinement(InterpreterConfinement(ModuleFolder(), scratch.path()));

  // Every failure before the child runs is reported with the program it was for.
  auto cannot_start = [&](const char* call) {
    FailWith(error, LastOsError(call, program));
    return kCannotStart;
  };
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) < 0) return cannot_start("pipe2");
  UniqueFd output_read(pipe_fds[0]);
  UniqueFd output_write(pipe_fds[1]);
  // The child's end blocks as an ordinary standard output would.
  if (::fcntl(output_write.Get(), F_SETFL, 0) < 0) return cannot_start("fcntl");
  if (::pipe2(pipe_fds, O_CLOEXEC) < 0) return cannot_start("pipe2");
  UniqueFd status_read(pipe_fds[0]);
  UniqueFd status_write(pipe_fds[1]);
  UniqueFd null_input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (!null_input.Valid()) return cannot_start("open");

  const ChildSetup setup = {program.c_str(), argv.data(), envp.data(), &confinement, null_input.Get(),
                            output_write.Get(), status_write.Get(), ::getpid()};
  const pid_t pid = ::fork();
  if (pid < 0) return cannot_start("fork");
  if (pid == 0) ExecChild(setup);

  // Also set here, so that the group exists before the parent may kill it.
  ::setpgid(pid, pid);
  UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  const int pidfd_error = errno;
  // From here on the child is owned: every return kills and reaps it.
  ChildProcess child(pid, std::move(pidfd));
  output_write.Reset();
  status_write.Reset();
  null_input.Reset();

  if (ExecFailed(status_read.Get(), program, error)) {
    child.Reap();
    return kCannotStart;
  }
  if (child.pidfd() < 0) {
    FailWith(error, OsError{"pidfd_open", pidfd_error, program});
    return kCannotStart;
  }

  const int64_t limit_seconds = time_limit_seconds < 0 ? 0 : time_limit_seconds;
  const uint64_t deadline_ms = start_ms + static_cast<uint64_t>(limit_seconds + 1) * 1000;
  const bool ended = Supervise(child, output_read.Get(), deadline_ms, output);

  // Whatever the child started is stopped with it; the child itself, ended
  // or not, is still unreaped here, so its group id is still its own.
  child.KillGroup();
  // The child's own output is all in the pipe by now; output of processes
  // outside its group that hold the pipe is not waited for.
  DrainAvailable(output_read.Get(), output);
  const int exit_code = child.Reap();
  return ended ? exit_code : kTimedOut;
}

}  // namespace quillaro
