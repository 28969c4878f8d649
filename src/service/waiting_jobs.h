#ifndef QUILLARO_SERVICE_WAITING_JOBS_H_
#define QUILLARO_SERVICE_WAITING_JOBS_H_

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/directory_listing.h"

namespace quillaro {

// What in/ and out/ held at one moment, as far as it tells which jobs in in/
// still wait for processing. A job's completion marker is the last thing its
// worker writes, so a job without one has not been processed (it was dropped
// while the service was down, was still waiting when it stopped, or waits
// or runs now). Built and used on one thread; holds no handle.
class InboxListing {
 public:
  // Lists `in_folder` and `out_folder`. A folder that cannot be listed
  // counts as empty: without in/ nothing waits; without out/ every job does.
  InboxListing(std::u16string in_folder, const std::u16string& out_folder);

  const std::vector<DirectoryEntry>& entries() const { return entries_; }
  const std::u16string& in_folder() const { return in_folder_; }
  std::u16string PathOf(const DirectoryEntry& entry) const;

  // True when `entry` of in/ is a job that has not been processed: not a
  // folder, not a file the service writes itself, not an upload in progress
  // (see job_path_rules.h), and without a completion marker in out/ written
  // since the job last changed (a marker left by an earlier job of the same
  // name does not count). Links, pipes and devices are jobs here as when
  // they are dropped while the service runs: the worker gives them their
  // marker without opening them.
  bool IsWaitingJob(const DirectoryEntry& entry) const;

  // The full paths of the waiting jobs, oldest first by their modification
  // time (ties by name, so the order is the same on every run).
  std::vector<std::u16string> WaitingJobs() const;

 private:
  bool HasMarkerAfter(const std::u16string& marker_name, int64_t job_change_ns) const;

  std::u16string in_folder_;
  std::vector<DirectoryEntry> entries_;
  // Names in out/ (narrow, as listed) and their modification times.
  std::unordered_map<std::string, int64_t> out_times_;
};

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_WAITING_JOBS_H_
