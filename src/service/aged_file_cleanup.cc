#include "service/aged_file_cleanup.h"

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "config/path_utils.h"
#include "config/result_names.h"
#include "config/settings.h"
#include "config/text_utils.h"
#include "platform/directory_listing.h"
#include "platform/file_system.h"
#include "platform/file_times.h"
#include "platform/module_path.h"
#include "service/job_path_rules.h"
#include "service/waiting_jobs.h"

namespace quillaro {

void CleanFolder(const std::u16string& folder, int32_t age_limit_seconds) {
  const std::string folder_a = ToNarrow(folder);
  const int64_t now = CurrentTimeSeconds();
  std::optional<std::vector<DirectoryEntry>> entries = ListDirectory(folder_a);
  if (!entries) return;
  std::vector<std::string> aged;
  for (const DirectoryEntry& entry : *entries) {
    // An entry whose creation time cannot be read (it vanished meanwhile)
    // is left for a later pass rather than guessed at.
    if (!entry.creation_seconds) continue;
    if (now - *entry.creation_seconds > age_limit_seconds) aged.push_back(entry.name);
  }
  // Only files go: removing a folder entry fails, so sub-folders and what
  // they hold stay, as intended.
  for (const std::string& name : aged) RemoveFile(folder_a + kPathSeparator + name);
}

void CleanInbox(const std::u16string& in_folder, const std::u16string& out_folder,
                int32_t age_limit_seconds) {
  const std::string folder_a = ToNarrow(in_folder);
  const int64_t now = CurrentTimeSeconds();
  const InboxListing listing(in_folder, out_folder);
  std::unordered_set<std::string> waiting;
  for (const DirectoryEntry& entry : listing.entries()) {
    if (listing.IsWaitingJob(entry)) waiting.insert(entry.name);
  }
  constexpr std::string_view kWatermarkText = kWatermarkTextSuffix;
  std::vector<std::string> aged;
  for (const DirectoryEntry& entry : listing.entries()) {
    if (!entry.creation_seconds || waiting.contains(entry.name)) continue;
    const std::string& name = entry.name;
    if (name.ends_with(kWatermarkText) &&
        waiting.contains(name.substr(0, name.size() - kWatermarkText.size()))) {
      continue;
    }
    int64_t since = *entry.creation_seconds;
    if (IsUploadInProgress(listing.PathOf(entry))) {
      since = std::max(since, entry.modification_time_ns / 1000000000);
    }
    if (now - since > age_limit_seconds) aged.push_back(name);
  }
  for (const std::string& name : aged) RemoveFile(folder_a + kPathSeparator + name);
}

uint32_t RunCleanup(ThreadEventPair& events) {
  const Settings settings = LoadSettings();
  for (;;) {
    const std::u16string data = GetDataFolder();
    const std::u16string separator(1, static_cast<char16_t>(kPathSeparator));
    CleanInbox(data + separator + u"in", data + separator + u"out", settings.DeleteSeconds);
    CleanFolder(data + separator + u"out", settings.DeleteSeconds);
    for (int second = 0; second < kCleanupIntervalSeconds; ++second) {
      if (events.stop_request.Wait(1000)) {
        events.stopped.Set();
        return 0;
      }
    }
  }
}

uint32_t CleanupThread(ServiceThreads* threads) { return RunCleanup(threads->cleanup); }

}  // namespace quillaro
