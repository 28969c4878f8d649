// The job report file: out/NAME_report.json, gathered from what the stages
// noted and from what the job file itself says.

#include "report/report_file.h"

#include <string>

#include "config/path_utils.h"
#include "config/result_names.h"
#include "config/text_utils.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "platform/monotonic_clock.h"
#include "platform/os_error.h"
#include "report/interpreter_version.h"
#include "report/job_file_facts.h"
#include "report/ledger.h"
#include "report/report_document.h"

namespace quillaro {

JobFileNote NoteJobFile(const StagedJob& job, const ReportNotes& notes) {
  JobFileNote note;
  if (job.path.empty()) return note;
  const uint64_t started_ms = MonotonicMilliseconds();
  const InterpreterRunNote* run = SucceededInterpreterRun(notes);
  note.facts =
      ReadJobFileFacts(job.path, run != nullptr ? InterpreterProgramName(run->interpreter) : "");
  note.elapsed_ms = MonotonicMilliseconds() - started_ms;
  return note;
}

void WriteReport(const Settings& settings, const std::u16string& job_path,
                 const std::string& logged_path, const ReportNotes& notes) {
  if (job_path.empty()) return;
  const uint64_t started_ms = MonotonicMilliseconds();
  ReportFacts facts;
  facts.job = ToNarrow(JobFileName(job_path));
  facts.notes = &notes;
  facts.pages_rendered = settings.Type > 0;
  facts.colour_rule = settings.ReportColourRule;
  const InterpreterRunNote* run = SucceededInterpreterRun(notes);
  if (run != nullptr) facts.interpreter_version = InterpreterVersion(run->interpreter);
  facts.report_elapsed_ms = notes.job_file.elapsed_ms + MonotonicMilliseconds() - started_ms;
  // Named after the whole file name, so that jobs sharing a STEM (a.pdf,
  // a.pxl) keep a report each. Replaces the report of an earlier job of the
  // same name; a link planted under the name is removed, not written through.
  const nlohmann::ordered_json document = BuildReportDocument(facts);
  WriteNewFile(WithSuffix(OutFolderA() + kPathSeparator + facts.job, kReportSuffix),
               ReportFileBytes(document));
#if QUILLARO_HAS_LEDGER
  // The ledger outlives out/: the same figures, before the marker.
  std::string error;
  if (!RecordInLedger(LedgerPath(), document, &error)) {
    ReportOsError(OsError{}, "job " + logged_path + ": not recorded in the ledger: " + error);
  }
#else
  (void)logged_path;
#endif
}

}  // namespace quillaro
