// The inspection functions on real jobs made by the interpreters: every job
// of the test corpus must be told apart as its maker meant it.
#include <gtest/gtest.h>

#include <string>

#include "inspect/language_detection.h"
#include "inspect/pjl_header.h"
#include "support/corpus.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::CorpusEntries;
using testing::CorpusEntry;
using testing::CorpusLanguage;
using testing::CorpusPath;

enum class Interpreter { kPostScript, kPcl, kXps, kTryEach };

// The order in which the stages pick an interpreter: the PJL language first,
// then the content tests.
Interpreter Classify(const std::string& path) {
  if (HasUel(path) == 1) {
    const std::string language = GetPjlLanguage(path);
    if (language.find("POSTSCRIPT") != std::string::npos) return Interpreter::kPostScript;
    if (language.find("PDF") != std::string::npos) return Interpreter::kPostScript;
    if (language.find("PCL") != std::string::npos) return Interpreter::kPcl;
    if (language.find("XPS") != std::string::npos) return Interpreter::kXps;
  }
  if (IsPostScript(path) == 1 || IsPdf(path) == 1) return Interpreter::kPostScript;
  if (IsPcl(path) == 1 || IsPclXl(path) == 1) return Interpreter::kPcl;
  if (IsXps(path) == 1) return Interpreter::kXps;
  return Interpreter::kTryEach;
}

Interpreter IntendedInterpreter(const CorpusEntry& entry) {
  // A bare PCL job that opens with the printer reset ESC E shows no content
  // mark; the interpreters are tried in turn.
  if (entry.name == "a4_3pages_reset.pcl") return Interpreter::kTryEach;
  switch (entry.language) {
    case CorpusLanguage::kPostScript:
    case CorpusLanguage::kPdf:
      return Interpreter::kPostScript;
    case CorpusLanguage::kPcl:
    case CorpusLanguage::kPclXl:
      return Interpreter::kPcl;
    case CorpusLanguage::kXps:
      return Interpreter::kXps;
  }
  return Interpreter::kTryEach;
}

TEST(CorpusClassificationTest, ClassifiesEveryJobAsItsMakerMeantIt) {
  for (const CorpusEntry& entry : CorpusEntries()) {
    SCOPED_TRACE(entry.name);
    const std::string path = CorpusPath(entry.name);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(HasUel(path), entry.pjl ? 1 : 0);
    EXPECT_EQ(GetPjlLanguage(path), entry.pjl_language);
    EXPECT_EQ(GetPjlPaper(path), entry.pjl_paper);
    EXPECT_EQ(GetPjlCopies(path), entry.copies);
    EXPECT_EQ(Classify(path), IntendedInterpreter(entry));
  }
}

TEST(CorpusClassificationTest, ContentTestsRecogniseTheBareJobs) {
  const struct {
    const char* name;
    int ps, pdf, pcl, pclxl, xps;
  } cases[] = {
      {"a4_3pages.ps", 1, 0, 0, 0, 0},
      {"a4_3pages.pdf", 0, 1, 0, 0, 0},
      {"letter_2pages.pdf", 0, 1, 0, 0, 0},
      {"a4_3pages_reset.pcl", 0, 0, 0, 0, 0},
      {"a4_3pages.pcl", 0, 0, 1, 0, 0},
      {"letter_2pages_colour.pcl", 0, 0, 1, 0, 0},
      {"letter_2pages.pxl", 0, 0, 0, 1, 0},
      {"a4_3pages.xps", 0, 0, 0, 0, 1},
      {"colour_a4.pdf", 0, 1, 0, 0, 0},
      {"blank_a4.pdf", 0, 1, 0, 0, 0},
      // Behind a PJL header the marks are found on the lines that follow it.
      {"pjl_ps_a4_qty2.prn", 1, 0, 0, 0, 0},
      {"pjl_xps_a4.prn", 0, 0, 0, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = CorpusPath(c.name);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(IsPostScript(path), c.ps);
    EXPECT_EQ(IsPdf(path), c.pdf);
    EXPECT_EQ(IsPcl(path), c.pcl);
    EXPECT_EQ(IsPclXl(path), c.pclxl);
    EXPECT_EQ(IsXps(path), c.xps);
  }
}

TEST(CorpusClassificationTest, SplitsEveryPjlJobBackIntoItsOwnBytes) {
  for (const CorpusEntry& entry : CorpusEntries()) {
    SCOPED_TRACE(entry.name);
    const std::string path = CorpusPath(entry.name);
    ASSERT_FALSE(path.empty());
    std::string header, body, trailer;
    const int32_t split = SplitPjlJob(path, header, body, trailer);
    // The PCL XL job's own header names its language; it is split as well.
    EXPECT_EQ(split, entry.pjl ? 1 : 0);
    if (split == 0) continue;
    EXPECT_EQ(header + body + trailer, testing::ReadFileBytes(path));
    EXPECT_EQ(header.back(), '\n');
    EXPECT_NE(header.find("@PJL ENTER LANGUAGE"), std::string::npos);
    EXPECT_EQ(trailer.empty(), !entry.has_trailer);
    if (entry.has_trailer) {
      EXPECT_EQ(trailer.rfind("\x1b%-12345X", 0), 0u);
    }
  }
}

}  // namespace
}  // namespace quillaro
