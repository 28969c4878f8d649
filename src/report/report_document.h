#ifndef QUILLARO_REPORT_REPORT_DOCUMENT_H_
#define QUILLARO_REPORT_REPORT_DOCUMENT_H_

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "report/report_notes.h"

namespace quillaro {

// Everything the report of one job is made of; the job worker's record
// gathers it (WriteReport).
// What the job file says is `notes->job_file`.
struct ReportFacts {
  std::string job;  // NAME
  std::optional<std::string> interpreter_version;
  bool pages_rendered = false;  // Type above 0: ink was looked at
  ColourRule colour_rule;       // the rule the pages' ink was counted by
  const ReportNotes* notes = nullptr;
  uint64_t report_elapsed_ms = 0;
};

// The report as JSON (keys in the order of docs/report.md, which describes
// them). `facts.notes` must
// be set. Never throws.
nlohmann::ordered_json BuildReportDocument(const ReportFacts& facts);

// `document` as the bytes of out/NAME_report.json: UTF-8 (text that is not
// is replaced with U+FFFD), indented by two, with a final LF.
std::string ReportFileBytes(const nlohmann::ordered_json& document);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_REPORT_DOCUMENT_H_
