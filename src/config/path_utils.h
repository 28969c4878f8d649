#ifndef QUILLARO_CONFIG_PATH_UTILS_H_
#define QUILLARO_CONFIG_PATH_UTILS_H_

#include <string>

namespace quillaro {

// Folder of the running executable (symbolic links resolved), without a
// trailing separator; empty when it cannot be found. The interpreters and
// the font kit are found here.
std::u16string GetModuleFolder();

// Folder of the service's data (settings.ini, log.txt, in/, out/, failed/),
// without a trailing separator: the module folder, unless a Windows
// installation keeps its data elsewhere (DataFolder() in
// platform/module_path.h).
std::u16string GetDataFolder();

// True when the path names an existing file or folder; a last component with
// "*" or "?" exists when anything in its folder matches.
bool FileExists(const std::u16string& path);
bool FileExistsA(const std::string& path);

// NAME: the job file's name with extension, i.e. the text after the last
// separator (the whole path when there is none).
std::u16string JobFileName(const std::u16string& job_path);
// STEM: NAME up to its last "." (all of NAME when it has no ".").
std::u16string JobFileStem(const std::u16string& job_path);
// The folder of the file at `path` (narrow), without a trailing separator;
// empty when `path` names no folder. For a job the stages were given, its
// private folder, where its interpreter runs write.
std::string FolderOf(const std::string& path);
// OUT: the data folder followed by "/out", narrow.
std::string OutFolderA();

}  // namespace quillaro

#endif  // QUILLARO_CONFIG_PATH_UTILS_H_
