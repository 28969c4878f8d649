#ifndef QUILLARO_SERVICE_JOB_WORKER_H_
#define QUILLARO_SERVICE_JOB_WORKER_H_

#include <cstdint>
#include <string>

#include "service/worker_slot.h"

namespace quillaro {

// The body of a job worker thread for the file in `slot`: skips the service's
// own outputs, loads the settings, takes the interpreter lock, and unless the
// service is stopping runs the stages in order, ending with the completion
// marker. A folder is not a job (nothing is done); a symbolic link, a pipe
// or device, or a file with more than one hard link is never opened: only
// its marker is written (the watermark route's error marker). When the worker's cancel event is set it leaves the lock wait or
// skips the remaining stages (a cancelled job writes no marker). Returns 0.
uint32_t RunJobWorker(WorkerSlot* slot);

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_JOB_WORKER_H_
