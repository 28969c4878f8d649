#ifndef QUILLARO_SERVICE_QUARANTINE_H_
#define QUILLARO_SERVICE_QUARANTINE_H_

#include <string>

#include "report/report_notes.h"

namespace quillaro {

// Quarantine (IsQuarantine): a job whose interpretation failed by `notes`
// (JobFailureReason: it was never read, no interpreter counted its pages,
// or none rendered them) is moved from in/ (`job_path`) to failed/ beside
// it, with failed/NAME.reason.txt saying why, as the report does. Returns
// true when the job was moved; a job that did not fail, or cannot be moved,
// stays where it is. Any thread.
bool QuarantineFailedJob(const std::u16string& job_path, const ReportNotes& notes);

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_QUARANTINE_H_
