#ifndef QUILLARO_REPORT_JOB_FAILURE_H_
#define QUILLARO_REPORT_JOB_FAILURE_H_

#include <optional>
#include <string>

#include "report/report_notes.h"

namespace quillaro {

// Why the interpretation of a job failed, in one line for people, or none
// when it did not: the job was never read (ReportNotes::refusal), no
// interpreter counted its pages, or, when its pages were to be rendered,
// none rendered them. Names the stage, each
// interpreter tried with its exit code, and the last line the last one
// printed, e.g. "measurement failed: gs exit code 1: Error: /syntaxerror".
// The report's "failure" and the quarantine's reason file both hold it.
std::optional<std::string> JobFailureReason(const ReportNotes& notes);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_JOB_FAILURE_H_
