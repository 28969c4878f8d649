#include "platform/thread.h"

#include <errno.h>
#include <sys/resource.h>
#include <unistd.h>

namespace quillaro {
namespace {

// Nice steps a lowest-priority thread sits below the others.
constexpr int kLowestNiceIncrement = 2;

}  // namespace

// std::thread gives what pthread_create returned.
OsError ThreadStartError(int error_number) { return OsError{"pthread_create", error_number, ""}; }

void LowerCallingThreadPriority() {
  // On Linux the nice value is per thread (the tid is the "process" here).
  const id_t tid = static_cast<id_t>(::gettid());
  errno = 0;
  int nice = ::getpriority(PRIO_PROCESS, tid);
  if (nice == -1 && errno != 0) return;
  // Raising the nice value is always allowed; failing leaves it as it was.
  ::setpriority(PRIO_PROCESS, tid, nice + kLowestNiceIncrement);
}

}  // namespace quillaro
