#include "platform/semaphore.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/event.h"
#include "platform/wait.h"

namespace quillaro {
namespace {

TEST(SemaphoreTest, RefusesCountsPastItsMaximumAndLeavesTheCount) {
  CountingSemaphore semaphore(0, 3);
  EXPECT_TRUE(semaphore.Release(2));
  EXPECT_FALSE(semaphore.Release(2));
  EXPECT_EQ(semaphore.Count(), 2u);
  EXPECT_TRUE(semaphore.Release(1));
  EXPECT_FALSE(semaphore.Release(1));
  EXPECT_EQ(semaphore.Count(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(semaphore.TryAcquire()) << i;
  EXPECT_FALSE(semaphore.TryAcquire());
  EXPECT_FALSE(semaphore.Acquire(10));
}

TEST(SemaphoreTest, WaitAnyTakesOneCountFromASemaphoreButLeavesAnEventSet) {
  ManualResetEvent event(false);
  CountingSemaphore semaphore(2, 10);
  EXPECT_EQ(WaitAny({event, semaphore}, 0), 1);
  EXPECT_EQ(semaphore.Count(), 1u);
  event.Set();
  // The first signalled object in list order wins; the event stays set.
  EXPECT_EQ(WaitAny({event, semaphore}, 0), 0);
  EXPECT_EQ(WaitAny({event, semaphore}, 0), 0);
  EXPECT_EQ(semaphore.Count(), 1u);
  event.Reset();
  EXPECT_EQ(WaitAny({event, semaphore}, 0), 1);
  EXPECT_EQ(WaitAny({event, semaphore}, 20), kWaitTimeout);
}

TEST(SemaphoreTest, EveryReleasedCountIsTakenExactlyOnceAcrossThreads) {
  CountingSemaphore semaphore(0, 100000);
  constexpr int kCounts = 20000;
  std::thread producer([&] {
    for (int i = 0; i < kCounts; ++i) ASSERT_TRUE(semaphore.Release(1));
  });
  int taken = 0;
  while (taken < kCounts) {
    ASSERT_EQ(WaitAny({semaphore}, 5000), 0) << "after " << taken;
    ++taken;
  }
  producer.join();
  EXPECT_EQ(semaphore.Count(), 0u);
}

}  // namespace
}  // namespace quillaro
