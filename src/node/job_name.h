#ifndef QUILLARO_NODE_JOB_NAME_H_
#define QUILLARO_NODE_JOB_NAME_H_

#include <string>

namespace quillaro {

// The file name a job received from the broker gets in the service's in/.
// The name comes from whoever submitted the job and must not reach outside
// in/ nor hide there: '/', '\\', NUL and the other control bytes (below 0x20,
// and 0x7F) become '_', a leading '.' (which also covers "." and "..")
// becomes '_', an empty name becomes "job", and the name is cut to 200
// bytes, keeping its extension. Other bytes, including those that are not
// UTF-8, stay: the service handles them and its results carry them.
std::string SafeJobName(const std::string& name);

// The extension a job's file keeps in the service's in/: ".ext" when the
// submitted `name` ends in one of 1 to 8 ASCII letters and digits, else ""
// (the service tells the languages apart by content, the extension is kept
// for the results' names).
std::string KeptExtension(const std::string& name);

// The name result file `file` of job `job_id`, submitted as `name`, gets
// back. The fleet ran the job as "ID" + KeptExtension(name) and
// the service named its results after that NAME or its STEM "ID"; the
// submitter's NAME or STEM takes their place. A file that names neither is
// left as it is.
std::string RestoreResultName(const std::string& file, const std::string& job_id,
                              const std::string& name);

}  // namespace quillaro

#endif  // QUILLARO_NODE_JOB_NAME_H_
