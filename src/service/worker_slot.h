#ifndef QUILLARO_SERVICE_WORKER_SLOT_H_
#define QUILLARO_SERVICE_WORKER_SLOT_H_

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/event.h"

namespace quillaro {

// What the worker pool hands a job worker. The pool writes a slot only while
// holding `lock` and only for a new dispatch; the worker copies what it
// needs out of it, under `lock`, before anything else.
struct WorkerSlot {
  // Full path of the job file. Not limited to 259 characters: on Linux a
  // path is as long as the system allows, and cutting one short would name
  // another file.
  std::u16string path;
  // The pool's workers-stop event, signalled when the service stops.
  const ManualResetEvent* stop_event = nullptr;
  // Shared by all slots of a pool.
  std::mutex* lock = nullptr;
  // Tick count (TickCount()) of the dispatch; read only by the pool.
  uint32_t start_tick = 0;
  // This worker's own cancel event: set when the pool terminates it. The
  // event lives until the pool has joined the worker.
  const ManualResetEvent* cancel_event = nullptr;
};

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_WORKER_SLOT_H_
