#ifndef QUILLARO_SERVICE_JOB_STAND_IN_H_
#define QUILLARO_SERVICE_JOB_STAND_IN_H_

#include <string>
#include <utility>
#include <vector>

namespace quillaro {

// The interpreters take their arguments as UTF-8 and drop the bytes that are
// not, so a job named in another encoding (a Latin-1 client's "lat\xE9.ps")
// would name no file for them. Such a job goes through the stages under a
// stand-in name, "pcl_2_ps-stand-in-N" plus the job's extension, N counting
// the stand-ins of this process so that jobs running at once never share
// one: its private copy has that name, and its log lines name it as a file
// of in/. On destruction the stand-in's results in out/ are renamed to the
// job's own name; the caller writes the marker after that.
//
// A job whose name is valid text gets no stand-in: path() is its own path.
// Owned by the worker thread that runs the job.
class JobStandIn {
 public:
  explicit JobStandIn(const std::u16string& job_path);
  JobStandIn(const JobStandIn&) = delete;
  JobStandIn& operator=(const JobStandIn&) = delete;
  ~JobStandIn();

  // The job's path under the name the stages know it by: the stand-in's, or
  // the job's own.
  const std::u16string& path() const { return path_; }

 private:
  std::u16string path_;
  // Prefixes of names in out/, the stand-in's and the job's, longest first.
  std::vector<std::pair<std::string, std::string>> renames_;
};

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_JOB_STAND_IN_H_
