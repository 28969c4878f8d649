#ifndef QUILLARO_PLATFORM_FILE_SYSTEM_H_
#define QUILLARO_PLATFORM_FILE_SYSTEM_H_

#include <cstdint>
#include <functional>
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

// Opens `path` for appending (creating it when absent), asks
// `make_bytes(current_size_in_bytes)` for what to add, and appends it with a
// single write, so that lines of concurrent writers never interleave.
// Returns false when the file cannot be opened or written.
bool AppendToFile(const std::string& path,
                  const std::function<std::string(uint64_t current_size)>& make_bytes);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_FILE_SYSTEM_H_
