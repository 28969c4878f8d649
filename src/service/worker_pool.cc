#include "service/worker_pool.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "platform/monotonic_clock.h"
#include "platform/wait.h"

namespace quillaro {

WorkerPool::WorkerPool(WorkerEntry entry, WorkerPoolLimits limits)
    : entry_(std::move(entry)), limits_(limits) {}

WorkerPool::~WorkerPool() {
  if (!drained_) Drain();
}

int WorkerPool::Dispatch(const std::u16string& path) {
  for (;;) {
    int taken = TryDispatch(path);
    if (taken != kNoFreeSlot) return taken;
    WaitForAnyWorker(limits_.retry_ms);
  }
}

int WorkerPool::TryDispatch(const std::u16string& path) {
  ReapFinishedTerminated();
  for (int i = 0; i < kWorkerSlotCount; ++i) {
    if (workers_[i]) {
      if (workers_[i]->thread.finished().IsSet()) {
        workers_[i]->thread.Join();
        workers_[i].reset();
      } else {
        // Unsigned difference: the wrap of the tick count does no harm.
        if (TickCount() - slots_[i].start_tick > limits_.run_limit_ms) Terminate(i);
        continue;
      }
    }

    auto worker = std::make_unique<Worker>();
    WorkerSlot* slot = &slots_[i];
    {
      std::lock_guard<std::mutex> lock(slot_lock_);
      slot->path = path;
      slot->stop_event = &workers_stop_;
      slot->lock = &slot_lock_;
      slot->cancel_event = &worker->cancel;
      slot->start_tick = TickCount();
    }
    WorkerEntry entry = entry_;
    if (!worker->thread.Start([entry, slot] { entry(slot); }, ThreadPriority::kLowest)) {
      return -1;
    }
    workers_[i] = std::move(worker);
    return i;
  }
  return kNoFreeSlot;
}

void WorkerPool::Terminate(int index) {
  workers_[index]->cancel.Set();
  terminated_.push_back(std::move(workers_[index]));
  terminated_paths_.push_back(slots_[index].path);
}

std::vector<std::u16string> WorkerPool::TakeTerminatedPaths() {
  std::vector<std::u16string> paths;
  paths.swap(terminated_paths_);
  return paths;
}

void WorkerPool::ReapFinishedTerminated() {
  auto ended = [](std::unique_ptr<Worker>& worker) {
    if (!worker->thread.finished().IsSet()) return false;
    worker->thread.Join();
    return true;
  };
  terminated_.erase(std::remove_if(terminated_.begin(), terminated_.end(), ended),
                    terminated_.end());
}

void WorkerPool::WaitForAnyWorker(uint32_t timeout_ms) const {
  // Only the workers still running: one that ended and is not yet joined
  // would end every wait at once.
  std::vector<Waitable> finished;
  for (const auto& worker : workers_) {
    if (worker && !worker->thread.finished().IsSet()) {
      finished.emplace_back(worker->thread.finished());
    }
  }
  const uint64_t start = MonotonicMilliseconds();
  if (finished.empty() || WaitAny(finished, timeout_ms) == kWaitFailed) {
    // A failed wait must not turn the retry into a spin: sleep the rest.
    uint64_t elapsed = MonotonicMilliseconds() - start;
    if (elapsed < timeout_ms) {
      std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms - elapsed));
    }
  }
}

void WorkerPool::Drain() {
  drained_ = true;
  // A worker that has not yet begun its stages sees this and returns.
  workers_stop_.Set();
  for (int i = 0; i < kWorkerSlotCount; ++i) {
    while (workers_[i]) {
      if (workers_[i]->thread.finished().IsSet()) {
        workers_[i]->thread.Join();
        workers_[i].reset();
        break;
      }
      // Counted from the dispatch, not from the stop request.
      const uint32_t elapsed = TickCount() - slots_[i].start_tick;
      if (elapsed > limits_.drain_limit_ms) {
        Terminate(i);
        break;
      }
      const uint32_t remaining = limits_.drain_limit_ms - elapsed + 1;
      const uint64_t start = MonotonicMilliseconds();
      if (!workers_[i]->thread.finished().Wait(remaining) &&
          MonotonicMilliseconds() - start < remaining) {
        // The wait failed rather than timed out: do not spin on it.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
  }
  // Terminated workers end promptly once cancelled (their child processes
  // are killed, the imaging stages stop between pages); join them so none
  // outlives the pool. One that does not end in time is let go rather than
  // hang the stop: its record stays reachable for the rest of the process,
  // and past its start a worker no longer touches its slot.
  const uint64_t deadline = MonotonicMilliseconds() + limits_.cancel_grace_ms;
  for (std::unique_ptr<Worker>& worker : terminated_) {
    const uint64_t now = MonotonicMilliseconds();
    const uint32_t left = now < deadline ? static_cast<uint32_t>(deadline - now) : 0;
    if (worker->thread.finished().Wait(left)) {
      worker->thread.Join();
    } else {
      worker->thread.Detach();
      static std::vector<std::unique_ptr<Worker>>* abandoned =
          new std::vector<std::unique_ptr<Worker>>();
      abandoned->push_back(std::move(worker));
    }
  }
  terminated_.clear();
}

int WorkerPool::BusySlotCount() const {
  int busy = 0;
  for (const auto& worker : workers_) {
    if (worker && !worker->thread.finished().IsSet()) ++busy;
  }
  return busy;
}

int WorkerPool::BusyWithinRunLimitCount() const {
  int busy = 0;
  for (int i = 0; i < kWorkerSlotCount; ++i) {
    if (workers_[i] && !workers_[i]->thread.finished().IsSet() &&
        TickCount() - slots_[i].start_tick <= limits_.run_limit_ms) {
      ++busy;
    }
  }
  return busy;
}

}  // namespace quillaro
