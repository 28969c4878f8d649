// quillaro-report: a summary of the job reports in a folder, for people or,
// with --csv, for an accounting import.
//   quillaro-report [--csv] FOLDER

#include <cstdio>
#include <string>
#include <vector>

#include "report_tool/report_summary.h"

int main(int argc, char** argv) {
  bool csv = false;
  std::string folder;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--csv") {
      csv = true;
    } else if (folder.empty() && !argument.starts_with("-")) {
      folder = argument;
    } else {
      folder.clear();
      break;
    }
  }
  if (folder.empty()) {
    std::fputs(
        "usage: quillaro-report [--csv] FOLDER\n"
        "  Sums up FOLDER/*_report.json: one line per job (pages of one copy,\n"
        "  colour, mono, blank, sheets, copies, media) and a total in which\n"
        "  every figure is multiplied by its job's copies.\n",
        stderr);
    return 2;
  }
  std::vector<std::string> skipped;
  const std::vector<quillaro::JobSummary> jobs = quillaro::SummariseFolder(folder, skipped);
  for (const std::string& file : skipped)
    std::fprintf(stderr, "skipped (no report): %s\n", file.c_str());
  const std::string text =
      csv ? quillaro::FormatSummaryCsv(jobs) : quillaro::FormatSummaryTable(jobs);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}
