#ifndef QUILLARO_INTERP_INTERPRETER_RUNS_H_
#define QUILLARO_INTERP_INTERPRETER_RUNS_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillaro {

struct Job;

// The three interpreter executables, found beside the service's own.
enum class Interpreter {
  kPs,   // gs: PostScript and PDF
  kPcl,  // gpcl6: PCL 5 and PCL XL
  kXps,  // gxps: XPS
};

// Full path of `interpreter`'s executable in the module folder.
std::u16string InterpreterPath(Interpreter interpreter);

// The language word of `interpreter`'s log lines: "PS", "PCL" or "XPS".
std::u16string InterpreterWord(Interpreter interpreter);

// Runs `interpreter` with `command_line` (see ProcessRunner::Run: the
// output is appended to `output`, the result is the exit code, 123 on time
// out, -1 when it cannot start). The run may write only in `private_folder`
// (the folder of the job file it reads; empty: a scratch folder of its own).
// `device_output`, when not null, receives the interpreter's standard error
// alone, where its devices report and a job's printed text does not go.
// GhostPCL is told where its fonts are (the urwfonts folder in the module
// folder), so that no run depends on the current folder. When nothing could
// start, the cause is reported once on standard error; log.txt is the
// caller's business. Blocks; any thread.
int RunInterpreter(Interpreter interpreter, const std::u16string& command_line,
                   std::string& output, int32_t time_limit_seconds,
                   const std::string& private_folder = {}, std::string* device_output = nullptr);

// The folder of the file at `path`: for a job the stages were given, its
// private folder, where its interpreter runs write.
std::string FolderOf(const std::string& path);

// `text` in double quotes as one argument of a command line that is split by
// the Windows rules: for an ordinary path this is just the quotes around it;
// a double quote inside, and backslashes before one or at the end, are
// escaped so that the interpreter still receives `text` unchanged.
std::string QuoteArgument(const std::string& text);

// The interpreter for the job file at `path` (narrow), by its PJL
// "@PJL ENTER LANGUAGE" value when the job starts with the UEL and the value
// names one of POSTSCRIPT, PDF, PCL, XPS (in that order of precedence), else
// by the content tests in the order PostScript, PDF, PCL or PCL XL, XPS.
// Empty when nothing identifies the job: the caller then tries PS, PCL and
// XPS in turn.
std::optional<Interpreter> ChooseInterpreter(const std::string& path);

// The interpreter a PJL "@PJL ENTER LANGUAGE" value names (upper case, as
// GetPjlLanguage gives it): POSTSCRIPT or PDF give kPs, then PCL kPcl, then
// XPS kXps, in that order of precedence; empty for anything else.
std::optional<Interpreter> InterpreterForPjlLanguage(const std::string& language);

// The stage step shared by page measurement and page rendering: `run` with
// the interpreter ChooseInterpreter picks for the job file at `path`, its
// result returned; when nothing identifies the job, `run` with PS, PCL and
// XPS in turn until one returns non-zero (1 then, else 0).
int RunWithChosenInterpreter(const std::string& path,
                             const std::function<int(Interpreter)>& run);

// The argument list of the interpreter runs a stage prepares: points
// `job`.Argv at its own copies of `arguments` (entry 0 the program-name slot
// that is never passed, at most kJobArgvCapacity entries, the rest dropped)
// for its lifetime, and empties Argv and Argc when destroyed, so that no
// entry outlives the string it points at. One at a time per Job; the runs
// must end before it is destroyed.
class ScopedJobArguments {
 public:
  ScopedJobArguments(Job& job, std::vector<std::string> arguments);
  ScopedJobArguments(const ScopedJobArguments&) = delete;
  ScopedJobArguments& operator=(const ScopedJobArguments&) = delete;
  ~ScopedJobArguments();

 private:
  Job& job_;
  const std::vector<std::string> arguments_;
};

}  // namespace quillaro

#endif  // QUILLARO_INTERP_INTERPRETER_RUNS_H_
