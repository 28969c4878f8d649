#ifndef QUILLARO_INTERP_RUN_NOTES_H_
#define QUILLARO_INTERP_RUN_NOTES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quillaro {

// The three interpreter executables, found beside the service's own.
enum class Interpreter {
  kPs,   // gs: PostScript and PDF
  kPcl,  // gpcl6: PCL 5 and PCL XL
  kXps,  // gxps: XPS
};

// The program name of `interpreter`: "gs", "gpcl6" or "gxps".
const char* InterpreterProgramName(Interpreter interpreter);

// What a stage keeps of one interpreter run, for the job report and the
// quarantine: which interpreter, its exit code (ProcessRunner's result), how
// long it took, and for a failed run the last lines it printed.
// `counted_no_pages` marks a measurement run that ended well but reported no
// page, which fails the stage as an exit code would.
struct InterpreterRunNote {
  Interpreter interpreter = Interpreter::kPs;
  int exit_code = 0;
  bool counted_no_pages = false;
  uint64_t elapsed_ms = 0;
  std::vector<std::string> last_lines;  // failed runs only

  bool succeeded() const { return exit_code == 0 && !counted_no_pages; }
};

// The interpreter runs of one stage, in the order they were tried (the
// fallback order tries up to three). A value each stage returns; it belongs
// to whoever holds it.
struct StageNote {
  std::vector<InterpreterRunNote> runs;
  bool ran() const { return !runs.empty(); }
  // The run that did the stage's work, or null when none did.
  const InterpreterRunNote* succeeded_run() const;
  uint64_t elapsed_ms() const;

  // Records a run; keeps only the last lines of `output`.
  void NoteRun(Interpreter interpreter, int exit_code, const std::string& output,
               uint64_t elapsed_ms, bool counted_no_pages = false);
};

}  // namespace quillaro

#endif  // QUILLARO_INTERP_RUN_NOTES_H_
