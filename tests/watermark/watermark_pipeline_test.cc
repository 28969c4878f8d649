#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "config/job.h"
#include "config/text_utils.h"
#include "platform/child_confinement.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::ServiceFolder;
using testing::TempDir;
using testing::WriteFileBytes;

constexpr char kUel[] = "\x1B%-12345X";

// One page with text well away from the watermark's corner.
constexpr char kPagePostScript[] =
    "%!PS-Adobe-3.0\n"
    "/Helvetica findfont 24 scalefont setfont\n"
    "200 400 moveto (Quillaro test page) show\n"
    "showpage\n";

std::string PjlHeader(const std::string& language) {
  return std::string(kUel) + "@PJL JOB NAME=\"wm\"\r\n@PJL SET QTY=1\r\n@PJL ENTER LANGUAGE=" +
         language + "\r\n";
}
std::string PjlTrailer() { return std::string(kUel) + "@PJL EOJ\r\n" + kUel; }

// Runs gs (or gpcl6) over `arguments` the way the stages do.
int RunInterpreter(bool pcl, const std::vector<std::string>& arguments) {
  Job job;
  std::vector<std::string> all = {"ps2pdf"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  for (size_t i = 0; i < all.size(); ++i) job.Argv[i] = all[i].c_str();
  job.Argc = static_cast<int32_t>(all.size());
  return pcl ? job.ConvertPcl() : job.ConvertPs();
}

// A gray-scale rendering of the first page of a job.
struct GrayPage {
  int width = 0;
  int height = 0;
  std::string pixels;  // one byte per pixel, rows from the top
};

GrayPage RenderFirstPage(const std::string& job_bytes, bool pcl, int dpi) {
  TempDir temp(testing::ServiceOutFolder());
  WriteFileBytes(temp.path() / "page.job", job_bytes);
  const std::string pgm_path = temp.File("page.pgm");
  EXPECT_EQ(RunInterpreter(pcl, {"-dBATCH", "-dNOPAUSE", "-sDEVICE=pgmraw",
                                 "-r" + std::to_string(dpi), "-dFirstPage=1", "-dLastPage=1",
                                 "-sOutputFile=\"" + pgm_path + "\"",
                                 "\"" + temp.File("page.job") + "\""}),
            1);
  const std::string pgm = ReadFileBytes(pgm_path);
  // "P5", width, height, maximum value, each possibly after comment lines.
  GrayPage page;
  std::vector<int> numbers;
  size_t at = 2;
  while (pgm.compare(0, 2, "P5") == 0 && numbers.size() < 3 && at < pgm.size()) {
    if (pgm[at] == '#') {
      at = pgm.find('\n', at);
      if (at == std::string::npos) break;
    } else if (pgm[at] >= '0' && pgm[at] <= '9') {
      int value = 0;
      while (at < pgm.size() && pgm[at] >= '0' && pgm[at] <= '9') value = value * 10 + (pgm[at++] - '0');
      numbers.push_back(value);
      continue;
    }
    ++at;
  }
  if (numbers.size() != 3) {
    ADD_FAILURE() << "not a PGM page: " << pgm.substr(0, 40);
    return page;
  }
  page.width = numbers[0];
  page.height = numbers[1];
  page.pixels = pgm.substr(at + 1);  // one white-space byte ends the header
  EXPECT_EQ(page.pixels.size(), static_cast<size_t>(page.width) * page.height);
  return page;
}

// Pixels darker than paper white inside a box given in points from the
// page's bottom-left corner.
int InkInBox(const GrayPage& page, int dpi, int left_pt, int bottom_pt, int right_pt, int top_pt) {
  int ink = 0;
  for (int y_pt_px = bottom_pt * dpi / 72; y_pt_px < top_pt * dpi / 72; ++y_pt_px) {
    const int row = page.height - 1 - y_pt_px;
    if (row < 0 || row >= page.height) continue;
    for (int x = left_pt * dpi / 72; x < right_pt * dpi / 72 && x < page.width; ++x) {
      const size_t index = static_cast<size_t>(row) * page.width + x;
      if (index < page.pixels.size() && static_cast<unsigned char>(page.pixels[index]) < 250) ++ink;
    }
  }
  return ink;
}

// Where the default watermark (left 20, bottom 20, 12 point) lands.
int InkInWatermarkBox(const GrayPage& page, int dpi) { return InkInBox(page, dpi, 15, 15, 90, 35); }

std::set<std::string> FileNames(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

int CountInLog(const fs::path& log, const std::u16string& text) {
  const std::string bytes = ReadFileBytes(log);
  std::u16string wide(bytes.size() / 2, u'\0');
  std::memcpy(wide.data(), bytes.data(), wide.size() * 2);
  int count = 0;
  for (size_t at = wide.find(text); at != std::u16string::npos; at = wide.find(text, at + 1)) ++count;
  return count;
}

// The route the job worker takes for a watermark job.
int WatermarkJob(const fs::path& job) {
  Job record;
  const std::u16string path = ToWide(job.string());
  const int result = record.RunWatermark(path);
  record.WriteWatermarkMarker(path, result);
  return result;
}

std::string MakePclBody() {
  TempDir temp(testing::ServiceOutFolder());
  WriteFileBytes(temp.path() / "page.ps", kPagePostScript);
  EXPECT_EQ(RunInterpreter(false, {"-dBATCH", "-dNOPAUSE", "-sDEVICE=ljet4", "-r150",
                                   "-sOutputFile=\"" + temp.File("page.pcl") + "\"",
                                   "\"" + temp.File("page.ps") + "\""}),
            1);
  // Without its leading reset (ESC E) the body starts with a parameterised
  // command, which is what tells a PJL-wrapped job's content as PCL.
  std::string pcl = ReadFileBytes(temp.path() / "page.pcl");
  EXPECT_EQ(pcl.substr(0, 4), "\x1B" "E\x1B&");
  return pcl.substr(2);
}

// Hides an interpreter beside the test program for the scope.
class HiddenInterpreter {
 public:
  HiddenInterpreter(const ServiceFolder& folder, const std::string& name)
      : path_(folder.root() / name), hidden_(folder.root() / (name + ".hidden")) {
    fs::rename(path_, hidden_);
  }
  ~HiddenInterpreter() { fs::rename(hidden_, path_); }

 private:
  fs::path path_;
  fs::path hidden_;
};

TEST(WatermarkPipelineTest, PostScriptJobIsStampedBetweenItsOwnHeaderAndTrailer) {
  ServiceFolder folder;
  ASSERT_TRUE(folder.HasInterpreters());
  folder.WriteSettings("WMEnable=1\nIsLog=1\n");
  const std::string header = PjlHeader("POSTSCRIPT");
  const std::string trailer = PjlTrailer();
  const fs::path job = folder.in() / "letter WTR.ps";
  WriteFileBytes(job, header + kPagePostScript + trailer);
  WriteFileBytes(folder.in() / "letter WTR.ps_watermark.txt", "SAMPLE\r\nsecond line\r\n");

  EXPECT_EQ(WatermarkJob(job), 1);
  EXPECT_EQ(CountInLog(folder.log(), u"Converting PS file "), 1);

  const std::string result = ReadFileBytes(folder.out() / "letter WTR.ps.watermarked");
  ASSERT_GT(result.size(), header.size() + trailer.size());
  EXPECT_EQ(result.substr(0, header.size()), header);
  EXPECT_EQ(result.substr(result.size() - trailer.size()), trailer);
  const std::string body = result.substr(header.size(), result.size() - header.size() - trailer.size());
  EXPECT_EQ(body.substr(0, 4), "%!PS");

  constexpr int kDpi = 36;
  const GrayPage stamped = RenderFirstPage(body, false, kDpi);
  const GrayPage plain = RenderFirstPage(kPagePostScript, false, kDpi);
  EXPECT_GT(InkInWatermarkBox(stamped, kDpi), 10);
  EXPECT_EQ(InkInWatermarkBox(plain, kDpi), 0);
  // The page's own text is still there.
  EXPECT_GT(InkInBox(stamped, kDpi, 200, 400, 300, 420), 10);

  EXPECT_EQ(FileNames(folder.in()),
            (std::set<std::string>{"letter WTR.ps", "letter WTR.ps_watermark.txt"}));
  EXPECT_EQ(FileNames(folder.out()), (std::set<std::string>{"letter WTR.ps.watermarked",
                                                            "letter WTR.ps_watermark_done_ok"}));
}

TEST(WatermarkPipelineTest, PclJobComesBackAsStampedPclXl) {
  ServiceFolder folder;
  ASSERT_TRUE(folder.HasInterpreters());
  const std::string header = PjlHeader("PCL");
  const std::string trailer = PjlTrailer();
  const fs::path job = folder.in() / "jobWTR.pcl";
  WriteFileBytes(job, header + MakePclBody() + trailer);
  folder.WriteSettings("WMEnable=1\nIsLog=1\n");
  WriteFileBytes(folder.in() / "jobWTR.pcl_watermark.txt", "SAMPLE");

  EXPECT_EQ(WatermarkJob(job), 1);

  EXPECT_EQ(CountInLog(folder.log(), u"Converting PCL file "), 1);
  EXPECT_EQ(CountInLog(folder.log(), u"Converting PS file "), 2);
  const std::string result = ReadFileBytes(folder.out() / "jobWTR.pcl.watermarked");
  ASSERT_GT(result.size(), header.size() + trailer.size());
  EXPECT_EQ(result.substr(0, header.size()), header);
  EXPECT_EQ(result.substr(result.size() - trailer.size()), trailer);
  const std::string body = result.substr(header.size(), result.size() - header.size() - trailer.size());
  EXPECT_EQ(body.substr(0, 12), ") HP-PCL XL;");

  constexpr int kDpi = 36;
  const GrayPage stamped = RenderFirstPage(body, true, kDpi);
  EXPECT_GT(InkInWatermarkBox(stamped, kDpi), 10);

  EXPECT_EQ(FileNames(folder.in()),
            (std::set<std::string>{"jobWTR.pcl", "jobWTR.pcl_watermark.txt"}));
  EXPECT_EQ(FileNames(folder.out()),
            (std::set<std::string>{"jobWTR.pcl.watermarked", "jobWTR.pcl_watermark_done_ok"}));
}

TEST(WatermarkPipelineTest, FailuresLeaveOnlyWhatTheirStepMade) {
  ServiceFolder folder;
  ASSERT_TRUE(folder.HasInterpreters());
  const std::string pjl_job = PjlHeader("POSTSCRIPT") + kPagePostScript + PjlTrailer();
  const struct {
    const char* label;
    const char* settings;
    std::string job;
    const char* side_file;  // nullptr: none
    std::set<std::string> left_in;
  } cases[] = {
      {"watermarking off", "WMEnable=0\n", pjl_job, "SAMPLE", {"aWTR.ps", "aWTR.ps_watermark.txt"}},
      {"no side file", "WMEnable=1\n", pjl_job, nullptr, {"aWTR.ps", "aWTR.ps.copy"}},
      {"empty first line",
       "WMEnable=1\n",
       pjl_job,
       "\r\nSAMPLE\r\n",
       {"aWTR.ps", "aWTR.ps.copy", "aWTR.ps_watermark.txt"}},
      {"no PJL wrapper", "WMEnable=1\n", kPagePostScript, "SAMPLE",
       {"aWTR.ps", "aWTR.ps_watermark.txt"}},
      {"neither PostScript nor PCL", "WMEnable=1\n", PjlHeader("POSTSCRIPT") + "hello\n",
       "SAMPLE", {"aWTR.ps", "aWTR.ps_watermark.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ServiceFolder clean;
    clean.WriteSettings(c.settings);
    const fs::path job = clean.in() / "aWTR.ps";
    WriteFileBytes(job, c.job);
    if (c.side_file != nullptr) WriteFileBytes(clean.in() / "aWTR.ps_watermark.txt", c.side_file);
    EXPECT_EQ(WatermarkJob(job), 0);
    EXPECT_EQ(FileNames(clean.in()), c.left_in);
    EXPECT_EQ(FileNames(clean.out()), (std::set<std::string>{"aWTR.ps_watermark_done_error"}));
    EXPECT_EQ(ReadFileBytes(clean.out() / "aWTR.ps_watermark_done_error"), "watermark error");
  }
}

TEST(WatermarkPipelineTest, MissingPclInterpreterFailsAPclJob) {
  ServiceFolder folder;
  ASSERT_TRUE(folder.HasInterpreters());
  folder.WriteSettings("WMEnable=1\n");
  const fs::path job = folder.in() / "jobWTR.pcl";
  WriteFileBytes(job, PjlHeader("PCL") + MakePclBody() + PjlTrailer());
  WriteFileBytes(folder.in() / "jobWTR.pcl_watermark.txt", "SAMPLE");
  {
    HiddenInterpreter hidden(folder, "gpcl6");
    EXPECT_EQ(WatermarkJob(job), 0);
  }
  EXPECT_EQ(FileNames(folder.in()),
            (std::set<std::string>{"jobWTR.pcl", "jobWTR.pcl_watermark.txt"}));
  EXPECT_EQ(ReadFileBytes(folder.out() / "jobWTR.pcl_watermark_done_error"), "watermark error");
}

TEST(WatermarkPipelineTest, FailedStampingOfAPclJobLeavesItsWorkFiles) {
  ServiceFolder folder;
  ASSERT_TRUE(folder.HasInterpreters());
  folder.WriteSettings("WMEnable=1\n");
  const fs::path job = folder.in() / "jobWTR.pcl";
  WriteFileBytes(job, PjlHeader("PCL") + MakePclBody() + PjlTrailer());
  WriteFileBytes(folder.in() / "jobWTR.pcl_watermark.txt", "SAMPLE\r\n");
  {
    HiddenInterpreter hidden(folder, "gs");
    EXPECT_EQ(WatermarkJob(job), 0);
  }
  EXPECT_EQ(FileNames(folder.in()),
            (std::set<std::string>{"jobWTR.pcl", "jobWTR.pcl.copy", "jobWTR.pcl_watermark.code",
                                   "jobWTR.pcl_watermark.txt"}));
  // The body copy is the PCL interpreter's PostScript; the prolog is stored
  // with CR LF line ends and the text without the side file's line end.
  EXPECT_EQ(ReadFileBytes(folder.in() / "jobWTR.pcl.copy").substr(0, 4), "%!PS");
  std::string prolog = Job().BuildWatermarkProlog("SAMPLE");
  ReplaceAll(prolog, "\n", "\r\n");
  EXPECT_EQ(ReadFileBytes(folder.in() / "jobWTR.pcl_watermark.code"), prolog);
  const std::string result_path = (folder.out() / "jobWTR.pcl.watermarked").string();
  EXPECT_EQ(ReadFileBytes(result_path), result_path);
  EXPECT_EQ(ReadFileBytes(result_path + ".copy"), result_path + ".copy");
  EXPECT_TRUE(fs::exists(folder.out() / "jobWTR.pcl_watermark_done_error"));
}

TEST(WatermarkPipelineTest, HostileTextIsDrawnAndNeverRun) {
  ServiceFolder folder;
  ASSERT_TRUE(folder.HasInterpreters());
  folder.WriteSettings("WMEnable=1\n");
  const std::string trap = (folder.out() / "trap").string();
  // Unescaped, each of these would either break the prolog or, at the end of
  // the page, create the trap file (the run has file access).
  const std::string texts[] = {
      ") pop (x",
      ") pop (" + trap + ") (w) file closefile (",
      "\\) pop (" + trap + ") (w) file closefile (\\",
      "back\\slash\\",
      "} } stop ] >> (",
      "%%EOF\x1A\x04 (" + trap + ") (w) file",
  };
  // Too long for the prolog: it is cut inside the text, the interpreter
  // rejects the unclosed literal, and the job fails without running anything.
  const std::string overlong_texts[] = {
      std::string(4000, 'W'),
      std::string(4000, '(') + ") (" + trap + ") (w) file closefile (",
  };
  const std::string header = PjlHeader("POSTSCRIPT");
  const std::string trailer = PjlTrailer();
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 60));
    fs::remove(trap);
    const fs::path job = folder.in() / "hWTR.ps";
    WriteFileBytes(job, header + kPagePostScript + trailer);
    WriteFileBytes(folder.in() / "hWTR.ps_watermark.txt", text + "\n");
    EXPECT_EQ(WatermarkJob(job), 1);
    EXPECT_FALSE(fs::exists(trap));
    const std::string result = ReadFileBytes(folder.out() / "hWTR.ps.watermarked");
    ASSERT_GT(result.size(), header.size() + trailer.size());
    const GrayPage stamped = RenderFirstPage(
        result.substr(header.size(), result.size() - header.size() - trailer.size()), false, 36);
    EXPECT_GT(InkInWatermarkBox(stamped, 36), 10);
  }
  for (const std::string& text : overlong_texts) {
    SCOPED_TRACE(text.substr(0, 60));
    fs::remove(trap);
    const fs::path job = folder.in() / "hWTR.ps";
    WriteFileBytes(job, header + kPagePostScript + trailer);
    WriteFileBytes(folder.in() / "hWTR.ps_watermark.txt", text + "\n");
    EXPECT_EQ(WatermarkJob(job), 0);
    EXPECT_FALSE(fs::exists(trap));
  }
}

TEST(WatermarkPipelineTest, OddJobNamesReachTheInterpretersIntact) {
  ServiceFolder folder;
  ASSERT_TRUE(folder.HasInterpreters());
  folder.WriteSettings("WMEnable=1\n");
  const std::string pjl_job = PjlHeader("POSTSCRIPT") + kPagePostScript + PjlTrailer();
  // Percent signs would be page-number patterns, a quote would end the
  // argument and let the rest of the name pass options of its own.
  const std::string names[] = {"100%d %s WTR.ps", "q\" -c quit \"WTR.ps", "back\\WTR\\"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    ServiceFolder clean;
    clean.WriteSettings("WMEnable=1\n");
    WriteFileBytes(clean.in() / name, pjl_job);
    WriteFileBytes(clean.in() / (name + "_watermark.txt"), "SAMPLE");
    EXPECT_EQ(WatermarkJob(clean.in() / name), 1);
    EXPECT_EQ(FileNames(clean.out()),
              (std::set<std::string>{name + ".watermarked", name + "_watermark_done_ok"}));
    EXPECT_EQ(FileNames(clean.in()), (std::set<std::string>{name, name + "_watermark.txt"}));
  }
}

// The stamping run goes without safe mode, so a job's body can use the
// file operators: the confinement of the interpreter is all that stands
// between it and the machine. The body tries to copy /etc/passwd into out/
// and to write beside the service folder; both fail, and the job is still
// stamped.
TEST(WatermarkPipelineTest, UnsafeBodyCanNeitherReadSystemFilesNorWriteOutsideItsFolders) {
  if (LandlockAbiVersion() <= 0) GTEST_SKIP() << "this kernel has no Landlock";
  ServiceFolder folder;
  ASSERT_TRUE(folder.HasInterpreters());
  folder.WriteSettings("WMEnable=1\n");
  TempDir outside;
  const std::string copy = (folder.out() / "copied_passwd.txt").string();
  const std::string escaped = (outside.path() / "escaped.txt").string();
  const std::string hostile =
      "%!PS-Adobe-3.0\n"
      "{ (/etc/passwd) (r) file 4096 string readstring pop\n"
      "  (" + copy + ") (w) file exch writestring } stopped pop\n"
      "{ (" + escaped + ") (w) file (ESCAPED) writestring } stopped pop\n"
      "/Helvetica findfont 24 scalefont setfont\n"
      "200 400 moveto (Quillaro test page) show\n"
      "showpage\n";
  const std::string header = PjlHeader("POSTSCRIPT");
  const std::string trailer = PjlTrailer();
  const fs::path job = folder.in() / "hostileWTR.ps";
  WriteFileBytes(job, header + hostile + trailer);
  WriteFileBytes(folder.in() / "hostileWTR.ps_watermark.txt", "SAMPLE");

  EXPECT_EQ(WatermarkJob(job), 1);
  EXPECT_EQ(ReadFileBytes(copy).find("root:"), std::string::npos);
  EXPECT_FALSE(fs::exists(escaped));
  EXPECT_TRUE(fs::exists(folder.out() / "hostileWTR.ps_watermark_done_ok"));

  const std::string result = ReadFileBytes(folder.out() / "hostileWTR.ps.watermarked");
  ASSERT_GT(result.size(), header.size() + trailer.size());
  EXPECT_EQ(result.substr(0, header.size()), header);
  const std::string body = result.substr(header.size(), result.size() - header.size() - trailer.size());
  constexpr int kDpi = 36;
  const GrayPage stamped = RenderFirstPage(body, false, kDpi);
  EXPECT_GT(InkInWatermarkBox(stamped, kDpi), 10);
  EXPECT_GT(InkInBox(stamped, kDpi, 200, 400, 300, 420), 10);
}

}  // namespace
}  // namespace quillaro
