#include "imaging/image_output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <tuple>

#include "config/settings.h"
#include "config/staged_job.h"
#include "config/text_utils.h"
#include "interp/page_file_pattern.h"
#include "support/service_folder.h"
#include "test_pages.h"

namespace quillaro {
namespace {

using testing::ReadFileBytes;
using testing::WriteFileBytes;
using testing::WriteSolidPng;
using Names = std::set<std::string>;

TEST(ScaledPageSizeTest, ScalesTheLongerSideAndTruncatesTheOther) {
  const int32_t cases[][5] = {
      // width, height, long side, expected width, height
      {850, 1100, 80, 61, 80}, {1100, 850, 80, 80, 61},      {500, 500, 80, 80, 80},
      {10000, 3, 80, 80, 1},   {850, 1100, 1000, 772, 1000}, {850, 1100, 0, 61, 80},
      {1, 1, 1, 1, 1},         {850, 1100, -7, 61, 80},      {850, 1100, 1 << 30, 50640, 65535}};
  for (const auto& c : cases)
    EXPECT_EQ(ScaledPageSize(c[0], c[1], c[2]), (PixelSize{c[3], c[4]}))
        << c[0] << "x" << c[1] << " " << c[2];
}

// Whether a JPEG, PNG (dots per metre) or little-endian TIFF (inch, 100/1) records 100 dpi.
bool Records100Dpi(const std::string& bytes) {
  if (size_t at = bytes.find("JFIF"); at != std::string::npos)
    return bytes.compare(at + 7, 5, std::string("\1\0d\0d", 5)) == 0;
  if (bytes.find("pHYs") != std::string::npos)
    return bytes.find(std::string("pHYs\0\0\x0F\x61\0\0\x0F\x61\1", 13)) != std::string::npos;
  return bytes.find(std::string("\x28\x01\3\0\1\0\0\0\2\0", 10)) != std::string::npos &&
         bytes.find(std::string("d\0\0\0\1\0\0\0", 8)) != std::string::npos;
}

class ImageOutputJobTest : public testing::ImagingTest {
 protected:
  void SetUp() override {
    ImagingTest::SetUp();
    // Pages are rendered beside the job, in its private folder; images go to out/.
    pattern_ = In("job_%d.png_").string();  // settings at their defaults
  }
  std::filesystem::path Out(const std::string& name) const { return folder_.out() / name; }
  std::filesystem::path In(const std::string& name) const { return folder_.in() / name; }
  std::filesystem::path Page(int n) const { return PageFileName(pattern_, n); }
  static Names FilesIn(const std::filesystem::path& folder) {
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      names.insert(entry.path().filename().string());
    return names;
  }
  Names OutFiles() const { return FilesIn(folder_.out()); }

  testing::ServiceFolder folder_;
  // Converts the pages with `settings_`.
  PageImages Convert() { return ConvertPageImages(settings_, job_, pattern_); }

  Settings settings_;
  std::string pattern_;
  StagedJob job_{(folder_.in() / "job.pcl").string(), {}};
};

TEST_F(ImageOutputJobTest, WritesEachFormatScaledAt100Dpi) {
  const std::string extensions[] = {".jpg", ".gif", ".png", ".tiff"};
  const std::string magics[] = {"\xFF\xD8\xFF", "GIF8", "\x89PNG\r\n\x1a\n", "II*"};
  WriteFileBytes(folder_.in() / "target", "t");
  for (int32_t image_type : {0, 1, 2, 3, 9}) {  // an unknown type gives JPEG
    const std::string& extension = extensions[image_type % 9];
    const std::string& magic = magics[image_type % 9];
    SCOPED_TRACE(image_type);
    WriteSolidPng(Page(1), 850, 1100, 30, 90, 200);
    WriteSolidPng(Page(2), 1100, 850, 255, 255, 255);
    // A link planted under a result name is replaced by the result, its target left alone.
    testing::PlantLink(folder_.in() / "target", Out("job_1" + extension));
    settings_.ImageType = image_type;
    Convert();
    EXPECT_EQ(ReadFileBytes(folder_.in() / "target"), "t");
    EXPECT_EQ(OutFiles(), (Names{"job_1" + extension, "job_2" + extension}));
    for (int n : {1, 2}) {
      const std::filesystem::path target = Out("job_" + std::to_string(n) + extension);
      const std::string bytes = ReadFileBytes(target);
      EXPECT_TRUE(bytes.starts_with(magic)) << n;
      std::optional<ImageFile> image = ImageFile::Open(target.string(), ImageFile::Kind::kAny);
      EXPECT_EQ((image ? PixelSize{image->width(), image->height()} : PixelSize{}),
                (n == 1 ? PixelSize{61, 80} : PixelSize{80, 61}));
      EXPECT_TRUE(extension == ".gif" || Records100Dpi(bytes)) << n;  // GIF holds none
      std::filesystem::remove(target);
    }
  }
}

TEST_F(ImageOutputJobTest, FlattensOntoWhiteAndKeepsTheColours) {
  std::vector<uint8_t> rgba;  // left half transparent black, right half opaque red
  for (int i = 0; i < 40 * 40; ++i) rgba.insert(rgba.end(), 4, i % 40 < 20 ? 0 : 255);
  for (size_t i = 1; i < rgba.size(); i += 4) rgba[i] = rgba[i + 1] = 0;
  WriteFileBytes(Page(1), testing::EncodePng(40, 40, 4, 8, rgba));
  settings_.ImageType = 2;
  settings_.LongPixelLength = 20;
  Convert();
  std::optional<ImageFile> image = ImageFile::Open(Out("job_1.png").string());
  std::optional<RgbPixels> pixels = image ? image->ReadRgb(1 << 20) : std::nullopt;
  ASSERT_TRUE(pixels.has_value() && pixels->size_bytes() == 20u * 20 * 3);
  const uint8_t* row = pixels->data() + 10 * 20 * 3;
  EXPECT_EQ(std::vector<int>(row + 2 * 3, row + 3 * 3), (std::vector<int>{255, 255, 255}));
  EXPECT_EQ(std::vector<int>(row + 17 * 3, row + 18 * 3), (std::vector<int>{255, 0, 0}));
}

TEST_F(ImageOutputJobTest, ConvertsUpToPagesMaxCountAndDeletesEveryPage) {
  for (int32_t max_count : {2, 0, -3}) {
    for (int n = 1; n <= 5; ++n) WriteSolidPng(Page(n), 85, 110, 0, 0, 0);
    settings_.PagesMaxCount = max_count;
    Convert();
    EXPECT_EQ(OutFiles(), (max_count == 2 ? Names{"job_1.jpg", "job_2.jpg"} : Names{}))
        << max_count;
    for (const std::string& name : OutFiles()) std::filesystem::remove(Out(name));
  }
}

// A page that does not decode yields no image (an earlier one stays) and is deleted; page 4,
// beyond the gap, goes with the other leftovers beside the job, also those of a job whose stem
// starts alike.
TEST_F(ImageOutputJobTest, SweepsEveryPageAndLeftover) {
  for (int n : {1, 4}) WriteSolidPng(Page(n), 85, 110, 0, 0, 0);
  WriteFileBytes(Page(2), "garbage");
  WriteFileBytes(Out("job_2.jpg"), "x");
  const Names kept = {"job_pagescount.txt", "job_colorcoverage.txt", "job_x_", "other_1.png_",
                      "jobs_1.png_",        "job.pcl_done",          "job_1.png_.jpg"};
  for (const std::string& name : kept) WriteFileBytes(In(name), "x");
  for (const char* name : {"job_notes.txt_", "job_a.b.c_", "job_b_1.png_"})
    WriteFileBytes(In(name), "x");
  Convert();
  EXPECT_EQ(FilesIn(folder_.in()), kept);
  EXPECT_EQ(OutFiles(), (Names{"job_1.jpg", "job_2.jpg"}));
  EXPECT_EQ(ReadFileBytes(Out("job_2.jpg")), "x");
}

TEST_F(ImageOutputJobTest, NothingToConvertStillSweeps) {
  WriteFileBytes(In("job_3.png_"), "x");
  pattern_.clear();
  Convert();
  EXPECT_TRUE(FilesIn(folder_.in()).empty());
  pattern_ = In("job_%d.png_").string();
  WriteSolidPng(Page(1), 8, 8, 0, 0, 0);
  ConvertPageImages(settings_, {}, pattern_);  // no job: nothing at all
  EXPECT_EQ(FilesIn(folder_.in()), (Names{"job_1.png_"}));
}

// A page file is what an interpreter driven by the job wrote: whatever format its bytes claim,
// only the page formats' own decoders read it (the image library would take this for SVG, and
// its SVG, PDF and ImageMagick loaders are no place for a job's bytes).
TEST_F(ImageOutputJobTest, APageInAnotherFormatIsNeverDecoded) {
  WriteFileBytes(Page(1),
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"80\" height=\"80\">"
                 "<rect width=\"80\" height=\"80\" fill=\"red\"/></svg>");
  Convert();
  EXPECT_TRUE(OutFiles().empty());
  EXPECT_FALSE(std::filesystem::exists(Page(1)));
}

}  // namespace
}  // namespace quillaro
