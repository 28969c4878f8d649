#ifndef QUILLARO_WATERMARK_WATERMARK_PIPELINE_H_
#define QUILLARO_WATERMARK_WATERMARK_PIPELINE_H_

#include <string>

#include "config/settings.h"
#include "config/staged_job.h"

namespace quillaro {

// The watermark prolog for `text` in the style the settings give (WMFontType,
// WMFontSize, WMLeftOffset, WMBottomOffset, WMGrayLevel): a PostScript
// program that, run ahead of a job, strokes the text in outline onto every
// page. The text is escaped, so that whatever it holds stays inside its
// string literal; the prolog is cut at 4095 characters. Pure; any thread.
std::string BuildWatermarkProlog(const Settings& settings, const std::string& text);

// The watermark route (WMEnable): the PJL-wrapped PostScript, PDF, PCL or
// PCL XL job at `job`.path, with its text in the side file beside it (the
// job's path + "_watermark.txt", first line), is stamped with the prolog
// and written back as OUT/NAME.watermarked with its own PJL header and
// trailer (a PCL body goes through PostScript and comes back as PCL XL).
// The interpreter runs keep their safe mode and write only beside the job.
// Returns true when it was stamped; the caller writes the marker. Blocks;
// any thread.
bool RunWatermark(const Settings& settings, const StagedJob& job);

}  // namespace quillaro

#endif  // QUILLARO_WATERMARK_WATERMARK_PIPELINE_H_
