#include "node/service_folder.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

#include "node/file_bundle.h"
#include "platform/directory_listing.h"
#include "platform/file_system.h"
#include "platform/monotonic_clock.h"

namespace quillaro {
namespace {

constexpr uint32_t kMarkerPollMs = 20;
const char* const kMarkerSuffixes[] = {"_done", "_watermark_done_ok", "_watermark_done_error"};

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
  RemoveFile(folder_ + "/failed/" + name + ".reason.txt");
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

bool ServiceFolder::WaitForMarker(const std::string& name, uint32_t timeout_ms) const {
  const uint64_t deadline = MonotonicMilliseconds() + timeout_ms;
  for (;;) {
    for (const char* suffix : kMarkerSuffixes) {
      if (GetEntryInfo(folder_ + "/out/" + name + suffix).kind == EntryKind::kFile) return true;
    }
    if (MonotonicMilliseconds() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kMarkerPollMs));
  }
}

std::vector<BundledFile> ServiceFolder::CollectResults(const std::string& name) const {
  std::vector<BundledFile> files;
  for (const std::string& result : ResultNames(name)) {
    if (auto bytes = ReadWholeFile(folder_ + "/out/" + result)) files.push_back({result, *bytes});
  }
  if (auto reason = ReadWholeFile(folder_ + "/failed/" + name + ".reason.txt")) {
    files.push_back({name + ".reason.txt", *reason});
  }
  return files;
}

}  // namespace quillaro
