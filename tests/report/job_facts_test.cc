// What the report learns from the job file itself (who, what, copies, duplex, its digest), and
// how pages fall on sheets; then real jobs made by Ghostscript's own drivers through the service.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "report/job_file_facts.h"
#include "report/sheet_plan.h"
#include "service/service_process.h"

namespace quillaro::testing {
namespace {

using Json = nlohmann::json;
using namespace std::string_literals;

const std::string kUel = "\x1b%-12345X";

std::string Sha256Sum(const fs::path& file) {
  const fs::path out = file.string() + ".sum";
  std::system(("sha256sum '" + file.string() + "' >'" + out.string() + "'").c_str());
  return ReadFileBytes(out).substr(0, 64);
}

std::string Sourced(const std::optional<SourcedText>& text) {
  return text ? text->value + " <" + text->source + ">" : "-";
}

TEST(JobFileFactsTest, EachPlaceADriverPutsWhoCopiesAndDuplexIsRead) {
  const struct {
    const char* name;
    std::string bytes;
    const char* user;
    const char* job_name;
    const char* title;
    int copies;
    const char* copies_source;
    DuplexMode duplex;
    const char* duplex_source;
  } kJobs[] = {
      // PJL defaults, PCL copies; a raster row whose bytes look like a copies escape is data.
      {"pcl.prn",
       kUel + "@PJL JOB NAME=\"Minutes\"\r\n@PJL SET USERNAME=alice\r\n@PJL SET QTY=2\r\n"
              "@PJL SET DUPLEX=ON\r\n@PJL SET BINDING=SHORTEDGE\r\n@PJL ENTER LANGUAGE=PCL\r\n"
              "\x1b" "E\x1b*b5W\x1b&l9X\x1b&l3X\x1b*rB\x0c\x1b" "E" + kUel,
       "alice <pjl_username>", "Minutes <pjl_job_name>", "-", 6, "pjl_qty+pcl",
       DuplexMode::kShortEdge, "pjl"},
      // HP's accounting field before the DSC user; PJL COPIES when the PostScript sets none.
      {"ps.prn",
       kUel + "@PJL SET JOBNAME=\"Budget\"\n@PJL SET JOBATTR=\"JobAcct1=bob\"\n"
              "@PJL SET COPIES=3\n@PJL ENTER LANGUAGE=POSTSCRIPT\n%!PS-Adobe-3.0\n"
              "%%For: (carol)\n%%Title: (Budget \\(draft\\))\n%%EndComments\n"
              "<</Duplex true /Tumble true>> setpagedevice\nshowpage\n" + kUel,
       "bob <pjl_jobattr>", "Budget <pjl_jobname>", "Budget (draft) <dsc_title>", 3, "pjl_copies",
       DuplexMode::kShortEdge, "postscript"},
      // The setup's last request wins; what a page asks later, and a moved value, do not count.
      {"copies.ps",
       "%!PS-Adobe-3.0\n%%For: dave\n%%EndComments\n/#copies 2 def\n"
       "<</NumCopies 4 /Duplex false>> setpagedevice\nuserdict/#copies 5 -1 roll put\n"
       "%%Page: 1 1\n<</NumCopies 7>> setpagedevice\n",
       "dave <dsc_for>", "-", "-", 4, "postscript", DuplexMode::kSimplex, "postscript"},
      // A Level 1 driver: statusdict's duplex operators inside the PPD option's comment.
      {"level1.ps",
       "%!PS-Adobe-3.0\n%%BeginFeature: *Duplex DuplexTumble\n"
       "statusdict begin true setduplexmode true settumble end\n%%EndFeature\n",
       "-", "-", "-", 1, "default", DuplexMode::kShortEdge, "postscript"},
      // The Info dictionary the trailer names, not an outline entry or object 12.
      {"titled.pdf",
       "%PDF-1.4\n12 0 obj <</Title (Wrong)>> endobj\n1 0 obj <</Type /Catalog>> endobj\n"
       "2 0 obj <</Producer (x) /Title <FEFF00C400620063>>> endobj\n"
       "trailer <</Root 1 0 R /Info 2 0 R>>\n%%EOF\n",
       "-", "-", "\xc3\x84" "bc <pdf_title>", 1, "default", DuplexMode::kSimplex, "default"},
      // PCL XL: embedded data that holds an attribute is stepped over; the first page tells.
      {"job.pxl",
       ") HP-PCL XL;2;0\n\xc0\x01\xf8\x35\xc0\x00\xf8\x36\x43"
       "\xfb\x04\xc1\x09\x00\xf8\xc1\x03\x00\xf8\x31\x44"
       "\x43\xc1\x08\x00\xf8\x31\x44"s,
       "-", "-", "-", 3, "pclxl", DuplexMode::kLongEdge, "pclxl"},
  };
  TempDir dir;
  for (const auto& job : kJobs) {
    SCOPED_TRACE(job.name);
    const fs::path file = dir.path() / job.name;
    WriteFileBytes(file, job.bytes);
    const JobFileFacts facts = ReadJobFileFacts(file.string(), "");
    ASSERT_TRUE(facts.read);
    EXPECT_EQ(facts.job_id, Sha256Sum(file));
    EXPECT_EQ(Sourced(facts.user), job.user);
    EXPECT_EQ(Sourced(facts.job_name), job.job_name);
    EXPECT_EQ(Sourced(facts.title), job.title);
    EXPECT_EQ(facts.copies(), job.copies);
    EXPECT_EQ(facts.copies_source, job.copies_source);
    EXPECT_EQ(DuplexModeName(facts.duplex), std::string(DuplexModeName(job.duplex)));
    EXPECT_EQ(facts.duplex_source, job.duplex_source);
  }
  EXPECT_FALSE(ReadJobFileFacts((dir.path() / "missing.ps").string(), "").read);

  // A driver's grayscale request: the page description's own before PJL's.
  const struct {
    std::string bytes;
    ColourMode mode;
    const char* source;
  } kColourRequests[] = {
      {kUel + "@PJL SET RENDERMODE=GRAYSCALE\n@PJL ENTER LANGUAGE=PCLXL\n", ColourMode::kGrayscale,
       "pjl_rendermode"},
      {kUel + "@PJL SET GRAYSCALE=ON\n@PJL ENTER LANGUAGE=PCL\n", ColourMode::kGrayscale,
       "pjl_grayscale"},
      {kUel + "@PJL SET RENDERMODE=GRAYSCALE\n@PJL ENTER LANGUAGE=POSTSCRIPT\n%!PS\n"
              "<</ProcessColorModel /DeviceRGB>> setpagedevice\n",
       ColourMode::kColour, "postscript"},
      {"%!PS\n<</ProcessColorModel /DeviceGray>> setpagedevice\n", ColourMode::kGrayscale,
       "postscript"},
      {"%!PS\n", ColourMode::kAuto, "default"},
  };
  for (const auto& request : kColourRequests) {
    SCOPED_TRACE(request.bytes);
    WriteFileBytes(dir.path() / "colour.prn", request.bytes);
    const JobFileFacts facts = ReadJobFileFacts((dir.path() / "colour.prn").string(), "");
    EXPECT_EQ(ColourModeName(facts.colour_mode), std::string(ColourModeName(request.mode)));
    EXPECT_EQ(facts.colour_mode_source, request.source);
  }
}

// A size change starts a new sheet; a driver's blank back is a sheet side, not an impression.
TEST(SheetPlanTest, PagesFallOnSheetsBySizeAndBlankBacksAreNotImpressions) {
  const auto colour = InkVerdict::kColour, mono = InkVerdict::kMono, blank = InkVerdict::kBlank;
  const std::vector<PlannedPage> pages = {{"A4", "a4", mono},  {"A4", "a4", colour},
                                          {"A5", "a4", mono},  {"A4", "a4", mono},
                                          {"A4", "a4", blank}, {"A3", "a3", blank}};
  std::vector<PlannedPage> duplex_pages = pages;
  for (PlannedPage& page : duplex_pages) page.duplex = DuplexMode::kLongEdge;
  const SheetPlan duplex = PlanSheets(duplex_pages);
  EXPECT_EQ(duplex.sheets, 4);
  EXPECT_EQ(duplex.impressions, 5);  // the blank A4 back is left out, the blank A3 front is not
  std::string placed;
  for (const PagePlacement& page : duplex.pages)
    placed += std::to_string(page.sheet) + (page.back ? "b" : "f") + (page.printed ? " " : "- ");
  EXPECT_EQ(placed, "1f 1b 2f 3f 3b- 4f ");
  std::string classes;
  for (const SizeClassCount& entry : duplex.by_size)
    classes += entry.size + "/" + entry.size_class + "/" + entry.colour + ":" +
               std::to_string(entry.impressions) + "," + std::to_string(entry.sheets) + " ";
  EXPECT_EQ(classes, "A3/a3/blank:1,1 A4/a4/colour:1,1 A4/a4/mono:2,1 A5/a4/mono:1,1 ");
  const SheetPlan simplex = PlanSheets(pages);
  EXPECT_EQ(simplex.sheets, 6);
  EXPECT_EQ(simplex.impressions, 6);

  // A job that changes duplex or copies between pages starts a new sheet there, and a sheet is
  // printed as often as its front asks: long, long, short, simplex x2, long x2, long x2.
  const DuplexMode kLong = DuplexMode::kLongEdge;
  std::vector<PlannedPage> changing(6, PlannedPage{"A4", "a4", mono});
  const std::pair<DuplexMode, int32_t> kRequests[] = {{kLong, 1}, {kLong, 1},
                                                      {DuplexMode::kShortEdge, 1},
                                                      {DuplexMode::kSimplex, 2},
                                                      {kLong, 2}, {kLong, 2}};
  for (size_t i = 0; i < changing.size(); ++i)
    std::tie(changing[i].duplex, changing[i].copies) = kRequests[i];
  const SheetPlan changed = PlanSheets(changing);
  placed.clear();
  for (const PagePlacement& page : changed.pages)
    placed += std::to_string(page.sheet) + (page.back ? "b " : "f ");
  EXPECT_EQ(placed, "1f 1b 2f 3f 4f 4b ");
  EXPECT_EQ(changed.sheets, 4);
  EXPECT_EQ(changed.copied_sheets, 1 + 1 + 2 + 2);
  EXPECT_EQ(changed.copied_impressions, 1 + 1 + 1 + 2 + 2 + 2);
  EXPECT_EQ(changed.by_size[0].sheets, 6);
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
                 "<</NumCopies 2 /Duplex true>> setpagedevice\n" + three_pages.substr(5));
  MakeWithGs(jobs.path(), "deck.pdf",
             "[ /Title (Deck as PDF) /DOCINFO pdfmark\n" + three_pages.substr(5), "-sDEVICE=pdfwrite");
  MakeWithGs(jobs.path(), "deck.pxl", three_pages,
             "-sDEVICE=pxlmono -dDuplex=true -dTumble=true -dNumCopies=2");
  // Duplex A4, A4, A5, A4 and a blank A4 back: three sheets, four impressions.
  WriteFileBytes(jobs.path() / "mixed.ps",
                 "%!PS\n<</Duplex true /PageSize [595 842]>> setpagedevice\n" + text +
                     " (a) show showpage " + text + " (b) show showpage\n"
                     "<</PageSize [420 595]>> setpagedevice " + text + " (c) show showpage\n"
                     "<</PageSize [595 842]>> setpagedevice " + text + " (d) show showpage\n"
                     "showpage\n");

  // Colour content the driver asks to print in gray: billed mono.
  WriteFileBytes(jobs.path() / "gray.ps",
                 "%!PS\n<</ProcessColorModel /DeviceGray>> setpagedevice\n"
                 "1 0 0 setrgbcolor 72 400 200 40 rectfill showpage\n");

  ServiceProcess service("IsConvert=1\nType=2\nIsReport=1\n");
  const auto before = std::chrono::system_clock::now() - std::chrono::seconds(1);
  RunToTheirMarkers(service, jobs.path(), {"deck.ps", "deck.pdf", "deck.pxl", "mixed.ps", "gray.ps"});
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
  std::string ps = "%!PS-Adobe-3.0\n%%Pages: 4\n%%EndComments\n%%BeginSetup\n"
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
                 kUel + "@PJL SET DUPLEX=ON\r\n@PJL ENTER LANGUAGE=PCL\r\n\x1b" "E"
                        "\x1b&l1Sone\x0ctwo\x1b*r1A\x1b*b4W\x0c\x1b&l0S\x1b*rB\x0c"
                        "\x1b&l0Sthree\x0c\x1b&l2Sfour\x0c\x1b" "E" + kUel);

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
