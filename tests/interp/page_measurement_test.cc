#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/job.h"
#include "config/text_utils.h"
#include "interp_fixture.h"

namespace quillaro {
namespace {

using testing::CorpusEntries;
using testing::CorpusEntry;
using testing::CorpusLanguage;
using testing::FakeInterpreter;
using testing::LogMessages;

class PageMeasurementTest : public testing::InterpreterStageTest {
 protected:
  void SetUp() override {
    InterpreterStageTest::SetUp();
    folder_.WriteSettings("IsConvert=1\nIsLog=1\nWaitSeconds=10\n");
  }

  static std::string Stem(const std::string& name) { return name.substr(0, name.rfind('.')); }
};

// The interpreter word in the log of the run that counts `entry`'s pages.
const char* CountingWord(const CorpusEntry& entry) {
  switch (entry.language) {
    case CorpusLanguage::kPostScript:
    case CorpusLanguage::kPdf:
      return "PS";
    case CorpusLanguage::kPcl:
    case CorpusLanguage::kPclXl:
      return "PCL";
    case CorpusLanguage::kXps:
      return "XPS";
  }
  return "";
}

std::string PaperDisplayName(const std::string& paper) {
  return paper == "A4" ? "A4 Sheet" : paper;
}

TEST_F(PageMeasurementTest, CountsPagesTimesCopiesAndNamesThePaperForEveryCorpusJob) {
  for (const CorpusEntry& entry : CorpusEntries()) {
    SCOPED_TRACE(entry.name);
    const std::string path = StageCorpusJob(entry.name);
    ASSERT_FALSE(path.empty());
    Job job;
    EXPECT_EQ(job.MeasurePages(ToWide(path)), 1);
    const std::string stem = Stem(entry.name);
    EXPECT_EQ(job.FilePathA, path);
    EXPECT_EQ(job.PagesCountFile, (folder_.out() / (stem + "_pagescount.txt")).string());
    EXPECT_EQ(job.ColorCoverageFile, (folder_.out() / (stem + "_colorcoverage.txt")).string());
    EXPECT_EQ(job.PaperSizeFile, (folder_.out() / (stem + "_papersize.txt")).string());
    EXPECT_EQ(OutFile(stem + "_pagescount.txt"), std::to_string(entry.pages * entry.copies));

    const std::string paper = OutFile(stem + "_papersize.txt");
    const std::vector<std::string> log = LogMessages(folder_);
    ASSERT_FALSE(log.empty());
    const std::string counted =
        std::string("Calculating ") + CountingWord(entry) + " file " + path + " OK";
    const bool pjl_paper = entry.pjl_paper == "A4" || entry.pjl_paper == "LETTER";
    if (pjl_paper) {
      // The PJL header names the paper: its display name alone, no line end.
      EXPECT_EQ(paper, PaperDisplayName(entry.paper));
      EXPECT_EQ(log.front(), "Calculating page size file " + path + " OK");
      EXPECT_EQ(log.back(), counted);
    } else {
      ASSERT_GE(paper.size(), 2u);
      EXPECT_EQ(paper.substr(paper.size() - 2), "\r\n");
      // Raster formats lose the printer margins, so only vector pages with
      // marks name their sheet reliably.
      if (entry.language != CorpusLanguage::kPcl && entry.language != CorpusLanguage::kPclXl &&
          !entry.blank) {
        EXPECT_NE(paper.find(PaperDisplayName(entry.paper) + "\r\n"), std::string::npos)
            << paper;
      }
      // Only the PCL run reports its measured paper names.
      if (std::string(CountingWord(entry)) == "PCL") {
        EXPECT_EQ(log.back(), "Calculating page size PCL file " + path + " OK");
      } else {
        EXPECT_EQ(log.back(), counted);
      }
    }
    // Jobs of one STEM follow each other: the next must not find this
    // one's paper names.
    std::filesystem::remove_all(folder_.out());
    std::filesystem::create_directory(folder_.out());
    std::filesystem::remove(folder_.log());
  }
}

TEST_F(PageMeasurementTest, JobsNoContentTestKnowsAreTriedPsFirst) {
  // Starts with ESC E: PostScript fails, PCL counts it.
  const std::string pcl = StageCorpusJob("a4_3pages_reset.pcl", "annual.report.pcl");
  Job job;
  EXPECT_EQ(job.MeasurePages(ToWide(pcl)), 1);
  EXPECT_EQ(OutFile("annual.report_pagescount.txt"), "3");
  std::vector<std::string> log = LogMessages(folder_);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].rfind("Calculating PS file " + pcl + " ERROR (", 0), 0u) << log[0];
  EXPECT_EQ(log[1], "Calculating PCL file " + pcl + " OK");

  // An empty job: every interpreter runs and finds no page.
  std::filesystem::remove(folder_.log());
  const std::string empty = StageJob("nothing", "");
  EXPECT_EQ(job.MeasurePages(ToWide(empty)), 0);
  log = LogMessages(folder_);
  const std::vector<std::string> expected = {"Calculating PS file " + empty + " ERROR (0 pages)",
                                             "Calculating PCL file " + empty + " ERROR (0 pages)",
                                             "Calculating XPS file " + empty + " ERROR (0 pages)"};
  EXPECT_EQ(log, expected);
  EXPECT_FALSE(OutExists("nothing_pagescount.txt"));
  EXPECT_FALSE(OutExists("nothing_papersize.txt"));
}

TEST_F(PageMeasurementTest, AnEarlierPaperFileOfTheSameStemIsKept) {
  testing::WriteFileBytes(folder_.out() / "a4_3pages_papersize.txt", "Earlier\r\n");
  testing::WriteFileBytes(folder_.out() / "a4_3pages_pagescount.txt", "99");
  Job job;
  EXPECT_EQ(job.MeasurePages(ToWide(StageCorpusJob("a4_3pages.pdf"))), 1);
  EXPECT_EQ(OutFile("a4_3pages_papersize.txt"), "Earlier\r\n");
  EXPECT_EQ(OutFile("a4_3pages_pagescount.txt"), "3");
}

TEST_F(PageMeasurementTest, ARejectedJobWritesNothingButItsLogLine) {
  const std::string path = StageJob("broken.ps", "%!PS\n/nosuchoperator load exec\nshowpage\n");
  Job job;
  EXPECT_EQ(job.MeasurePages(ToWide(path)), 0);
  EXPECT_EQ(LogMessages(folder_), std::vector<std::string>{"Calculating PS file " + path +
                                                           " ERROR (1)"});
  EXPECT_FALSE(OutExists("broken_pagescount.txt"));
  EXPECT_FALSE(OutExists("broken_papersize.txt"));
}

TEST_F(PageMeasurementTest, MissingCrashingAndEndlessInterpretersFailCleanly) {
  const std::string path = StageCorpusJob("pjl_ps_a4_qty2.prn");
  struct Case {
    const char* mode;
    const char* code;
  };
  const Case cases[] = {{"", "-1"}, {"crash", "139"}, {"sleep", "123"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    FakeInterpreter fake(folder_, "gs", c.mode);
    Job job;
    EXPECT_EQ(job.MeasurePages(ToWide(path)), 0);
    // The PJL paper name stays; no count and no measured names.
    EXPECT_EQ(OutFile("pjl_ps_a4_qty2_papersize.txt"), "A4 Sheet");
    EXPECT_FALSE(OutExists("pjl_ps_a4_qty2_pagescount.txt"));
    EXPECT_EQ(LogMessages(folder_).back(),
              "Calculating PS file " + path + " ERROR (" + c.code + ")");
  }
}

TEST_F(PageMeasurementTest, DoesNothingWhenConversionIsOff) {
  folder_.WriteSettings("IsConvert=0\nIsLog=1\n");
  Job job;
  EXPECT_EQ(job.MeasurePages(ToWide(StageCorpusJob("a4_3pages.ps"))), 1);
  EXPECT_TRUE(std::filesystem::is_empty(folder_.out()));
  EXPECT_FALSE(std::filesystem::exists(folder_.log()));
  EXPECT_EQ(job.MeasurePages(u""), 1);

  folder_.WriteSettings("IsConvert=1\n");
  Job converting;
  EXPECT_EQ(converting.MeasurePages(u""), 0);
}

}  // namespace
}  // namespace quillaro
