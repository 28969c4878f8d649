#ifndef QUILLARO_INTERP_PAGE_FILE_PATTERN_H_
#define QUILLARO_INTERP_PAGE_FILE_PATTERN_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace quillaro {

// Most pages whose pixels the service looks at: rendered for Type 2,
// measured for colour coverage, sized and judged for the report.
inline constexpr int32_t kMaxExaminedPages = 499;

// The end of every page file's name that page rendering writes: uncompressed
// raster (binary PPM), which the imaging stages read without decoding, or
// PNG where a caller asks for it (PageFiles::kPng). The final "_" keeps them
// apart from the results, and the image-output sweep removes whatever is left.
inline constexpr std::string_view kRasterPageSuffix = ".ppm_";
inline constexpr std::string_view kPngPageSuffix = ".png_";

// The interpreters read an output-file name with "%d" as a printf-style
// pattern: "%d" is the page number and "%%" a literal "%". A job's name may
// itself hold "%", so the name part of a pattern is escaped here, and the
// stages that later look for the page files expand the pattern the same way.

// `text` with every "%" doubled.
std::string EscapePagePattern(const std::string& text);

// The page file that the interpreter writes for `page` (counted from 1) when
// given `pattern`: "%d" becomes the decimal page number and "%%" becomes "%";
// any other "%" is kept as it stands.
std::string PageFileName(const std::string& pattern, int page);

}  // namespace quillaro

#endif  // QUILLARO_INTERP_PAGE_FILE_PATTERN_H_
