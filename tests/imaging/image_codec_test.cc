#include "platform/image_codec.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "test_pages.h"

namespace quillaro {
namespace {

using testing::EncodePng;
using testing::TempDir;
using testing::WriteFileBytes;

class ImageCodecTest : public testing::ImagingTest {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) const {
    WriteFileBytes(temp_.path() / name, bytes);
    return temp_.File(name);
  }
  static std::vector<int> Rgb(const std::string& path) {
    std::optional<ImageFile> image = ImageFile::Open(path);
    if (!image) return {};
    std::optional<RgbPixels> pixels = image->ReadRgb(1 << 20);
    if (!pixels) return {};
    return std::vector<int>(pixels->data(),
                            pixels->data() + pixels->size_bytes());
  }

  TempDir temp_;
};

TEST_F(ImageCodecTest, ReadsEveryPngLayoutAsEightBitRgb) {
  const struct {
    const char* what;
    int channels, bit_depth;
    std::vector<uint8_t> samples;  // two pixels
    std::vector<int> rgb;
  } cases[] = {
      {"grey", 1, 8, {0, 200}, {0, 0, 0, 200, 200, 200}},
      {"grey and alpha", 2, 8, {10, 0, 20, 255}, {10, 10, 10, 20, 20, 20}},
      {"rgb", 3, 8, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
      // The colour of a transparent pixel is read as stored, not flattened.
      {"rgba", 4, 8, {9, 8, 7, 0, 1, 2, 3, 255}, {9, 8, 7, 1, 2, 3}},
      {"rgb 16-bit",
       3,
       16,
       {0x12, 0xFF, 0, 0, 0xFF, 0xFF, 0x80, 0, 0, 0x7F, 0, 1},
       {0x12, 0, 0xFF, 0x80, 0, 0}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Rgb(Write("page.png",
                        EncodePng(2, 1, c.channels, c.bit_depth, c.samples))),
              c.rgb)
        << c.what;
  }
}

TEST_F(ImageCodecTest, RefusesWhatIsNoImage) {
  EXPECT_FALSE(ImageFile::Open(temp_.File("missing.png")).has_value());
  EXPECT_FALSE(ImageFile::Open(Write("text.png", "just text")).has_value());
  EXPECT_FALSE(ImageFile::Open(Write("empty.png", "")).has_value());
  EXPECT_FALSE(ImageFile::Open(temp_.path().string()).has_value());  // a folder
  // Option syntax of the library is no part of a name.
  const std::string png = EncodePng(1, 1, 3, 8, {1, 2, 3});
  EXPECT_EQ(Rgb(Write("a[page=2].png", png)), (std::vector<int>{1, 2, 3}));
}

TEST_F(ImageCodecTest, RowsServeWhereTheWholeImageCannot) {
  std::vector<uint8_t> samples(64 * 48 * 3);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<uint8_t>(i / 3 / 64);
  const std::string path = Write("page.png", EncodePng(64, 48, 3, 8, samples));
  std::optional<ImageFile> image = ImageFile::Open(path);
  ASSERT_TRUE(image.has_value());
  EXPECT_FALSE(
      image->ReadRgb(64 * 48 * 3 - 1).has_value());  // over the memory limit
  std::vector<int> first_samples;
  const int32_t rows = image->ReadRgbRows([&](int32_t y, const uint8_t* rgb) {
    EXPECT_EQ(static_cast<int32_t>(first_samples.size()), y);
    first_samples.push_back(rgb[0]);
    EXPECT_EQ(rgb[63 * 3 + 2], y);
  });
  EXPECT_EQ(rows, 48);
  ASSERT_EQ(first_samples.size(), 48u);
  EXPECT_EQ(first_samples[47], 47);
}

TEST_F(ImageCodecTest, TruncatedImageGivesItsLeadingRowsOnly) {
  const std::string png =
      EncodePng(200, 200, 3, 8, std::vector<uint8_t>(200 * 200 * 3, 7));
  const std::string path = Write("cut.png", png.substr(0, png.size() / 2));
  std::optional<ImageFile> image = ImageFile::Open(path);
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(image->height(), 200);
  EXPECT_FALSE(image->ReadRgb(1 << 30).has_value());
  int32_t sevens = 0;
  const int32_t rows = image->ReadRgbRows([&](int32_t, const uint8_t* rgb) {
    if (rgb[0] == 7 && rgb[599] == 7) ++sevens;
  });
  EXPECT_LT(rows, 100);
  EXPECT_EQ(sevens, rows);
  // Nor does a truncated page become an image.
  EXPECT_FALSE(image->SaveScaled(temp_.File("out.png"), 10, 10,
                                 ImageFileFormat::kPng, 80));
  EXPECT_FALSE(std::filesystem::exists(temp_.path() / "out.png"));
}

TEST_F(ImageCodecTest, SaveRefusesImpossibleTargets) {
  const std::string path =
      Write("page.png", EncodePng(4, 4, 3, 8, std::vector<uint8_t>(48, 0)));
  std::optional<ImageFile> image = ImageFile::Open(path);
  ASSERT_TRUE(image.has_value());
  EXPECT_FALSE(
      image->SaveScaled(temp_.File("a.png"), 0, 4, ImageFileFormat::kPng, 80));
  EXPECT_FALSE(
      image->SaveScaled(temp_.File("a.png"), 4, -1, ImageFileFormat::kPng, 80));
  EXPECT_FALSE(image->SaveScaled(temp_.File("no/such/folder.png"), 4, 4,
                                 ImageFileFormat::kPng, 80));
  // Quality out of the encoders' range is clamped, not refused.
  EXPECT_TRUE(image->SaveScaled(temp_.File("b.jpg"), 4, 4,
                                ImageFileFormat::kJpeg, 1000));
  EXPECT_TRUE(
      image->SaveScaled(temp_.File("c.jpg"), 4, 4, ImageFileFormat::kJpeg, -5));
  // The source is not held open or changed by saving.
  EXPECT_TRUE(std::filesystem::remove(path));
}

}  // namespace
}  // namespace quillaro
