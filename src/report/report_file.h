#ifndef QUILLARO_REPORT_REPORT_FILE_H_
#define QUILLARO_REPORT_REPORT_FILE_H_

#include <string>

#include "config/settings.h"
#include "config/staged_job.h"
#include "report/report_notes.h"

namespace quillaro {

// What the job file itself says (who, what, copies, duplex, its digest),
// read from the job's private copy after the stages, before the copy goes.
// `notes` tell which interpreter read the job. Blocks; any thread.
JobFileNote NoteJobFile(const StagedJob& job, const ReportNotes& notes);

// The job report (IsReport): OUT/NAME_report.json for the job at `job_path`
// (its place in in/) from `notes`, made anew (a link planted under the
// name is removed, not written through), and the same figures into the
// ledger; a ledger that cannot take them is reported on standard error
// with `logged_path`. Written after every other result, before the marker.
void WriteReport(const Settings& settings, const std::u16string& job_path,
                 const std::string& logged_path, const ReportNotes& notes);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_REPORT_FILE_H_
