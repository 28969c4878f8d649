// Completion markers: the last file a job writes, so a client watching out/
// knows the job's other outputs are complete.

#include "service/completion_markers.h"

#include "config/path_utils.h"
#include "config/result_file.h"
#include "config/result_names.h"
#include "config/text_utils.h"
#include "platform/module_path.h"

namespace quillaro {
namespace {

void WriteMarker(const std::u16string& job_path, std::u16string_view suffix,
                 const std::string& content) {
  std::u16string name = GetDataFolder() + static_cast<char16_t>(kPathSeparator) + u"out" +
                        static_cast<char16_t>(kPathSeparator) +
                        MarkerFileName(JobFileName(job_path), suffix);
  WriteResultFile(ToNarrow(name), content);
}

}  // namespace

void WriteDoneMarker(const std::u16string& job_path) {
  WriteMarker(job_path, kDoneMarkerSuffix, "done");
}

void WriteWatermarkMarker(const std::u16string& job_path, bool stamped) {
  if (stamped) {
    WriteMarker(job_path, kWatermarkOkMarkerSuffix, "watermark done");
  } else {
    WriteMarker(job_path, kWatermarkErrorMarkerSuffix, "watermark error");
  }
}

}  // namespace quillaro
