// What the report learns from the job file itself (who, what, copies, duplex, its digest), and
// how pages fall on sheets. Real jobs through the service: job_facts_service_test.cc.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "report/job_file_facts.h"
#include "report/sheet_plan.h"
#include "support/temp_dir.h"

namespace quillaro::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kUel = "\x1b%-12345X";

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
    EXPECT_EQ(Sourced(facts.user), job.user);
    EXPECT_EQ(Sourced(facts.job_name), job.job_name);
    EXPECT_EQ(Sourced(facts.title), job.title);
    EXPECT_EQ(facts.copies(), job.copies);
    EXPECT_EQ(facts.copies_source, job.copies_source);
    EXPECT_EQ(DuplexModeName(facts.duplex), std::string(DuplexModeName(job.duplex)));
    EXPECT_EQ(facts.duplex_source, job.duplex_source);
  }
  EXPECT_FALSE(ReadJobFileFacts((dir.path() / "missing.ps").string(), "").read);
  // The job id is the SHA-256 of the whole file, however long (the standard's own examples).
  for (const auto& [bytes, digest] :
       {std::pair{"abc"s, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        std::pair{std::string(1000000, 'a'),
                  "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}}) {
    WriteFileBytes(dir.path() / "digest.prn", bytes);
    EXPECT_EQ(ReadJobFileFacts((dir.path() / "digest.prn").string(), "").job_id, digest);
  }

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

}  // namespace
}  // namespace quillaro::testing
