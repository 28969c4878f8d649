#include "platform/wait.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/event.h"
#include "platform/semaphore.h"

namespace quillaro {
namespace {

// The change queue relies on the maximum being a hard limit: a refused
// Release must leave the count as it was, and every wait take exactly one.
TEST(CountingSemaphoreTest, RefusesToPassItsMaximumAndEachWaitTakesOne) {
  CountingSemaphore semaphore(2, 5);
  EXPECT_FALSE(semaphore.Release(4));  // 2 + 4 > 5: nothing added
  EXPECT_EQ(semaphore.Count(), 2u);
  EXPECT_TRUE(semaphore.Release(3));
  EXPECT_FALSE(semaphore.Release());
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(semaphore.TryAcquire()) << i;
  EXPECT_FALSE(semaphore.TryAcquire());
  EXPECT_FALSE(semaphore.Acquire(20));
  EXPECT_EQ(semaphore.Count(), 0u);
  // A count released from another thread wakes a waiter with no time limit.
  std::thread releaser([&] { semaphore.Release(); });
  EXPECT_TRUE(semaphore.Acquire(kInfinite));
  releaser.join();
  EXPECT_EQ(semaphore.Count(), 0u);
}

TEST(WaitAnyTest, ReportsTheFirstSignalledObjectAndTakesOnlyItsCount) {
  ManualResetEvent stop(false);
  CountingSemaphore queue(0, 10);
  EXPECT_EQ(WaitAny({stop, queue}, 0), kWaitTimeout);
  queue.Release(2);
  EXPECT_EQ(WaitAny({stop, queue}, kInfinite), 1);
  EXPECT_EQ(queue.Count(), 1u);
  stop.Set();  // an event stays set and wins by its place in the list
  EXPECT_EQ(WaitAny({stop, queue}, kInfinite), 0);
  EXPECT_EQ(WaitAny({stop, queue}, kInfinite), 0);
  EXPECT_EQ(queue.Count(), 1u);
  EXPECT_EQ(WaitAny({queue, stop}, kInfinite), 0);
  EXPECT_EQ(queue.Count(), 0u);
}

}  // namespace
}  // namespace quillaro
