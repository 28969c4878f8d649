#ifndef QUILLARO_IMAGING_IMAGE_OUTPUT_H_
#define QUILLARO_IMAGING_IMAGE_OUTPUT_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "config/staged_job.h"
#include "imaging/page_notes.h"
#include "platform/image_codec.h"

namespace quillaro {

// What the image output noted of the pages, for the report.
struct PageImages {
  std::vector<PageNote> pages;  // IsReport: each page up to kColorCoverageMaxPages
  uint64_t elapsed_ms = 0;
};

// The image output: the page files page rendering wrote after
// `page_pattern` (beside the job's private copy) are each read once, for
// their colour coverage into OUT/STEM_colorcoverage.txt when Type > 1,
// their note when IsReport, and their images OUT/STEM_n plus the
// extension of ImageType, scaled to LongPixelLength, for pages up to
// PagesMaxCount; then every page file of the job is removed. An empty
// pattern, or one without the page placeholder, has no pages.
// `await_earlier_results`, when given, is called once before the first
// result file is written, so that results of a stage running beside this
// one come first; the pages are read and converted meanwhile. A cancelled
// worker (platform/cancellation.h) leaves no results, only its page files
// removed. Blocks; any thread; never throws.
PageImages ConvertPageImages(const Settings& settings, const StagedJob& job,
                             const std::string& page_pattern,
                             const std::function<void()>& await_earlier_results = nullptr);

// Highest page number that image output looks for.
inline constexpr int32_t kImageOutputMaxPages = 999;
// Side length used when LongPixelLength is below 1.
inline constexpr int32_t kDefaultLongPixelLength = 80;
// Longest side an output image can have: JPEG and GIF hold no more.
inline constexpr int32_t kMaxLongPixelLength = 65535;

// The output format an ImageType selects: 0 JPEG, 1 GIF, 2 PNG, 3 TIFF. Any
// other value selects JPEG, the default, as other invalid settings fall back
// to theirs.
struct OutputImageType {
  std::string_view extension;     // ".jpg", ".gif", ".png", ".tiff"
  std::u16string_view mime_type;  // "image/jpeg", ...
};
OutputImageType OutputImageTypeOf(int32_t image_type);

// Index, in the list of installed encoders, of the first whose MIME type is
// exactly `mime_type` (case-sensitive), with its format in `*format`; -1 when
// there is none (then `*format` is untouched).
int32_t FindImageEncoder(std::u16string_view mime_type,
                         ImageFileFormat* format);

struct PixelSize {
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const PixelSize&) const = default;
};

// Size of a `width` x `height` page scaled so that its longer side (the width
// for a square page) is `long_side`; the other side is the single-precision
// product (shorter / longer) * long_side truncated toward zero, and at least
// 1. Pages are enlarged as well as reduced. `long_side` below 1 counts as
// kDefaultLongPixelLength, above kMaxLongPixelLength as that. `width` and
// `height` must be positive.
PixelSize ScaledPageSize(int32_t width, int32_t height, int32_t long_side);

// True when `name` is a leftover page file of the job whose STEM is `stem`:
// it is STEM + "_" followed by text with a "." and ends with "_" (the
// pattern STEM_*.*_).
bool IsLeftoverPageFile(std::string_view name, std::string_view stem);

}  // namespace quillaro

#endif  // QUILLARO_IMAGING_IMAGE_OUTPUT_H_
