#include "report/report_document.h"

#include <algorithm>
#include <cmath>

#include "report/job_failure.h"
#include "report/page_verdict.h"
#include "report/standard_media.h"

namespace quillaro {
namespace {

using json = nlohmann::ordered_json;

// The report lists no more pages than the rendering reaches.
constexpr int64_t kMaxReportedPages = kColorCoverageMaxPages;
// Pages whose sheet has no standard name are counted under this key.
constexpr char kUnnamedMedia[] = "other";

double TwoDecimals(float percentage) {
  return std::round(static_cast<double>(percentage) * 100.0) / 100.0;
}

json OptionalText(const std::optional<std::string>& text) {
  return text ? json(*text) : json(nullptr);
}

json MediaJson(const Media& media) {
  return {{"width_mm", media.width_mm},
          {"height_mm", media.height_mm},
          {"name", OptionalText(media.name)},
          {"orientation", media.landscape ? "landscape" : "portrait"}};
}

json CoverageJson(const PageInk& ink) {
  return {{"cyan", TwoDecimals(PageInkPercentage(ink.sums.cyan, ink.pixel_count))},
          {"magenta", TwoDecimals(PageInkPercentage(ink.sums.magenta, ink.pixel_count))},
          {"yellow", TwoDecimals(PageInkPercentage(ink.sums.yellow, ink.pixel_count))},
          {"black", TwoDecimals(PageInkPercentage(ink.sums.black, ink.pixel_count))}};
}

json ErrorsJson(const ReportNotes& notes) {
  json errors = json::array();
  const std::pair<const char*, const StageNote*> stages[] = {{"measurement", &notes.measurement},
                                                             {"rendering", &notes.rendering},
                                                             {"media_probe", &notes.media_probe}};
  for (const auto& [name, stage] : stages) {
    if (!stage->ran() || stage->succeeded_run() != nullptr) continue;
    for (const InterpreterRunNote& run : stage->runs) {
      errors.push_back({{"stage", name},
                        {"interpreter", InterpreterProgramName(run.interpreter)},
                        {"exit_code", run.exit_code},
                        {"counted_no_pages", run.counted_no_pages},
                        {"last_lines", run.last_lines}});
    }
  }
  return errors;
}

json TimingsJson(const ReportFacts& facts) {
  const ReportNotes& notes = *facts.notes;
  json timings = json::object();
  if (notes.measurement.ran()) timings["measurement"] = notes.measurement.elapsed_ms();
  if (notes.rendering.ran()) timings["rendering"] = notes.rendering.elapsed_ms();
  if (facts.pages_rendered) timings["imaging"] = notes.imaging_elapsed_ms;
  if (notes.media_probe.ran()) timings["media_probe"] = notes.media_probe.elapsed_ms();
  timings["report"] = facts.report_elapsed_ms;
  return timings;
}

}  // namespace

nlohmann::ordered_json BuildReportDocument(const ReportFacts& facts) {
  const ReportNotes& notes = *facts.notes;
  const std::vector<PageNote>& noted = facts.pages_rendered ? notes.pages : notes.probed_pages;
  const bool counted = notes.measurement.succeeded_run() != nullptr;
  const int64_t page_count = counted ? notes.measured_pages : static_cast<int64_t>(noted.size());

  json pages = json::array();
  json media_totals = json::object();
  int64_t ink_totals[3] = {0, 0, 0};  // colour, mono, blank
  const int64_t listed =
      std::min(kMaxReportedPages, std::max(page_count, static_cast<int64_t>(noted.size())));
  for (int64_t number = 1; number <= listed; ++number) {
    const PageNote* note =
        number <= static_cast<int64_t>(noted.size()) ? &noted[number - 1] : nullptr;
    json page = {{"number", number}, {"media", nullptr}, {"ink", nullptr}, {"coverage", nullptr}};
    if (note != nullptr && note->width_px > 0 && note->height_px > 0) {
      const Media media = MediaOfRenderedPage(note->width_px, note->height_px);
      page["media"] = MediaJson(media);
      const std::string key = media.name.value_or(kUnnamedMedia);
      media_totals[key] = media_totals.value(key, 0) + 1;
    }
    if (facts.pages_rendered && note != nullptr && note->ink_counts) {
      const InkVerdict verdict = JudgeInk(*note->ink_counts);
      page["ink"] = InkVerdictName(verdict);
      ++ink_totals[static_cast<int>(verdict)];
      if (note->ink) page["coverage"] = CoverageJson(*note->ink);
    }
    pages.push_back(std::move(page));
  }

  json totals = {{"media", media_totals},
                 {"sheets", facts.pjl.duplex_on() ? (page_count + 1) / 2 : page_count},
                 {"colour_pages", nullptr},
                 {"mono_pages", nullptr},
                 {"blank_pages", nullptr}};
  if (facts.pages_rendered) {
    totals["colour_pages"] = ink_totals[static_cast<int>(InkVerdict::kColour)];
    totals["mono_pages"] = ink_totals[static_cast<int>(InkVerdict::kMono)];
    totals["blank_pages"] = ink_totals[static_cast<int>(InkVerdict::kBlank)];
  }

  json pjl = json::object();
  const std::pair<const char*, const std::optional<std::string>*> pjl_fields[] = {
      {"job_name", &facts.pjl.job_name},
      {"user_name", &facts.pjl.user_name},
      {"duplex", &facts.pjl.duplex},
      {"paper", &facts.pjl.paper},
      {"resolution", &facts.pjl.resolution}};
  for (const auto& [key, value] : pjl_fields) {
    if (*value) pjl[key] = **value;
  }

  json interpreter = nullptr;
  if (const InterpreterRunNote* run = SucceededInterpreterRun(notes)) {
    interpreter = {{"name", InterpreterProgramName(run->interpreter)},
                   {"version", OptionalText(facts.interpreter_version)}};
  }
  const std::optional<std::string> failure = JobFailureReason(notes);
  return {{"job", facts.job},
          {"language", OptionalText(facts.language.language)},
          {"language_source", LanguageSourceName(facts.language.source)},
          {"interpreter", interpreter},
          {"copies", facts.copies},
          {"pjl", pjl},
          {"page_count", counted ? json(page_count) : json(nullptr)},
          {"pages", pages},
          {"totals", totals},
          {"timings_ms", TimingsJson(facts)},
          {"failure", OptionalText(failure)},
          {"errors", ErrorsJson(notes)}};
}

std::string ReportFileBytes(const nlohmann::ordered_json& document) {
  return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace quillaro
