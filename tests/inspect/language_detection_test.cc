#include "inspect/language_detection.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "inspect/text_mode_reader.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::TempDir;
using testing::WriteFileBytes;

const std::string kUel = "\x1b%-12345X";
const std::string kEsc = "\x1b";

// The six tests' answers as digits: UEL, PostScript, PDF, PCL, PCL XL, XPS.
std::string Answers(const std::string& path) {
  return {char('0' + HasUel(path)), char('0' + IsPostScript(path)), char('0' + IsPdf(path)),
          char('0' + IsPcl(path)),  char('0' + IsPclXl(path)),      char('0' + IsXps(path))};
}

TEST(LanguageDetectionTest, AnswersEachTestFromTheFirstBytesAndLines) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "000000"},
      {"%!PS-Adobe-3.0\n", "010000"},
      {"%!ps\n", "010000"},
      {"%!Ps\n", "000000"},
      {" %!PS\n", "000000"},
      {std::string(99, '\n') + "%!PS\n", "010000"},
      {std::string(100, '\n') + "%!PS\n", "000000"},
      {"%PDF-1.7\n%\xe2\xe3\n", "001000"},
      {"%pdf", "001000"},
      {"\n%PDF-1.4\n", "000000"},
      {kEsc + "E" + kEsc + "&l0O", "000000"},
      {kEsc + "&l0O", "000100"},
      {kEsc + "!", "000100"},
      {kEsc + "/", "000100"},
      {kEsc + " ", "000000"},
      {kEsc + "0", "000000"},
      {kEsc + "\xa6", "000000"},
      {kEsc, "000000"},
      {kEsc + "\x1a&", "000000"},  // 0x1A: the end
      {") HP-PCL XL;2;0\n", "000010"},
      {" ) HP-PCL XL;2;0\n", "000000"},
      {std::string(99, '\n') + ") HP-PCL XL;", "000010"},
      {std::string(100, '\n') + ") HP-PCL XL;", "000000"},
      {std::string("PK\x03\x04", 4), "000001"},
      {"P", "000000"},
      {"P\r\nK", "000000"},
      {kUel + "@PJL JOB\n", "100000"},
      {"@PJL " + kUel + "\n", "100000"},
      {"@PJL\n" + kUel + "\n", "000000"},
      {kEsc + "%-123\x1a"
              "45X\n",
       "000100"},
      {kUel + "@PJL\n@PJL ENTER LANGUAGE=POSTSCRIPT\n%!PS\n" + kUel, "110000"},
      {kUel + "@PJL\n@PJL ENTER LANGUAGE=PCL\n" + kEsc + "&l1X\n" + kUel, "100100"},
      {kUel + "@PJL\n" + kEsc + "E" + kEsc + "&l1X\n", "100000"},
      // A line holding the UEL never counts as PCL, although ESC "%" is in the range.
      {kUel + "\n@PJL EOJ\n" + kUel + "\n", "100000"},
      {kUel + "\n" + kEsc + "&l1X" + kUel + "\n", "100000"},
      {kUel + "@PJL\n@PJL ENTER LANGUAGE=XPS\nPK\x03\x04", "100001"},
      {kUel + "@PJL\nP\n", "100000"},
      {kUel + "\nPK" + kUel, "100000"},
      // A CR LF pair and a UEL split between two read blocks (64 KiB each).
      {std::string(65535, 'a') + "\r\n%!PS\n", "010000"},
      {std::string(65531, 'a') + kUel, "100000"},
  };
  TempDir dir;
  const std::string path = dir.File("job");
  for (const auto& [bytes, expected] : cases) {
    WriteFileBytes(path, bytes);
    EXPECT_EQ(Answers(path), expected) << bytes.substr(0, 60);
  }
  for (const std::string& unreadable : {dir.File("missing"), dir.path().string()}) {
    EXPECT_EQ(Answers(unreadable), "000000") << unreadable;
    EXPECT_EQ(GetPjlLanguage(unreadable), "") << unreadable;
  }
}

TEST(LanguageDetectionTest, ReadsPjlLanguageValues) {
  const std::pair<std::string, std::string> cases[] = {
      {kUel + "@PJL ENTER LANGUAGE=postscript\n", "POSTSCRIPT"},
      {kUel + "@PJL ENTER LANGUAGE = PCL\n", " PCL"},
      {"@PJL ENTER LANGUAGE=PCLXL  \n", "PCLXL  "},
      {"junk=junk @PJL ENTER LANGUAGE=Pdf\n", "PDF"},  // no UEL needed; text before ignored
      {"@PJL ENTER LANGUAGE\n@PJL ENTER LANGUAGE=PCL\n", "PCL"},
      {"@PJL ENTER LANGUAGE=A=B\n@PJL ENTER LANGUAGE=PCL\n", "PCL"},
      {"@PJL ENTER LANGUAGE==PDF\n@PJL ENTER LANGUAGE=PCL\n", "PCL"},
      {"@pjl enter language=PCL\n", ""},
      {"@PJL ENTER LANGUAGES=pcl\n", "PCL"},
      {"@PJL ENTER LANGUAGE=\xe9t\xc9\n", "\xe9T\xc9"},
      {std::string(100, '\n') + "@PJL ENTER LANGUAGE=PCL\n", ""},
      {std::string(99, '\n') + "@PJL ENTER LANGUAGE=PCL", "PCL"},
      {kUel + "@PJL ENTER LANGUAGE=pcl\r\n", "PCL"},
      {"@PJL ENTER LANGUAGE=pcl\r%!PS\n", "PCL\r%!PS"},
      {"@PJL ENTER LANGUAGE=PDF\x1a"
       "CL\n",
       "PDF"},
      // Megabytes behind the keyword without LF: the value is cut, and a "="
      // far behind the cut still makes the line unusable.
      {"@PJL ENTER LANGUAGE=PCL" + std::string(1 << 20, 'x') + "\n",
       "PCL" + std::string(4093, 'X')},
      {std::string(65527, 'a') + "@PJL ENTER LANGUAGE=PCL\n", "PCL"},  // across read blocks
      {"@PJL ENTER LANGUAGE=PCL" + std::string(1 << 20, 'x') + "=\n", ""},
  };
  TempDir dir;
  const std::string path = dir.File("job");
  for (const auto& [bytes, expected] : cases) {
    WriteFileBytes(path, bytes);
    EXPECT_EQ(GetPjlLanguage(path), expected) << bytes.substr(0, 60);
  }
}

std::vector<std::string> ReadLines(const std::string& path, size_t block_bytes, size_t piece) {
  TextModeReader reader(block_bytes);
  std::vector<std::string> lines;
  for (reader.Open(path); reader.NextLine();) {
    lines.emplace_back();
    for (std::string_view p; !(p = reader.LinePiece(piece)).empty();) lines.back().append(p);
  }
  return lines;
}

// Tiny blocks put every CR LF pair and 0x1A on a block boundary somewhere.
TEST(TextModeReaderTest, DeliversBytesAndLinesAsTextModeDoesWhateverTheBlockSize) {
  const struct {
    std::string bytes;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"\n", {""}},
      {"a\nb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb\n", {"a\rb"}},
      {"a\r", {"a\r"}},
      {"\r\r\n\r", {"\r", "\r"}},
      {"a\r\x1a\nb", {"a\r"}},
      {"a\n\x1a\nb\n", {"a"}},
      {std::string("a\0b\n\n", 5), {std::string("a\0b", 3), ""}},
  };
  TempDir dir;
  const std::string path = dir.File("job");
  for (const auto& c : cases) {
    WriteFileBytes(path, c.bytes);
    for (size_t block : {1u, 2u, 3u, 64u * 1024u}) {
      for (size_t piece : {1u, 2u, 100u}) {
        EXPECT_EQ(ReadLines(path, block, piece), c.lines)
            << c.bytes << " block " << block << " piece " << piece;
      }
    }
  }
  // Bytes and lines mixed: the two-byte tests read bytes the same way.
  WriteFileBytes(path, "P\r\nK\n");
  TextModeReader reader(2);
  unsigned char bytes[2] = {};
  ASSERT_TRUE(reader.Open(path) && reader.ReadByte(bytes[0]) && reader.ReadByte(bytes[1]));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 2), "P\n");
  ASSERT_TRUE(reader.NextLine());
  EXPECT_EQ(reader.LinePiece(), "K");
  EXPECT_FALSE(reader.NextLine() || reader.ReadByte(bytes[0]));
  TextModeReader missing;
  EXPECT_FALSE(missing.Open(dir.File("missing")));
  EXPECT_FALSE(missing.NextLine() || missing.ReadByte(bytes[0]));
}

}  // namespace
}  // namespace quillaro
