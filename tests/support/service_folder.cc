#include "support/service_folder.h"

#include "config/path_utils.h"
#include "config/text_utils.h"
#include "platform/system_files.h"
#include "support/temp_dir.h"

namespace quillaro::testing {

ServiceFolder::ServiceFolder() : root_(ToNarrow(GetModuleFolder())) { Clean(); }

ServiceFolder::~ServiceFolder() { Clean(); }

void ServiceFolder::Clean() const {
  std::error_code error;
  for (const char* folder : {"in", "out"}) {
    std::filesystem::remove_all(root_ / folder, error);
    std::filesystem::create_directory(root_ / folder, error);
  }
  // Stages called here run their interpreters beside the job, as in its
  // private folder, and those may run as another user than the tests.
  std::filesystem::permissions(root_ / "in", std::filesystem::perms::all, error);
  std::filesystem::remove(root_ / "settings.ini", error);
  std::filesystem::remove(root_ / "log.txt", error);
}

void ServiceFolder::WriteSettings(const std::string& body) const {
  WriteFileBytes(root_ / "settings.ini", "[Settings]\n" + body);
}

std::filesystem::path ServiceOutFolder() {
  return std::filesystem::path(ToNarrow(GetModuleFolder())) / "out";
}

std::string MissingInterpreters() {
  const std::filesystem::path beside = ToNarrow(GetModuleFolder());
  std::string missing;
  const InterpreterFileNames interpreters = InterpreterFiles();
  for (const char16_t* name : {interpreters.postscript, interpreters.pcl, interpreters.xps,
                               static_cast<const char16_t*>(u"urwfonts")}) {
    const std::string narrow = ToNarrow(name);
    std::error_code error;
    if (!std::filesystem::exists(beside / narrow, error)) missing.append(" ").append(narrow);
  }
  if (missing.empty()) return missing;
  return std::string(kInterpretersMissing) + " (missing beside the test program:" + missing +
         "); run `bash scripts/setup.sh`, which builds them and configures the tests";
}

}  // namespace quillaro::testing
