#ifndef QUILLARO_REPORT_REPORT_NOTES_H_
#define QUILLARO_REPORT_REPORT_NOTES_H_

#include <chrono>
#include <cstdint>
#include <string>

#include "imaging/image_output.h"
#include "interp/media_probe.h"
#include "interp/page_measurement.h"
#include "interp/run_notes.h"
#include "report/job_file_facts.h"

namespace quillaro {

// What the job file itself says, and how long reading it took.
struct JobFileNote {
  JobFileFacts facts;
  uint64_t elapsed_ms = 0;
};

// What the stages of one job returned, gathered by the job worker for the
// report and the quarantine. Always gathered (it costs a few strings per
// run); written out only when the report is asked for. A stage that did not
// run leaves its member empty.
struct ReportNotes {
  PageCount measurement;    // MeasurePages
  StageNote rendering;      // RenderPages
  PageImages imaging;       // ConvertPageImages
  ProbedMedia media_probe;  // ProbeMedia (Type 0)
  // Why the job was never read (the job worker): it vanished before it was
  // read, or it was too large. Empty for a job that was read.
  std::string refusal;
  // When the job worker took the job.
  std::chrono::system_clock::time_point received{};
  JobFileNote job_file;  // NoteJobFile, from the private copy
};

// The run that did the job's interpretation: the rendering's, else the
// measurement's, else the media probe's; null when none succeeded.
const InterpreterRunNote* SucceededInterpreterRun(const ReportNotes& notes);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_REPORT_NOTES_H_
