#ifndef QUILLARO_PLATFORM_FILE_TIMES_H_
#define QUILLARO_PLATFORM_FILE_TIMES_H_

#include <cstdint>
#include <optional>
#include <string>

namespace quillaro {

// Creation time of a file or folder in whole seconds since 1970 (UTC). On
// Linux: the birth time where the file system records it, else the inode
// change time. Moving a file keeps its birth time; copying makes a new one.
// Empty when the entry cannot be examined.
std::optional<int64_t> FileCreationSeconds(const std::string& path);

// The current time in whole seconds since 1970 (UTC), and in nanoseconds.
int64_t CurrentTimeSeconds();
int64_t CurrentTimeNanoseconds();

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_FILE_TIMES_H_
