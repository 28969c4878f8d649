#include "config/path_utils.h"

#include "config/text_utils.h"
#include "platform/file_system.h"
#include "platform/module_path.h"

namespace quillaro {

std::u16string GetModuleFolder() { return ToWide(ModuleFolder()); }

std::u16string GetDataFolder() { return ToWide(DataFolder()); }

bool FileExists(const std::u16string& path) { return PathExists(ToNarrow(path)); }

bool FileExistsA(const std::string& path) { return PathExists(path); }

std::u16string JobFileName(const std::u16string& job_path) {
  size_t slash = job_path.rfind(static_cast<char16_t>(kPathSeparator));
  return slash == std::u16string::npos ? job_path : job_path.substr(slash + 1);
}

std::u16string JobFileStem(const std::u16string& job_path) {
  std::u16string name = JobFileName(job_path);
  size_t dot = name.rfind(u'.');
  return dot == std::u16string::npos ? name : name.substr(0, dot);
}

std::string OutFolderA() { return ToNarrow(GetDataFolder()) + kPathSeparator + "out"; }

std::string FolderOf(const std::string& path) {
  const size_t separator = path.find_last_of(kPathSeparator);
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

}  // namespace quillaro
