#ifndef QUILLARO_IMAGING_PAGE_NOTES_H_
#define QUILLARO_IMAGING_PAGE_NOTES_H_

#include <cstdint>
#include <optional>
#include <string>

#include "config/colour_rule.h"
#include "imaging/color_coverage.h"
#include "imaging/page_verdict.h"

namespace quillaro {

// One rendered page as the report sees it: its pixel size at 100 dpi and,
// when its pixels were looked at, its ink.
struct PageNote {
  int32_t number = 0;
  int32_t width_px = 0;
  int32_t height_px = 0;
  std::optional<PageInkCounts> ink_counts;
  std::optional<PageInk> ink;
};

// The report's note of page `number` from its decoded pixels, `width` x
// `height` of 8-bit RGB: its size, its ink counts, and its ink sums, which
// are `ink` when the colour coverage has measured them already and are
// measured here otherwise. One pass over the pixels for the counts, which
// are made by `rule`.
PageNote NoteRgbPage(int32_t number, const uint8_t* rgb, int32_t width, int32_t height,
                     const std::optional<PageInk>& ink, const ColourRule& rule);

// The same for a page file the image library reads (PNG pages, pages too
// large to hold): decoded once, for the note and, through `ink`, for the
// colour coverage, which gets exactly what MeasurePageFile gives. A file
// that cannot be opened gives a note of size 0 and no pixels.
PageNote NotePageFile(int32_t number, const std::string& path, const ColourRule& rule);

}  // namespace quillaro

#endif  // QUILLARO_IMAGING_PAGE_NOTES_H_
