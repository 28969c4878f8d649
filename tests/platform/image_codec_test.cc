#include "platform/image_codec.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "../imaging/test_pages.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::ReadFileBytes;
using testing::WriteFileBytes;

class ImageCodecTest : public testing::ImagingTest {
 protected:
  // The first pixel of the image at `path` read as any format, or {-1} when it does not open.
  static std::vector<int> FirstPixel(const std::string& path, int32_t* width = nullptr,
                                     int32_t* height = nullptr) {
    const std::optional<ImageFile> image = ImageFile::Open(path, ImageFile::Kind::kAny);
    if (!image) return {-1};
    if (width != nullptr) *width = image->width();
    if (height != nullptr) *height = image->height();
    const std::optional<RgbPixels> pixels = image->ReadRgb(size_t{1} << 24);
    if (!pixels || pixels->size_bytes() != size_t{3} * image->width() * image->height()) return {};
    return {pixels->data()[0], pixels->data()[1], pixels->data()[2]};
  }
  testing::TempDir dir_;
};

// Each encoder writes an image of exactly the asked size that reads back in the colour it was
// given (within what JPEG loses); sizes of nothing and folders that do not exist write nothing.
// (Formats, resolution and planted links: tests/imaging/image_output_test.cc.)
TEST_F(ImageCodecTest, SavesEveryFormatAtTheAskedSizeAndReadsItBack) {
  std::vector<uint8_t> rgb;
  for (int i = 0; i < 30 * 20; ++i) rgb.insert(rgb.end(), {200, 40, 90});
  ASSERT_EQ(InstalledImageEncoders().size(), 4u);
  for (const ImageEncoderInfo& encoder : InstalledImageEncoders()) {
    SCOPED_TRACE(static_cast<int>(encoder.format));
    const std::string path = dir_.File("image");
    ASSERT_TRUE(SaveScaledRgb(rgb.data(), 30, 20, path, 13, 7, encoder.format, 80));
    int32_t width = 0, height = 0;
    const std::vector<int> pixel = FirstPixel(path, &width, &height);
    EXPECT_EQ(width * 1000 + height, 13 * 1000 + 7);
    ASSERT_EQ(pixel.size(), 3u);
    const int tolerance = encoder.format == ImageFileFormat::kJpeg ? 6 : 0;
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(pixel[k], rgb[k], tolerance) << k;

    OsError error;
    for (const auto& [w, h] : {std::pair{0, 7}, std::pair{13, -1}}) {
      EXPECT_FALSE(SaveScaledRgb(rgb.data(), 30, 20, dir_.File("none"), w, h, encoder.format, 80));
    }
    EXPECT_FALSE(SaveScaledRgb(rgb.data(), 30, 20, dir_.File("missing/image"), 13, 7,
                               encoder.format, 80, &error));
    EXPECT_EQ(error.path, dir_.File("missing/image"));
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "none"));
  }
}

// Grey gives R = G = B, alpha is dropped without being applied, 16-bit samples keep their high
// byte; what is no image, is cut short or is too large for the caller is not read.
TEST_F(ImageCodecTest, ReadsPixelsAsTheyAreStoredAndRefusesDamagedFiles) {
  const std::string png = dir_.File("page.png");
  WriteFileBytes(png, testing::EncodePng(2, 1, 1, 8, {77, 78}));
  EXPECT_EQ(FirstPixel(png), (std::vector<int>{77, 77, 77}));
  WriteFileBytes(png, testing::EncodePng(1, 1, 4, 8, {10, 20, 30, 0}));
  EXPECT_EQ(FirstPixel(png), (std::vector<int>{10, 20, 30}));
  WriteFileBytes(png, testing::EncodePng(1, 1, 3, 16, {0x12, 0xFF, 0x34, 0x00, 0x56, 0x80}));
  EXPECT_EQ(FirstPixel(png), (std::vector<int>{0x12, 0x34, 0x56}));

  std::vector<uint8_t> rgb(64 * 64 * 3, 128);
  const std::string whole = testing::EncodePng(64, 64, 3, 8, rgb);
  WriteFileBytes(png, whole);
  const std::optional<ImageFile> image = ImageFile::Open(png);
  ASSERT_TRUE(image.has_value());
  EXPECT_FALSE(image->ReadRgb(64 * 64 * 3 - 1).has_value());
  int32_t rows = image->ReadRgbRows([](int32_t, const uint8_t* row) { EXPECT_EQ(row[5], 128); });
  EXPECT_EQ(rows, 64);

  const std::string cases[] = {"", "not an image at all", whole.substr(0, 8),
                               std::string("P6\n3 2\n255\n") + "\1\2\3"};
  for (const std::string& bytes : cases) {
    SCOPED_TRACE(bytes.substr(0, 12));
    WriteFileBytes(png, bytes);
    const std::optional<ImageFile> file = ImageFile::Open(png, ImageFile::Kind::kAny);
    EXPECT_FALSE(file && file->ReadRgb(size_t{1} << 20).has_value());
  }
  // Cut inside the pixels: the header opens, the pixels do not decode whole.
  WriteFileBytes(png, whole.substr(0, whole.size() / 2));
  const std::optional<ImageFile> cut = ImageFile::Open(png);
  EXPECT_FALSE(cut && cut->ReadRgb(size_t{1} << 20).has_value());
  EXPECT_FALSE(ImageFile::Open(dir_.File("missing.png")).has_value());
  // Headers promising more pixels than the service will ever decode.
  for (const std::string& bytes : {"P6\n100000 100000\n255\n" + std::string(16, '\0'),
                                   testing::EncodePng(100000, 100000, 3, 8, {})}) {
    WriteFileBytes(png, bytes);
    EXPECT_FALSE(ImageFile::Open(png, ImageFile::Kind::kAny).has_value());
  }
}

}  // namespace
}  // namespace quillaro
