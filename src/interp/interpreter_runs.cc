#include "interp/interpreter_runs.h"


#include "config/log_file.h"
#include "config/path_utils.h"
#include "config/text_utils.h"
#include "inspect/language_detection.h"
#include "platform/child_process.h"
#include "platform/module_path.h"
#include "platform/monotonic_clock.h"
#include "platform/os_error.h"
#include "platform/system_files.h"

namespace quillaro {

int RunInterpreter(Interpreter interpreter, const std::u16string& command_line,
                   std::string& output, int32_t time_limit_seconds,
                   const std::string& private_folder, std::string* device_output) {
  ProcessRunner::Options options;
  options.private_folder = private_folder;
  options.error_output = device_output;
  ProcessRunner::Environment& environment = options.environment;
  // GhostPCL looks for its fonts in "urwfonts/" of the current folder
  // unless told otherwise, and crashes when they are not there. The
  // environment variable, not a command-line option, is the one way it
  // takes a font folder.
  if (interpreter == Interpreter::kPcl) {
    environment.emplace_back("PCLFONTSOURCE",
                             PclFontSource(ModuleFolder() + kPathSeparator + "urwfonts"));
  }
  OsError error;
  const int code = ProcessRunner::Run(InterpreterPath(interpreter), command_line, output,
                                      time_limit_seconds, &error, options);
  // A failed wait for the child gives kCannotStart with no cause to name.
  if (code == ProcessRunner::kCannotStart && !error.call.empty()) ReportOsError(error);
  return code;
}

std::u16string InterpreterPath(Interpreter interpreter) {
  const std::u16string folder = GetModuleFolder() + static_cast<char16_t>(kPathSeparator);
  const InterpreterFileNames files = InterpreterFiles();
  switch (interpreter) {
    case Interpreter::kPs:
      return folder + files.postscript;
    case Interpreter::kPcl:
      return folder + files.pcl;
    case Interpreter::kXps:
      return folder + files.xps;
  }
  return std::u16string();
}

std::u16string InterpreterWord(Interpreter interpreter) {
  switch (interpreter) {
    case Interpreter::kPs:
      return u"PS";
    case Interpreter::kPcl:
      return u"PCL";
    case Interpreter::kXps:
      return u"XPS";
  }
  return std::u16string();
}

std::string QuoteArgument(const std::string& text) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : text) {
    if (c == '\\') {
      ++backslashes;
    } else if (c == '"') {
      // 2n + 1 backslashes before a quote give n backslashes and the quote.
      quoted.append(backslashes + 1, '\\');
      backslashes = 0;
    } else {
      backslashes = 0;
    }
    quoted.push_back(c);
  }
  // Backslashes before the closing quote must not escape it.
  quoted.append(backslashes, '\\');
  quoted.push_back('"');
  return quoted;
}

std::optional<Interpreter> InterpreterForPjlLanguage(const std::string& language) {
  // Case-sensitive: the value is already in upper case.
  if (language.find("POSTSCRIPT") != std::string::npos) return Interpreter::kPs;
  if (language.find("PDF") != std::string::npos) return Interpreter::kPs;
  if (language.find("PCL") != std::string::npos) return Interpreter::kPcl;
  if (language.find("XPS") != std::string::npos) return Interpreter::kXps;
  return std::nullopt;
}

std::optional<Interpreter> ChooseInterpreter(const std::string& path) {
  if (HasUel(path) != 0) {
    if (const std::optional<Interpreter> named = InterpreterForPjlLanguage(GetPjlLanguage(path))) {
      return named;
    }
  }
  if (IsPostScript(path) != 0) return Interpreter::kPs;
  if (IsPdf(path) != 0) return Interpreter::kPs;
  if (IsPcl(path) != 0 || IsPclXl(path) != 0) return Interpreter::kPcl;
  if (IsXps(path) != 0) return Interpreter::kXps;
  return std::nullopt;
}

int RunWithChosenInterpreter(const std::string& path,
                             const std::function<int(Interpreter)>& run) {
  if (const std::optional<Interpreter> chosen = ChooseInterpreter(path)) return run(*chosen);
  // Nothing identifies the job: each interpreter in turn, until one succeeds.
  for (const Interpreter candidate : {Interpreter::kPs, Interpreter::kPcl, Interpreter::kXps}) {
    if (run(candidate) != 0) return 1;
  }
  return 0;
}

int Convert(Interpreter interpreter, const Settings& settings, const StagedJob& job,
            const std::vector<std::string>& arguments, StageNote& note) {
  // The line starts with "-q", which the split takes as the program name, as
  // on Windows.
  std::u16string command_line = u"-q";
  for (const std::string& argument : arguments) command_line += u' ' + ToWide(argument);
  std::string output;  // only the job report looks at it, when the run fails
  const uint64_t started_ms = MonotonicMilliseconds();
  const int code = RunInterpreter(interpreter, command_line, output, settings.WaitSeconds,
                                  FolderOf(job.path));
  note.NoteRun(interpreter, code, output, MonotonicMilliseconds() - started_ms);
  const std::u16string message =
      u"Converting " + InterpreterWord(interpreter) + u" file " + ToWide(job.LoggedPath());
  if (code == 0) {
    if (settings.IsLog) WriteLog(message + u" OK");
    return 1;
  }
  if (settings.IsLog) WriteLog(message + u" ERROR (" + FormatIntW(code) + u")");
  return 0;
}

int ConvertPcl(const Settings& settings, const StagedJob& job,
               const std::vector<std::string>& arguments, StageNote& note) {
  return Convert(Interpreter::kPcl, settings, job, arguments, note);
}

int ConvertXps(const Settings& settings, const StagedJob& job,
               const std::vector<std::string>& arguments, StageNote& note) {
  return Convert(Interpreter::kXps, settings, job, arguments, note);
}

int ConvertPs(const Settings& settings, const StagedJob& job,
              const std::vector<std::string>& arguments, StageNote& note) {
  return Convert(Interpreter::kPs, settings, job, arguments, note);
}

}  // namespace quillaro
