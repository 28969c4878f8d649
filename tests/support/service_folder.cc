#include "support/service_folder.h"

#include "config/path_utils.h"
#include "config/text_utils.h"
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
  std::filesystem::remove(root_ / "settings.ini", error);
  std::filesystem::remove(root_ / "log.txt", error);
}

void ServiceFolder::WriteSettings(const std::string& body) const {
  WriteFileBytes(root_ / "settings.ini", "[Settings]\n" + body);
}

bool ServiceFolder::HasInterpreters() const {
  return std::filesystem::exists(root_ / "gs") && std::filesystem::exists(root_ / "gpcl6") &&
         std::filesystem::exists(root_ / "gxps");
}

std::filesystem::path ServiceOutFolder() {
  return std::filesystem::path(ToNarrow(GetModuleFolder())) / "out";
}

}  // namespace quillaro::testing
