#include "service/waiting_jobs.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "config/path_utils.h"
#include "config/result_names.h"
#include "config/text_utils.h"
#include "platform/module_path.h"
#include "service/job_path_rules.h"

namespace quillaro {

InboxListing::InboxListing(std::u16string in_folder, const std::u16string& out_folder)
    : in_folder_(std::move(in_folder)) {
  // out/ first: the cleanup deletes a processed job before its marker, so a
  // marker missing here belongs to a job that is also gone from in/ by the
  // time in/ is listed, and no finished job is taken for a waiting one.
  if (std::optional<std::vector<DirectoryEntry>> out = ListDirectory(ToNarrow(out_folder))) {
    for (DirectoryEntry& entry : *out) {
      if (!entry.is_folder) out_times_.emplace(std::move(entry.name), entry.modification_time_ns);
    }
  }
  if (std::optional<std::vector<DirectoryEntry>> in = ListDirectory(ToNarrow(in_folder_))) {
    entries_ = std::move(*in);
  }
}

std::u16string InboxListing::PathOf(const DirectoryEntry& entry) const {
  return in_folder_ + static_cast<char16_t>(kPathSeparator) + ToWide(entry.name);
}

bool InboxListing::HasMarkerAfter(const std::u16string& marker_name, int64_t job_change_ns) const {
  const auto found = out_times_.find(ToNarrow(marker_name));
  if (found == out_times_.end()) return false;
  // File times advance in clock ticks (milliseconds on Linux, more on some
  // file systems), and a job that only gets its marker is done within one:
  // a marker of the same tick counts. (A job dropped again in the tick of
  // the last marker of its name is seen by its own change record; only a
  // restart in between would take it for done.) Unknown times trust the
  // marker.
  return job_change_ns == 0 || found->second >= job_change_ns;
}

bool InboxListing::IsWaitingJob(const DirectoryEntry& entry) const {
  if (entry.is_folder) return false;
  const std::u16string path = PathOf(entry);
  if (IsOwnOutputPath(path) || IsUploadInProgress(path)) return false;
  const std::u16string name = ToWide(entry.name);
  if (IsWatermarkPath(path)) {
    return !HasMarkerAfter(MarkerFileName(name, kWatermarkOkMarkerSuffix), entry.change_time_ns) &&
           !HasMarkerAfter(MarkerFileName(name, kWatermarkErrorMarkerSuffix), entry.change_time_ns);
  }
  return !HasMarkerAfter(MarkerFileName(name, kDoneMarkerSuffix), entry.change_time_ns);
}

std::vector<std::u16string> InboxListing::WaitingJobs() const {
  std::vector<const DirectoryEntry*> waiting;
  for (const DirectoryEntry& entry : entries_) {
    if (IsWaitingJob(entry)) waiting.push_back(&entry);
  }
  std::sort(waiting.begin(), waiting.end(), [](const auto* a, const auto* b) {
    if (a->modification_time_ns != b->modification_time_ns) {
      return a->modification_time_ns < b->modification_time_ns;
    }
    return a->name < b->name;
  });
  std::vector<std::u16string> paths;
  paths.reserve(waiting.size());
  for (const DirectoryEntry* entry : waiting) paths.push_back(PathOf(*entry));
  return paths;
}

}  // namespace quillaro
