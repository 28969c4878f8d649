#ifndef QUILLARO_SERVICE_WORKER_POOL_H_
#define QUILLARO_SERVICE_WORKER_POOL_H_

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/thread.h"
#include "service/worker_slot.h"

namespace quillaro {

inline constexpr int kWorkerSlotCount = 10;

// The body of a worker thread, given its slot (the service passes
// RunJobWorker). Its result is not used.
using WorkerEntry = std::function<uint32_t(WorkerSlot* slot)>;

struct WorkerPoolLimits {
  // A worker running longer than this is terminated when its slot is needed.
  uint32_t run_limit_ms = 300000;
  // At shutdown a worker gets this long, counted from its dispatch.
  uint32_t drain_limit_ms = 45000;
  // ... and once terminated, this long more to end; then it is left to run
  // on alone, so that a stop never waits without bound.
  uint32_t cancel_grace_ms = 5000;
  // With every slot busy, the slots are scanned again after at most this
  // long (sooner when a worker ends).
  uint32_t retry_ms = 1000;
};

// Ten worker slots and their threads, owned and driven by one thread (the
// inbox watcher); not thread-safe.
//
// Terminating a worker is cooperative: the pool sets the worker's cancel
// event (see WorkerSlot), the worker's child process, if any, is killed by
// the process runner, the worker skips what remains of its job and ends by
// itself. Its slot is free at once; the pool joins the thread later.
class WorkerPool {
 public:
  explicit WorkerPool(WorkerEntry entry, WorkerPoolLimits limits = {});
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  // Drains if Drain() has not run.
  ~WorkerPool();

  // Hands `path` to a worker, scanning the slots again until one is free.
  // Returns the slot index, or -1 when no thread could be created (the path
  // is then dropped).
  int Dispatch(const std::u16string& path);

  // One scan over the slots in index order: reaps finished workers,
  // terminates those over the run limit (their slots are not taken in this
  // pass), and dispatches `path` into the first free slot. Returns the slot
  // index, -1 when no thread could be created, or kNoFreeSlot.
  static constexpr int kNoFreeSlot = -2;
  int TryDispatch(const std::u16string& path);

  // Shutdown: sets the workers-stop event, then waits for each worker in slot
  // order until it ends or its drain limit since dispatch has passed, when it
  // is terminated; finally joins every terminated worker that ends within
  // the cancel grace and detaches the others (their records are kept for
  // the rest of the process). Returns within the drain limit plus the grace.
  void Drain();

  // Workers in slots whose thread has not yet been seen to end.
  int BusySlotCount() const;
  // Of those, the ones still within the run limit (an overdue one is
  // terminated by the next dispatch that scans its slot).
  int BusyWithinRunLimitCount() const;
  // Returns once a worker still running in a slot ends, or after
  // `timeout_ms` (also when none runs: it never returns at once without
  // cause, so a caller's retry cannot spin).
  void WaitForAnyWorker(uint32_t timeout_ms) const;
  // Workers terminated and not yet joined.
  size_t TerminatedCount() const { return terminated_.size(); }
  // The paths of the jobs whose workers were terminated since the last call
  // (a terminated job writes no marker), oldest first.
  std::vector<std::u16string> TakeTerminatedPaths();
  const ManualResetEvent& workers_stop() const { return workers_stop_; }

 private:
  struct Worker {
    Thread thread;
    ManualResetEvent cancel{false};
  };

  void Terminate(int index);
  void ReapFinishedTerminated();

  WorkerEntry entry_;
  WorkerPoolLimits limits_;
  ManualResetEvent workers_stop_{false};
  std::mutex slot_lock_;  // the path fields of slots_, against workers copying them
  std::array<WorkerSlot, kWorkerSlotCount> slots_;
  std::array<std::unique_ptr<Worker>, kWorkerSlotCount> workers_;  // empty: free slot
  std::vector<std::unique_ptr<Worker>> terminated_;
  std::vector<std::u16string> terminated_paths_;
  bool drained_ = false;
};

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_WORKER_POOL_H_
