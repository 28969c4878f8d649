#ifndef QUILLARO_INTERP_MEDIA_PROBE_H_
#define QUILLARO_INTERP_MEDIA_PROBE_H_

#include <cstdint>
#include <vector>

#include "config/settings.h"
#include "config/staged_job.h"
#include "interp/run_notes.h"

namespace quillaro {

// A page's size in pixels at 100 dpi, as the media probe found it.
struct ProbedPage {
  int32_t number = 0;
  int32_t width_px = 0;
  int32_t height_px = 0;
};

struct ProbedMedia {
  StageNote note;
  std::vector<ProbedPage> pages;  // in page order; none when no run succeeded
};

// The media probe, for the report of a job whose pages are not rendered
// (Type 0): one run that renders its pages (up to kMaxExaminedPages) as
// 1-bit pages at 100 dpi beside the job's private copy only to learn their
// sheet sizes; the page files are removed. The interpreter is chosen as for
// the other stages, and a PJL-wrapped job no interpreter reads whole is
// read again without its PJL layer. Never logs. Blocks; any thread.
ProbedMedia ProbeMedia(const Settings& settings, const StagedJob& job);

}  // namespace quillaro

#endif  // QUILLARO_INTERP_MEDIA_PROBE_H_
