#include "node/service_folder.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "config/result_names.h"
#include "config/text_utils.h"
#include "node/file_bundle.h"
#include "node/job_name.h"
#include "platform/directory_listing.h"
#include "platform/file_system.h"

namespace quillaro {
namespace {

constexpr const char16_t* kMarkerSuffixes[] = {kDoneMarkerSuffix, kWatermarkOkMarkerSuffix,
                                               kWatermarkErrorMarkerSuffix};

std::string Stem(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

ServiceFolder::ServiceFolder(std::string folder) : folder_(std::move(folder)) {
  std::error_code ignored;
  std::filesystem::create_directories(folder_ + "/staging", ignored);
}

std::string ServiceFolder::InboxName(const std::string& job_id,
                                     const std::string& submitted_name) {
  return job_id + KeptExtension(submitted_name);
}

void ServiceFolder::ClearStaleJobs() const {
  for (const char* sub : {"/in", "/staging", "/out", "/failed"}) {
    auto entries = ListDirectory(folder_ + sub);
    if (!entries) continue;
    for (const DirectoryEntry& entry : *entries) {
      std::error_code ignored;
      std::filesystem::remove_all(folder_ + sub + "/" + entry.name, ignored);
    }
  }
}

std::vector<std::string> ServiceFolder::ResultNames(const std::string& name) const {
  std::vector<std::string> names;
  const std::string stem = Stem(name);
  auto entries = ListDirectory(folder_ + "/out");
  if (!entries) return names;
  for (const DirectoryEntry& entry : *entries) {
    if (!entry.is_regular_file) continue;
    if (StartsWith(entry.name, stem + "_") || StartsWith(entry.name, name + "_") ||
        StartsWith(entry.name, name + ".")) {
      names.push_back(entry.name);
    }
  }
  return names;
}

void ServiceFolder::RemoveJobFiles(const std::string& name) const {
  for (const std::string& result : ResultNames(name)) RemoveFile(folder_ + "/out/" + result);
  RemoveFile(folder_ + "/in/" + name);
  RemoveFile(folder_ + "/staging/" + name);
  RemoveFile(folder_ + "/failed/" + name);
  RemoveFile(WithSuffix(folder_ + "/failed/" + name, kReasonSuffix));
}

bool ServiceFolder::Submit(const std::string& name, const std::string& bytes,
                           std::string* error) const {
  const std::string staged = folder_ + "/staging/" + name;
  OsError os_error;
  if (!WriteNewFile(staged, bytes, &os_error)) {
    *error = os_error.ToString();
    RemoveFile(staged);
    return false;
  }
  std::error_code code;
  // Safe job names never start with '.': this one is no job's.
  const std::string turn = folder_ + "/in/.node-turn";
  std::filesystem::create_directory(turn, code);
  std::filesystem::remove(turn, code);
  std::filesystem::rename(staged, folder_ + "/in/" + name, code);
  if (code) {
    *error = "rename(\"" + staged + "\"): " + code.message();
    RemoveFile(staged);
    return false;
  }
  return true;
}

bool ServiceFolder::HasMarker(const std::string& name) const {
  for (const char16_t* suffix : kMarkerSuffixes) {
    const std::string marker = ToNarrow(MarkerFileName(ToWide(name), suffix));
    if (GetEntryInfo(folder_ + "/out/" + marker).kind == EntryKind::kFile) return true;
  }
  return false;
}

std::vector<BundledFile> ServiceFolder::CollectResults(const std::string& name) const {
  std::vector<BundledFile> files;
  for (const std::string& result : ResultNames(name)) {
    if (auto bytes = ReadWholeFile(folder_ + "/out/" + result)) files.push_back({result, *bytes});
  }
  if (auto reason = ReadWholeFile(WithSuffix(folder_ + "/failed/" + name, kReasonSuffix))) {
    files.push_back({WithSuffix(name, kReasonSuffix), *reason});
  }
  return files;
}

}  // namespace quillaro
