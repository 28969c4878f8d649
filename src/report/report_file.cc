// The job report file: out/NAME_report.json, gathered from what the stages
// noted and from what the job file itself says.

#include <string>

#include "config/job.h"
#include "config/path_utils.h"
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

void Job::NoteJobFile(std::u16string job_path) {
  if (job_path.empty()) return;
  const uint64_t started_ms = MonotonicMilliseconds();
  const InterpreterRunNote* run = SucceededInterpreterRun(Report);
  Report.job_file = ReadJobFileFacts(
      ToNarrow(job_path), run != nullptr ? InterpreterProgramName(run->interpreter) : "");
  Report.job_file_elapsed_ms = MonotonicMilliseconds() - started_ms;
}

void Job::WriteReport(std::u16string job_path) {
  if (job_path.empty()) return;
  const uint64_t started_ms = MonotonicMilliseconds();
  const std::string path = ToNarrow(job_path);
  ReportFacts facts;
  facts.job = ToNarrow(JobFileName(job_path));
  facts.notes = &Report;
  facts.pages_rendered = Type > 0;
  facts.colour_rule = ReportColourRule;
  const InterpreterRunNote* run = SucceededInterpreterRun(Report);
  if (run != nullptr) facts.interpreter_version = InterpreterVersion(run->interpreter);
  facts.report_elapsed_ms = Report.job_file_elapsed_ms + MonotonicMilliseconds() - started_ms;
  // Named after the whole file name, so that jobs sharing a STEM (a.pdf,
  // a.pxl) keep a report each. Replaces the report of an earlier job of the
  // same name; a link planted under the name is removed, not written through.
  const nlohmann::ordered_json document = BuildReportDocument(facts);
  WriteNewFile(OutFolderA() + kPathSeparator + facts.job + "_report.json",
               ReportFileBytes(document));
#if QUILLARO_HAS_LEDGER
  // The ledger outlives out/: the same figures, before the marker.
  std::string error;
  if (!RecordInLedger(LedgerPath(), document, &error)) {
    ReportOsError(OsError{}, "job " + LoggedPath() + ": not recorded in the ledger: " + error);
  }
#endif
}

}  // namespace quillaro
