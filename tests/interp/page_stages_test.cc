// Page measurement and page rendering with the real gs, gpcl6 and gxps beside the test program.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "config/text_utils.h"
#include "imaging/raster_page.h"
#include "interp/interpreter_runs.h"
#include "interp/page_file_pattern.h"
#include "interp/page_measurement.h"
#include "interp/page_rendering.h"
#include "platform/child_process.h"
#include "support/corpus.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::CorpusEntry;
using testing::CorpusLanguage;
using testing::ReadFileBytes;
using testing::WriteFileBytes;
using Messages = std::vector<std::string>;

// The stages as the job worker runs them, with the settings of the moment.
PageCount Measure(const std::string& path) { return MeasurePages(LoadSettings(), {path, {}}); }
RenderedPages Render(const std::string& path) { return RenderPages(LoadSettings(), {path, {}}); }

// Replaces the interpreter `name` of the service folder while it lives, for the failures real
// ones do not give on demand: with nothing when `script` is empty, else with a shell script.
class FakeInterpreter {
 public:
  FakeInterpreter(const testing::ServiceFolder& folder, const std::string& name,
                  const std::string& script)
      : link_(folder.root() / name), saved_(folder.root() / (name + ".real")) {
    std::filesystem::rename(link_, saved_);
    if (script.empty()) return;
    WriteFileBytes(link_, "#!/bin/sh\n" + script + "\n");
    // Run as the job user where the tests run as root.
    std::filesystem::permissions(link_, std::filesystem::perms::owner_all |
                                            std::filesystem::perms::others_read |
                                            std::filesystem::perms::others_exec);
  }
  FakeInterpreter(const FakeInterpreter&) = delete;
  FakeInterpreter& operator=(const FakeInterpreter&) = delete;
  ~FakeInterpreter() {
    std::error_code error;
    std::filesystem::remove(link_, error);
    std::filesystem::rename(saved_, link_, error);
  }

 private:
  std::filesystem::path link_, saved_;
};

// The messages of log.txt (UTF-16LE: BOM, then "time TAB message CR LF"); ASCII in these tests.
Messages LogMessages(const testing::ServiceFolder& folder) {
  const std::string bytes = ReadFileBytes(folder.log());
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i + 1] == 0 ? bytes[i] : '?';
  std::vector<std::string> lines, messages;
  SplitString(text, "\r\n", lines, false);
  for (const std::string& line : lines) {
    if (line.find('\t') != std::string::npos) messages.push_back(line.substr(line.find('\t') + 1));
  }
  return messages;
}

// The service folder, cleaned, with the real gs, gpcl6 and gxps beside the test program.
class StageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QUILLARO_SKIP_WITHOUT_INTERPRETERS();
    // Away from the service folder: gpcl6 must find urwfonts/ beside it, not here.
    std::filesystem::current_path("/");
    folder_.WriteSettings("IsConvert=1\nIsLog=1\nType=1\nPagesMaxCount=10\nWaitSeconds=10\n");
  }
  std::string StageJob(const std::string& name, const std::string& bytes) {
    WriteFileBytes(folder_.in() / name, bytes);
    return (folder_.in() / name).string();
  }
  // The corpus job `name` copied into in/; empty when the corpus is missing.
  std::string StageCorpusJob(const std::string& name) {
    const std::string source = testing::CorpusPath(name);
    return source.empty() ? source : StageJob(name, ReadFileBytes(source));
  }
  std::string OutFile(const std::string& name) const { return ReadFileBytes(folder_.out() / name); }
  bool OutExists(const std::string& name) const {
    return std::filesystem::exists(folder_.out() / name);
  }
  bool InExists(const std::string& name) const {
    return std::filesystem::exists(folder_.in() / name);
  }
  void Reset() const {  // between the jobs of one test
    std::filesystem::remove_all(folder_.out());
    std::filesystem::create_directory(folder_.out());
    std::filesystem::remove(folder_.log());
  }
  // The word in the log lines of the interpreter for `entry`'s language.
  static std::string Word(const CorpusEntry& entry) {
    if (entry.language == CorpusLanguage::kXps) return "XPS";
    return entry.language == CorpusLanguage::kPcl || entry.language == CorpusLanguage::kPclXl
               ? "PCL"
               : "PS";
  }

  testing::ServiceFolder folder_;
};

using PageMeasurementTest = StageTest;

TEST_F(PageMeasurementTest, CountsPagesTimesCopiesAndNamesThePaperForEveryCorpusJob) {
  for (const CorpusEntry& entry : testing::CorpusEntries()) {
    SCOPED_TRACE(entry.name);
    const std::string path = StageCorpusJob(entry.name);
    const PageCount count = Measure(path);
    EXPECT_TRUE(count.ok);
    EXPECT_EQ(count.pages, entry.pages);
    const std::string stem = entry.name.substr(0, entry.name.rfind('.'));
    EXPECT_EQ(OutFile(stem + "_pagescount.txt"), std::to_string(entry.pages * entry.copies));
    const std::string paper = OutFile(stem + "_papersize.txt");
    const std::string name = entry.paper == "A4" ? "A4 Sheet" : entry.paper;
    Messages expected = {"Calculating " + Word(entry) + " file " + path + " OK"};
    if (entry.pjl_paper == "A4" || entry.pjl_paper == "LETTER") {
      // The PJL header names the paper: its display name alone, and no measured names.
      EXPECT_EQ(paper, name);
      expected.insert(expected.begin(), "Calculating page size file " + path + " OK");
    } else {
      EXPECT_TRUE(paper.ends_with("\r\n")) << paper;
      // Raster formats lose the printer margins: only vector pages with marks name their sheet.
      if (Word(entry) != "PCL" && !entry.blank) {
        EXPECT_NE(("\n" + paper).find("\n" + name + "\r\n"), std::string::npos) << paper;
      }
      // Only the PCL run logs its measured paper names.
      if (Word(entry) == "PCL") {
        expected.push_back("Calculating page size PCL file " + path + " OK");
      }
    }
    Messages log = LogMessages(folder_);
    if (entry.name == "a4_3pages_reset.pcl" && !log.empty()) log.erase(log.begin());  // PS first
    EXPECT_EQ(log, expected);
    Reset();  // jobs of one STEM follow each other: the next must not find this one's names
  }
}

TEST_F(PageMeasurementTest, JobsNoContentTestKnowsAreTriedPsFirst) {
  // Starts with ESC E: PostScript fails, PCL counts it. The STEM keeps the inner dot; an
  // earlier paper file of that STEM is kept, so the PCL run names no paper.
  WriteFileBytes(folder_.out() / "annual.report_papersize.txt", "Earlier\r\n");
  const std::string pcl =
      StageJob("annual.report.pcl", ReadFileBytes(testing::CorpusPath("a4_3pages_reset.pcl")));
  EXPECT_TRUE(Measure(pcl).ok);
  EXPECT_EQ(OutFile("annual.report_pagescount.txt"), "3");
  EXPECT_EQ(OutFile("annual.report_papersize.txt"), "Earlier\r\n");
  const Messages log = LogMessages(folder_);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(log[0].starts_with("Calculating PS file " + pcl + " ERROR (")) << log[0];
  EXPECT_EQ(log[1], "Calculating PCL file " + pcl + " OK");

  // An empty job: every interpreter runs and finds no page; nothing is written.
  Reset();
  const std::string empty = StageJob("nothing", "");
  EXPECT_FALSE(Measure(empty).ok);
  EXPECT_EQ(LogMessages(folder_), Messages({"Calculating PS file " + empty + " ERROR (0 pages)",
                                            "Calculating PCL file " + empty + " ERROR (0 pages)",
                                            "Calculating XPS file " + empty + " ERROR (0 pages)"}));
  EXPECT_TRUE(std::filesystem::is_empty(folder_.out()));
}

// The PJL paper name stays; no count and no measured names are written.
TEST_F(PageMeasurementTest, MissingCrashingFailingAndEndlessInterpretersFailCleanly) {
  const std::string path = StageCorpusJob("pjl_ps_a4_qty2.prn");
  const std::pair<const char*, const char*> cases[] = {
      {"", "-1"}, {"kill -SEGV $$", "139"}, {"exit 3", "3"}, {"exec sleep 600", "123"}};
  for (const auto& [script, code] : cases) {
    SCOPED_TRACE(script);
    FakeInterpreter fake(folder_, "gs", script);
    EXPECT_FALSE(Measure(path).ok);
    EXPECT_EQ(OutFile("pjl_ps_a4_qty2_papersize.txt"), "A4 Sheet");
    EXPECT_FALSE(OutExists("pjl_ps_a4_qty2_pagescount.txt"));
    EXPECT_EQ(LogMessages(folder_).back(), "Calculating PS file " + path + " ERROR (" + code + ")");
  }
}

TEST(QuoteArgumentTest, SurvivesTheCommandLineSplitUnchanged) {
  for (const std::string text : {"", "/srv/in/a b.pcl", "50% off", "say \"hi\"", "ends with\\",
                                 "a\\\\\"b", "\\\\", "tab\tin"}) {
    const std::vector<std::string> split = SplitCommandLine("-q " + QuoteArgument(text) + " x");
    ASSERT_EQ(split.size(), 3u) << text;
    EXPECT_EQ(split[1], text);
  }
}

// A page file: a whole binary PPM of 8-bit RGB of `width` x `height` pixels, give or take rounding.
// (Every corpus job's pages, against those of the PNG route: tests/service.)
void ExpectPage(const std::string& file, int32_t width, int32_t height) {
  const std::optional<RasterPage> page = RasterPage::Read(file, size_t{1} << 30);
  ASSERT_TRUE(page.has_value()) << file;
  EXPECT_NEAR(page->width(), width, 2) << file;
  EXPECT_NEAR(page->height(), height, 2) << file;
}

using PageRenderingTest = StageTest;

TEST_F(PageRenderingTest, StopsAtTheLastPageTheSettingsAllowAndKeepsPercentSignsLiteral) {
  const std::string path = StageJob(
      "50%d off %s.ps", "%!PS\n1 1 40 { pop 100 100 moveto 200 300 lineto stroke showpage } for\n");
  const RenderedPages pages = Render(path);
  EXPECT_TRUE(pages.ok);
  // Beside the job: the one folder its runs may write in.
  EXPECT_EQ(pages.pattern, EscapePagePattern(folder_.in().string()) + "/50%%d off %%s_%d.ppm_");
  EXPECT_TRUE(InExists("50%d off %s_1.ppm_") && InExists("50%d off %s_10.ppm_"));
  ExpectPage(PageFileName(pages.pattern, 10), 827, 1169);  // gs defaults to A4 here: 100 dpi
  EXPECT_FALSE(InExists("50%d off %s_11.ppm_"));

  // Type 2 measures colour on every page, up to 499.
  folder_.WriteSettings("IsConvert=1\nType=2\nPagesMaxCount=10\n");
  EXPECT_TRUE(Render(path).ok);
  EXPECT_TRUE(InExists("50%d off %s_40.ppm_"));
  EXPECT_FALSE(InExists("50%d off %s_41.ppm_"));
}

TEST_F(PageRenderingTest, AJobNoTestKnowsIsTriedByEveryInterpreterInTurn) {
  const std::string path = StageJob("mystery.bin", std::string("\x01\x02\x03", 3));
  FakeInterpreter no_ps(folder_, "gs", "");
  FakeInterpreter failing_pcl(folder_, "gpcl6", "exit 1");
  FakeInterpreter crashing_xps(folder_, "gxps", "kill -SEGV $$");
  EXPECT_FALSE(Render(path).ok);
  EXPECT_EQ(LogMessages(folder_), Messages({"Converting PS file " + path + " ERROR (-1)",
                                            "Converting PCL file " + path + " ERROR (1)",
                                            "Converting XPS file " + path + " ERROR (139)"}));
  EXPECT_TRUE(std::filesystem::is_empty(folder_.out()));
}

}  // namespace
}  // namespace quillaro
