#include "service/job_path_rules.h"

#include <algorithm>
#include <string_view>

#include "config/path_utils.h"
#include "config/result_names.h"

namespace quillaro {
namespace {

// True when `name` holds the ASCII text `part`, compared unit by unit.
bool Contains(std::u16string_view name, std::string_view part) {
  return std::search(name.begin(), name.end(), part.begin(), part.end(),
                     [](char16_t unit, char byte) {
                       return unit == static_cast<char16_t>(byte);
                     }) != name.end();
}

constexpr char16_t kWatermarkMark[] = u"WTR";

}  // namespace

bool IsOwnOutputPath(const std::u16string& path) {
  // The file name only: the folders the service is installed under are
  // nobody's output.
  const std::u16string name = JobFileName(path);
  return std::any_of(std::begin(kOwnNameParts), std::end(kOwnNameParts),
                     [&](std::string_view part) { return Contains(name, part); });
}

bool IsUploadInProgress(const std::u16string& path) { return JobFileName(path).starts_with(u'.'); }

bool IsWatermarkPath(const std::u16string& path) {
  return path.find(kWatermarkMark) != std::u16string::npos;
}

}  // namespace quillaro
