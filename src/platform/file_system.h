#ifndef QUILLARO_PLATFORM_FILE_SYSTEM_H_
#define QUILLARO_PLATFORM_FILE_SYSTEM_H_

#include <string>

namespace quillaro {

// True when `path` (narrow encoding) names an existing file, folder or link
// (a dangling link counts: it is an entry of its folder). When the last
// component holds the wildcards "*" or "?", true when any entry of its folder
// other than "." and ".." matches. Wildcards in earlier components are taken
// literally, as the Windows directory search does not expand them either.
bool PathExists(const std::string& path);

// Removes the file `path`. Returns false when it could not be removed
// (already gone, a folder, no permission).
bool RemoveFile(const std::string& path);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_FILE_SYSTEM_H_
