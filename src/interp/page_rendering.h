#ifndef QUILLARO_INTERP_PAGE_RENDERING_H_
#define QUILLARO_INTERP_PAGE_RENDERING_H_

#include <string>

#include "config/settings.h"
#include "config/staged_job.h"
#include "interp/run_notes.h"

namespace quillaro {

// The kind of page file page rendering writes: uncompressed raster, or PNG
// as the service wrote before (the results are the same either way; tests
// use PNG to show that they are).
enum class PageFiles { kRaster, kPng };

// What page rendering made: its interpreter runs, and the pattern of the
// page files it wrote (see page_file_pattern.h: "%d" the page number, a
// "%" of the name doubled); empty when nothing was asked for.
struct RenderedPages {
  bool ok = false;  // rendered, or nothing asked for (IsConvert off)
  StageNote note;
  std::string pattern;
};

// Page rendering (IsConvert): the job's pages, 24-bit at 100 dpi, up to
// PagesMaxCount (Type 2: up to 499), as STEM_n.ppm_ (STEM_n.png_ for
// PageFiles::kPng) beside the job's private copy, the one folder its runs
// may write in; the image output reads and removes them. The interpreter
// is chosen as for page measurement, and a PJL-wrapped job no interpreter
// reads whole is read again without its PJL layer. Logs one line per run
// when IsLog. Blocks; any thread; never throws.
RenderedPages RenderPages(const Settings& settings, const StagedJob& job,
                          PageFiles files = PageFiles::kRaster);

}  // namespace quillaro

#endif  // QUILLARO_INTERP_PAGE_RENDERING_H_
