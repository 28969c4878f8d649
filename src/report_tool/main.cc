// quillaro-report: a summary of job reports for people or, with --csv, for
// an accounting import; from the report files in a folder, or from the
// ledger that keeps them after out/ is cleaned.
//   quillaro-report [--csv [--totals]] FOLDER
//   quillaro-report --ledger LEDGER [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--csv [--totals]]

#include <cstdio>
#include <string>
#include <vector>

#include "platform/standard_output.h"
#include "report_tool/report_summary.h"
#if QUILLARO_HAS_LEDGER
#include "report_tool/ledger_summary.h"
#endif

namespace {

int Usage() {
  std::fputs(
      "usage: quillaro-report [--csv [--totals]] FOLDER\n"
      "       quillaro-report --ledger LEDGER [--from DAY] [--to DAY] [--csv [--totals]]\n"
      "  FOLDER: sums up FOLDER/*_report.json, one line per job (pages of one\n"
      "  copy, colour, mono, blank, sheets, copies, media) and a total in which\n"
      "  every figure is multiplied by its job's copies.\n"
      "  LEDGER (the service's ledger.db): totals by user, by day and by\n"
      "  size and colour of the jobs received from DAY to DAY (YYYY-MM-DD, UTC);\n"
      "  with --csv one row per job instead.\n"
      "  --totals adds a TOTAL row to the CSV.\n",
      stderr);
  return 2;
}

bool IsDay(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u}) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // The CSV carries its own CR LF line ends, on every system.
  quillaro::UseBinaryStandardOutput();
  bool csv = false, totals = false;
  std::string folder, ledger, from, to;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool has_value = i + 1 < argc;
    if (argument == "--csv") {
      csv = true;
    } else if (argument == "--totals") {
      totals = true;
    } else if (argument == "--ledger" && has_value) {
      ledger = argv[++i];
    } else if (argument == "--from" && has_value && IsDay(argv[i + 1])) {
      from = argv[++i];
    } else if (argument == "--to" && has_value && IsDay(argv[i + 1])) {
      to = argv[++i];
    } else if (folder.empty() && !argument.starts_with("-")) {
      folder = argument;
    } else {
      return Usage();
    }
  }
  if (folder.empty() == ledger.empty() || (totals && !csv)) return Usage();
  if (!ledger.empty()) {
#if QUILLARO_HAS_LEDGER
    std::string error;
    const quillaro::LedgerRange range{from, to};
    const std::optional<std::string> text =
        csv ? quillaro::LedgerCsv(ledger, range, totals, &error)
            : quillaro::LedgerTotals(ledger, range, &error);
    if (!text) {
      std::fprintf(stderr, "quillaro-report: %s\n", error.c_str());
      return 1;
    }
    std::fwrite(text->data(), 1, text->size(), stdout);
    return 0;
#else
    std::fputs("quillaro-report: this build has no ledger\n", stderr);
    return 1;
#endif
  }
  if (!from.empty() || !to.empty()) return Usage();
  std::vector<std::string> skipped;
  const std::vector<quillaro::JobSummary> jobs = quillaro::SummariseFolder(folder, skipped);
  for (const std::string& file : skipped)
    std::fprintf(stderr, "skipped (no report): %s\n", file.c_str());
  const std::string text = csv ? quillaro::FormatSummaryCsv(jobs, totals)
                               : quillaro::FormatSummaryTable(jobs);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}
