#include "service/job_worker.h"

#include <mutex>
#include <optional>

#include "config/job.h"
#include "platform/cancellation.h"
#include "service/interpreter_lock.h"
#include "service/job_path_rules.h"

namespace quillaro {
namespace {

void RunStages(Job& job, const std::u16string& path, bool watermark) {
  // A terminated worker stops between stages; the stage under way when the
  // cancel came has already had its child process killed.
  auto go_on = [] { return !CancellationRequested(); };
  if (watermark) {
    int result = job.RunWatermark(path);
    if (go_on()) job.WriteWatermarkMarker(path, result);
    return;
  }
  if (job.IsConvert) {
    job.MeasurePages(path);
    if (job.Type > 0) {
      if (go_on()) job.RenderPages(path);
      if (job.Type > 1 && go_on()) job.MeasureColorCoverage();
      if (go_on()) job.ConvertPageImages(path);
    }
  }
  if (go_on()) job.WriteDoneMarker(path);
}

}  // namespace

uint32_t RunJobWorker(WorkerSlot* slot) {
  if (slot == nullptr || slot->lock == nullptr) return 0;
  std::u16string path;
  const ManualResetEvent* stop = nullptr;
  const ManualResetEvent* cancel = nullptr;
  {
    std::lock_guard<std::mutex> lock(*slot->lock);
    path = slot->path;
    stop = slot->stop_event;
    cancel = slot->cancel_event;
  }
  if (IsOwnOutputPath(path)) return 0;
  const bool watermark = IsWatermarkPath(path);

  std::optional<ScopedCancellation> cancellation;
  if (cancel != nullptr) cancellation.emplace(*cancel);

  // Built outside the lock: loading the settings needs no serialising.
  Job job;
  InterpreterLock lock(kInterpreterLockSuffix);
  if (lock.cancelled()) return 0;
  // A stop that came while this worker waited for the lock: leave the file
  // unprocessed. A later stop does not interrupt the stages.
  if (stop != nullptr && stop->IsSet()) return 0;
  RunStages(job, path, watermark);
  return 0;
}

}  // namespace quillaro
