#ifndef QUILLARO_REPORT_TOOL_REPORT_SUMMARY_H_
#define QUILLARO_REPORT_TOOL_REPORT_SUMMARY_H_

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillaro {

// One job report reduced to what a person or an accounting import needs.
// Page figures are for one copy, as in the report; absent ones (pages not
// rendered, pages not counted) are none.
struct JobSummary {
  std::string job;
  std::optional<int64_t> pages;
  std::optional<int64_t> colour_pages;
  std::optional<int64_t> mono_pages;
  std::optional<int64_t> blank_pages;
  std::optional<int64_t> sheets;
  int64_t copies = 1;
  std::vector<std::pair<std::string, int64_t>> media;  // name, pages; in name order
  std::string failure;                                 // empty when none
};

// The summary of the report text `json_text`; none when it is no report
// (not JSON, or not an object naming a job).
std::optional<JobSummary> SummariseReport(const std::string& json_text);

// The summaries of every NAME_report.json in `folder`, in file-name order.
// Files that cannot be read or are no report are named in `skipped`.
std::vector<JobSummary> SummariseFolder(const std::string& folder,
                                        std::vector<std::string>& skipped);

// One line per job and a total line (every figure times its job's copies),
// in aligned columns, plain text.
std::string FormatSummaryTable(const std::vector<JobSummary>& jobs);
// The same rows as CSV (RFC 4180, CR LF line ends, cells a spreadsheet
// takes as text: CsvCell), with a header line; the total row, whose job is
// "TOTAL", only `with_total`; a figure the report does not give is empty,
// and media are separated by ";".
std::string FormatSummaryCsv(const std::vector<JobSummary>& jobs, bool with_total);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_TOOL_REPORT_SUMMARY_H_
