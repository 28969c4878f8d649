#ifndef QUILLARO_REPORT_INTERPRETER_VERSION_H_
#define QUILLARO_REPORT_INTERPRETER_VERSION_H_

#include <optional>
#include <string>

#include "interp/interpreter_runs.h"

namespace quillaro {

// The version `interpreter` reports ("10.00.0"), asked of it once per
// process ("gs --version"; gpcl6 and gxps print it in their usage text) and
// remembered: the links beside the service do not change while it runs,
// and a job that renders its pages must not cost an extra run. None when
// the interpreter cannot be run or prints no version. Thread-safe; the first
// caller for each interpreter waits for its run.
std::optional<std::string> InterpreterVersion(Interpreter interpreter);

// The version in `output` of a version run: the text after "Version: " on
// its line, else the first line when it is a bare version number.
std::optional<std::string> ParseInterpreterVersion(const std::string& output);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_INTERPRETER_VERSION_H_
