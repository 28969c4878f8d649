#include "inspect/pjl_header.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::TempDir;
using testing::WriteFileBytes;

const std::string kUel = "\x1b%-12345X";

// The keyword-value scan itself is covered with the language value.
TEST(PjlHeaderTest, ReadsPaperUpperCasedUntrimmedAndCopiesAsAtoiDoes) {
  const std::tuple<std::string, std::string, int> cases[] = {
      {kUel + "@PJL SET PAPER=A4\n@PJL SET QTY=3\n", "A4", 3},
      {"@PJL SET PAPER=letter\r\n@PJL SET QTY = 3\r\n", "LETTER", 3},
      {"@PJL SET PAPER = A4\n@PJL SET QTY=\t+12 copies\n", " A4", 12},
      {"@PJL SET PAPERSIZE=a5\n@PJL SET QTY=-2\n", "A5", -2},
      {"@PJL SET PAPER\n@PJL SET PAPER=A=4\n@PJL SET PAPER=LEGAL\n@PJL SET QTY=abc\n", "LEGAL", 0},
      {"@PJL SET PAPER=A4\n@PJL SET PAPER=LETTER\n@PJL SET QTY=- 2\n", "A4", 0},
      {"@PJL SET QTY=99999999999\n", "", 2147483647},
      {"@PJL SET QTY==2\n@PJL SET QTY=5\n@PJL SET QTY=6\n", "", 5},
      {"@PJL SET PAPER=\n@PJL SET QTY=\n", "", 1},
      {"@PJL JOB\n", "", 1},
  };
  TempDir dir;
  const std::string path = dir.File("job");
  for (const auto& [bytes, paper, copies] : cases) {
    WriteFileBytes(path, bytes);
    EXPECT_EQ(GetPjlPaper(path), paper) << bytes;
    EXPECT_EQ(GetPjlCopies(path), copies) << bytes;
  }
  EXPECT_EQ(GetPjlPaper(dir.File("missing")), "");
  EXPECT_EQ(GetPjlCopies(dir.File("missing")), 1);
}

// Writes each case's bytes as a job and expects `split` to give its result and pieces; the
// pieces start as "h", "b" and "t", so that an emptied one shows.
template <typename Cases, typename Split>
void ExpectSplits(const TempDir& dir, const Cases& cases, Split split) {
  const std::string path = dir.File("job");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    WriteFileBytes(path, c.bytes);
    std::string h = "h", b = "b", t = "t";
    EXPECT_EQ(split(path, h, b, t), c.result);
    EXPECT_EQ(std::tie(h, b, t), std::tie(c.header, c.body, c.trailer));
  }
}

TEST(PjlHeaderTest, SplitsAJobIntoPiecesThatJoinBackExactly) {
  const std::string header = kUel + "@PJL JOB\r\n@PJL ENTER LANGUAGE=PCL\r\n";
  const std::string body = std::string(
                               "\x1b"
                               "E\x1b&l1X\r\n\x1a\0data\n",
                               16) +
                           "\x1b%-1234";
  const std::string end = kUel + "@PJL EOJ\n" + kUel;
  const struct {
    std::string bytes;
    int result;
    std::string header, body, trailer;
  } cases[] = {
      {header + body + end, 1, header, body, end},
      {header + body, 1, header, body, ""},
      {header + kUel, 1, header, "", kUel},
      // No UEL on the first line: the strings are left untouched.
      {"@PJL ENTER LANGUAGE=PCL\n\x1b"
       "E",
       0, "h", "b", "t"},
      // A UEL but no language line, or one without LF: all three emptied.
      {kUel + "@PJL JOB\n%!PS\n", 0, "", "", ""},
      {kUel + "@PJL ENTER LANGUAGE=PCL", 0, "", "", ""},
  };
  TempDir dir;
  ExpectSplits(dir, cases, SplitPjlJob);
  std::string h = "h", b = "b", t = "t";
  EXPECT_EQ(SplitPjlJob(dir.File("missing"), h, b, t), 0);
  EXPECT_EQ(h + b + t, "hbt");
}

// A header that names no language (foomatic's PCL drivers write one) ends with its last PJL line,
// blank lines between them included; a line that is no PJL command starts the body.
TEST(PjlHeaderTest, AHeaderWithoutALanguageLineEndsWithItsLastPjlLine) {
  const std::string header = kUel + "@PJL\n@PJL SET DUPLEX=OFF\r\n\r\n@PJL SET COPIES=1\n";
  const std::string body = "\x1b" "E\x1b&l0O text @PJL not a command\n\x0c";
  const std::string end = kUel + "@PJL RESET\n";
  const struct {
    std::string bytes;
    int result;
    std::string header, body, trailer;
  } cases[] = {
      {header + body + end, 1, header, body, end},
      {header + body, 1, header, body, ""},
      {header + end, 0, "", "", ""},                     // no body
      {"@PJL SET COPIES=1\n" + body, 0, "", "", ""},     // no UEL
      {kUel + "@PJL SET COPIES=1", 0, "", "", ""},       // no line end
  };
  TempDir dir;
  ExpectSplits(dir, cases, SplitPjlJobAtHeaderEnd);
}

}  // namespace
}  // namespace quillaro
