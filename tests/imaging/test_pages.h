#ifndef QUILLARO_TESTS_IMAGING_TEST_PAGES_H_
#define QUILLARO_TESTS_IMAGING_TEST_PAGES_H_

// Page images for the imaging tests: a small PNG writer (stored deflate
// blocks, so every sample is exactly what the test asked for), and a way to
// have the real PostScript interpreter render pages as page rendering does.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "config/path_utils.h"
#include "config/text_utils.h"
#include "platform/image_codec.h"
#include "support/temp_dir.h"

namespace quillaro::testing {

// Every imaging test starts the image library (later calls do nothing).
class ImagingTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(InitializeImaging()); }
};

inline uint32_t PngCrc(const std::string& bytes) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> built{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      built[n] = c;
    }
    return built;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes)
    crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

inline void PutBigEndian32(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<char>(value >> shift));
}

inline void PutPngChunk(std::string& out, const std::string& type,
                        const std::string& data) {
  PutBigEndian32(out, static_cast<uint32_t>(data.size()));
  const std::string body = type + data;
  out += body;
  PutBigEndian32(out, PngCrc(body));
}

// A PNG of `width` x `height` pixels; `channels` is 1 (grey), 2 (grey and
// alpha), 3 (RGB) or 4 (RGBA), `bit_depth` 8 or 16 (samples big-endian).
// `samples` holds the rows without filter bytes.
inline std::string EncodePng(int width, int height, int channels, int bit_depth,
                             const std::vector<uint8_t>& samples) {
  static constexpr int kColourTypes[] = {0, 0, 4, 2, 6};
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  PutBigEndian32(header, static_cast<uint32_t>(width));
  PutBigEndian32(header, static_cast<uint32_t>(height));
  header += static_cast<char>(bit_depth);
  header += static_cast<char>(kColourTypes[channels]);
  header += std::string(3, '\0');
  PutPngChunk(png, "IHDR", header);

  const size_t row_bytes =
      static_cast<size_t>(width) * channels * bit_depth / 8;
  std::string raw;
  for (int y = 0; y < height; ++y) {
    raw.push_back('\0');  // filter: none
    raw.append(reinterpret_cast<const char*>(samples.data()) + y * row_bytes,
               row_bytes);
  }
  std::string zlib = "\x78\x01";
  size_t offset = 0;
  do {
    const size_t block = std::min<size_t>(raw.size() - offset, 65535);
    zlib.push_back(offset + block == raw.size() ? '\x01' : '\x00');
    zlib.push_back(static_cast<char>(block & 0xFF));
    zlib.push_back(static_cast<char>(block >> 8));
    zlib.push_back(static_cast<char>(~block & 0xFF));
    zlib.push_back(static_cast<char>((~block >> 8) & 0xFF));
    zlib.append(raw, offset, block);
    offset += block;
  } while (offset < raw.size());
  uint32_t a = 1;
  uint32_t b = 0;
  for (unsigned char byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBigEndian32(zlib, (b << 16) | a);
  PutPngChunk(png, "IDAT", zlib);
  PutPngChunk(png, "IEND", "");
  return png;
}

inline void WriteRgbPng(const std::filesystem::path& path, int width,
                        int height, const std::vector<uint8_t>& rgb) {
  WriteFileBytes(path, EncodePng(width, height, 3, 8, rgb));
}

inline void WriteSolidPng(const std::filesystem::path& path, int width,
                          int height, uint8_t r, uint8_t g, uint8_t b) {
  std::vector<uint8_t> rgb;
  rgb.reserve(static_cast<size_t>(width) * height * 3);
  for (int i = 0; i < width * height; ++i) rgb.insert(rgb.end(), {r, g, b});
  WriteRgbPng(path, width, height, rgb);
}

// Renders `postscript` with the gs beside the test program, 24-bit colour at
// 100 dpi on Letter paper, one file per page named by `pattern` ("%d" the
// page number), as page rendering does. Returns false when gs failed.
inline bool RenderWithGhostscript(const std::string& postscript,
                                  const std::string& pattern) {
  TempDir temp;
  const std::filesystem::path job = temp.path() / "job.ps";
  WriteFileBytes(job, postscript);
  const std::string command =
      "'" + ToNarrow(GetModuleFolder()) +
      "/gs' -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=png16m -r100 "
      "-sPAPERSIZE=letter -dFIXEDMEDIA '-sOutputFile=" +
      pattern + "' '" + job.string() + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace quillaro::testing

#endif  // QUILLARO_TESTS_IMAGING_TEST_PAGES_H_
