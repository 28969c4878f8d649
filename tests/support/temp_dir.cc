#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

namespace quillaro::testing {

TempDir::TempDir() : TempDir(std::filesystem::temp_directory_path()) {}

TempDir::TempDir(const std::filesystem::path& parent) {
  std::random_device random;
  std::error_code error;
  // A test may have removed the parent (out/ of the service folder): make it
  // again rather than retrying forever.
  std::filesystem::create_directories(parent, error);
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Of one length every time: tests that need paths over a length count on it.
    char name[32];
    std::snprintf(name, sizeof name, "quillaro-test-%08x%08x", random(), random());
    path_ = parent / name;
    if (std::filesystem::create_directory(path_, error)) return;
  }
  ADD_FAILURE() << "cannot make a temporary folder in " << parent << ": " << error.message();
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, error);
  std::filesystem::remove_all(path_, error);
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  // The stream library throws on a failed read whatever the stream's
  // exception mask: a /proc entry of a process that just ended fails so.
  try {
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  } catch (const std::ios_base::failure&) {
    return std::string();
  }
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out) << "cannot write " << path;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void PlantLink(const std::filesystem::path& target, const std::filesystem::path& link) {
  std::error_code error;
  std::filesystem::create_symlink(target, link, error);
  if (error) std::filesystem::create_hard_link(target, link, error);
  ASSERT_FALSE(error) << "cannot link " << link << " to " << target << ": " << error.message();
}

}  // namespace quillaro::testing
