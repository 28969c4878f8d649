#ifndef QUILLARO_REPORT_REPORT_NOTES_H_
#define QUILLARO_REPORT_REPORT_NOTES_H_

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imaging/color_coverage.h"
#include "interp/interpreter_runs.h"
#include "report/job_file_facts.h"
#include "report/page_verdict.h"

namespace quillaro {

// What the job report says about one interpreter run: which interpreter, its
// exit code (ProcessRunner's result), how long it took, and for a failed run
// the last lines it printed. `counted_no_pages` marks a measurement run that
// ended well but reported no page, which fails the stage as an exit code
// would.
struct InterpreterRunNote {
  Interpreter interpreter = Interpreter::kPs;
  int exit_code = 0;
  bool counted_no_pages = false;
  uint64_t elapsed_ms = 0;
  std::vector<std::string> last_lines;  // failed runs only

  bool succeeded() const { return exit_code == 0 && !counted_no_pages; }
};

// The interpreter runs of one stage, in the order they were tried (the
// fallback order tries up to three).
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

// The program name of `interpreter`: "gs", "gpcl6" or "gxps".
const char* InterpreterProgramName(Interpreter interpreter);

// One rendered (or, for Type 0, probed) page: its pixel size at 100 dpi and,
// when its pixels were looked at, its ink.
struct PageNote {
  int32_t number = 0;
  int32_t width_px = 0;
  int32_t height_px = 0;
  std::optional<PageInkCounts> ink_counts;
  std::optional<PageInk> ink;
};

// What the stages of one job hand on to its report. Each stage writes only
// its own member, so that the measurement, which may run on a thread of its
// own with a copy of the job record, is handed over by copying its member
// back once it has ended. Always collected (it costs a few strings per run);
// written out only when the report is asked for.
struct ReportNotes {
  StageNote measurement;            // MeasurePages
  int64_t measured_pages = 0;       // pages of one copy, 0 when not counted
  StageNote rendering;              // RenderPages
  std::vector<PageNote> pages;      // ConvertPageImages, in page order
  uint64_t imaging_elapsed_ms = 0;  // ConvertPageImages
  StageNote media_probe;            // ProbeMedia (Type 0)
  std::vector<PageNote> probed_pages;
  // Why the job was never read (the job worker): it vanished before it was
  // read, or it was too large. Empty for a job that was read.
  std::string refusal;
  // When the job worker took the job (the job worker).
  std::chrono::system_clock::time_point received{};
  // What the job file itself says (NoteJobFile, from the private copy).
  JobFileFacts job_file;
  uint64_t job_file_elapsed_ms = 0;
};

// The run that did the job's interpretation: the rendering's, else the
// measurement's, else the media probe's; null when none succeeded.
const InterpreterRunNote* SucceededInterpreterRun(const ReportNotes& notes);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_REPORT_NOTES_H_
