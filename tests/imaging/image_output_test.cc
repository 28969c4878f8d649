#include "imaging/image_output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/job.h"
#include "config/text_utils.h"
#include "interp/page_file_pattern.h"
#include "platform/image_codec.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"
#include "test_pages.h"

namespace quillaro {
namespace {

using testing::ReadFileBytes;
using testing::ServiceFolder;
using testing::WriteFileBytes;
using testing::WriteSolidPng;

TEST(ScaledPageSizeTest, ScalesTheLongerSideAndTruncatesTheOther) {
  struct Case {
    int32_t width, height, long_side;
    PixelSize expected;
  } const cases[] = {
      {850, 1100, 80, {61, 80}},
      {1100, 850, 80, {80, 61}},
      {500, 500, 80, {80, 80}},
      {850, 1100, 1000, {772, 1000}},
      {850, 1100, 0, {61, 80}},
      {850, 1100, -7, {61, 80}},  // the default length
      {10000, 3, 80, {80, 1}},
      {1, 1, 1, {1, 1}},
      {850, 1100, 1 << 30, {50640, 65535}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.width << "x" << c.height << " L=" << c.long_side);
    EXPECT_EQ(ScaledPageSize(c.width, c.height, c.long_side), c.expected);
  }
}

TEST(FindImageEncoderTest, FindsExactMimeTypesOnly) {
  const struct {
    std::u16string mime;
    ImageFileFormat format;
  } known[] = {{u"image/jpeg", ImageFileFormat::kJpeg},
               {u"image/gif", ImageFileFormat::kGif},
               {u"image/png", ImageFileFormat::kPng},
               {u"image/tiff", ImageFileFormat::kTiff}};
  std::set<int32_t> indexes;
  for (const auto& k : known) {
    ImageFileFormat format = ImageFileFormat::kJpeg;
    const int32_t index = FindImageEncoder(k.mime, &format);
    EXPECT_GE(index, 0) << ToNarrow(k.mime);
    EXPECT_EQ(format, k.format) << ToNarrow(k.mime);
    indexes.insert(index);
  }
  EXPECT_EQ(indexes.size(), 4u);
  for (const std::u16string mime :
       {u"image/JPEG", u"image/jpe", u"image/jpeg ", u"", u"image/bmp"}) {
    ImageFileFormat format = ImageFileFormat::kGif;
    EXPECT_EQ(FindImageEncoder(mime, &format), -1) << ToNarrow(mime);
    EXPECT_EQ(format, ImageFileFormat::kGif);
  }
}

TEST(OutputImageTypeTest, OutOfRangeTypesGiveJpeg) {
  const struct {
    int32_t type;
    std::string extension;
  } cases[] = {{0, ".jpg"},  {1, ".gif"}, {2, ".png"},
               {3, ".tiff"}, {4, ".jpg"}, {-1, ".jpg"}};
  for (const auto& c : cases) {
    EXPECT_EQ(OutputImageTypeOf(c.type).extension, c.extension) << c.type;
    ImageFileFormat format;
    EXPECT_GE(FindImageEncoder(OutputImageTypeOf(c.type).mime_type, &format), 0)
        << c.type;
  }
}

TEST(LeftoverPageFileTest, MatchesStemUnderscoreDotUnderscore) {
  const struct {
    const char* name;
    bool leftover;
  } cases[] = {
      {"job_4.png_", true},    {"job_notes.txt_", true},
      {"job_._", true},        {"job_a.b.c_", true},
      {"job_1.png", false},    {"job_pagescount.txt", false},
      {"job_x_", false},       {"job.png_", false},
      {"job__", false},        {"jobs_1.png_", false},
      {"other_1.png_", false}, {"job_1.png_.jpg", false},
      {"job_b_1.png_", true},  // another job's stem that starts with this one's
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsLeftoverPageFile(c.name, "job"), c.leftover) << c.name;
}

uint32_t BigEndian(const std::string& bytes, size_t at, int count) {
  uint32_t value = 0;
  for (int i = 0; i < count; ++i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

uint32_t TiffNumber(const std::string& bytes, size_t at, int count,
                    bool little) {
  uint32_t value = 0;
  for (int i = 0; i < count; ++i) {
    const size_t index = little ? at + count - 1 - i : at + i;
    value = (value << 8) | static_cast<unsigned char>(bytes[index]);
  }
  return value;
}

// The horizontal resolution a file records, in dots per inch; nullopt when
// it records none that this reader understands.
std::optional<double> RecordedDpi(const std::string& bytes) {
  if (bytes.compare(0, 2, "\xFF\xD8") == 0) {
    const size_t jfif = bytes.find(std::string("JFIF\0", 5));
    if (jfif == std::string::npos || bytes[jfif + 7] != 1)
      return std::nullopt;  // units: inch
    return BigEndian(bytes, jfif + 8, 2);
  }
  if (bytes.compare(0, 4, "\x89PNG") == 0) {
    const size_t phys = bytes.find("pHYs");
    if (phys == std::string::npos || bytes[phys + 12] != 1)
      return std::nullopt;  // metre
    return BigEndian(bytes, phys + 4, 4) * 0.0254;
  }
  if (bytes.compare(0, 4, std::string("II*\0", 4)) == 0 ||
      bytes.compare(0, 4, std::string("MM\0*", 4)) == 0) {
    const bool little = bytes[0] == 'I';
    const size_t ifd = TiffNumber(bytes, 4, 4, little);
    const uint32_t entries = TiffNumber(bytes, ifd, 2, little);
    std::optional<double> resolution;
    uint32_t unit = 2;
    for (uint32_t i = 0; i < entries; ++i) {
      const size_t entry = ifd + 2 + 12 * i;
      const uint32_t tag = TiffNumber(bytes, entry, 2, little);
      if (tag == 282) {  // XResolution, a rational stored at an offset
        const size_t at = TiffNumber(bytes, entry + 8, 4, little);
        resolution = static_cast<double>(TiffNumber(bytes, at, 4, little)) /
                     TiffNumber(bytes, at + 4, 4, little);
      } else if (tag == 296) {
        unit = TiffNumber(bytes, entry + 8, 2, little);
      }
    }
    if (unit != 2) return std::nullopt;
    return resolution;
  }
  return std::nullopt;
}

class ImageOutputJobTest : public testing::ImagingTest {
 protected:
  void SetUp() override {
    ImagingTest::SetUp();
    job_path_ = ToWide((folder_.in() / "job.pcl").string());
    job_.OutputFile = (folder_.out() / "job_%d.png_").string();
    job_.PagesMaxCount = 10;
    job_.Quality = 80;
    job_.LongPixelLength = 80;
  }
  std::filesystem::path Out(const std::string& name) const {
    return folder_.out() / name;
  }
  std::filesystem::path Page(int n) const {
    return PageFileName(job_.OutputFile, n);
  }
  std::set<std::string> OutFiles() const {
    std::set<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(folder_.out())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  static PixelSize SizeOf(const std::filesystem::path& path) {
    std::optional<ImageFile> image = ImageFile::Open(path.string());
    if (!image) return {};
    return {image->width(), image->height()};
  }

  ServiceFolder folder_;
  Job job_;
  std::u16string job_path_;
};

TEST_F(ImageOutputJobTest, WritesEachFormatScaledAt100Dpi) {
  const struct {
    int32_t image_type;
    std::string extension;
    std::string magic;
    bool records_dpi;
  } cases[] = {
      {0, ".jpg", "\xFF\xD8\xFF", true},
      {1, ".gif", "GIF8", false},  // GIF holds no resolution
      {2, ".png", "\x89PNG\r\n\x1a\n", true},
      {3, ".tiff", "II*", true},
      {9, ".jpg", "\xFF\xD8\xFF", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.image_type);
    WriteSolidPng(Page(1), 850, 1100, 30, 90, 200);
    WriteSolidPng(Page(2), 1100, 850, 255, 255, 255);
    job_.ImageType = c.image_type;
    job_.ConvertPageImages(job_path_);
    EXPECT_EQ(OutFiles(), (std::set<std::string>{"job_1" + c.extension,
                                                 "job_2" + c.extension}));
    for (int n : {1, 2}) {
      const std::filesystem::path target =
          Out("job_" + std::to_string(n) + c.extension);
      const std::string bytes = ReadFileBytes(target);
      EXPECT_EQ(bytes.substr(0, c.magic.size()), c.magic) << n;
      EXPECT_EQ(SizeOf(target),
                n == 1 ? (PixelSize{61, 80}) : (PixelSize{80, 61}));
      if (c.records_dpi) {
        ASSERT_TRUE(RecordedDpi(bytes).has_value()) << n;
        EXPECT_NEAR(*RecordedDpi(bytes), 100.0, 0.01) << n;
      }
      std::filesystem::remove(target);
    }
  }
}

TEST_F(ImageOutputJobTest, KeepsTheColoursAndFlattensOntoWhite) {
  // Half transparent (alpha 0, its colour black), half opaque red.
  std::vector<uint8_t> rgba;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 40; ++x) {
      if (x < 20) {
        rgba.insert(rgba.end(), {0, 0, 0, 0});
      } else {
        rgba.insert(rgba.end(), {255, 0, 0, 255});
      }
    }
  }
  WriteFileBytes(Page(1), testing::EncodePng(40, 40, 4, 8, rgba));
  job_.ImageType = 2;
  job_.LongPixelLength = 20;
  job_.ConvertPageImages(job_path_);
  std::optional<ImageFile> image = ImageFile::Open(Out("job_1.png").string());
  ASSERT_TRUE(image.has_value());
  std::optional<RgbPixels> pixels = image->ReadRgb(1 << 20);
  ASSERT_TRUE(pixels.has_value());
  ASSERT_EQ(pixels->size_bytes(), 20u * 20 * 3);
  const uint8_t* left = pixels->data() + (10 * 20 + 2) * 3;
  const uint8_t* right = pixels->data() + (10 * 20 + 17) * 3;
  EXPECT_EQ((std::vector<int>{left[0], left[1], left[2]}),
            (std::vector<int>{255, 255, 255}));
  EXPECT_EQ((std::vector<int>{right[0], right[1], right[2]}),
            (std::vector<int>{255, 0, 0}));
}

TEST_F(ImageOutputJobTest, QualityReachesTheJpegEncoder) {
  std::vector<uint8_t> noise(300 * 300 * 3);
  uint32_t seed = 7;
  for (uint8_t& sample : noise)
    sample = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
  job_.LongPixelLength = 300;
  size_t sizes[2];
  for (int i = 0; i < 2; ++i) {
    testing::WriteRgbPng(Page(1), 300, 300, noise);
    job_.Quality = i == 0 ? 10 : 95;
    job_.ConvertPageImages(job_path_);
    sizes[i] = ReadFileBytes(Out("job_1.jpg")).size();
  }
  EXPECT_GT(sizes[0], 0u);
  EXPECT_LT(sizes[0] * 2, sizes[1]);
}

TEST_F(ImageOutputJobTest, ConvertsUpToPagesMaxCountAndDeletesEveryPage) {
  for (int32_t max_count : {2, 0, -3}) {
    SCOPED_TRACE(max_count);
    for (int n = 1; n <= 5; ++n) WriteSolidPng(Page(n), 85, 110, 0, 0, 0);
    job_.PagesMaxCount = max_count;
    job_.ConvertPageImages(job_path_);
    if (max_count == 2) {
      EXPECT_EQ(OutFiles(), (std::set<std::string>{"job_1.jpg", "job_2.jpg"}));
    } else {
      EXPECT_TRUE(OutFiles().empty());
    }
    for (const std::string& name : OutFiles())
      std::filesystem::remove(Out(name));
  }
}

TEST_F(ImageOutputJobTest, SweepsPagesBeyondAGapAndOtherLeftovers) {
  for (int n : {1, 2, 4}) WriteSolidPng(Page(n), 85, 110, 0, 0, 0);
  for (const char* name :
       {"job_notes.txt_", "job_pagescount.txt", "job_colorcoverage.txt",
        "other_1.png_", "job.pcl_done"}) {
    WriteFileBytes(Out(name), "x");
  }
  job_.ConvertPageImages(job_path_);
  EXPECT_EQ(OutFiles(),
            (std::set<std::string>{
                "job_1.jpg", "job_2.jpg", "job_pagescount.txt",
                "job_colorcoverage.txt", "other_1.png_", "job.pcl_done"}));
}

TEST_F(ImageOutputJobTest, UnreadablePageYieldsNoImageButIsDeleted) {
  WriteFileBytes(Page(1), "garbage");
  WriteSolidPng(Page(2), 85, 110, 0, 0, 0);
  WriteFileBytes(Out("job_1.jpg"), "from an earlier run");
  job_.ConvertPageImages(job_path_);
  EXPECT_EQ(OutFiles(), (std::set<std::string>{"job_1.jpg", "job_2.jpg"}));
  EXPECT_EQ(ReadFileBytes(Out("job_1.jpg")), "from an earlier run");
}

TEST_F(ImageOutputJobTest, NothingToConvertStillSweeps) {
  WriteFileBytes(Out("job_3.png_"), "x");
  job_.OutputFile.clear();
  job_.ConvertPageImages(job_path_);
  EXPECT_TRUE(OutFiles().empty());

  job_.OutputFile = (folder_.out() / "job_%d.png_").string();
  WriteSolidPng(Page(1), 8, 8, 0, 0, 0);
  job_.ConvertPageImages(u"");  // no job: nothing at all
  EXPECT_EQ(OutFiles(), (std::set<std::string>{"job_1.png_"}));

  // A name without the page placeholder is no set of pages: the file it
  // names is no page and stays.
  WriteFileBytes(Out("keep.txt"), "x");
  job_.OutputFile = Out("keep.txt").string();
  job_.ConvertPageImages(job_path_);
  EXPECT_EQ(OutFiles(), (std::set<std::string>{"keep.txt"}));
}

TEST_F(ImageOutputJobTest, PercentInTheJobNameIsNoPlaceholder) {
  job_path_ = ToWide((folder_.in() / "50%d off.ps").string());
  job_.OutputFile =
      (folder_.out() / (EscapePagePattern("50%d off") + "_%d.png_")).string();
  WriteSolidPng(Out("50%d off_1.png_"), 85, 110, 0, 0, 0);
  WriteFileBytes(Out("50%d off_7.png_"), "x");
  job_.ImageType = 3;
  job_.ConvertPageImages(job_path_);
  EXPECT_EQ(OutFiles(), (std::set<std::string>{"50%d off_1.tiff"}));
}

TEST_F(ImageOutputJobTest, ConvertsPagesRenderedByTheInterpreter) {
  ASSERT_TRUE(testing::RenderWithGhostscript(
      "%!PS\n0 0 1 setrgbcolor 100 100 200 300 rectfill showpage\n"
      "<< /PageSize [792 612] >> setpagedevice showpage\n",
      job_.OutputFile));
  job_.LongPixelLength = 1000;
  job_.ImageType = 2;
  job_.ConvertPageImages(job_path_);
  EXPECT_EQ(OutFiles(), (std::set<std::string>{"job_1.png", "job_2.png"}));
  EXPECT_EQ(SizeOf(Out("job_1.png")), (PixelSize{772, 1000}));
}

// The stages as the job worker runs them: page rendering by the real
// interpreter, colour coverage, then image output, on a PCL job (made by gs)
// whose name holds a "%".
TEST_F(ImageOutputJobTest, RenderedJobEndsAsImagesAndCoverage) {
  if (!folder_.HasInterpreters()) GTEST_SKIP() << "interpreters not installed";
  const std::filesystem::path job_file = folder_.in() / "proof 100%.pcl";
  const std::string command =
      "'" + (folder_.root() / "gs").string() +
      "' -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=ljet4 -sPAPERSIZE=letter "
      "-dFIXEDMEDIA '-sOutputFile=" +
      EscapePagePattern(job_file.string()) +
      "' -c '0 setgray 216 360 72 72 rectfill showpage showpage' >/dev/null "
      "2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  folder_.WriteSettings("IsConvert=1\nType=2\nImageType=1\nPagesMaxCount=1\n");
  Job job;
  const std::u16string job_path = ToWide(job_file.string());
  job.ColorCoverageFile = Out("proof 100%_colorcoverage.txt").string();
  ASSERT_EQ(job.RenderPages(job_path), 1);
  ASSERT_TRUE(std::filesystem::exists(Out("proof 100%_2.png_")));
  job.MeasureColorCoverage();
  job.ConvertPageImages(job_path);
  // A black square inch on page 1: 100 x 100 of 850 x 1100 pixels, averaged
  // over two pages.
  EXPECT_EQ(ReadFileBytes(job.ColorCoverageFile),
            "[Params]\r\npages=2\r\nblack=0.53\r\ncyan=0.00\r\nmagenta=0.00\r\n"
            "yellow=0.00\r\ngray=0.53\r\nempty=2");
  EXPECT_EQ(OutFiles(),
            (std::set<std::string>{"proof 100%_1.gif",
                                   "proof 100%_colorcoverage.txt"}));
  EXPECT_EQ(SizeOf(Out("proof 100%_1.gif")), (PixelSize{61, 80}));
}

}  // namespace
}  // namespace quillaro
