#ifndef QUILLARO_INTERP_INTERPRETER_RUNS_H_
#define QUILLARO_INTERP_INTERPRETER_RUNS_H_

#include <cstdint>
#include <optional>
#include <string>

namespace quillaro {

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
// out, -1 when it cannot start). GhostPCL is told where its fonts are (the
// urwfonts folder in the module folder), so that no run depends on the
// current folder. When nothing could start, the cause is reported once on
// standard error; log.txt is the caller's business. Blocks; any thread.
int RunInterpreter(Interpreter interpreter, const std::u16string& command_line,
                   std::string& output, int32_t time_limit_seconds);

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

}  // namespace quillaro

#endif  // QUILLARO_INTERP_INTERPRETER_RUNS_H_
