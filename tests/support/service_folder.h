#ifndef QUILLARO_TESTS_SUPPORT_SERVICE_FOLDER_H_
#define QUILLARO_TESTS_SUPPORT_SERVICE_FOLDER_H_

#include <filesystem>
#include <string>

namespace quillaro::testing {

// The folder of the running test program plays the service folder: the code
// under test finds settings.ini, log.txt, in/ and out/ beside its executable.
// A stage given a job in in/ takes in/ for the job's private folder: its
// interpreter runs write there, so anyone may write in it.
// Each test program has a folder of its own and runs its tests one after
// another, so a test owns this folder while it runs. Construction empties
// in/ and out/ and removes settings.ini and log.txt; so does destruction.
class ServiceFolder {
 public:
  ServiceFolder();
  ServiceFolder(const ServiceFolder&) = delete;
  ServiceFolder& operator=(const ServiceFolder&) = delete;
  ~ServiceFolder();

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path in() const { return root_ / "in"; }
  std::filesystem::path out() const { return root_ / "out"; }
  std::filesystem::path log() const { return root_ / "log.txt"; }

  // Writes settings.ini with `body` under a [Settings] header.
  void WriteSettings(const std::string& body) const;

 private:
  void Clean() const;
  std::filesystem::path root_;
};

// The service folder's out/, without cleaning anything.
std::filesystem::path ServiceOutFolder();

// Empty when gs, gpcl6, gxps and the PCL font kit are linked beside the test
// program; otherwise why not, with the command that sets them up. The text
// contains kInterpretersMissing, by which ctest reports the test program as
// skipped (and CI fails).
inline constexpr char kInterpretersMissing[] = "interpreters not configured";
std::string MissingInterpreters();

}  // namespace quillaro::testing

// Skips the current test when the interpreters are not configured.
#define QUILLARO_SKIP_WITHOUT_INTERPRETERS()                                                 \
  do {                                                                                       \
    if (const std::string missing = ::quillaro::testing::MissingInterpreters(); !missing.empty()) \
      GTEST_SKIP() << missing;                                                               \
  } while (false)

#endif  // QUILLARO_TESTS_SUPPORT_SERVICE_FOLDER_H_
