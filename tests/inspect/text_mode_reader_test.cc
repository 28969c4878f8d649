#include "inspect/text_mode_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::TempDir;
using testing::WriteFileBytes;

std::vector<std::string> ReadLines(const std::string& path, size_t block_bytes,
                                   size_t piece_bytes) {
  TextModeReader reader(block_bytes);
  std::vector<std::string> lines;
  if (!reader.Open(path)) return lines;
  while (reader.NextLine()) {
    std::string line;
    for (std::string_view piece = reader.LinePiece(piece_bytes); !piece.empty();
         piece = reader.LinePiece(piece_bytes)) {
      line.append(piece);
    }
    lines.push_back(line);
  }
  return lines;
}

TEST(TextModeReaderTest, DeliversLinesAsTextModeDoesWhateverTheBlockSize) {
  using Lines = std::vector<std::string>;
  const struct {
    std::string bytes;
    Lines lines;
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
        SCOPED_TRACE(::testing::Message() << c.bytes << " block " << block << " piece " << piece);
        EXPECT_EQ(ReadLines(path, block, piece), c.lines);
      }
    }
  }
}

TEST(TextModeReaderTest, MixesBytesAndLinesAndReportsAMissingFile) {
  TempDir dir;
  const std::string path = dir.File("job");
  WriteFileBytes(path, "P\r\nK\n");
  TextModeReader reader(2);
  ASSERT_TRUE(reader.Open(path));
  unsigned char byte = 0;
  ASSERT_TRUE(reader.ReadByte(byte));
  EXPECT_EQ(byte, 'P');
  ASSERT_TRUE(reader.ReadByte(byte));
  EXPECT_EQ(byte, '\n');
  ASSERT_TRUE(reader.NextLine());
  EXPECT_EQ(reader.LinePiece(), "K");
  EXPECT_FALSE(reader.NextLine());
  EXPECT_FALSE(reader.ReadByte(byte));

  TextModeReader missing;
  EXPECT_FALSE(missing.Open(dir.File("missing")));
  EXPECT_FALSE(missing.NextLine());
  EXPECT_FALSE(missing.ReadByte(byte));
}

}  // namespace
}  // namespace quillaro
