#ifndef QUILLARO_PLATFORM_CHILD_PROCESS_H_
#define QUILLARO_PLATFORM_CHILD_PROCESS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/os_error.h"

namespace quillaro {

// Variables (name, value) a run sets for its child.
using ChildEnvironmentVariables = std::vector<std::pair<std::string, std::string>>;

// What one run may use beyond the program and its command line.
struct ChildRunOptions {
  // Variables for the child. On Linux the child gets these and TMPDIR,
  // TEMP and PATH, plus the few variables that only make its output
  // reproducible or its sanitizer quiet (SOURCE_DATE_EPOCH, *SAN_OPTIONS),
  // and nothing else of the service's environment; on Windows they are set
  // on top of the service's own environment.
  ChildEnvironmentVariables environment;
  // The one folder the child may write in (and its temporary folder):
  // made by the caller, which owns it and everything in it. Empty: the
  // runner makes a scratch folder of its own for the run and removes it
  // afterwards.
  std::string private_folder;
  // When not null, also receives what the child writes to its standard
  // error alone (at most ProcessRunner::kMaxErrorStreamBytes of it).
  // Interpreter devices report there, while a job's own text output goes to
  // standard output, so a reader of this stream never sees what the job
  // printed with PostScript's "print". The two streams then come through
  // pipes of their own, and `output` holds them in the order they were
  // read rather than exactly as written.
  std::string* error_output = nullptr;
};

// Runs one external program as a hidden child process and collects what it
// writes. This is the only place where the service starts another program,
// so every protection that applies to the interpreters is applied here.
class ProcessRunner {
 public:
  using Environment = ChildEnvironmentVariables;
  using Options = ChildRunOptions;

  // How much of a run's output the runner keeps: the first and the last
  // kKeptOutputBytes, with a line saying how much was left out between them.
  // A job that prints without end cannot grow the service.
  static constexpr size_t kKeptOutputBytes = size_t{1} << 20;
  // How much of the standard error stream `Options::error_output` keeps:
  // enough for the device lines of far more pages than a run can render in
  // its time limit.
  static constexpr size_t kMaxErrorStreamBytes = size_t{32} << 20;

  // Result when the time limit passed or the calling thread's work was
  // cancelled; the child's exit code 123 looks the same.
  static constexpr int kTimedOut = 123;
  // Result when the pipe or the process could not be made.
  static constexpr int kCannotStart = -1;

  // Runs `application` (a full path) with `command_line`, a complete command
  // line whose first token is the program name, split into arguments by the
  // Windows rules (see SplitCommandLine). The child reads nothing (standard
  // input is empty) and its standard output and standard error go, in the
  // order written, into one stream whose bytes are appended to `output`
  // exactly (up to kKeptOutputBytes at its head and at its tail); text
  // already in `output` stays.
  //
  // Returns as soon as the child ends, with its exit code; 128 + the signal
  // number when a signal ended it. After `time_limit_seconds` + 1 seconds
  // (a negative limit counts as 0), or as soon as the calling thread's cancel
  // event (CurrentCancellation) is set, the child and everything it started
  // are killed and kTimedOut is returned with the output collected so far.
  // kCannotStart when nothing could be started (nothing appended then); then
  // `*error` (when not null) names the call that failed (in the runner, or
  // in the child before or at exec, e.g. "execve" with ENOENT), its error
  // number and `application` (the scratch folder when that could not be
  // made). `*error` is left alone on every other result.
  //
  // Blocks the calling thread for the whole run; leaves no process behind on
  // any path. Calls from different threads are independent.
  //
  // On Linux: the child runs in a process group of its own, with no
  // descriptor of the service other than the three standard ones, the
  // default signal mask and dispositions, no core dumps, under the
  // confinement of child_confinement.h (another user when the service runs
  // as root, no new processes or sockets, only its private folder to write),
  // and it is killed when the thread that started it ends.
  static int Run(const std::u16string& application, const std::u16string& command_line,
                 std::string& output, int32_t time_limit_seconds, OsError* error = nullptr,
                 const Options& options = {});
};

// Splits a command line into arguments as a Windows program's C runtime
// does. The first token is the program name: it ends at the first blank or
// tab outside double quotes, and the quotes in it are removed (a line that
// starts with a blank gives an empty program name). In the other arguments
// blanks and tabs separate; double quotes group and are removed; "" inside a
// quoted part is one literal quote; backslashes are literal except before a
// double quote, where 2n backslashes give n and the quote acts as above, and
// 2n+1 give n followed by a literal quote. An empty line gives no arguments.
std::vector<std::string> SplitCommandLine(const std::string& command_line);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_CHILD_PROCESS_H_
