#ifndef QUILLARO_REPORT_TOOL_LEDGER_SUMMARY_H_
#define QUILLARO_REPORT_TOOL_LEDGER_SUMMARY_H_

#include <optional>
#include <string>

namespace quillaro {

// The jobs of a ledger received from `from` to `to` (days, YYYY-MM-DD,
// both included, UTC); an empty bound is open.
struct LedgerRange {
  std::string from;
  std::string to;
};

// Totals over the range as plain text: by user, by day, and by size and
// colour class, each with jobs (not for sizes), impressions and sheets of
// the whole jobs. None with `error` set when the ledger cannot be read.
std::optional<std::string> LedgerTotals(const std::string& path, const LedgerRange& range,
                                        std::string* error);

// One CSV row per job (RFC 4180, CR LF, cells a spreadsheet takes as text)
// with a header line: received, job, job_id, user, job_name, title,
// language, copies, duplex, pages (of one copy), impressions, sheets (the
// whole job), impressions by size class and colour (a4_colour, a4_mono,
// a3_colour, a3_mono, other_colour, other_mono), partial, failure. A last
// row "TOTAL" sums the figures only `with_total`.
std::optional<std::string> LedgerCsv(const std::string& path, const LedgerRange& range,
                                     bool with_total, std::string* error);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_TOOL_LEDGER_SUMMARY_H_
