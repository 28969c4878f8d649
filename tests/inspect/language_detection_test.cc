#include "inspect/language_detection.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::TempDir;
using testing::WriteFileBytes;

const std::string kUel = "\x1b%-12345X";
const std::string kEsc = "\x1b";

std::string Lines(int count, const std::string& line) {
  std::string text;
  for (int i = 0; i < count; ++i) text += line + "\n";
  return text;
}

struct Answers {
  int uel, ps, pdf, pcl, pclxl, xps;
};

struct Case {
  const char* what;
  std::string bytes;
  Answers expected;
};

TEST(LanguageDetectionTest, AnswersEachTestFromTheFirstBytesAndLines) {
  const Case cases[] = {
      {"empty file", "", {0, 0, 0, 0, 0, 0}},
      {"PostScript", "%!PS-Adobe-3.0\n", {0, 1, 0, 0, 0, 0}},
      {"lower-case PostScript", "%!ps\n", {0, 1, 0, 0, 0, 0}},
      {"mixed-case mark", "%!Ps\n", {0, 0, 0, 0, 0, 0}},
      {"blank before mark", " %!PS\n", {0, 0, 0, 0, 0, 0}},
      {"99 lines then PostScript", Lines(99, "x") + "%!PS\n", {0, 1, 0, 0, 0, 0}},
      {"100 lines then PostScript", Lines(100, "x") + "%!PS\n", {0, 0, 0, 0, 0, 0}},
      {"99 empty lines, last without LF", Lines(99, "") + "%!PS", {0, 1, 0, 0, 0, 0}},
      {"PDF", "%PDF-1.7\n%\xe2\xe3\n", {0, 0, 1, 0, 0, 0}},
      {"lower-case PDF", "%pdf", {0, 0, 1, 0, 0, 0}},
      {"PDF on line 2", "\n%PDF-1.4\n", {0, 0, 0, 0, 0, 0}},
      {"PDF after CR only", "\r%PDF-1.4\n", {0, 0, 0, 0, 0, 0}},
      {"ESC E reset", kEsc + "E" + kEsc + "&l0O", {0, 0, 0, 0, 0, 0}},
      {"ESC ampersand", kEsc + "&l0O", {0, 0, 0, 1, 0, 0}},
      {"ESC bang (lowest)", kEsc + "!", {0, 0, 0, 1, 0, 0}},
      {"ESC slash (highest)", kEsc + "/", {0, 0, 0, 1, 0, 0}},
      {"ESC blank", kEsc + " ", {0, 0, 0, 0, 0, 0}},
      {"ESC zero", kEsc + "0", {0, 0, 0, 0, 0, 0}},
      {"ESC and a high byte", kEsc + "\xa6", {0, 0, 0, 0, 0, 0}},
      {"ESC alone", kEsc, {0, 0, 0, 0, 0, 0}},
      {"ESC then 0x1A ends the data", kEsc + "\x1a&", {0, 0, 0, 0, 0, 0}},
      {"PCL XL", ") HP-PCL XL;2;0\n", {0, 0, 0, 0, 1, 0}},
      {"PCL XL after blank", " ) HP-PCL XL;2;0\n", {0, 0, 0, 0, 0, 0}},
      {"PCL XL on line 100", Lines(99, "@PJL") + ") HP-PCL XL;", {0, 0, 0, 0, 1, 0}},
      {"PCL XL on line 101", Lines(100, "@PJL") + ") HP-PCL XL;", {0, 0, 0, 0, 0, 0}},
      {"ZIP", std::string("PK\x03\x04", 4), {0, 0, 0, 0, 0, 1}},
      {"P alone", "P", {0, 0, 0, 0, 0, 0}},
      {"P CR LF K reads as P LF K", "P\r\nK", {0, 0, 0, 0, 0, 0}},
      {"UEL on line 1", kUel + "@PJL JOB\n", {1, 0, 0, 0, 0, 0}},
      {"UEL late in line 1", "@PJL " + kUel + "\n", {1, 0, 0, 0, 0, 0}},
      {"UEL on line 2", "@PJL\n" + kUel + "\n", {0, 0, 0, 0, 0, 0}},
      {"UEL cut by 0x1A", kEsc + "%-123\x1a" "45X\n", {0, 0, 0, 1, 0, 0}},
      {"PJL PostScript", kUel + "@PJL\n@PJL ENTER LANGUAGE=POSTSCRIPT\n%!PS\n" + kUel,
       {1, 1, 0, 0, 0, 0}},
      {"PJL PCL", kUel + "@PJL\n@PJL ENTER LANGUAGE=PCL\n" + kEsc + "&l1X\n" + kUel,
       {1, 0, 0, 1, 0, 0}},
      {"PJL PCL after reset line", kUel + "@PJL\n" + kEsc + "E\n" + kEsc + "*b", {1, 0, 0, 1, 0, 0}},
      {"PJL only reset", kUel + "@PJL\n" + kEsc + "E" + kEsc + "&l1X\n", {1, 0, 0, 0, 0, 0}},
      {"UEL line never PCL", kUel + "\n@PJL EOJ\n" + kUel + "\n", {1, 0, 0, 0, 0, 0}},
      {"PCL line that holds a UEL", kUel + "\n" + kEsc + "&l1X" + kUel + "\n", {1, 0, 0, 0, 0, 0}},
      {"PJL XPS", kUel + "@PJL\n@PJL ENTER LANGUAGE=XPS\nPK\x03\x04", {1, 0, 0, 0, 0, 1}},
      {"PJL P alone", kUel + "@PJL\nP\n", {1, 0, 0, 0, 0, 0}},
      {"PJL with PK on line 101", kUel + Lines(100, "@PJL") + "PK", {1, 0, 0, 0, 0, 0}},
      {"PJL PK line holding a UEL", kUel + "\nPK" + kUel, {1, 0, 0, 0, 0, 0}},
  };
  TempDir dir;
  int index = 0;
  for (const Case& c : cases) {
    const std::string path = dir.File("job" + std::to_string(index++));
    WriteFileBytes(path, c.bytes);
    SCOPED_TRACE(c.what);
    EXPECT_EQ(HasUel(path), c.expected.uel);
    EXPECT_EQ(IsPostScript(path), c.expected.ps);
    EXPECT_EQ(IsPdf(path), c.expected.pdf);
    EXPECT_EQ(IsPcl(path), c.expected.pcl);
    EXPECT_EQ(IsPclXl(path), c.expected.pclxl);
    EXPECT_EQ(IsXps(path), c.expected.xps);
  }
}

TEST(LanguageDetectionTest, ReadsLinesAsWindowsTextModeDoes) {
  TempDir dir;
  const std::string path = dir.File("job");
  // CR LF is one line end, so the mark starts line 2 and the language value
  // carries no CR.
  WriteFileBytes(path, kUel + "@PJL ENTER LANGUAGE=pcl\r\n%!PS\r\n");
  EXPECT_EQ(IsPostScript(path), 1);
  EXPECT_EQ(GetPjlLanguage(path), "PCL");
  // A lone CR is an ordinary byte and stays in the value.
  WriteFileBytes(path, "@PJL ENTER LANGUAGE=pcl\r%!PS\n");
  EXPECT_EQ(IsPostScript(path), 0);
  EXPECT_EQ(GetPjlLanguage(path), "PCL\r%!PS");
  // CR CR LF reads as CR LF: the value ends in one CR.
  WriteFileBytes(path, "@PJL ENTER LANGUAGE=X\r\r\n");
  EXPECT_EQ(GetPjlLanguage(path), "X\r");
  // 0x1A ends the data: nothing after it is seen.
  WriteFileBytes(path, "@PJL\n\x1a\n%!PS\n");
  EXPECT_EQ(IsPostScript(path), 0);
  WriteFileBytes(path, "@PJL ENTER LANGUAGE=PDF\x1a" "CL\n");
  EXPECT_EQ(GetPjlLanguage(path), "PDF");
  // CR LF counts as one line end for the 100-line limit too.
  WriteFileBytes(path, Lines(99, "x\r") + "%!PS\r\n");
  EXPECT_EQ(IsPostScript(path), 1);
}

TEST(LanguageDetectionTest, CarriesCrLfAndMarksAcrossReadBlocks) {
  // Lines far longer than any read block: a CR LF split between two blocks,
  // and a UEL or keyword that straddles them, must read as in one piece.
  TempDir dir;
  const std::string path = dir.File("job");
  for (size_t filler : {65535u, 65536u, 65534u, 131071u}) {
    SCOPED_TRACE(filler);
    WriteFileBytes(path, std::string(filler, 'a') + "\r\n%!PS\n");
    EXPECT_EQ(IsPostScript(path), 1);
    WriteFileBytes(path, std::string(filler - 4, 'a') + kUel + "\n");
    EXPECT_EQ(HasUel(path), 1);
    WriteFileBytes(path, std::string(filler - 8, 'a') + "@PJL ENTER LANGUAGE=PCL\n");
    EXPECT_EQ(GetPjlLanguage(path), "PCL");
  }
  // A CR that ends a block is held back until the next block shows whether
  // an LF follows; at the end of the data or before 0x1A it stays a CR.
  WriteFileBytes(path, std::string(65534, 'a') + "=\r");
  EXPECT_EQ(GetPjlValue(path, "a"), "\r");
  WriteFileBytes(path, std::string(65534, 'a') + "=\r\x1a" "b");
  EXPECT_EQ(GetPjlValue(path, "a"), "\r");
  WriteFileBytes(path, std::string(65533, 'a') + "=q\r\nb=c=d\n");
  EXPECT_EQ(GetPjlValue(path, "a"), "Q");
}

TEST(LanguageDetectionTest, ReadsPjlLanguageValues) {
  const struct {
    std::string bytes;
    std::string expected;
  } cases[] = {
      {kUel + "@PJL ENTER LANGUAGE=postscript\n", "POSTSCRIPT"},
      {kUel + "@PJL ENTER LANGUAGE = PCL\n", " PCL"},
      {kUel + "@PJL ENTER LANGUAGE=PCLXL  \n", "PCLXL  "},
      {"@PJL ENTER LANGUAGE=Pdf\n", "PDF"},  // no UEL needed
      {"junk=junk @PJL ENTER LANGUAGE=XPS\n", "XPS"},  // text before the keyword ignored
      {"@PJL ENTER LANGUAGE\n@PJL ENTER LANGUAGE=PCL\n", "PCL"},
      {"@PJL ENTER LANGUAGE=A=B\n@PJL ENTER LANGUAGE=PCL\n", "PCL"},
      {"@PJL ENTER LANGUAGE==PDF\n@PJL ENTER LANGUAGE=PCL\n", "PCL"},
      {"@PJL ENTER LANGUAGE=\n@PJL ENTER LANGUAGE=PCL\n", ""},
      {"@pjl enter language=PCL\n", ""},
      {"@PJL ENTER LANGUAGES=pcl\n", "PCL"},
      {"@PJL ENTER LANGUAGE=\xe9t\xc9\n", "\xe9T\xc9"},
      {Lines(100, "@PJL") + "@PJL ENTER LANGUAGE=PCL\n", ""},
      {Lines(99, "@PJL") + "@PJL ENTER LANGUAGE=PCL", "PCL"},
      {"", ""},
  };
  TempDir dir;
  const std::string path = dir.File("job");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 60));
    WriteFileBytes(path, c.bytes);
    EXPECT_EQ(GetPjlLanguage(path), c.expected);
  }
}

TEST(LanguageDetectionTest, KeepsTheValueBoundedOnAVeryLongLine) {
  TempDir dir;
  const std::string path = dir.File("job");
  // Binary data behind the language line without any LF: the value is cut,
  // and a "=" far behind the cut still makes the line unusable.
  WriteFileBytes(path, "@PJL ENTER LANGUAGE=PCL" + std::string(1 << 20, 'x') + "\n");
  const std::string value = GetPjlLanguage(path);
  EXPECT_EQ(value.size(), 4096u);
  EXPECT_EQ(value.substr(0, 4), "PCLX");
  WriteFileBytes(path, "@PJL ENTER LANGUAGE=PCL" + std::string(1 << 20, 'x') + "=\n");
  EXPECT_EQ(GetPjlLanguage(path), "");
}

TEST(LanguageDetectionTest, AnswersNoForAMissingFileOrAFolder) {
  TempDir dir;
  for (const std::string& path : {dir.File("missing"), dir.path().string()}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(HasUel(path), 0);
    EXPECT_EQ(IsPostScript(path), 0);
    EXPECT_EQ(IsPdf(path), 0);
    EXPECT_EQ(IsPcl(path), 0);
    EXPECT_EQ(IsPclXl(path), 0);
    EXPECT_EQ(IsXps(path), 0);
    EXPECT_EQ(GetPjlLanguage(path), "");
  }
}

}  // namespace
}  // namespace quillaro
