// Real driver output: documents the test writes, printed through Debian's CUPS filters and
// drivers (cupsfilter with HP's PostScript PPD, Kyocera's PPD, foomatic's ljet4 and pxlmono,
// cups-filters' gstopxl, and a vendor PDF PPD) with copies, duplex, paper, user and title set as a print
// dialog sets them. The service's report and its ledger must bill what the printer makes.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <map>
#include <sstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "service/service_process.h"

namespace quillaro::testing {
namespace {

using Json = nlohmann::json;

constexpr char kFoomatic[] = "/usr/lib/cups/driver/foomatic-db-compressed-ppds";
constexpr char kHpPostScript[] = "/usr/lib/cups/driver/postscript-hp";
constexpr char kOpenPrinting[] = "/usr/lib/cups/driver/openprinting-ppds";
constexpr char kCupsFilters[] = "/usr/share/ppd/cupsfilters";

struct DriverJob {
  const char* name;
  const char* ppd;       // "driver-program:ppd-uri", or a PPD file under kCupsFilters
  const char* document;  // "mono3" (three pages of black text) or "colour2" (page 2 in colour)
  const char* media;
  int copies;
  const char* sides;
  const char* user;
  const char* title;
  // What the printer makes of it, and what the job file carries of what was asked.
  const char* language;
  const char* duplex;
  int impressions, sheets, colour_impressions;  // the whole job
  const char* sheet_name;
  const char* reported_user;   // null: the driver does not write the user into the job
  const char* reported_title;  // null: nor the title
};

const DriverJob kJobs[] = {
    // HP's PostScript driver: copies and duplex through the page device, user and title in DSC.
    {"hpps.ps", "postscript-hp:0/ppd/hplip/HP/hp-laserjet_4050_series-ps.ppd", "mono3", "Letter",
     2, "two-sided-long-edge", "alice", "Quarterly report", "PS", "long_edge", 6, 4, 0, "Letter",
     "alice", "Quarterly report"},
    // A later HP PostScript PPD, through HP's hpps filter: its PageRegion Letter comes before
    // <</MediaPosition 7>> setpagedevice (the "Automatic" tray, which Ghostscript does not have);
    // Ghostscript keeps the requested sheet, and so does the report.
    {"hpps_m402.prn", "postscript-hp:0/ppd/hplip/HP/hp-laserjet_pro_m402_m403d-ps.ppd", "mono3",
     "Letter", 2, "two-sided-long-edge", "grace", "Tray job", "PS", "long_edge", 6, 4, 0,
     "Letter", "grace", "Tray job"},
    // Kyocera's own PPD: PRESCRIBE commands in the PJL header, which no interpreter reads, so
    // the stages read the PostScript inside; duplex by Level 1 statusdict operators.
    {"kyocera.prn", "openprinting-ppds:0/ppd/openprinting/Kyocera/en/Kyocera_CS-C2525E_en.ppd",
     "mono3", "A4", 2, "two-sided-long-edge", "frank", "Kyo", "PS", "long_edge", 6, 4, 0, "A4",
     "frank", "Kyo"},
    // foomatic ljet4: PCL 5 with PJL duplex; CUPS makes the copies as pages, each copy of three
    // pages ending on a blank back the printer does not print.
    {"ljet4.prn", "foomatic-db-compressed-ppds:0/ppd/foomatic-ppd/HP-LaserJet_4050-ljet4.ppd",
     "mono3", "A4", 2, "two-sided-long-edge", "bob", "Minutes", "PCL", "long_edge", 6, 4, 0, "A4",
     nullptr, nullptr},
    // foomatic pxlmono, simplex.
    {"pxlmono.prn", "foomatic-db-compressed-ppds:0/ppd/foomatic-ppd/HP-LaserJet_4050-pxlmono.ppd",
     "mono3", "A4", 1, "one-sided", "carol", "Notes", "PCLXL", "simplex", 3, 3, 0, "A4", nullptr,
     nullptr},
    // cups-filters' gstopxl in colour, duplex on the short edge: one sheet, one colour side.
    {"gstopxl.prn", "pxlcolor.ppd", "colour2", "A4", 1, "two-sided-short-edge", "dave", "Flyer",
     "PCLXL", "short_edge", 2, 1, 1, "A4", nullptr, nullptr},
    // A vendor's PDF printer: the PDF behind PJL that names the user and job, copies by PJL.
    {"ricoh.prn", "Ricoh-PDF_Printer-PDF.ppd", "colour2", "Letter", 2, "two-sided-long-edge",
     "erin", "Budget", "PDF", "long_edge", 4, 2, 2, "Letter", "erin", nullptr},
};

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The PPD of `job` as a file in `folder`; empty when the driver is not installed.
std::string Ppd(const DriverJob& job, const fs::path& folder) {
  const std::string ppd = job.ppd;
  if (ppd.find(':') == std::string::npos) {
    const fs::path file = fs::path(kCupsFilters) / ppd;
    return fs::exists(file) ? file.string() : "";
  }
  const std::string program = ppd.starts_with("postscript-hp")       ? kHpPostScript
                              : ppd.starts_with("openprinting-ppds") ? kOpenPrinting
                                                                     : kFoomatic;
  const fs::path file = folder / (std::string(job.name) + ".ppd");
  if (!fs::exists(program) ||
      Shell(Quoted(program) + " cat " + Quoted(ppd) + " >" + Quoted(file.string())) != 0) {
    return "";
  }
  return file.string();
}

// Pixels darker than paper on the first page of `job` (gpcl6 for PCL, gs otherwise) at 36 dpi,
// where the default watermark lands: 15 to 90 points from the left, 15 to 35 from the bottom.
int CornerInk(const fs::path& job, bool pcl) {
  const fs::path page = job.string() + ".pgm";
  const fs::path kit = ToNarrow(GetModuleFolder());
  const std::string program = (kit / (pcl ? "gpcl6" : "gs")).string();
  // GhostPCL finds its fonts in urwfonts/ of the folder it runs in.
  if (Shell("cd " + Quoted(kit.string()) + " && " + Quoted(program) + " -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pgmraw -r36 -dLastPage=1"
            " -sOutputFile=" + Quoted(page.string()) + " " + Quoted(job.string()) +
            " >/dev/null 2>&1") != 0) {
    return -1;
  }
  std::istringstream pgm(ReadFileBytes(page));
  std::string magic;
  size_t width = 0, height = 0, max = 0;
  pgm >> magic >> std::ws;
  if (pgm.peek() == '#') pgm.ignore(1 << 16, '\n');  // the interpreter names itself
  pgm >> width >> height >> max;
  pgm.get();
  const std::string pixels(std::istreambuf_iterator<char>(pgm), {});
  // The PostScript interpreter writes every page: the first comes first.
  if (magic != "P5" || pixels.size() < width * height) return -1;
  int ink = 0;
  for (size_t y = 7; y < 18 && y < height; ++y) {
    for (size_t x = 7; x < 45 && x < width; ++x)
      ink += static_cast<unsigned char>(pixels[(height - 1 - y) * width + x]) < 250;
  }
  return ink;
}

TEST(DriverCorpusTest, EveryRealDriverJobIsBilledAsThePrinterMakesIt) {
  if (Shell("command -v cupsfilter >/dev/null") != 0 || !fs::exists(kFoomatic) ||
      !fs::exists(kHpPostScript) || !fs::exists(kOpenPrinting) || !fs::exists(kCupsFilters)) {
    GTEST_SKIP() << "CUPS and its drivers are missing: bash scripts/install_deps.sh installs them";
  }
  TempDir work;
  // The documents, as an application hands them to CUPS: PDF.
  const std::string text = "/Helvetica findfont 24 scalefont setfont 72 600 moveto";
  const std::map<std::string, std::string> documents = {
      {"mono3", "%!PS\n" + text + " (one) show showpage " + text + " (two) show showpage " + text +
                    " (three) show showpage\n"},
      {"colour2", "%!PS\n" + text + " (text) show showpage\n1 0 0 setrgbcolor 72 400 200 40 "
                  "rectfill 0 setgray " + text + " (logo) show showpage\n"}};
  for (const auto& [name, source] : documents) {
    WriteFileBytes(work.path() / (name + ".ps"), source);
    ASSERT_EQ(Shell("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sOutputFile=" +
                  Quoted((work.path() / (name + ".pdf")).string()) + " " +
                  Quoted((work.path() / (name + ".ps")).string())),
              0);
  }
  for (const DriverJob& job : kJobs) {
    const std::string ppd = Ppd(job, work.path());
    ASSERT_FALSE(ppd.empty()) << job.ppd;
    const std::string command =
        "cupsfilter -e -p " + Quoted(ppd) + " -m printer/foo -U " + Quoted(job.user) + " -t " +
        Quoted(job.title) + " -n " + std::to_string(job.copies) + " -o sides=" + job.sides +
        " -o media=" + job.media + " " +
        Quoted((work.path() / (std::string(job.document) + ".pdf")).string()) + " >" +
        Quoted((work.path() / job.name).string()) + " 2>" +
        Quoted((work.path() / (std::string(job.name) + ".log")).string());
    ASSERT_EQ(Shell(command), 0) << command;
  }

  ServiceProcess service("IsConvert=1\nType=2\nIsReport=1\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  for (const DriverJob& job : kJobs) CopyIn(work.path() / job.name, service, job.name);
  for (const DriverJob& job : kJobs)
    ASSERT_TRUE(WaitForFile(service.out() / (std::string(job.name) + "_done"), 120)) << job.name;
  EXPECT_EQ(service.Stop(), 0);

  std::map<std::string, std::pair<int64_t, int64_t>> billed;  // name: impressions, sheets
  std::string reports;
  for (const DriverJob& job : kJobs) {
    SCOPED_TRACE(job.name);
    const fs::path file = service.out() / (std::string(job.name) + "_report.json");
    reports.append(" ").append(Quoted(file.string()));
    const Json report = Json::parse(ReadFileBytes(file));
    EXPECT_TRUE(report["failure"].is_null()) << report["failure"];
    EXPECT_EQ(report["language"], job.language);
    EXPECT_EQ(report["duplex"], job.duplex);
    const Json& totals = report["job_totals"];
    EXPECT_EQ(totals["impressions"], job.impressions);
    EXPECT_EQ(totals["sheets"], job.sheets);
    EXPECT_EQ(totals["partial"], false);
    int64_t colour = 0;
    for (const Json& entry : totals["by_size"]) {
      EXPECT_EQ(entry["size"], job.sheet_name) << entry;
      EXPECT_EQ(entry["size_class"], "a4");
      if (entry["colour"] == "colour") colour += entry["impressions"].get<int64_t>();
    }
    EXPECT_EQ(colour, job.colour_impressions);
    EXPECT_EQ(report["user"].is_null() ? Json() : report["user"]["value"],
              job.reported_user ? Json(job.reported_user) : Json());
    EXPECT_EQ(report["title"].is_null() ? Json() : report["title"]["value"],
              job.reported_title ? Json(job.reported_title) : Json());
    billed[job.name] = {totals["impressions"], totals["sheets"]};
  }
  // Read through its body, the Kyocera job has its other results too: pages times PJL copies.
  EXPECT_EQ(ReadFileBytes(service.out() / "kyocera_pagescount.txt"), "3");

  const std::string check = "/usr/bin/python3 " +
                            Quoted((fs::path(QUILLARO_TEST_DATA_DIR).parent_path().parent_path() /
                                    "scripts/check_json_schema.py").string()) + " " +
                            Quoted((fs::path(QUILLARO_TEST_DATA_DIR).parent_path().parent_path() /
                                    "docs/report.schema.json").string());
  const int schema = Shell(check + reports + " >/dev/null");
  if (schema != 2) {  // 2: python3-jsonschema is missing, as the schema test says
    EXPECT_EQ(schema, 0) << "a report does not follow docs/report.schema.json";
  }

  // The ledger bills the same.
  sqlite3* ledger = nullptr;
  ASSERT_EQ(sqlite3_open_v2((service.root() / "ledger.db").c_str(), &ledger, SQLITE_OPEN_READONLY,
                            nullptr),
            SQLITE_OK);
  sqlite3_stmt* query = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(ledger, "SELECT name, impressions, sheets FROM jobs", -1, &query,
                               nullptr),
            SQLITE_OK);
  std::map<std::string, std::pair<int64_t, int64_t>> recorded;
  while (sqlite3_step(query) == SQLITE_ROW) {
    recorded[reinterpret_cast<const char*>(sqlite3_column_text(query, 0))] = {
        sqlite3_column_int64(query, 1), sqlite3_column_int64(query, 2)};
  }
  sqlite3_finalize(query);
  sqlite3_close(ledger);
  EXPECT_EQ(recorded, billed);

  // The watermark route takes foomatic's PCL 5, whose PJL header has no language line, and the
  // PDF behind PJL: each comes back stamped (PCL XL, PostScript) between its own header and
  // trailer, the watermark inked in its corner of the first page.
  ServiceProcess stamping("WMEnable=1\n");
  ASSERT_TRUE(stamping.Start()) << stamping.Errors();
  const struct {
    const char* job;
    const char* body_start;
    const char* body_end;  // where the PJL trailer starts
  } kStamped[] = {{"ljet4.prn", ") HP-PCL XL;", "\x1b%-12345X@PJL RESET"},
                  {"ricoh.prn", "%!PS-Adobe", "\x1b%-12345X@PJL\n@PJL RDYMSG"}};
  for (const auto& stamped : kStamped) {
    const std::string name = std::string("WTR_") + stamped.job;
    WriteFileBytes(stamping.in() / (name + "_watermark.txt"), "SAMPLE\n");
    CopyIn(work.path() / stamped.job, stamping, name);
  }
  for (const auto& stamped : kStamped) {
    SCOPED_TRACE(stamped.job);
    const std::string name = std::string("WTR_") + stamped.job;
    ASSERT_TRUE(WaitFor([&] { return fs::exists(stamping.out() / (name + "_watermark_done_ok")) ||
                                     fs::exists(stamping.out() / (name + "_watermark_done_error")); },
                        120));
    ASSERT_TRUE(fs::exists(stamping.out() / (name + "_watermark_done_ok")));
    const std::string job = ReadFileBytes(work.path() / stamped.job);
    const std::string result = ReadFileBytes(stamping.out() / (name + ".watermarked"));
    const size_t header_end = result.find(stamped.body_start);
    ASSERT_NE(header_end, std::string::npos);
    EXPECT_EQ(result.substr(0, header_end), job.substr(0, header_end));
    const size_t trailer = job.rfind(stamped.body_end);
    ASSERT_NE(trailer, std::string::npos);
    EXPECT_TRUE(result.ends_with(job.substr(trailer)));
    const fs::path body_file = work.path() / (name + ".body");
    WriteFileBytes(body_file, result.substr(header_end, result.size() - header_end -
                                                            (job.size() - trailer)));
    EXPECT_GT(CornerInk(body_file, stamped.body_start[0] == ')'), 10);
  }
  EXPECT_EQ(stamping.Stop(), 0);
}

}  // namespace
}  // namespace quillaro::testing
