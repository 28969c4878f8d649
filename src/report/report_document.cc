#include "report/report_document.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "report/job_failure.h"
#include "imaging/page_verdict.h"
#include "report/sheet_plan.h"
#include "report/standard_media.h"

namespace quillaro {
namespace {

using json = nlohmann::ordered_json;

// The report lists no more pages than the rendering reaches.
constexpr int64_t kMaxReportedPages = kColorCoverageMaxPages;
// Pages whose sheet has no standard name are counted under this key.
constexpr char kUnnamedMedia[] = "other";

json OptionalText(const std::optional<std::string>& text) {
  return text ? json(*text) : json(nullptr);
}

json MediaJson(const Media& media) {
  return {{"width_mm", media.width_mm},
          {"height_mm", media.height_mm},
          {"name", OptionalText(media.name)},
          {"orientation", media.landscape ? "landscape" : "portrait"},
          {"size_class", SizeClassName(media)}};
}

json SourcedJson(const std::optional<SourcedText>& text) {
  if (!text) return nullptr;
  return {{"value", text->value}, {"source", text->source}};
}

// "2026-12-08T09:30:00Z"; null for a time never set.
json UtcTimeJson(std::chrono::system_clock::time_point time) {
  if (time == std::chrono::system_clock::time_point{}) return nullptr;
  const auto seconds = std::chrono::floor<std::chrono::seconds>(time);
  const auto days = std::chrono::floor<std::chrono::days>(seconds);
  const std::chrono::year_month_day date{days};
  const std::chrono::hh_mm_ss clock{seconds - days};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

// Each page's duplex and copies: the job's own page by page when it
// changes them between pages and the scan found as many pages as the
// interpreter counted, else the job's for every page.
std::vector<PageSettings> SettingsOfPages(const JobFileFacts& file, int64_t page_count) {
  if (!file.pages.empty() && static_cast<int64_t>(file.pages.size()) == page_count) {
    return file.pages;
  }
  return {};
}

// The probed pages as notes of their size alone: their pixels were never
// looked at.
std::vector<PageNote> ProbedPageNotes(const ProbedMedia& probe) {
  std::vector<PageNote> notes;
  for (const ProbedPage& page : probe.pages) {
    PageNote note;
    note.number = page.number;
    note.width_px = page.width_px;
    note.height_px = page.height_px;
    notes.push_back(note);
  }
  return notes;
}

// The pages as the job describes them. A job that asks for several copies
// of a page itself has that page rendered that many times in a row; when
// the rendered pages are exactly that, every copy but the first of each
// page is left out, so that the pages are those of one copy.
std::vector<PageNote> PagesOfOneCopy(const std::vector<PageNote>& noted, int64_t page_count,
                                     const JobFileFacts& file,
                                     const std::vector<PageSettings>& settings) {
  // Copies of a page the page description asks for; the interpreter
  // renders them, which the count below checks.
  if ((!file.page_copies_rendered && settings.empty()) || page_count < 1) return noted;
  std::vector<size_t> copies(static_cast<size_t>(page_count),
                             static_cast<size_t>(file.page_copies));
  for (size_t i = 0; i < settings.size(); ++i) copies[i] = static_cast<size_t>(settings[i].copies);
  size_t rendered = 0;
  for (const size_t count : copies) rendered += count;
  if (rendered == copies.size() || noted.size() != rendered) return noted;
  std::vector<PageNote> pages;
  for (size_t i = 0, at = 0; i < copies.size(); at += copies[i++]) {
    pages.push_back(noted[at]);
    pages.back().number = static_cast<int32_t>(pages.size());
  }
  return pages;
}

// The page's CMYK after undercolour removal, in percent of full ink.
json CoverageJson(const PageInkCounts& counts) {
  auto percent = [&](uint64_t sum) {
    if (counts.pixels == 0) return 0.0;
    return std::round(static_cast<double>(sum) * 10000.0 / (255.0 * static_cast<double>(counts.pixels))) / 100.0;
  };
  return {{"cyan", percent(counts.cyan)},
          {"magenta", percent(counts.magenta)},
          {"yellow", percent(counts.yellow)},
          {"black", percent(counts.black)}};
}

json ErrorsJson(const ReportNotes& notes) {
  json errors = json::array();
  const std::pair<const char*, const StageNote*> stages[] = {{"measurement", &notes.measurement.note},
                                                             {"rendering", &notes.rendering},
                                                             {"media_probe", &notes.media_probe.note}};
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
  if (notes.measurement.note.ran()) timings["measurement"] = notes.measurement.note.elapsed_ms();
  if (notes.rendering.ran()) timings["rendering"] = notes.rendering.elapsed_ms();
  if (facts.pages_rendered) timings["imaging"] = notes.imaging.elapsed_ms;
  if (notes.media_probe.note.ran()) timings["media_probe"] = notes.media_probe.note.elapsed_ms();
  timings["report"] = facts.report_elapsed_ms;
  return timings;
}

}  // namespace

nlohmann::ordered_json BuildReportDocument(const ReportFacts& facts) {
  const ReportNotes& notes = *facts.notes;
  const JobFileFacts& file = notes.job_file.facts;
  const bool counted = notes.measurement.note.succeeded_run() != nullptr;
  const std::vector<PageSettings> settings =
      SettingsOfPages(file, counted ? notes.measurement.pages : 0);
  const std::vector<PageNote> noted =
      PagesOfOneCopy(facts.pages_rendered ? notes.imaging.pages : ProbedPageNotes(notes.media_probe),
                     notes.measurement.pages, file, settings);
  const int64_t page_count = counted ? notes.measurement.pages : static_cast<int64_t>(noted.size());

  json pages = json::array();
  json media_totals = json::object();
  int64_t ink_totals[3] = {0, 0, 0};  // colour, mono, blank
  const int64_t listed =
      std::min(kMaxReportedPages, std::max(page_count, static_cast<int64_t>(noted.size())));
  // Every page of one copy was seen: its size and, when rendered, its ink.
  bool complete = counted && listed == page_count;
  std::vector<PlannedPage> planned;
  for (int64_t number = 1; number <= listed; ++number) {
    const PageNote* note =
        number <= static_cast<int64_t>(noted.size()) ? &noted[number - 1] : nullptr;
    json page = {{"number", number}, {"media", nullptr}, {"ink", nullptr}, {"coverage", nullptr}};
    PlannedPage plan;
    const size_t index = static_cast<size_t>(number - 1);
    plan.duplex = index < settings.size() ? settings[index].duplex : file.duplex;
    plan.copies = index < settings.size() ? settings[index].copies : file.page_copies;
    if (note != nullptr && note->width_px > 0 && note->height_px > 0) {
      const Media media = MediaOfRenderedPage(note->width_px, note->height_px);
      page["media"] = MediaJson(media);
      const std::string key = media.name.value_or(kUnnamedMedia);
      media_totals[key] = media_totals.value(key, 0) + 1;
      plan.size = key;
      plan.size_class = SizeClassName(media);
    } else {
      complete = false;
    }
    if (facts.pages_rendered && note != nullptr && note->ink_counts) {
      InkVerdict verdict = JudgeInk(*note->ink_counts, facts.colour_rule);
      // A driver's grayscale request: the printer prints the page in gray.
      if (verdict == InkVerdict::kColour && file.colour_mode == ColourMode::kGrayscale) {
        verdict = InkVerdict::kMono;
      }
      page["ink"] = InkVerdictName(verdict);
      ++ink_totals[static_cast<int>(verdict)];
      page["coverage"] = CoverageJson(*note->ink_counts);
      plan.ink = verdict;
    } else if (facts.pages_rendered) {
      complete = false;
    }
    planned.push_back(plan);
    pages.push_back(std::move(page));
  }
  const SheetPlan plan = PlanSheets(planned);
  for (size_t i = 0; i < pages.size(); ++i) {
    pages[i]["duplex"] = DuplexModeName(planned[i].duplex);
    pages[i]["copies"] = planned[i].copies;
    pages[i]["sheet"] = plan.pages[i].sheet;
    pages[i]["side"] = plan.pages[i].back ? "back" : "front";
    pages[i]["printed"] = plan.pages[i].printed;
  }

  json totals = {{"media", media_totals},
                 {"sheets", plan.sheets},
                 {"impressions", plan.impressions},
                 {"colour_pages", nullptr},
                 {"mono_pages", nullptr},
                 {"blank_pages", nullptr}};
  if (facts.pages_rendered) {
    totals["colour_pages"] = ink_totals[static_cast<int>(InkVerdict::kColour)];
    totals["mono_pages"] = ink_totals[static_cast<int>(InkVerdict::kMono)];
    totals["blank_pages"] = ink_totals[static_cast<int>(InkVerdict::kBlank)];
  }

  // The pages' own copies are in the plan's copied figures; PJL QTY
  // repeats the whole job on top.
  const int64_t copies = file.copies();
  const int64_t job_copies = file.job_copies;
  json by_size = json::array();
  for (const SizeClassCount& entry : plan.by_size) {
    by_size.push_back({{"size", entry.size},
                       {"size_class", entry.size_class},
                       {"colour", entry.colour},
                       {"impressions", entry.impressions * job_copies},
                       {"sheets", entry.sheets * job_copies}});
  }
  const json job_totals = {{"copies", copies},
                           {"impressions", plan.copied_impressions * job_copies},
                           {"sheets", plan.copied_sheets * job_copies},
                           {"by_size", by_size},
                           {"partial", !complete}};

  json pjl = json::object();
  const PjlAttributes& attributes = file.pjl;
  const std::pair<const char*, const std::optional<std::string>*> pjl_fields[] = {
      {"job_name", &attributes.job_name},     {"jobname", &attributes.set_jobname},
      {"user_name", &attributes.user_name},   {"job_account_user", &attributes.job_account_user},
      {"job_account_host", &attributes.job_account_host},
      {"duplex", &attributes.duplex},         {"binding", &attributes.binding},
      {"paper", &attributes.paper},           {"resolution", &attributes.resolution},
      {"qty", &attributes.qty},               {"copies", &attributes.copies},
      {"rendermode", &attributes.rendermode}, {"grayscale", &attributes.grayscale}};
  for (const auto& [key, value] : pjl_fields) {
    if (*value) pjl[key] = **value;
  }

  json interpreter = nullptr;
  if (const InterpreterRunNote* run = SucceededInterpreterRun(notes)) {
    interpreter = {{"name", InterpreterProgramName(run->interpreter)},
                   {"version", OptionalText(facts.interpreter_version)}};
  }
  const std::optional<std::string> failure = JobFailureReason(notes);
  const bool read = file.read;
  return {{"job", facts.job},
          {"job_id", read && !file.job_id.empty() ? json(file.job_id) : json(nullptr)},
          {"received", UtcTimeJson(notes.received)},
          {"language", OptionalText(file.language.language)},
          {"language_source", LanguageSourceName(file.language.source)},
          {"interpreter", interpreter},
          {"user", SourcedJson(file.user)},
          {"job_name", SourcedJson(file.job_name)},
          {"title", SourcedJson(file.title)},
          {"copies", copies},
          {"copies_source", file.copies_source},
          {"collated", copies < 2 ? json() : json(file.page_copies == 1)},
          {"duplex", DuplexModeName(file.duplex)},
          {"duplex_source", file.duplex_source},
          {"colour_mode", ColourModeName(file.colour_mode)},
          {"colour_mode_source", file.colour_mode_source},
          {"pjl", pjl},
          {"page_count", counted ? json(page_count) : json(nullptr)},
          {"pages", pages},
          {"totals", totals},
          {"job_totals", job_totals},
          {"verdict_rule", {{"chroma_threshold", facts.colour_rule.chroma_threshold},
                            {"inked_below", facts.colour_rule.inked_below},
                            {"min_coloured_pixels", facts.colour_rule.min_coloured_pixels},
                            {"neighbourhood_radius_px", facts.colour_rule.neighbourhood_radius_px}}},
          {"timings_ms", TimingsJson(facts)},
          {"failure", OptionalText(failure)},
          {"errors", ErrorsJson(notes)}};
}

std::string ReportFileBytes(const nlohmann::ordered_json& document) {
  return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace quillaro
