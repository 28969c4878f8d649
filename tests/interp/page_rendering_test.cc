#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/job.h"
#include "config/text_utils.h"
#include "interp/page_file_pattern.h"
#include "interp_fixture.h"

namespace quillaro {
namespace {

using testing::CorpusEntries;
using testing::CorpusEntry;
using testing::FakeInterpreter;
using testing::LogMessages;

uint32_t BigEndian32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// What a page file must be: a PNG of 8-bit RGB (24 bits a pixel) recorded
// at 100 dpi, of the given size in pixels (give or take rounding).
void ExpectPage(const std::filesystem::path& file, uint32_t width, uint32_t height) {
  SCOPED_TRACE(file.string());
  const std::string png = testing::ReadFileBytes(file);
  ASSERT_GT(png.size(), 33u);
  ASSERT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  ASSERT_EQ(png.substr(12, 4), "IHDR");
  EXPECT_NEAR(BigEndian32(png, 16), width, 2);
  EXPECT_NEAR(BigEndian32(png, 20), height, 2);
  EXPECT_EQ(png[24], 8);  // bits per sample
  EXPECT_EQ(png[25], 2);  // RGB, no alpha
  const size_t phys = png.find("pHYs");
  ASSERT_NE(phys, std::string::npos);
  ASSERT_LT(phys + 12, png.size());
  // 100 dots per inch in dots per metre.
  EXPECT_EQ(BigEndian32(png, phys + 4), 3937u);
  EXPECT_EQ(BigEndian32(png, phys + 8), 3937u);
  EXPECT_EQ(png[phys + 12], 1);
}

class PageRenderingTest : public testing::InterpreterStageTest {
 protected:
  void SetUp() override {
    InterpreterStageTest::SetUp();
    folder_.WriteSettings("IsConvert=1\nIsLog=1\nType=1\nPagesMaxCount=10\nWaitSeconds=30\n");
  }

  // The page files in out/, by name.
  std::vector<std::string> PageFiles() const {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(folder_.out())) {
      names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(PageRenderingTest, RendersEveryPageOfEveryCorpusJob) {
  for (const CorpusEntry& entry : CorpusEntries()) {
    SCOPED_TRACE(entry.name);
    const std::string path = StageCorpusJob(entry.name);
    ASSERT_FALSE(path.empty());
    Job job;
    EXPECT_EQ(job.RenderPages(ToWide(path)), 1);
    const std::string stem = entry.name.substr(0, entry.name.rfind('.'));
    EXPECT_EQ(job.OutputFile, (folder_.out() / (stem + "_%d.png_")).string());
    const bool a4 = entry.paper == "A4";
    for (int page = 1; page <= entry.pages; ++page) {
      ExpectPage(PageFileName(job.OutputFile, page), a4 ? 827 : 850, a4 ? 1169 : 1100);
    }
    EXPECT_FALSE(std::filesystem::exists(PageFileName(job.OutputFile, entry.pages + 1)));
    ASSERT_FALSE(LogMessages(folder_).empty());
    EXPECT_EQ(LogMessages(folder_).back().substr(0, 11), "Converting ");
    EXPECT_EQ(LogMessages(folder_).back().substr(LogMessages(folder_).back().size() - 3), " OK");
    std::filesystem::remove_all(folder_.out());
    std::filesystem::create_directory(folder_.out());
    std::filesystem::remove(folder_.log());
  }
}

TEST_F(PageRenderingTest, StopsAtTheLastPageTheSettingsAllow) {
  const std::string path = StageJob("forty pages.ps", testing::PostScriptPages(40));
  Job job;
  EXPECT_EQ(job.RenderPages(ToWide(path)), 1);
  std::vector<std::string> expected;
  for (int page = 1; page <= 10; ++page) {
    expected.push_back("forty pages_" + std::to_string(page) + ".png_");
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(PageFiles(), expected);
  // The argument list is not left pointing at strings that are gone.
  EXPECT_EQ(job.Argc, 0);

  // Type 2 measures colour on every page, up to 499.
  std::filesystem::remove_all(folder_.out());
  std::filesystem::create_directory(folder_.out());
  folder_.WriteSettings("IsConvert=1\nType=2\nPagesMaxCount=10\n");
  Job coverage;
  EXPECT_EQ(coverage.RenderPages(ToWide(path)), 1);
  EXPECT_EQ(PageFiles().size(), 40u);
}

TEST_F(PageRenderingTest, PercentSignsInTheNameStayLiteral) {
  const std::string path = StageJob("50%d off %s.ps", testing::PostScriptPages(2));
  Job job;
  EXPECT_EQ(job.RenderPages(ToWide(path)), 1);
  // OutputFile keeps the escaped pattern; PageFileName expands it.
  EXPECT_EQ(job.OutputFile, EscapePagePattern(folder_.out().string()) + "/50%%d off %%s_%d.png_");
  const std::vector<std::string> expected = {"50%d off %s_1.png_", "50%d off %s_2.png_"};
  EXPECT_EQ(PageFiles(), expected);
  EXPECT_TRUE(std::filesystem::exists(PageFileName(job.OutputFile, 2)));
}

TEST_F(PageRenderingTest, FailedRunsAreLoggedAndEveryInterpreterIsTried) {
  const std::string path = StageJob("mystery.bin", std::string("\x01\x02\x03", 3));
  FakeInterpreter no_ps(folder_, "gs", "");
  FakeInterpreter no_pcl(folder_, "gpcl6", "exit:1");
  FakeInterpreter crashing_xps(folder_, "gxps", "crash");
  Job job;
  EXPECT_EQ(job.RenderPages(ToWide(path)), 0);
  const std::vector<std::string> expected = {"Converting PS file " + path + " ERROR (-1)",
                                             "Converting PCL file " + path + " ERROR (1)",
                                             "Converting XPS file " + path + " ERROR (139)"};
  EXPECT_EQ(LogMessages(folder_), expected);
  EXPECT_TRUE(PageFiles().empty());
}

TEST_F(PageRenderingTest, DoesNothingWhenConversionIsOff) {
  folder_.WriteSettings("IsConvert=0\nType=1\n");
  Job job;
  job.OutputFile = "earlier";
  EXPECT_EQ(job.RenderPages(ToWide(StageCorpusJob("a4_3pages.ps"))), 1);
  EXPECT_EQ(job.OutputFile, "earlier");
  EXPECT_TRUE(PageFiles().empty());
}

}  // namespace
}  // namespace quillaro
