#ifndef QUILLARO_INTERP_INTERPRETER_RUNS_H_
#define QUILLARO_INTERP_INTERPRETER_RUNS_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/staged_job.h"
#include "interp/run_notes.h"

namespace quillaro {

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

// The argument-list runs of the stages: `interpreter` (gpcl6, gxps or gs)
// over the command line "-q" followed by each of `arguments` after one
// blank (no quotes are added: an argument that needs them carries them),
// within WaitSeconds, reading the job's private copy and writing only in its
// folder. The run is added to `note`, and logged ("Converting PCL file ...
// OK" or "ERROR (code)") when IsLog. Returns 1 when it ended with code 0,
// else 0. Blocks; any thread.
int ConvertPcl(const Settings& settings, const StagedJob& job,
               const std::vector<std::string>& arguments, StageNote& note);
int ConvertXps(const Settings& settings, const StagedJob& job,
               const std::vector<std::string>& arguments, StageNote& note);
int ConvertPs(const Settings& settings, const StagedJob& job,
              const std::vector<std::string>& arguments, StageNote& note);
int Convert(Interpreter interpreter, const Settings& settings, const StagedJob& job,
            const std::vector<std::string>& arguments, StageNote& note);

}  // namespace quillaro

#endif  // QUILLARO_INTERP_INTERPRETER_RUNS_H_
