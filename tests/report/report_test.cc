// The job report through the real service over the generated corpus: every other result stays
// as it was, and every page of the report corpus gets its sheet and its ink verdict.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <sys/wait.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "imaging/page_verdict.h"
#include "service/service_process.h"
#include "support/corpus.h"

namespace quillaro::testing {
namespace {

using Folder = std::map<std::string, std::string>;  // file name: bytes
using Json = nlohmann::json;

// A corpus job under a name whose STEM is its own (a4_3pages.ps and a4_3pages.pdf share one).
std::string OwnStem(const std::string& name) {
  return Stem(name) + "_" + name.substr(name.rfind('.') + 1) + name.substr(name.rfind('.'));
}

std::vector<std::string> AllJobs() {
  std::vector<std::string> jobs = ReportCorpusJobs();
  for (const CorpusEntry& entry : CorpusEntries()) jobs.push_back(entry.name);
  return jobs;
}

struct CorpusRun {
  Folder out;
  Folder failed;
  std::vector<std::string> log;  // messages, without time stamps and the folder, sorted
  std::string csv;               // quillaro-report --csv out/
};

Folder ReadFolder(const fs::path& folder) {
  Folder files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error))
    files[entry.path().filename().string()] = ReadFileBytes(entry.path());
  return files;
}

// Every job through the service, Type `type`, with or without the report (and quarantine);
// each combination runs once per test program.
const CorpusRun& RunCorpus(int type, bool report) {
  static std::map<std::pair<int, bool>, CorpusRun> runs;
  CorpusRun& run = runs[{type, report}];
  if (!run.out.empty()) return run;
  ServiceProcess service("IsConvert=1\nIsLog=1\nType=" + std::to_string(type) +
                         (report ? "\nIsReport=1\nIsQuarantine=1\n" : "\n"));
  EXPECT_TRUE(service.Start()) << service.Errors();
  for (const std::string& job : AllJobs()) CopyIn(CorpusPath(job), service, OwnStem(job));
  for (const std::string& job : AllJobs())
    EXPECT_TRUE(WaitForFile(service.out() / (OwnStem(job) + "_done"), 180)) << job;
  EXPECT_EQ(service.Stop(), 0);
  run.out = ReadFolder(service.out());
  run.failed = ReadFolder(service.root() / "failed");
  const std::string bytes = ReadFileBytes(service.root() / "log.txt");
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i];  // UTF-16LE, ASCII here
  SplitString(text, "\r\n", run.log, false);
  for (std::string& line : run.log) {
    line = line.substr(line.find('\t') + 1);
    ReplaceAll(line, service.root().string(), "");
  }
  std::sort(run.log.begin(), run.log.end());
  const fs::path tool = fs::path(ToNarrow(GetModuleFolder())).parent_path().parent_path();
  // Appended piece by piece: GCC 12 sees a false overlap (-Wrestrict) in "..." + string.
  std::string command = "'";
  command.append((tool / "quillaro-report").string()).append("' --csv '");
  command.append(service.out().string()).append("' >'");
  command.append((service.root() / "csv").string()).append("'");
  std::system(command.c_str());
  run.csv = ReadFileBytes(service.root() / "csv");
  return run;
}

TEST(ReportTest, EveryOtherResultAndLogLineIsTheSameWithTheReport) {
  for (int type : {0, 2}) {
    SCOPED_TRACE(type);
    const CorpusRun& without = RunCorpus(type, false);
    Folder others = RunCorpus(type, true).out;
    const size_t reports = std::erase_if(
        others, [](const auto& file) { return file.first.ends_with("_report.json"); });
    EXPECT_EQ(reports, AllJobs().size());
    EXPECT_EQ(others.size(), without.out.size());
    for (const auto& [name, bytes] : without.out) EXPECT_TRUE(others[name] == bytes) << name;
    EXPECT_EQ(RunCorpus(type, true).log, without.log);
  }
}

TEST(ReportTest, EveryPageGetsItsSheetAndInkVerdictAndTheTotalsAddUp) {
  const struct {
    double width_mm, height_mm;
    const char* name;  // nullptr: no standard sheet
    const char* ink;
  } kPages[] = {{420, 297, "A3", "mono"},          {210, 297, "A4", "colour"},
                {148, 210, "A5", "colour"},        {215.9, 279.4, "Letter", "blank"},
                {215.9, 355.6, "Legal", "colour"}, {100, 150, nullptr, "mono"}};
  const struct {
    const char* job;
    const char* language;
    const char* source;
    const char* interpreter;
    int copies;
    bool has_blank_page;  // xpswrite leaves it out
    bool a3_portrait;     // pxlcolor turns the landscape page into a portrait sheet
  } kJobs[] = {{"report.ps", "PS", "content", "gs", 1, true, false},
               {"report.pdf", "PDF", "content", "gs", 1, true, false},
               {"report.pxl", "PCLXL", "pjl", "gpcl6", 1, true, true},
               {"report.xps", "XPS", "content", "gxps", 1, false, false},
               {"report_pjl.prn", "PDF", "pjl", "gs", 2, true, false}};
  for (int type : {2, 0}) {
    const CorpusRun& run = RunCorpus(type, true);
    for (const auto& job : kJobs) {
      SCOPED_TRACE(std::string(job.job) + " Type=" + std::to_string(type));
      const Json report = Json::parse(run.out.at(OwnStem(job.job) + "_report.json"));
      EXPECT_EQ(report["language"], job.language);
      EXPECT_EQ(report["language_source"], job.source);
      EXPECT_EQ(report["interpreter"]["name"], job.interpreter);
      EXPECT_FALSE(report["interpreter"]["version"].is_null());
      EXPECT_EQ(report["copies"], job.copies);
      EXPECT_TRUE(report["failure"].is_null());
      const size_t pages = job.has_blank_page ? 6 : 5;
      EXPECT_EQ(report["page_count"], pages);
      ASSERT_EQ(report["pages"].size(), pages);
      std::map<std::string, int> verdicts, media;
      for (size_t i = 0, sheet = 0; i < pages; ++i, ++sheet) {
        if (!job.has_blank_page && sheet == 3) ++sheet;
        const auto& expected = kPages[sheet];
        const Json& page = report["pages"][i];
        SCOPED_TRACE(page.dump());
        EXPECT_EQ(page["number"], i + 1);
        const bool swap = job.a3_portrait && sheet == 0;
        EXPECT_NEAR(page["media"]["width_mm"], swap ? expected.height_mm : expected.width_mm, 1.5);
        EXPECT_NEAR(page["media"]["height_mm"], swap ? expected.width_mm : expected.height_mm, 1.5);
        EXPECT_EQ(page["media"]["name"], expected.name ? Json(expected.name) : Json());
        EXPECT_EQ(page["media"]["orientation"], sheet == 0 && !swap ? "landscape" : "portrait");
        EXPECT_EQ(page["ink"], type == 0 ? Json() : Json(expected.ink));
        ++verdicts[expected.ink];
        ++media[expected.name ? expected.name : "other"];
      }
      const Json& totals = report["totals"];
      EXPECT_EQ(totals["media"], Json(media));
      // The PJL job is duplex, but every page asks for a sheet of another size.
      EXPECT_EQ(totals["sheets"], pages);
      EXPECT_EQ(report["duplex"], job.copies == 2 ? "long_edge" : "simplex");
      for (const char* ink : {"colour", "mono", "blank"})
        EXPECT_EQ(totals[std::string(ink) + "_pages"], type == 0 ? Json() : Json(verdicts[ink]));
    }
  }
  const Json pjl = Json::parse(RunCorpus(2, true).out.at("report_pjl_prn.prn_report.json"))["pjl"];
  EXPECT_EQ(pjl, Json::parse(R"({"job_name": "Quarterly report", "user_name": "alice",
                                 "duplex": "ON", "resolution": "600", "qty": "2"})"));
  EXPECT_NE(RunCorpus(2, true).csv.find(
                "\r\nreport_pjl_prn.prn,6,3,2,1,6,2,A3:1;A4:1;A5:1;Legal:1;Letter:1;other:1,\r\n"),
            std::string::npos)
      << RunCorpus(2, true).csv;
}

// Every report the corpus gives, rendered or not, failed or not, follows the published schema,
// and the check itself tells a report that does not.
TEST(ReportTest, EveryReportFollowsThePublishedSchema) {
  const fs::path repo = fs::path(QUILLARO_TEST_DATA_DIR).parent_path().parent_path();
  const fs::path folder = fs::temp_directory_path() / ("quillaro-schema-" + std::to_string(getpid()));
  fs::create_directories(folder);
  std::string files;
  for (int type : {0, 2}) {
    for (const auto& [name, bytes] : RunCorpus(type, true).out) {
      if (!name.ends_with("_report.json")) continue;
      const fs::path file = folder / (std::to_string(type) + "_" + name);
      WriteFileBytes(file, bytes);
      files.append(" '").append(file.string()).append("'");
    }
  }
  Json broken = Json::parse(RunCorpus(2, true).out.at("report_ps.ps_report.json"));
  broken["pages"][0]["ink"] = "grey";
  WriteFileBytes(folder / "broken.json", broken.dump());
  std::string check = "/usr/bin/python3 '";
  check.append((repo / "scripts" / "check_json_schema.py").string()).append("' '");
  check.append((repo / "docs" / "report.schema.json").string()).append("'");
  const int good = std::system((check + files).c_str());
  const int bad = std::system((check + " '" + (folder / "broken.json").string() + "'").c_str());
  fs::remove_all(folder);
  if (WIFEXITED(good) && WEXITSTATUS(good) == 2)
    GTEST_SKIP() << "python3-jsonschema is missing: bash scripts/install_deps.sh installs it";
  EXPECT_EQ(good, 0);
  EXPECT_TRUE(WIFEXITED(bad) && WEXITSTATUS(bad) == 1) << bad;
}

TEST(ReportTest, AJobTheInterpretersCannotReadIsQuarantinedWithTheReasonItsReportGives) {
  const CorpusRun& run = RunCorpus(2, true);
  const Json report = Json::parse(run.out.at("report_broken_ps.ps_report.json"));
  const std::string failure = report["failure"];
  EXPECT_TRUE(failure.starts_with("measurement failed: gs exit code 1: Error: /undefined"))
      << failure;
  ASSERT_EQ(report["errors"].size(), 2u);  // measurement and rendering
  EXPECT_EQ(report["errors"][1]["stage"], "rendering");
  EXPECT_EQ(report["errors"][1]["exit_code"], 1);
  EXPECT_NE(report["errors"][1]["last_lines"].dump().find("no-such-operator-here"),
            std::string::npos);
  EXPECT_EQ(run.failed.at("report_broken_ps.ps"), ReadFileBytes(CorpusPath("report_broken.ps")));
  EXPECT_EQ(run.failed.at("report_broken_ps.ps.reason.txt"), failure + "\n");
  EXPECT_EQ(run.failed.size(), 2u);
  EXPECT_EQ(run.out.count("report_broken_ps.ps_done"), 1u);
  EXPECT_EQ(RunCorpus(2, false).failed.size(), 0u);
}

// The verdict's numbers are settings: a page with a small logo (about 400 coloured pixels at
// 100 dpi) is colour by the defaults and mono once a page needs 1000; the report names the
// numbers that judged it, and a value out of bounds takes its default.
TEST(ReportTest, TheColourRuleComesFromTheSettingsAndJudgesTheRenderedPage) {
  TempDir dir;
  WriteFileBytes(dir.path() / "logo.ps", "%!PS\n0.1 0.3 0.8 setrgbcolor 250 5 14 14 rectfill "
                                         "0 setgray 72 700 200 1 rectfill showpage\n");
  for (const bool strict : {false, true}) {
    SCOPED_TRACE(strict);
    ServiceProcess service(std::string("IsConvert=1\nType=1\nIsReport=1\n") +
                           (strict ? "ReportMinColouredPixels=1000\nReportChromaThreshold=30\n"
                                     "ReportInkedBelow=250\nReportNeighbourhoodRadius=11\n"
                                   : ""));
    ASSERT_TRUE(service.Start()) << service.Errors();
    CopyIn(dir.path() / "logo.ps", service, "logo.ps");
    ASSERT_TRUE(WaitForFile(service.out() / "logo.ps_done", 60));
    EXPECT_EQ(service.Stop(), 0);
    const Json report = Json::parse(ReadFileBytes(service.out() / "logo.ps_report.json"));
    EXPECT_EQ(report["pages"][0]["ink"], strict ? "mono" : "colour");
    EXPECT_EQ(report["verdict_rule"],
              Json({{"chroma_threshold", strict ? 30 : 24}, {"inked_below", strict ? 250 : 248},
                    {"min_coloured_pixels", strict ? 1000 : 64},
                    {"neighbourhood_radius_px", 2}}));
  }
}

}  // namespace
}  // namespace quillaro::testing
