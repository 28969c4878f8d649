#ifndef QUILLARO_NODE_SERVICE_FOLDER_H_
#define QUILLARO_NODE_SERVICE_FOLDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "node/file_bundle.h"

namespace quillaro {

// The node's side of one Quillaro service folder (in/, out/, failed/ and the
// node's own staging/ beside them). The node is the only client of that
// service and gives it one job at a time, each under a name made of its job
// id (unique per submission) and the extension of the submitter's name, so
// every file of out/ that starts with that id is that job's, whatever the
// submitters called their files. Names passed in must come from
// InboxName(). Not thread-safe; one node per folder.
class ServiceFolder {
 public:
  explicit ServiceFolder(std::string folder);

  // The name job `job_id` (fleet::IsJobId) gets in in/: the id and the
  // KeptExtension() of `submitted_name`.
  static std::string InboxName(const std::string& job_id, const std::string& submitted_name);

  // Removes every job, result and quarantined file (in/, staging/, out/,
  // failed/): what a service that stopped or restarted left behind, which
  // no node waits for any more. Call only while the service has no job.
  void ClearStaleJobs() const;

  // Removes every file the service or the node made for job NAME (in/,
  // staging, results and marker in out/, quarantine in failed/): an earlier
  // attempt at the same job, on a node that died, may have left some.
  void RemoveJobFiles(const std::string& name) const;

  // Hands the job to the service: writes it into staging/ and renames it
  // into in/, on the same file system, so the service never sees half a
  // job. The service drops a change that names the same file as the one
  // before it (copies make several), so a folder made and removed in in/
  // first makes sure a job of the same name as the last one is seen too.
  // False with the reason in `*error`.
  bool Submit(const std::string& name, const std::string& bytes, std::string* error) const;

  // Whether the job's completion marker (NAME_done, NAME_watermark_done_ok
  // or NAME_watermark_done_error) is in out/. The marker is written last, so
  // seeing it means every result is complete.
  bool HasMarker(const std::string& name) const;

  // The job's result files: out/STEM_*, out/NAME_*, out/NAME.*, and the
  // quarantine reason failed/NAME.reason.txt when there is one. A file that
  // cannot be read is left out.
  std::vector<BundledFile> CollectResults(const std::string& name) const;

 private:
  std::vector<std::string> ResultNames(const std::string& name) const;
  std::string folder_;
};

}  // namespace quillaro

#endif  // QUILLARO_NODE_SERVICE_FOLDER_H_
