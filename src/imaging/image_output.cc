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

#include "config/job.h"
#include "config/path_utils.h"
#include "config/text_utils.h"
#include "interp/page_file_pattern.h"
#include "platform/cancellation.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "platform/os_error.h"

namespace quillaro {
namespace {

constexpr std::string_view kRenderedPageSuffix = ".png_";

void ConvertPage(const std::string& source, const std::string& target,
                 const OutputImageType& output, int32_t long_side,
                 int32_t quality) {
  std::optional<ImageFile> image = ImageFile::Open(source);
  if (!image) return;
  const PixelSize size =
      ScaledPageSize(image->width(), image->height(), long_side);
  ImageFileFormat format;
  if (FindImageEncoder(output.mime_type, &format) < 0) return;
  // A failed save leaves no image for this page; the job goes on. A file
  // the system would not create is worth a word to the operator.
  OsError error;
  if (!image->SaveScaled(target, size.width, size.height, format, quality, &error) &&
      !error.call.empty()) {
    ReportOsError(error);
  }
}

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
      return {".gif", u"image/gif"};
    case 2:
      return {".png", u"image/png"};
    case 3:
      return {".tiff", u"image/tiff"};
    default:
      return {".jpg", u"image/jpeg"};
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

void Job::ConvertPageImages(std::u16string job_path) {
  if (job_path.empty()) return;
  const OutputImageType output = OutputImageTypeOf(ImageType);
  std::string target_pattern = OutputFile;
  ReplaceAll(target_pattern, std::string(kRenderedPageSuffix),
             std::string(output.extension));
  // A name without the page placeholder would name one file for every page
  // (and that file might be anything): then there are no rendered pages.
  const bool has_pages = !OutputFile.empty() && PageFileName(OutputFile, 1) !=
                                                    PageFileName(OutputFile, 2);

  for (int32_t page = 1; has_pages && page <= kImageOutputMaxPages; ++page) {
    // A terminated worker stops here; the leftovers go below.
    if (CancellationRequested()) break;
    const std::string source = PageFileName(OutputFile, page);
    if (!FileExistsA(source)) break;
    const std::string target = PageFileName(target_pattern, page);
    // A target that is the source itself cannot be written over the page
    // being read; the page then yields no image.
    if (page <= PagesMaxCount && target != source) {
      ConvertPage(source, target, output, LongPixelLength, Quality);
    }
    // Every rendered page goes, converted or not.
    RemoveFile(source);
  }
  RemoveLeftoverPageFiles(OutFolderA(), ToNarrow(JobFileStem(job_path)));
}

}  // namespace quillaro
