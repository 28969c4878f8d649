#ifndef QUILLARO_PLATFORM_FILE_SYSTEM_H_
#define QUILLARO_PLATFORM_FILE_SYSTEM_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/native_handle.h"
#include "platform/os_error.h"

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
// Returns false when the file cannot be opened or written, and then sets
// `*error` (when not null) to the call that failed.
bool AppendToFile(const std::string& path,
                  const std::function<std::string(uint64_t current_size)>& make_bytes,
                  OsError* error = nullptr);

// True when `name` (one path component, narrow encoding) is short enough to
// be a file name: at most 255 bytes on Linux, 255 UTF-16 code units on
// Windows. A longer name cannot be created at all.
bool FileNameFits(const std::string& name);

// What a folder entry is in itself: a link is not followed.
enum class EntryKind {
  kMissing,
  kFile,    // a regular file
  kFolder,
  kLink,    // a symbolic link, dangling or not
  kOther,   // a pipe, socket or device
};
struct EntryInfo {
  EntryKind kind = EntryKind::kMissing;
  // Names the file has on the file system (hard links); 0 when missing.
  uint64_t hard_links = 0;
};
EntryInfo GetEntryInfo(const std::string& path);

// Opens the regular file `path` for binary reading. Fails (nullptr) when the
// last component of `path` is a symbolic link or when it is not a regular
// file, without ever blocking on a pipe or device. The caller owns it: keep
// it in a UniqueFile (platform/unique_file.h).
std::FILE* OpenRegularFileForReading(const std::string& path);

// Creates `path` as a new file open for writing, for the platform backends
// to write through: it fails when any entry has that name, a link included
// (none is followed), so that nothing planted under the name is ever written
// through. On Linux the file gets the permission bits `mode` (less the
// umask); on Windows it inherits its folder's ACL, and `share_read` lets
// others read it while it is open. On failure the handle is not valid and
// `*error` (when not null) names the call that failed.
UniqueNativeHandle OpenNewFile(const std::string& path, uint32_t mode, bool share_read,
                               OsError* error);

// Writes `bytes` to `path` as a new file: whatever entry had that name is
// removed first, and the file is created exclusively, so that a link planted
// under that name is never written through. Returns false when the file
// cannot be created or written, and then sets `*error` (when not null) to
// the call that failed; a file created but not written whole is left behind.
bool WriteNewFile(const std::string& path, const std::string& bytes, OsError* error = nullptr);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_FILE_SYSTEM_H_
