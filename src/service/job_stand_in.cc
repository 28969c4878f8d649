#include "service/job_stand_in.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <system_error>

#include "config/path_utils.h"
#include "config/text_utils.h"
#include "platform/file_system.h"

namespace quillaro {
namespace {

constexpr char16_t kStandInStem[] = u"pcl_2_ps-stand-in-";

// True when `text` carries bytes that were not valid UTF-8 (kept as the lone
// surrogates U+DC80..U+DCFF, see platform/code_page.h).
bool CarriesRawBytes(const std::u16string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (text[i] >= 0xDC80 && text[i] <= 0xDCFF) {
      return true;
    }
  }
  return false;
}

std::u16string NextStandInStem() {
  static std::atomic<unsigned> count{0};
  return kStandInStem + ToWide(std::to_string(++count));
}

}  // namespace

JobStandIn::JobStandIn(const std::u16string& job_path) : path_(job_path) {
  const std::u16string name = JobFileName(job_path);
  if (!CarriesRawBytes(name)) return;
  const std::u16string stem = JobFileStem(job_path);
  std::u16string extension = name.substr(std::min(stem.size(), name.size()));
  if (CarriesRawBytes(extension)) extension = u".job";
  const std::u16string stand_in_stem = NextStandInStem();
  path_ = job_path.substr(0, job_path.size() - name.size()) + stand_in_stem + extension;
  renames_ = {{ToNarrow(stand_in_stem + extension), ToNarrow(name)},
              {ToNarrow(stand_in_stem) + "_", ToNarrow(stem) + "_"}};
}

JobStandIn::~JobStandIn() {
  std::error_code error;
  if (renames_.empty()) return;
  const std::filesystem::path out = OutFolderA();
  std::vector<std::pair<std::string, std::string>> moves;
  for (std::filesystem::directory_iterator entry(out, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    for (const auto& [from, to] : renames_) {
      if (!name.starts_with(from)) continue;
      moves.emplace_back(name, to + name.substr(from.size()));
      break;
    }
  }
  for (const auto& [from, to] : moves) std::filesystem::rename(out / from, out / to, error);
}

}  // namespace quillaro
