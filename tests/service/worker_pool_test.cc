#include "service/worker_pool.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/cancellation.h"
#include "platform/event.h"
#include "platform/wait.h"

namespace quillaro {
namespace {

// Worker bodies the tests hold in place: each copies its slot, as a job
// worker does, then waits until released or cancelled.
struct FakeWorkers {
  ManualResetEvent release{false};
  std::mutex mu;  // paths, cancelled, saw_stop
  std::vector<std::u16string> paths;
  int cancelled = 0;
  int saw_stop = 0;

  int Cancelled() {
    std::lock_guard<std::mutex> lock(mu);
    return cancelled;
  }
  int SawStop() {
    std::lock_guard<std::mutex> lock(mu);
    return saw_stop;
  }
  size_t PathCount() {
    std::lock_guard<std::mutex> lock(mu);
    return paths.size();
  }

  WorkerEntry Entry() {
    return [this](WorkerSlot* slot) -> uint32_t {
      std::u16string path;
      const ManualResetEvent* cancel;
      const ManualResetEvent* stop;
      {
        std::lock_guard<std::mutex> lock(*slot->lock);
        path = slot->path;
        cancel = slot->cancel_event;
        stop = slot->stop_event;
      }
      ScopedCancellation scope(*cancel);
      int which = WaitAny({*cancel, release}, 20000);
      std::lock_guard<std::mutex> lock(mu);
      paths.push_back(path);
      if (which == 0) ++cancelled;
      if (stop->IsSet()) ++saw_stop;
      return 0;
    };
  }
};

std::u16string Job(int i) { return u"/in/job" + std::u16string(1, u'0' + i); }

TEST(WorkerPoolTest, TakesSlotsInOrderAndFindsNoneFreeWhileTenRun) {
  FakeWorkers fake;
  WorkerPool pool(fake.Entry());
  for (int i = 0; i < kWorkerSlotCount; ++i) EXPECT_EQ(pool.TryDispatch(Job(i)), i);
  EXPECT_EQ(pool.TryDispatch(u"/in/eleventh"), WorkerPool::kNoFreeSlot);
  EXPECT_EQ(pool.BusySlotCount(), kWorkerSlotCount);

  // Dispatch keeps retrying until a worker ends, then reuses its slot.
  fake.release.Set();
  EXPECT_GE(pool.Dispatch(u"/in/eleventh"), 0);
  pool.Drain();
  EXPECT_EQ(pool.BusySlotCount(), 0);
  EXPECT_EQ(fake.PathCount(), 11u);
  EXPECT_EQ(fake.Cancelled(), 0);
}

TEST(WorkerPoolTest, TerminatesOverdueWorkersOnlyWhenASlotIsNeeded) {
  FakeWorkers fake;
  WorkerPoolLimits limits;
  limits.run_limit_ms = 200;
  WorkerPool pool(fake.Entry(), limits);
  for (int i = 0; i < kWorkerSlotCount; ++i) ASSERT_EQ(pool.TryDispatch(Job(i)), i);
  // Overdue, but nobody needs a slot yet: nothing happens to them.
  ManualResetEvent(false).Wait(300);
  EXPECT_EQ(pool.BusySlotCount(), kWorkerSlotCount);
  EXPECT_EQ(fake.Cancelled(), 0);

  // A scan terminates every overdue worker it passes and takes no slot in
  // that pass; the slots are free at once for the next.
  EXPECT_EQ(pool.TryDispatch(u"/in/late"), WorkerPool::kNoFreeSlot);
  EXPECT_EQ(pool.BusySlotCount(), 0);
  EXPECT_EQ(pool.TryDispatch(u"/in/late"), 0);
  fake.release.Set();
  pool.Drain();
  EXPECT_EQ(fake.Cancelled(), kWorkerSlotCount);
  EXPECT_EQ(fake.PathCount(), kWorkerSlotCount + 1u);
  EXPECT_EQ(pool.TerminatedCount(), 0u);  // all joined
}

TEST(WorkerPoolTest, DrainSignalsStopAndTerminatesWorkersPastTheirLimitSinceDispatch) {
  FakeWorkers fake;
  WorkerPoolLimits limits;
  limits.drain_limit_ms = 300;
  WorkerPool pool(fake.Entry(), limits);
  ASSERT_EQ(pool.TryDispatch(u"/in/old"), 0);
  ManualResetEvent(false).Wait(400);
  ASSERT_EQ(pool.TryDispatch(u"/in/new"), 1);
  pool.Drain();
  // Both past the limit by the end; both saw the stop event.
  EXPECT_EQ(fake.Cancelled(), 2);
  EXPECT_EQ(fake.SawStop(), 2);
  EXPECT_TRUE(pool.workers_stop().IsSet());
}

}  // namespace
}  // namespace quillaro
