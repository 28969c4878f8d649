// The job report file: out/NAME_report.json, gathered from what the stages
// noted and from the job file's own header.

#include <string>

#include "config/job.h"
#include "config/path_utils.h"
#include "config/text_utils.h"
#include "inspect/pjl_header.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "platform/monotonic_clock.h"
#include "report/interpreter_version.h"
#include "report/report_document.h"

namespace quillaro {

void Job::WriteReport(std::u16string job_path) {
  if (job_path.empty()) return;
  const uint64_t started_ms = MonotonicMilliseconds();
  const std::string path = ToNarrow(job_path);
  ReportFacts facts;
  facts.job = ToNarrow(JobFileName(job_path));
  facts.notes = &Report;
  facts.pages_rendered = Type > 0;
  const InterpreterRunNote* run = SucceededInterpreterRun(Report);
  facts.language =
      TellJobLanguage(path, run != nullptr ? InterpreterProgramName(run->interpreter) : "");
  if (run != nullptr) facts.interpreter_version = InterpreterVersion(run->interpreter);
  facts.copies = GetPjlCopies(path);
  facts.pjl = ReadPjlAttributes(path);
  facts.report_elapsed_ms = MonotonicMilliseconds() - started_ms;
  // Named after the whole file name, so that jobs sharing a STEM (a.pdf,
  // a.pxl) keep a report each. Replaces the report of an earlier job of the
  // same name; a link planted under the name is removed, not written through.
  WriteNewFile(OutFolderA() + kPathSeparator + facts.job + "_report.json",
               ReportFileBytes(BuildReportDocument(facts)));
}

}  // namespace quillaro
