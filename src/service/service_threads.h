#ifndef QUILLARO_SERVICE_SERVICE_THREADS_H_
#define QUILLARO_SERVICE_SERVICE_THREADS_H_

#include "platform/event.h"
#include "platform/thread.h"

namespace quillaro {

// The events of one long-running thread: its owner sets `stop_request`; the
// thread tests it and sets `stopped` when it ends. The inbox thread also
// sets `started` once its folder is watched. `stopped` starts
// signalled and is reset just before the thread is created, so a stop
// before the thread ever started does not wait for it.
struct ThreadEventPair {
  ManualResetEvent stop_request{false};
  ManualResetEvent stopped{true};
  ManualResetEvent started{false};
};

// The service's two long-running threads and their events. Built before the
// service starts and kept for the life of the program.
struct ServiceThreads {
  ThreadEventPair inbox;
  Thread inbox_thread;
  ThreadEventPair cleanup;
  Thread cleanup_thread;
};

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_SERVICE_THREADS_H_
