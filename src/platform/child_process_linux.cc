#include "platform/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bounded_stream.h"
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
  int error_fd;   // the same as output_fd unless standard error is read apart
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
  // The confinement (limits, user, Landlock, seccomp): a child that cannot
  // be confined does not run at all.
  if (const int error = setup.confinement->ApplyToChild(0, call); error != 0) return error;
  // Should the service die while the child runs, the child dies with it
  // rather than living on unsupervised. Set after the change of user, which
  // clears it. The parent may already be gone.
  *call = "prctl";
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) < 0) return errno;
  *call = "getppid";
  if (::getppid() != setup.parent_pid) return ESRCH;
  return 0;
}

// A private scratch folder for one run (the PDF and PostScript writers keep
// temporary files), given to the child as TMPDIR. It must be the run's own:
// Ghostscript's safe mode lets a job read and write its temporary folder,
// which with the default /tmp would be every other job's folder there.
// Removed with its contents on destruction.
class ScratchFolder {
 public:
  // On failure Valid() is false and `*error` (when not null) says why.
  explicit ScratchFolder(OsError* error) {
    std::string base = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && tmp[0] == '/') base = tmp;
    std::string pattern = base + "/quillaro-run-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      FailWith(error, LastOsError("mkdtemp", pattern));
      return;
    }
    path_ = pattern;
    // A child that runs as the job user writes here through its group.
    if (ChildrenChangeUser() && (::chown(path_.c_str(), 0, kJobGroupId) != 0 ||
                                 ::chmod(path_.c_str(), 0770) != 0)) {
      FailWith(error, LastOsError("chown", path_));
      std::error_code ignored;
      std::filesystem::remove(path_, ignored);
      path_.clear();
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

// The child's environment: its temporary folder, a plain PATH and the run's
// own variables. Nothing else of the service's environment reaches a job,
// but for the variables that make an interpreter's output reproducible
// (SOURCE_DATE_EPOCH) and those of the sanitizers a test build runs under.
std::vector<std::string> ChildEnvironment(const std::string& temporary_folder,
                                          const ProcessRunner::Environment& variables) {
  std::vector<std::string> environment = {"PATH=/usr/bin:/bin", "TMPDIR=" + temporary_folder,
                                          "TEMP=" + temporary_folder};
  for (const char* name : {"SOURCE_DATE_EPOCH", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) environment.push_back(name + std::string("=") + value);
  }
  // The leak check at a sanitized child's exit traces the process, which its
  // system-call filter refuses.
  for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS"}) {
    const char* value = std::getenv(name);
    environment.push_back(name + std::string("=") + (value != nullptr ? value : "") +
                          ":detect_leaks=0");
  }
  for (const auto& [name, value] : variables) environment.push_back(name + "=" + value);
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
      ::dup2(setup.error_fd, STDERR_FILENO) < 0) {
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

// Where what the child writes goes: everything into `all`, and what comes
// through the separate standard-error pipe, when there is one, also into
// `errors`.
struct OutputSinks {
  BoundedStream all{ProcessRunner::kKeptOutputBytes, ProcessRunner::kKeptOutputBytes};
  BoundedStream errors{ProcessRunner::kMaxErrorStreamBytes, 0};
};

// Appends what the pipe holds now. Returns false once the pipe is at its
// end (every writer gone) or broken.
bool DrainAvailable(int fd, OutputSinks& sinks, bool error_stream) {
  char buffer[kReadChunkBytes];
  for (;;) {
    ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count > 0) {
      sinks.all.Append(buffer, static_cast<size_t>(count));
      if (error_stream) sinks.errors.Append(buffer, static_cast<size_t>(count));
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
// deadline passed or the work was cancelled. `error_fd` is -1 when standard
// error shares the output pipe.
bool Supervise(const ChildProcess& child, int output_fd, int error_fd, uint64_t deadline_ms,
               OutputSinks& sinks) {
  const ManualResetEvent* cancel = CurrentCancellation();
  bool output_open = true;
  bool error_open = error_fd >= 0;
  for (;;) {
    pollfd fds[4] = {{child.pidfd(), POLLIN, 0},
                     {output_open ? output_fd : -1, POLLIN, 0},
                     {error_open ? error_fd : -1, POLLIN, 0},
                     {cancel != nullptr ? cancel->native_handle() : -1, POLLIN, 0}};
    const uint64_t now = MonotonicMilliseconds();
    if (now >= deadline_ms) return false;
    const uint64_t left_ms = deadline_ms - now;
    int ready = ::poll(fds, 4, left_ms > INT32_MAX ? INT32_MAX : static_cast<int>(left_ms));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return false;  // cannot wait any more: treat as a run that never ended
    }
    // Output first, so that whatever the child wrote before it ended or was
    // stopped is kept.
    if (fds[1].revents != 0) output_open = DrainAvailable(output_fd, sinks, false);
    if (fds[2].revents != 0) error_open = DrainAvailable(error_fd, sinks, true);
    if (fds[3].revents != 0) return false;
    if (fds[0].revents != 0) return true;
  }
}

}  // namespace

int ProcessRunner::Run(const std::u16string& application, const std::u16string& command_line,
                       std::string& output, int32_t time_limit_seconds, OsError* error,
                       const Options& options) {
  const uint64_t start_ms = MonotonicMilliseconds();
  if (CancellationRequested()) return kTimedOut;

  const std::string program = WideToNarrow(application);
  // The program is started where its links lead: a child that runs as the
  // job user may not be able to look into the service's folder.
  std::string program_file = program;
  if (char* resolved = ::realpath(program.c_str(), nullptr)) {
    program_file = resolved;
    std::free(resolved);
  }
  std::vector<std::string> arguments = SplitCommandLine(WideToNarrow(command_line));
  // Windows always has a program name; execve needs at least argv[0].
  if (arguments.empty()) arguments.emplace_back();
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  std::optional<ScratchFolder> scratch;
  if (options.private_folder.empty()) {
    scratch.emplace(error);
    if (!scratch->Valid()) return kCannotStart;
  }
  const std::string& private_folder =
      scratch ? scratch->path() : options.private_folder;
  std::vector<std::string> environment = ChildEnvironment(private_folder, options.environment);
  std::vector<char*> envp;
  envp.reserve(environment.size() + 1);
  for (std::string& variable : environment) envp.push_back(variable.data());
  envp.push_back(nullptr);
  ConfinementPolicy policy = InterpreterConfinement(ModuleFolder(), private_folder);
  // The program itself, wherever it is, may be read and run.
  policy.readable.push_back(program_file);
  const PreparedConfinement confinement(policy);

  // Every failure before the child runs is reported with the program it was for.
  auto cannot_start = [&](const char* call) {
    FailWith(error, LastOsError(call, program));
    return kCannotStart;
  };
  // A pipe whose reading end polls and whose writing end blocks, as an
  // ordinary standard output would.
  auto make_output_pipe = [](UniqueFd& read_end, UniqueFd& write_end) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) < 0) return false;
    read_end = UniqueFd(fds[0]);
    write_end = UniqueFd(fds[1]);
    return ::fcntl(write_end.Get(), F_SETFL, 0) == 0;
  };
  UniqueFd output_read;
  UniqueFd output_write;
  if (!make_output_pipe(output_read, output_write)) return cannot_start("pipe2");
  UniqueFd error_read;
  UniqueFd error_write;
  if (options.error_output != nullptr && !make_output_pipe(error_read, error_write)) {
    return cannot_start("pipe2");
  }
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) < 0) return cannot_start("pipe2");
  UniqueFd status_read(pipe_fds[0]);
  UniqueFd status_write(pipe_fds[1]);
  UniqueFd null_input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (!null_input.Valid()) return cannot_start("open");

  const ChildSetup setup = {program_file.c_str(),
                            argv.data(),
                            envp.data(),
                            &confinement,
                            null_input.Get(),
                            output_write.Get(),
                            error_write.Valid() ? error_write.Get() : output_write.Get(),
                            status_write.Get(),
                            ::getpid()};
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
  error_write.Reset();
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
  OutputSinks sinks;
  const int error_fd = error_read.Valid() ? error_read.Get() : -1;
  const bool ended = Supervise(child, output_read.Get(), error_fd, deadline_ms, sinks);

  // Whatever the child started is stopped with it; the child itself, ended
  // or not, is still unreaped here, so its group id is still its own.
  child.KillGroup();
  // The child's own output is all in the pipe by now; output of processes
  // outside its group that hold the pipe is not waited for.
  DrainAvailable(output_read.Get(), sinks, false);
  if (error_fd >= 0) DrainAvailable(error_fd, sinks, true);
  sinks.all.Finish(output);
  if (options.error_output != nullptr) sinks.errors.Finish(*options.error_output);
  const int exit_code = child.Reap();
  return ended ? exit_code : kTimedOut;
}

}  // namespace quillaro
