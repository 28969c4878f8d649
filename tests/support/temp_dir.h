#ifndef QUILLARO_TESTS_SUPPORT_TEMP_DIR_H_
#define QUILLARO_TESTS_SUPPORT_TEMP_DIR_H_

#include <filesystem>
#include <string>

namespace quillaro::testing {

// A fresh folder under the system's temporary folder, removed with
// everything in it on destruction.
class TempDir {
 public:
  TempDir();
  // A fresh folder inside `parent` instead.
  explicit TempDir(const std::filesystem::path& parent);
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  const std::filesystem::path& path() const { return path_; }
  // Full path of `name` inside the folder, as narrow text.
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);
// Writes `bytes` to `path`, replacing it; fails the test when it cannot.
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);
// Plants a link to the file `target` under the name `link`, as an attacker
// would: a symbolic link where the system lets the test make one, otherwise
// (Wine) a second hard link, which a careless writer would write through too.
// Fails the test when it can make neither.
void PlantLink(const std::filesystem::path& target, const std::filesystem::path& link);

}  // namespace quillaro::testing

#endif  // QUILLARO_TESTS_SUPPORT_TEMP_DIR_H_
