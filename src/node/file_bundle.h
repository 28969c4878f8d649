#ifndef QUILLARO_NODE_FILE_BUNDLE_H_
#define QUILLARO_NODE_FILE_BUNDLE_H_

#include <optional>
#include <string>
#include <vector>

namespace quillaro {

// A job's result files packed into one message body, so that a job's results
// arrive together or not at all. The format is "QRB1", then per file a
// 4-byte name length, the name, an 8-byte content length and the content
// (lengths little-endian).
struct BundledFile {
  std::string name;   // a file name, no folder
  std::string bytes;
};

std::string EncodeBundle(const std::vector<BundledFile>& files);

// nullopt when `body` is not a well-formed bundle (wrong magic, a length past
// the end, bytes left over) or a name is not a plain file name (empty, ".",
// "..", or holding '/', '\\' or NUL): a bundle comes over the network and is
// never trusted to name a path.
std::optional<std::vector<BundledFile>> DecodeBundle(const std::string& body);

// The bytes of the regular file at `path` (a link or a folder is refused, as
// the service refuses them), or nullopt when it cannot be opened or read.
// Used for the jobs a submitter sends and the results a node collects.
std::optional<std::string> ReadWholeFile(const std::string& path);

}  // namespace quillaro

#endif  // QUILLARO_NODE_FILE_BUNDLE_H_
