#include "report_tool/report_summary.h"

#include "config/result_names.h"
#include "report_tool/aligned_table.h"
#include "report_tool/csv_cell.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <system_error>

namespace quillaro {
namespace {

using nlohmann::json;

std::optional<int64_t> OptionalCount(const json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_number_integer()) return std::nullopt;
  return found->get<int64_t>();
}

// A figure the report does not give: "-" for people; CSV leaves it empty.
constexpr char kNoFigure = '-';

std::string Count(const std::optional<int64_t>& value) {
  return value ? std::to_string(*value) : std::string(1, kNoFigure);
}

std::string MediaText(const JobSummary& job, char separator) {
  std::string text;
  for (const auto& [name, pages] : job.media) {
    if (!text.empty()) text += separator;
    text += name + ":" + std::to_string(pages);
  }
  return text;
}

// The rows of both formats: one per job, then the total, each a list of
// fields in the order of kColumns.
constexpr const char* kColumns[] = {"job",    "pages",  "colour", "mono",   "blank",
                                    "sheets", "copies", "media",  "failure"};

std::vector<std::vector<std::string>> Rows(const std::vector<JobSummary>& jobs, char separator) {
  std::vector<std::vector<std::string>> rows;
  JobSummary total;
  total.job = "TOTAL";
  total.copies = 0;
  std::map<std::string, int64_t> total_media;
  auto add = [](std::optional<int64_t>& sum, const std::optional<int64_t>& value, int64_t times) {
    if (value) sum = sum.value_or(0) + *value * times;
  };
  for (const JobSummary& job : jobs) {
    rows.push_back({job.job, Count(job.pages), Count(job.colour_pages), Count(job.mono_pages),
                    Count(job.blank_pages), Count(job.sheets), std::to_string(job.copies),
                    MediaText(job, separator), job.failure});
    add(total.pages, job.pages, job.copies);
    add(total.colour_pages, job.colour_pages, job.copies);
    add(total.mono_pages, job.mono_pages, job.copies);
    add(total.blank_pages, job.blank_pages, job.copies);
    add(total.sheets, job.sheets, job.copies);
    total.copies += job.copies;
    for (const auto& [name, pages] : job.media) total_media[name] += pages * job.copies;
  }
  total.media.assign(total_media.begin(), total_media.end());
  const size_t failed = static_cast<size_t>(std::count_if(
      jobs.begin(), jobs.end(), [](const JobSummary& j) { return !j.failure.empty(); }));
  rows.push_back({total.job, Count(total.pages), Count(total.colour_pages), Count(total.mono_pages),
                  Count(total.blank_pages), Count(total.sheets), std::to_string(total.copies),
                  MediaText(total, separator),
                  failed == 0 ? "" : std::to_string(failed) + " failed"});
  return rows;
}

}  // namespace

std::optional<JobSummary> SummariseReport(const std::string& json_text) {
  const json report = json::parse(json_text, nullptr, false);
  if (report.is_discarded() || !report.is_object()) return std::nullopt;
  const auto job = report.find("job");
  if (job == report.end() || !job->is_string()) return std::nullopt;
  JobSummary summary;
  summary.job = job->get<std::string>();
  summary.pages = OptionalCount(report, "page_count");
  summary.copies = OptionalCount(report, "copies").value_or(1);
  const auto totals = report.find("totals");
  if (totals != report.end() && totals->is_object()) {
    summary.colour_pages = OptionalCount(*totals, "colour_pages");
    summary.mono_pages = OptionalCount(*totals, "mono_pages");
    summary.blank_pages = OptionalCount(*totals, "blank_pages");
    summary.sheets = OptionalCount(*totals, "sheets");
    const auto media = totals->find("media");
    if (media != totals->end() && media->is_object()) {
      for (const auto& [name, pages] : media->items()) {
        if (pages.is_number_integer()) summary.media.emplace_back(name, pages.get<int64_t>());
      }
    }
  }
  const auto failure = report.find("failure");
  if (failure != report.end() && failure->is_string())
    summary.failure = failure->get<std::string>();
  return summary;
}

std::vector<JobSummary> SummariseFolder(const std::string& folder,
                                        std::vector<std::string>& skipped) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.size() > kReportSuffix.size() && name.ends_with(kReportSuffix)) {
      files.push_back(entry->path());
    }
  }
  std::sort(files.begin(), files.end());
  std::vector<JobSummary> jobs;
  for (const std::filesystem::path& file : files) {
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    if (std::optional<JobSummary> summary = SummariseReport(text.str())) {
      jobs.push_back(std::move(*summary));
    } else {
      skipped.push_back(file.string());
    }
  }
  return jobs;
}

std::string FormatSummaryTable(const std::vector<JobSummary>& jobs) {
  std::vector<std::vector<std::string>> rows = Rows(jobs, ' ');
  std::vector<std::string> header(std::begin(kColumns), std::end(kColumns));
  for (std::string& name : header) {
    std::transform(name.begin(), name.end(), name.begin(), [](char c) {
      return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    });
  }
  // Names and lists left-aligned, figures (pages to copies) right-aligned.
  return AlignedTable(header, rows, 1, 7);
}

std::string FormatSummaryCsv(const std::vector<JobSummary>& jobs, bool with_total) {
  std::string text;
  // Appended piece by piece: GCC 12 sees a false overlap (-Wrestrict) in "..." + string.
  for (size_t i = 0; i < std::size(kColumns); ++i) {
    if (i != 0) text += ',';
    text += kColumns[i];
  }
  text += "\r\n";
  std::vector<std::vector<std::string>> rows = Rows(jobs, ';');
  if (!with_total) rows.pop_back();
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      const bool no_figure = row[i].size() == 1 && row[i][0] == kNoFigure && i != 0;
      if (i != 0) text += ',';
      if (!no_figure) text += CsvCell(row[i]);
    }
    text += "\r\n";
  }
  return text;
}

}  // namespace quillaro
