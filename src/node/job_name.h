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

}  // namespace quillaro

#endif  // QUILLARO_NODE_JOB_NAME_H_
