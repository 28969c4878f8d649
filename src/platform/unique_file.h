#ifndef QUILLARO_PLATFORM_UNIQUE_FILE_H_
#define QUILLARO_PLATFORM_UNIQUE_FILE_H_

#include <cstdio>
#include <memory>

namespace quillaro {

// Closes a std::FILE; what fclose returns is not looked at, so a stream
// written through it is flushed and checked (fflush, ferror) before it goes.
struct UniqueFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The one owner of a std::FILE, as OpenRegularFileForReading
// (platform/file_system.h) opens it: `UniqueFile file(OpenRegularFileForReading(path));`
using UniqueFile = std::unique_ptr<std::FILE, UniqueFileCloser>;

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_UNIQUE_FILE_H_
