// Real jobs made by Ghostscript's own drivers through the service: what the report and the
// ledger bill for copies, duplex and sheets.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "service/service_process.h"

namespace quillaro::testing {
namespace {

using Json = nlohmann::json;
const std::string kUel = "\x1b%-12345X";

std::string Sha256Sum(const fs::path& file) {
  const fs::path out = file.string() + ".sum";
  std::system(("sha256sum '" + file.string() + "' >'" + out.string() + "'").c_str());
  return ReadFileBytes(out).substr(0, 64);
}

std::string MakeWithGs(const fs::path& folder, const std::string& name, const std::string& ps,
                       const std::string& device_options) {
  const fs::path source = folder / (name + ".src.ps"), job = folder / name;
  WriteFileBytes(source, ps);
  const std::string command = "gs -q -dNOPAUSE -dBATCH -dSAFER " + device_options +
                              " -sOutputFile='" + job.string() + "' '" + source.string() + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return job.string();
}

// Runs the jobs `names` of `jobs` through `service` (reporting, started here) to their markers,
// then stops it.
void RunToTheirMarkers(ServiceProcess& service, const fs::path& jobs,
                       const std::vector<std::string>& names) {
  ASSERT_TRUE(service.Start()) << service.Errors();
  for (const std::string& name : names) CopyIn(jobs / name, service, name);
  for (const std::string& name : names)
    ASSERT_TRUE(WaitForFile(service.out() / (name + "_done"), 120)) << name;
  EXPECT_EQ(service.Stop(), 0);
}

// Real jobs through the service: copies the job asks for itself are rendered by the
// interpreter, yet the report lists the pages of one copy and bills every copy once.
TEST(JobFactsServiceTest, RealJobsAreBilledByCopiesDuplexAndSheets) {
  TempDir jobs;
  const std::string text = "/Helvetica findfont 24 scalefont setfont 72 600 moveto";
  const std::string three_pages = "%!PS\n" + text + " (one) show showpage\n" + text +
                                  " (two) show showpage\n" + text + " (three) show showpage\n";
  WriteFileBytes(jobs.path() / "deck.ps",
                 "%!PS-Adobe-3.0\n%%For: (alice)\n%%Title: (Deck)\n%%EndComments\n"
                 "<</NumCopies 2 /Duplex true>> setpagedevice\n" +
                     three_pages.substr(5));
  MakeWithGs(jobs.path(), "deck.pdf",
             "[ /Title (Deck as PDF) /DOCINFO pdfmark\n" + three_pages.substr(5),
             "-sDEVICE=pdfwrite");
  MakeWithGs(jobs.path(), "deck.pxl", three_pages,
             "-sDEVICE=pxlmono -dDuplex=true -dTumble=true -dNumCopies=2");
  // Duplex A4, A4, A5, A4 and a blank A4 back: three sheets, four impressions.
  WriteFileBytes(jobs.path() / "mixed.ps",
                 "%!PS\n<</Duplex true /PageSize [595 842]>> setpagedevice\n" + text +
                     " (a) show showpage " + text +
                     " (b) show showpage\n"
                     "<</PageSize [420 595]>> setpagedevice " +
                     text +
                     " (c) show showpage\n"
                     "<</PageSize [595 842]>> setpagedevice " +
                     text +
                     " (d) show showpage\n"
                     "showpage\n");

  // Colour content the driver asks to print in gray: billed mono.
  WriteFileBytes(jobs.path() / "gray.ps",
                 "%!PS\n<</ProcessColorModel /DeviceGray>> setpagedevice\n"
                 "1 0 0 setrgbcolor 72 400 200 40 rectfill showpage\n");

  ServiceProcess service("IsConvert=1\nType=2\nIsReport=1\n");
  const auto before = std::chrono::system_clock::now() - std::chrono::seconds(1);
  RunToTheirMarkers(service, jobs.path(),
                    {"deck.ps", "deck.pdf", "deck.pxl", "mixed.ps", "gray.ps"});
  if (HasFatalFailure()) return;

  const struct {
    const char* name;
    int copies;
    const char* duplex;
    int sheets, impressions;  // of one copy
    const char* title;
  } kExpected[] = {{"deck.ps", 2, "long_edge", 2, 3, "Deck"},
                   {"deck.pdf", 1, "simplex", 3, 3, "Deck as PDF"},
                   {"deck.pxl", 2, "short_edge", 2, 3, nullptr},
                   {"mixed.ps", 1, "long_edge", 3, 4, nullptr}};
  for (const auto& expected : kExpected) {
    SCOPED_TRACE(expected.name);
    const Json report =
        Json::parse(ReadFileBytes(service.out() / (std::string(expected.name) + "_report.json")));
    EXPECT_EQ(report["job_id"], Sha256Sum(jobs.path() / expected.name));
    EXPECT_EQ(report["copies"], expected.copies);
    EXPECT_EQ(report["duplex"], expected.duplex);
    EXPECT_EQ(report["totals"]["sheets"], expected.sheets);
    EXPECT_EQ(report["totals"]["impressions"], expected.impressions);
    EXPECT_EQ(report["job_totals"]["sheets"], expected.sheets * expected.copies);
    EXPECT_EQ(report["job_totals"]["impressions"], expected.impressions * expected.copies);
    EXPECT_EQ(report["job_totals"]["partial"], false);
    EXPECT_EQ(report["pages"].size(), report["page_count"]);
    EXPECT_EQ(report["title"].is_null() ? Json() : report["title"]["value"],
              expected.title ? Json(expected.title) : Json());
    // Received after the drop, before now, as UTC.
    const std::string received = report["received"];
    std::tm parts{};
    ASSERT_NE(strptime(received.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts), nullptr) << received;
    const auto at = std::chrono::system_clock::from_time_t(timegm(&parts));
    EXPECT_GE(at, std::chrono::floor<std::chrono::seconds>(before));
    EXPECT_LE(at, std::chrono::system_clock::now());
  }
  const Json deck = Json::parse(ReadFileBytes(service.out() / "deck.ps_report.json"));
  EXPECT_EQ(deck["user"], Json::parse(R"({"value": "alice", "source": "dsc_for"})"));
  EXPECT_EQ(deck["copies_source"], "postscript");
  const Json mixed = Json::parse(ReadFileBytes(service.out() / "mixed.ps_report.json"));
  EXPECT_EQ(mixed["pages"][4]["printed"], false);
  EXPECT_EQ(mixed["pages"][2]["media"]["name"], "A5");
  EXPECT_EQ(mixed["job_totals"]["by_size"].size(), 2u);
  const Json gray = Json::parse(ReadFileBytes(service.out() / "gray.ps_report.json"));
  EXPECT_EQ(gray["colour_mode"], "grayscale");
  EXPECT_EQ(gray["pages"][0]["ink"], "mono");
  EXPECT_EQ(gray["job_totals"]["by_size"][0]["colour"], "mono");

  // The ledger beside the service holds the same whole-job figures, size rows included.
  sqlite3* ledger = nullptr;
  ASSERT_EQ(sqlite3_open_v2((service.root() / "ledger.db").c_str(), &ledger, SQLITE_OPEN_READONLY,
                            nullptr),
            SQLITE_OK);
  sqlite3_stmt* query = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(ledger,
                               "SELECT COUNT(*), SUM(impressions), SUM(sheets), (SELECT "
                               "SUM(impressions) FROM job_sizes), (SELECT SUM(sheets) FROM "
                               "job_sizes), COUNT(DISTINCT user) FROM jobs",
                               -1, &query, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);
  std::vector<int64_t> figures;
  for (int i = 0; i < 6; ++i) figures.push_back(sqlite3_column_int64(query, i));
  sqlite3_finalize(query);
  sqlite3_close(ledger);
  // 6 + 3 + 6 + 4 + 1 impressions, 4 + 3 + 4 + 3 + 1 sheets; alice is the only user named.
  EXPECT_EQ(figures, (std::vector<int64_t>{5, 20, 15, 20, 15, 1}));
}

// Jobs that change duplex and copies between pages, in each language's own way: PostScript in
// a page's setup, PCL 5 by ESC&l#S between pages, PCL XL on each BeginPage and EndPage (as
// Ghostscript's pxlmono writes them from the PostScript job). Each page is billed with its own
// duplex and copies, and a change starts a new sheet; the job's figures stay the first page's.
TEST(JobFactsServiceTest, DuplexAndCopiesChangedBetweenPagesAreBilledPageByPage) {
  TempDir jobs;
  const std::string text = "/Helvetica findfont 24 scalefont setfont 72 600 moveto";
  std::string ps =
      "%!PS-Adobe-3.0\n%%Pages: 4\n%%EndComments\n%%BeginSetup\n"
      "<</Duplex true>> setpagedevice\n%%EndSetup\n";
  const char* page_setup[] = {"", "", "<</Duplex false /NumCopies 2>> setpagedevice\n",
                              "<</Duplex true /NumCopies 1>> setpagedevice\n"};
  for (int page = 1; page <= 4; ++page) {
    ps.append("%%Page: ").append(std::to_string(page) + " " + std::to_string(page));
    ps.append("\n%%BeginPageSetup\n").append(page_setup[page - 1]).append("%%EndPageSetup\n");
    ps.append(text + " (page " + std::to_string(page) + ") show showpage\n");
  }
  ps.append("%%Trailer\n%%EOF\n");
  WriteFileBytes(jobs.path() / "pages.ps", ps);
  MakeWithGs(jobs.path(), "pages.pxl", ps, "-sDEVICE=pxlmono");
  // Text, form feeds and raster data whose bytes hold a form feed and a duplex escape.
  WriteFileBytes(jobs.path() / "pages.pcl",
                 kUel +
                     "@PJL SET DUPLEX=ON\r\n@PJL ENTER LANGUAGE=PCL\r\n\x1b"
                     "E"
                     "\x1b&l1Sone\x0ctwo\x1b*r1A\x1b*b4W\x0c\x1b&l0S\x1b*rB\x0c"
                     "\x1b&l0Sthree\x0c\x1b&l2Sfour\x0c\x1b"
                     "E" +
                     kUel);

  ServiceProcess service("IsConvert=1\nType=2\nIsReport=1\n");
  RunToTheirMarkers(service, jobs.path(), {"pages.ps", "pages.pxl", "pages.pcl"});
  if (HasFatalFailure()) return;

  const struct {
    const char* name;
    const char* pages;  // duplex, copies, sheet and side of each page
    int sheets, job_sheets, job_impressions;
  } kExpected[] = {
      {"pages.ps", "long_edge 1 1f, long_edge 1 1b, simplex 2 2f, long_edge 1 3f, ", 3, 4, 5},
      {"pages.pxl", "long_edge 1 1f, long_edge 1 1b, simplex 2 2f, long_edge 1 3f, ", 3, 4, 5},
      {"pages.pcl", "long_edge 1 1f, long_edge 1 1b, simplex 1 2f, short_edge 1 3f, ", 3, 3, 4}};
  for (const auto& expected : kExpected) {
    SCOPED_TRACE(expected.name);
    const Json report =
        Json::parse(ReadFileBytes(service.out() / (std::string(expected.name) + "_report.json")));
    EXPECT_EQ(report["page_count"], 4);
    std::string pages;
    for (const Json& page : report["pages"]) {
      pages += page["duplex"].get<std::string>() + " " + std::to_string(page["copies"].get<int>()) +
               " " + std::to_string(page["sheet"].get<int>()) +
               (page["side"] == "back" ? "b, " : "f, ");
    }
    EXPECT_EQ(pages, expected.pages);
    EXPECT_EQ(report["duplex"], "long_edge");
    EXPECT_EQ(report["copies"], 1);
    EXPECT_EQ(report["totals"]["sheets"], expected.sheets);
    EXPECT_EQ(report["job_totals"]["sheets"], expected.job_sheets);
    EXPECT_EQ(report["job_totals"]["impressions"], expected.job_impressions);
    EXPECT_EQ(report["job_totals"]["partial"], false);
  }
}

}  // namespace
}  // namespace quillaro::testing
