#ifndef QUILLARO_PLATFORM_DIRECTORY_LISTING_H_
#define QUILLARO_PLATFORM_DIRECTORY_LISTING_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillaro {

// One entry of a folder ("." and ".." are never listed).
struct DirectoryEntry {
  std::string name;  // without the folder
  bool is_folder = false;
  bool is_regular_file = false;
  // Seconds since 1970 (UTC), as FileCreationSeconds() gives it; empty when
  // the entry vanished or could not be examined while listing.
  std::optional<int64_t> creation_seconds;
  // Last change of content or metadata (a rename counts), in nanoseconds
  // since 1970; 0 when unknown.
  int64_t change_time_ns = 0;
  // Last change of content (what `ls -t` sorts by; a client that copies a
  // file with its times keeps the original's), in nanoseconds since 1970;
  // 0 when unknown.
  int64_t modification_time_ns = 0;
};

// The entries of `folder` (not of its sub-folders) in the order the system
// enumerates them. The listing is complete before it is returned, so callers
// may delete entries afterwards without disturbing it. Empty optional when
// the folder cannot be opened or read.
std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& folder);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_DIRECTORY_LISTING_H_
