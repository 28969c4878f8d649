#ifndef QUILLARO_INTERP_PAGE_MEASUREMENT_H_
#define QUILLARO_INTERP_PAGE_MEASUREMENT_H_

#include <cstdint>

#include "config/settings.h"
#include "config/staged_job.h"
#include "interp/run_notes.h"

namespace quillaro {

// What page measurement found: its interpreter runs, and the pages of one
// copy (0 when none were counted).
struct PageCount {
  bool ok = false;  // counted, or nothing asked for (IsConvert off)
  StageNote note;
  int64_t pages = 0;
};

// Page measurement (IsConvert): counts the job's pages with the bbox device
// of the interpreter ChooseInterpreter picks (each in the fallback order
// when none is picked), and writes OUT/STEM_pagescount.txt (the pages times
// the PJL copies) and OUT/STEM_papersize.txt (the PJL paper's name, else
// the measured ones). A PJL-wrapped job no interpreter reads whole is read
// again without its PJL layer. Logs one line per run when IsLog. Blocks;
// any thread; never throws.
PageCount MeasurePages(const Settings& settings, const StagedJob& job);

}  // namespace quillaro

#endif  // QUILLARO_INTERP_PAGE_MEASUREMENT_H_
