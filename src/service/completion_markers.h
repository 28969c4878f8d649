#ifndef QUILLARO_SERVICE_COMPLETION_MARKERS_H_
#define QUILLARO_SERVICE_COMPLETION_MARKERS_H_

#include <string>

namespace quillaro {

// The completion markers, the last file a job writes, in out/ under the
// name MarkerFileName gives for the job at `job_path`: NAME_done holding
// "done"; for the watermark route NAME_watermark_done_ok holding
// "watermark done" when `stamped`, else NAME_watermark_done_error holding
// "watermark error". Each replaces a marker of an earlier job of the same
// name; no line end. Any thread.
void WriteDoneMarker(const std::u16string& job_path);
void WriteWatermarkMarker(const std::u16string& job_path, bool stamped);

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_COMPLETION_MARKERS_H_
