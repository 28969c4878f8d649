// Image output: the rendered pages become the images the user asked for,
// scaled, flattened onto white and saved in the configured format, and the
// rendered page files are removed.

#include "imaging/image_output.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <span>
#include <system_error>
#include <vector>

#include "config/path_utils.h"
#include "config/result_file.h"
#include "config/result_names.h"
#include "config/text_utils.h"
#include "imaging/color_coverage.h"
#include "imaging/raster_page.h"
#include "interp/page_file_pattern.h"
#include "platform/cancellation.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "platform/monotonic_clock.h"
#include "platform/os_error.h"

namespace quillaro {
namespace {

// An image is written under this suffix first and takes its own name only
// once the results that come before it are there. The name matches the
// sweep of leftovers, so a job that is stopped halfway leaves none behind.
constexpr std::string_view kPendingImageSuffix = ".part_";

// The name pattern of the images: the page-file pattern with its suffix
// replaced by the image extension ("OUT/STEM_%d.ppm_" gives
// "OUT/STEM_%d.jpg"). Any other pattern is kept as it is.
std::string ImagePattern(const std::string& page_pattern, std::string_view extension) {
  for (std::string_view suffix : {kRasterPageSuffix, kPngPageSuffix}) {
    if (page_pattern.ends_with(suffix)) {
      return page_pattern.substr(0, page_pattern.size() - suffix.size()) +
             std::string(extension);
    }
  }
  return page_pattern;
}

// An image written under its pending name, waiting for its own.
struct PendingImage {
  std::string pending;
  std::string target;
  // False when the save failed after it had begun: as a failed save always
  // has, that removes an older image of the target's name.
  bool saved = false;
};

// Deletes every file of `out_folder` that IsLeftoverPageFile names for
// `stem`: page files beyond a gap in the numbering or beyond the last page
// looked for, and other files of this job whose names end in "_".
void RemoveLeftoverPageFiles(const std::string& out_folder,
                             const std::string& stem) {
  std::vector<std::string> leftovers;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(out_folder, error), end;
       !error && entry != end; entry.increment(error)) {
    std::string name = entry->path().filename().string();
    if (IsLeftoverPageFile(name, stem)) leftovers.push_back(std::move(name));
  }
  for (const std::string& name : leftovers) {
    RemoveFile(out_folder + kPathSeparator +
               name);  // a failure is of no consequence
  }
}

}  // namespace

OutputImageType OutputImageTypeOf(int32_t image_type) {
  switch (image_type) {
    case 1:
      return {kGifExtension, u"image/gif"};
    case 2:
      return {kPngExtension, u"image/png"};
    case 3:
      return {kTiffExtension, u"image/tiff"};
    default:
      return {kJpegExtension, u"image/jpeg"};
  }
}

int32_t FindImageEncoder(std::u16string_view mime_type,
                         ImageFileFormat* format) {
  const std::span<const ImageEncoderInfo> encoders = InstalledImageEncoders();
  for (size_t i = 0; i < encoders.size(); ++i) {
    if (encoders[i].mime_type == mime_type) {
      *format = encoders[i].format;
      return static_cast<int32_t>(i);
    }
  }
  return -1;
}

PixelSize ScaledPageSize(int32_t width, int32_t height, int32_t long_side) {
  if (long_side < 1) long_side = kDefaultLongPixelLength;
  long_side = std::min(long_side, kMaxLongPixelLength);
  const float w = static_cast<float>(width);
  const float h = static_cast<float>(height);
  const float l = static_cast<float>(long_side);
  PixelSize size;
  if (height > width) {
    size.height = long_side;
    size.width = static_cast<int32_t>(w / h * l);
  } else {
    size.width = long_side;
    size.height = static_cast<int32_t>(h / w * l);
  }
  // A page far narrower than long; still worth an image one pixel wide.
  size.width = std::max(size.width, 1);
  size.height = std::max(size.height, 1);
  return size;
}

bool IsLeftoverPageFile(std::string_view name, std::string_view stem) {
  if (name.size() <= stem.size() || name.substr(0, stem.size()) != stem)
    return false;
  const std::string_view rest = name.substr(stem.size());  // "_*.*_"
  if (rest.size() < 3 || rest.front() != '_' || rest.back() != '_')
    return false;
  return rest.substr(1, rest.size() - 2).find('.') != std::string_view::npos;
}

PageImages ConvertPageImages(const Settings& settings, const StagedJob& job,
                             const std::string& page_pattern,
                             const std::function<void()>& await_earlier_results) {
  PageImages result;
  if (job.path.empty()) return result;
  const uint64_t started_ms = MonotonicMilliseconds();
  const OutputImageType output = OutputImageTypeOf(settings.ImageType);
  ImageFileFormat format = ImageFileFormat::kJpeg;
  const bool has_encoder = FindImageEncoder(output.mime_type, &format) >= 0;
  // The pages are in the job's private folder; their images go to out/
  // under the same names.
  const size_t separator = page_pattern.find_last_of(kPathSeparator);
  const std::string image_pattern = ImagePattern(
      EscapePagePattern(OutFolderA() + kPathSeparator) +
          (separator == std::string::npos ? page_pattern : page_pattern.substr(separator + 1)),
      output.extension);
  // A name without the page placeholder would name one file for every page
  // (and that file might be anything): then there are no rendered pages.
  const bool has_pages = !page_pattern.empty() && PageFileName(page_pattern, 1) !=
                                                      PageFileName(page_pattern, 2);
  const bool measures_coverage = settings.Type > 1;

  // Each page is read once, for both the coverage and its image. Raster
  // pages are read here; anything else (PNG pages, pages too large to hold
  // in memory) goes to the image library, which reads such a file once for
  // each use.
  ColorCoverage coverage;
  std::vector<PendingImage> images;
  for (int32_t page = 1; has_pages && page <= kImageOutputMaxPages; ++page) {
    // A terminated worker stops here; the leftovers go below.
    if (CancellationRequested()) break;
    const std::string source = PageFileName(page_pattern, page);
    if (!FileExistsA(source)) break;
    const bool measures = measures_coverage && page <= kColorCoverageMaxPages;
    // The job report notes each page's size and ink from the same pixels.
    const bool notes = settings.IsReport && page <= kColorCoverageMaxPages;
    const std::string target = PageFileName(image_pattern, page);
    // A target that is the source itself cannot be written over the page
    // being read; the page then yields no image.
    const bool converts = page <= settings.PagesMaxCount && target != source && has_encoder;
    if (measures || converts || notes) {
      PendingImage image{target + std::string(kPendingImageSuffix), target};
      bool tried = false;
      // A failed save leaves no image for this page; the job goes on. A file
      // the system would not create is worth a word to the operator.
      OsError error;
      if (std::optional<RasterPage> raster = RasterPage::Read(source, kMaxDecodedPageBytes)) {
        std::optional<PageInk> ink;
        if (measures) {
          ink = MeasureRgbPage(raster->rgb(), raster->width(), raster->height());
          coverage.AddPage(*ink);
        }
        if (notes) {
          result.pages.push_back(NoteRgbPage(page, raster->rgb(), raster->width(),
                                             raster->height(), ink, settings.ReportColourRule));
        }
        if (converts) {
          const PixelSize size =
              ScaledPageSize(raster->width(), raster->height(), settings.LongPixelLength);
          image.saved = SaveScaledRgb(raster->rgb(), raster->width(), raster->height(),
                                      image.pending, size.width, size.height, format, settings.Quality,
                                      &error);
          tried = true;
        }
      } else {
        if (notes) result.pages.push_back(NotePageFile(page, source, settings.ReportColourRule));
        if (measures) coverage.AddPage(notes ? *result.pages.back().ink : MeasurePageFile(source));
        std::optional<ImageFile> file = converts ? ImageFile::Open(source) : std::nullopt;
        if (file) {
          const PixelSize size = ScaledPageSize(file->width(), file->height(), settings.LongPixelLength);
          image.saved =
              file->SaveScaled(image.pending, size.width, size.height, format, settings.Quality, &error);
          tried = true;
        }
      }
      if (!error.call.empty()) ReportOsError(error);
      if (tried) images.push_back(std::move(image));
    }
    // Every rendered page goes, converted or not.
    RemoveFile(source);
  }

  result.elapsed_ms = MonotonicMilliseconds() - started_ms;
  if (await_earlier_results) await_earlier_results();
  // A terminated worker leaves no results of a half-read job, only its
  // leftovers swept below.
  const bool cancelled = CancellationRequested();
  // Results in their order: the coverage, then the images page by page.
  const std::string stem = ToNarrow(JobFileStem(ToWide(job.path)));
  if (coverage.pages() > 0 && !cancelled) {
    WriteResultFile(WithSuffix(OutFolderA() + kPathSeparator + stem, kColorCoverageSuffix),
                    coverage.ResultText());
  }
  for (const PendingImage& image : images) {
    std::error_code error;
    if (cancelled) {
      RemoveFile(image.pending);
      continue;
    }
    if (image.saved) std::filesystem::rename(image.pending, image.target, error);
    if (!image.saved || error) {
      RemoveFile(image.pending);
      RemoveFile(image.target);
    }
  }
  RemoveLeftoverPageFiles(FolderOf(job.path), stem);
  return result;
}

}  // namespace quillaro
