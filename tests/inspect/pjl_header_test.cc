#include "inspect/pjl_header.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::TempDir;
using testing::WriteFileBytes;

const std::string kUel = "\x1b%-12345X";

TEST(PjlHeaderTest, ReadsPaperUpperCasedAndUntrimmed) {
  const struct {
    std::string bytes;
    std::string expected;
  } cases[] = {
      {kUel + "@PJL SET PAPER=A4\n", "A4"},
      {kUel + "@PJL SET PAPER=letter\r\n", "LETTER"},
      {kUel + "@PJL SET PAPER = A4\n", " A4"},
      {"@PJL SET PAPER=A3\n", "A3"},  // no UEL needed
      {"@PJL SET PAPERSIZE=A5\n", "A5"},
      {"@PJL SET PAPER\n@PJL SET PAPER=A=4\n@PJL SET PAPER=LEGAL\n", "LEGAL"},
      {"@PJL SET PAPER=A4\n@PJL SET PAPER=LETTER\n", "A4"},
      {std::string(100, '\n') + "@PJL SET PAPER=A4\n", ""},
      {"@PJL SET QTY=2\n", ""},
  };
  TempDir dir;
  const std::string path = dir.File("job");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    WriteFileBytes(path, c.bytes);
    EXPECT_EQ(GetPjlPaper(path), c.expected);
  }
  EXPECT_EQ(GetPjlPaper(dir.File("missing")), "");
}

TEST(PjlHeaderTest, ReadsCopiesAsAtoiDoes) {
  const struct {
    std::string bytes;
    int expected;
  } cases[] = {
      {"@PJL SET QTY=3\n", 3},
      {"@PJL SET QTY = 3\n", 3},
      {"@PJL SET QTY=\t+12 copies\n", 12},
      {"@PJL SET QTY=-2\n", -2},
      {"@PJL SET QTY=abc\n", 0},
      {"@PJL SET QTY=- 2\n", 0},
      {"@PJL SET QTY=007\n", 7},
      {"@PJL SET QTY=99999999999\n", 2147483647},
      {"@PJL SET QTY=-99999999999\n", -2147483647 - 1},
      {"@PJL SET QTY=2\n@PJL SET QTY=5\n", 2},
      {"@PJL SET QTY==2\n@PJL SET QTY=5\n", 5},
      {"@PJL SET QTY=\n", 1},
      {"@PJL JOB\n", 1},
      {"", 1},
      {std::string(100, '\n') + "@PJL SET QTY=4\n", 1},
  };
  TempDir dir;
  const std::string path = dir.File("job");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    WriteFileBytes(path, c.bytes);
    EXPECT_EQ(GetPjlCopies(path), c.expected);
  }
  EXPECT_EQ(GetPjlCopies(dir.File("missing")), 1);
}

TEST(PjlHeaderTest, SplitsAJobIntoPiecesThatJoinBackExactly) {
  const std::string header = kUel + "@PJL JOB\r\n@PJL ENTER LANGUAGE=PCL\r\n";
  const std::string body = std::string("\x1b" "E\x1b&l1X\r\n\x1a\0data\n", 16) + "\x1b%-1234";
  const struct {
    const char* what;
    std::string bytes;
    std::string header, body, trailer;
  } cases[] = {
      {"with trailer", header + body + kUel + "@PJL EOJ\n" + kUel, header, body,
       kUel + "@PJL EOJ\n" + kUel},
      {"without trailer", header + body, header, body, ""},
      {"empty body", header + kUel, header, "", kUel},
      {"language line at the very start of line 1",
       kUel + "@PJL ENTER LANGUAGE=PS\n%!PS\n", kUel + "@PJL ENTER LANGUAGE=PS\n", "%!PS\n", ""},
  };
  TempDir dir;
  const std::string path = dir.File("job");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(path, c.bytes);
    std::string h = "old", b = "old", t = "old";
    ASSERT_EQ(SplitPjlJob(path, h, b, t), 1);
    EXPECT_EQ(h, c.header);
    EXPECT_EQ(b, c.body);
    EXPECT_EQ(t, c.trailer);
    EXPECT_EQ(h + b + t, c.bytes);
  }
}

TEST(PjlHeaderTest, RefusesJobsItCannotSplit) {
  TempDir dir;
  const std::string path = dir.File("job");
  std::string h = "h", b = "b", t = "t";
  // No UEL on the first line: the strings are left untouched.
  WriteFileBytes(path, "@PJL ENTER LANGUAGE=PCL\n\x1b" "E");
  EXPECT_EQ(SplitPjlJob(path, h, b, t), 0);
  EXPECT_EQ(h + b + t, "hbt");
  EXPECT_EQ(SplitPjlJob(dir.File("missing"), h, b, t), 0);
  EXPECT_EQ(h + b + t, "hbt");
  // A UEL but no language line, or one without LF: all three emptied.
  for (const std::string& bytes : {kUel + "@PJL JOB\n%!PS\n", kUel + "@PJL ENTER LANGUAGE=PCL"}) {
    SCOPED_TRACE(bytes);
    WriteFileBytes(path, bytes);
    h = "h", b = "b", t = "t";
    EXPECT_EQ(SplitPjlJob(path, h, b, t), 0);
    EXPECT_EQ(h + b + t, "");
  }
}

}  // namespace
}  // namespace quillaro
