#include "watermark/watermark_pipeline.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/text_utils.h"
#include "interp/interpreter_runs.h"
#include "platform/child_confinement.h"
#include "service/completion_markers.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::ServiceFolder;
using testing::TempDir;
using testing::WriteFileBytes;
using Names = std::set<std::string>;

constexpr char kUel[] = "\x1B%-12345X";
// One page with text well away from the watermark's corner.
constexpr char kPage[] =
    "%!PS-Adobe-3.0\n/Helvetica findfont 24 scalefont setfont\n"
    "200 400 moveto (Quillaro test page) show\nshowpage\n";

std::string PjlHeader(const std::string& language) {
  return std::string(kUel) +
         "@PJL JOB NAME=\"wm\"\r\n@PJL SET QTY=1\r\n@PJL ENTER LANGUAGE=" + language + "\r\n";
}
const std::string kTrailer = std::string(kUel) + "@PJL EOJ\r\n" + kUel;

// What gs (or gpcl6), run the way the stages run it, makes of `job_bytes` with `options`.
std::string Convert(const std::string& job_bytes, bool pcl, std::vector<std::string> options) {
  // The run's private folder: the job's own, where it may write.
  TempDir temp;
  fs::permissions(temp.path(), fs::perms::all);
  WriteFileBytes(temp.path() / "in.job", job_bytes);
  options.insert(options.begin(), {"-dBATCH", "-dNOPAUSE"});
  // Appended rather than "..." + ...: GCC 12 sees a false overlap (-Wrestrict) in the latter.
  options.push_back(std::string("-sOutputFile=\"").append(temp.File("out")).append("\""));
  options.push_back(std::string("\"").append(temp.File("in.job")).append("\""));
  const Settings settings;
  const StagedJob job{temp.File("in.job"), {}};
  StageNote note;
  EXPECT_EQ(
      pcl ? ConvertPcl(settings, job, options, note) : ConvertPs(settings, job, options, note), 1);
  return ReadFileBytes(temp.path() / "out");
}

// Pixels darker than paper white, on the first page of `job_bytes` rendered in gray at 36 dpi (2
// points a pixel), where the default watermark (left 20, bottom 20, 12 point) lands: x 15-90 and
// y 15-35 points from the bottom-left corner.
int WatermarkInk(const std::string& job_bytes, bool pcl) {
  std::istringstream pgm(Convert(job_bytes, pcl, {"-sDEVICE=pgmraw", "-r36", "-dLastPage=1"}));
  std::string magic;
  size_t width = 0, height = 0, max = 0;
  pgm >> magic >> std::ws;
  if (pgm.peek() == '#') pgm.ignore(1 << 16, '\n');  // gs names itself in a comment
  pgm >> width >> height >> max;
  pgm.get();
  const std::string pixels(std::istreambuf_iterator<char>(pgm), {});
  if (magic != "P5" || pixels.size() != width * height) return -1;
  int ink = 0;
  for (size_t y = 7; y < 18 && y < height; ++y) {
    for (size_t x = 7; x < 45 && x < width; ++x) {
      if (static_cast<unsigned char>(pixels[(height - 1 - y) * width + x]) < 250) ++ink;
    }
  }
  return ink;
}

Names FileNames(const fs::path& folder) {
  Names names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

// The route the job worker takes for a watermark job.
int WatermarkJob(const fs::path& job) {
  const bool stamped = RunWatermark(LoadSettings(), {job.string(), {}});
  WriteWatermarkMarker(ToWide(job.string()), stamped);
  return stamped ? 1 : 0;
}

// The body of `result` between `header` and the trailer, checked to be kept byte for byte.
std::string Body(const std::string& result, const std::string& header) {
  if (result.size() <= header.size() + kTrailer.size()) return "";
  EXPECT_EQ(result.substr(0, header.size()), header);
  EXPECT_EQ(result.substr(result.size() - kTrailer.size()), kTrailer);
  return result.substr(header.size(), result.size() - header.size() - kTrailer.size());
}

// Without its leading reset (ESC E) the body starts with a parameterised command, which is what
// tells a PJL-wrapped job's content as PCL.
std::string MakePclBody() { return Convert(kPage, false, {"-sDEVICE=ljet4", "-r150"}).substr(2); }

// The stamping run goes without safe mode, so the PostScript body can use the file operators:
// the interpreter's confinement is all that keeps it from /etc/passwd and from writing beside
// out/. The texts would, unescaped, break the prolog or write the trap file into out/.
TEST(WatermarkPipelineTest, PjlJobsAreStampedBetweenTheirOwnHeaderAndTrailer) {
  ServiceFolder folder;  // out/ holds the scratch folders of MakePclBody and WatermarkInk
  QUILLARO_SKIP_WITHOUT_INTERPRETERS();
  TempDir outside;
  const std::string trap = (testing::ServiceOutFolder() / "trap").string();
  const std::string hostile_body =
      "%!PS-Adobe-3.0\n{ (/etc/passwd) (r) file 4096 string readstring pop (" +
      (testing::ServiceOutFolder() / "passwd.txt").string() +
      ") (w) file exch writestring } stopped pop\n{ (" + outside.File("escaped.txt") +
      ") (w) file (ESCAPED) writestring } stopped pop\n" + std::string(kPage).substr(15);
  const struct {
    std::string name;  // percent signs, blanks, quotes: patterns or options if passed unquoted
    std::string language, body, text, body_start;
  } cases[] = {
      {"100%d q\" -c quit \"WTR.ps", "POSTSCRIPT", hostile_body,
       ") pop (" + trap + ") (w) file closefile (\r\nsecond line\r\n", "%!PS-Adobe-3.0"},
      {"jobWTR.pcl", "PCL", MakePclBody(),
       "\\) pop (" + trap + ") (w) file closefile (\\ } } stop ] >> %%EOF\x1A\x04", ") HP-PCL XL;"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    ServiceFolder clean;  // empties in/ and out/
    folder.WriteSettings("WMEnable=1\n");
    const std::string header = PjlHeader(c.language);
    WriteFileBytes(folder.in() / c.name, header + c.body + kTrailer);
    WriteFileBytes(folder.in() / (c.name + "_watermark.txt"), c.text);
    EXPECT_EQ(WatermarkJob(folder.in() / c.name), 1);
    const std::string body = Body(ReadFileBytes(folder.out() / (c.name + ".watermarked")), header);
    EXPECT_EQ(body.substr(0, c.body_start.size()), c.body_start);
    EXPECT_GT(WatermarkInk(body, c.language == "PCL"), 10);
    EXPECT_EQ(FileNames(folder.in()), (Names{c.name, c.name + "_watermark.txt"}));
    EXPECT_EQ(FileNames(folder.out()),
              (Names{c.name + ".watermarked", c.name + "_watermark_done_ok"}));
    EXPECT_EQ(ReadFileBytes(folder.out() / (c.name + "_watermark_done_ok")), "watermark done");
  }
  EXPECT_EQ(WatermarkInk(kPage, false), 0);
  if (FileSystemSandboxVersion() <= 0) GTEST_SKIP() << "this kernel has no Landlock";
  EXPECT_FALSE(fs::exists(outside.path() / "escaped.txt"));
}

TEST(WatermarkPipelineTest, FailuresLeaveOnlyWhatTheirStepMade) {
  ServiceFolder folder;
  QUILLARO_SKIP_WITHOUT_INTERPRETERS();
  const std::string ps_job = PjlHeader("POSTSCRIPT") + kPage + kTrailer;
  const std::string pcl_job = PjlHeader("PCL") + MakePclBody() + kTrailer;
  const std::string junk_job = PjlHeader("POSTSCRIPT") + "hello\n";  // neither PS nor PCL
  const std::string trap = (testing::ServiceOutFolder() / "trap").string();
  // Too long a text is cut inside its literal: the interpreter rejects it and runs nothing.
  const std::string overlong = std::string(4000, '(') + ") (" + trap + ") (w) file closefile (";
  const struct {
    const char* label;
    bool enabled;
    std::string job;
    std::string side_file;      // "-": none
    const char* hidden;         // an interpreter taken away for the run, or nullptr
    Names left_in;              // besides the job
    bool stamping_ran = false;  // which leaves its result file
  } cases[] = {
      {"watermarking off", false, ps_job, "SAMPLE", nullptr, {"_watermark.txt"}},
      {"no side file", true, ps_job, "-", nullptr, {".copy"}},
      {"empty first line", true, ps_job, "\r\nSAMPLE\r\n", nullptr, {".copy", "_watermark.txt"}},
      {"no PJL wrapper", true, kPage, "SAMPLE", nullptr, {"_watermark.txt"}},
      {"neither PS nor PCL", true, junk_job, "SAMPLE", nullptr, {"_watermark.txt"}},
      {"no gpcl6", true, pcl_job, "SAMPLE", "gpcl6", {"_watermark.txt"}},
      {"text too long", true, ps_job, overlong, nullptr, {"_watermark.txt"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ServiceFolder clean;
    clean.WriteSettings(c.enabled ? "WMEnable=1\n" : "WMEnable=0\n");
    WriteFileBytes(clean.in() / "aWTR.prn", c.job);
    if (c.side_file != "-") WriteFileBytes(clean.in() / "aWTR.prn_watermark.txt", c.side_file);
    const fs::path hidden = clean.root() / (c.hidden ? c.hidden : "none");
    if (c.hidden) fs::rename(hidden, hidden.string() + ".hidden");
    EXPECT_EQ(WatermarkJob(clean.in() / "aWTR.prn"), 0);
    if (c.hidden) fs::rename(hidden.string() + ".hidden", hidden);
    Names left_in = {"aWTR.prn"};
    for (const std::string& suffix : c.left_in) left_in.insert("aWTR.prn" + suffix);
    EXPECT_EQ(FileNames(clean.in()), left_in);
    // The trap file is not among them.
    Names left_out = {"aWTR.prn_watermark_done_error"};
    if (c.stamping_ran) left_out.insert("aWTR.prn.watermarked");
    EXPECT_EQ(FileNames(clean.out()), left_out);
    EXPECT_EQ(ReadFileBytes(clean.out() / "aWTR.prn_watermark_done_error"), "watermark error");
  }
}

}  // namespace
}  // namespace quillaro
