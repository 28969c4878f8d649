#ifndef QUILLARO_PLATFORM_CHILD_PROCESS_H_
#define QUILLARO_PLATFORM_CHILD_PROCESS_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/os_error.h"

namespace quillaro {

// Runs one external program as a hidden child process and collects what it
// writes. This is the only place where the service starts another program,
// so every protection that applies to the interpreters is applied here.
class ProcessRunner {
 public:
  // Variables (name, value) a run sets for its child on top of the service's
  // own environment, each replacing one of the same name.
  using Environment = std::vector<std::pair<std::string, std::string>>;

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
  // exactly; text already in `output` stays.
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
  // default signal mask and dispositions, no core dumps, and it is killed
  // when the thread that started it ends.
  static int Run(const std::u16string& application, const std::u16string& command_line,
                 std::string& output, int32_t time_limit_seconds, OsError* error = nullptr,
                 const Environment& environment = {});
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
