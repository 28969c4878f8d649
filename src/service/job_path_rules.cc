#include "service/job_path_rules.h"

#include "config/path_utils.h"

namespace quillaro {
namespace {

// Parts of the names the stages give to their own files, tested in this
// order.
constexpr const char16_t* kSkipMarkers[] = {
    u"watermark", u"_pagescount", u"_colorcoverage", u"_papersize", u".copy",    u".png",
    u".jpg",      u".jpeg",       u".gif",           u".tiff",      u"pcl_2_ps", u"ps_2_pcl",
};

constexpr char16_t kWatermarkMark[] = u"WTR";

}  // namespace

bool IsOwnOutputPath(const std::u16string& path) {
  // The file name only: the folders the service is installed under are
  // nobody's output.
  const std::u16string name = JobFileName(path);
  for (const char16_t* marker : kSkipMarkers) {
    if (name.find(marker) != std::u16string::npos) return true;
  }
  return false;
}

bool IsUploadInProgress(const std::u16string& path) { return JobFileName(path).starts_with(u'.'); }

bool IsWatermarkPath(const std::u16string& path) {
  return path.find(kWatermarkMark) != std::u16string::npos;
}

}  // namespace quillaro
