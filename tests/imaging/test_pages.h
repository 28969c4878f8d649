#ifndef QUILLARO_TESTS_IMAGING_TEST_PAGES_H_
#define QUILLARO_TESTS_IMAGING_TEST_PAGES_H_

// Page images from a PNG encoder of our own (stored deflate blocks): every
// sample is exactly what the test asked for, whatever the library under test does.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/image_codec.h"
#include "support/temp_dir.h"

namespace quillaro::testing {

class ImagingTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(InitializeImaging()); }
};

inline void PutBigEndian32(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

inline void PutPngChunk(std::string& png, const std::string& type, const std::string& data) {
  PutBigEndian32(png, static_cast<uint32_t>(data.size()));
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : type + data) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  png += type + data;
  PutBigEndian32(png, ~crc);
}

// `channels` 1 (grey), 2 (grey, alpha), 3 (RGB) or 4 (RGBA), `bit_depth` 8
// or 16; `samples` holds the rows without filter bytes.
inline std::string EncodePng(int width, int height, int channels, int bit_depth,
                             const std::vector<uint8_t>& samples) {
  std::string png = "\x89PNG\r\n\x1a\n", header, raw, zlib = "\x78\x01";
  PutBigEndian32(header, static_cast<uint32_t>(width));
  PutBigEndian32(header, static_cast<uint32_t>(height));
  header += {static_cast<char>(bit_depth), "\0\0\4\2\6"[channels], 0, 0, 0};
  PutPngChunk(png, "IHDR", header);
  const size_t row_bytes = samples.size() / height;
  for (size_t at = 0; at < samples.size(); at += row_bytes)
    raw += '\0' + std::string(samples.begin() + at, samples.begin() + at + row_bytes);
  for (size_t offset = 0, block = 0; offset < raw.size(); offset += block) {
    block = std::min<size_t>(raw.size() - offset, 65535);
    const auto size = static_cast<uint16_t>(block), check = static_cast<uint16_t>(~size);
    zlib += {offset + block == raw.size() ? '\1' : '\0', static_cast<char>(size),
             static_cast<char>(size >> 8), static_cast<char>(check), static_cast<char>(check >> 8)};
    zlib.append(raw, offset, block);
  }
  uint32_t a = 1, b = 0;
  for (unsigned char byte : raw) b = (b + (a = (a + byte) % 65521)) % 65521;
  PutBigEndian32(zlib, (b << 16) | a);
  PutPngChunk(png, "IDAT", zlib);
  PutPngChunk(png, "IEND", "");
  return png;
}

inline void WriteSolidPng(const std::filesystem::path& path, int width, int height, uint8_t r,
                          uint8_t g, uint8_t b) {
  std::vector<uint8_t> rgb;
  for (int i = 0; i < width * height; ++i) rgb.insert(rgb.end(), {r, g, b});
  WriteFileBytes(path, EncodePng(width, height, 3, 8, rgb));
}

}  // namespace quillaro::testing

#endif  // QUILLARO_TESTS_IMAGING_TEST_PAGES_H_
