#ifndef QUILLARO_CONFIG_STAGED_JOB_H_
#define QUILLARO_CONFIG_STAGED_JOB_H_

#include <string>

namespace quillaro {

// The job as its stages see it. The stages read only the job's private copy,
// which has the job's own name (so NAME and STEM come from it) and lies in
// the one folder its interpreter runs may write in; log.txt names the job
// by its place in in/. A value the job worker makes; the stages only read
// it.
struct StagedJob {
  std::string path;         // the private copy, narrow
  std::string logged_path;  // as log.txt names the job; empty: `path`

  const std::string& LoggedPath() const { return logged_path.empty() ? path : logged_path; }
};

}  // namespace quillaro

#endif  // QUILLARO_CONFIG_STAGED_JOB_H_
