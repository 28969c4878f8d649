#include "platform/named_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/thread.h"

namespace quillaro {
namespace {

// A name of its own, so test programs running side by side and a service on
// the machine do not meet here.
const std::u16string kName = u"Global\\QuillaroPlatformTestLock";

TEST(NamedLockTest, MapsTheGlobalNamespaceToALockFolder) {
  std::string path = NamedLock::LockFilePath(kName);
  EXPECT_TRUE(path == "/run/lock/QuillaroPlatformTestLock" ||
              path == "/tmp/QuillaroPlatformTestLock")
      << path;
}

TEST(NamedLockTest, HoldersExcludeEachOtherAndWaitersComeInTurn) {
  NamedLock first(kName);
  ASSERT_EQ(first.Acquire(nullptr), NamedLock::Result::kAcquired);

  std::mutex mu;
  std::vector<int> order;
  std::atomic<int> inside{0};
  std::vector<std::unique_ptr<Thread>> threads;
  std::vector<std::unique_ptr<ManualResetEvent>> queued;
  for (int i = 0; i < 4; ++i) {
    threads.push_back(std::make_unique<Thread>());
    // Start them one after another, so that each is queued before the next.
    ASSERT_TRUE(threads.back()->Start([&, i] {
      NamedLock lock(kName);
      ASSERT_EQ(lock.Acquire(nullptr), NamedLock::Result::kAcquired);
      EXPECT_EQ(inside.fetch_add(1), 0);
      {
        std::lock_guard<std::mutex> guard(mu);
        order.push_back(i);
      }
      inside.fetch_sub(1);
    }));
    // No thread can get in while `first` holds the lock.
    EXPECT_FALSE(threads.back()->finished().Wait(100));
  }
  first.Release();
  for (auto& thread : threads) {
    ASSERT_TRUE(thread->finished().Wait(10000));
    thread->Join();
  }
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
}

TEST(NamedLockTest, CancellingAWaiterLeavesTheQueueIntact) {
  NamedLock holder(kName);
  ASSERT_EQ(holder.Acquire(nullptr), NamedLock::Result::kAcquired);
  ManualResetEvent cancel(false);
  NamedLock::Result cancelled_result = NamedLock::Result::kAcquired;
  Thread cancelled;
  ASSERT_TRUE(cancelled.Start([&] {
    NamedLock lock(kName);
    cancelled_result = lock.Acquire(&cancel);
  }));
  bool later_got_it = false;
  Thread later;
  EXPECT_FALSE(cancelled.finished().Wait(100));
  ASSERT_TRUE(later.Start([&] {
    NamedLock lock(kName);
    later_got_it = lock.Acquire(nullptr) == NamedLock::Result::kAcquired;
  }));
  EXPECT_FALSE(later.finished().Wait(100));

  cancel.Set();
  ASSERT_TRUE(cancelled.finished().Wait(5000));
  cancelled.Join();
  EXPECT_EQ(cancelled_result, NamedLock::Result::kCancelled);
  EXPECT_FALSE(later.finished().Wait(100));
  holder.Release();
  ASSERT_TRUE(later.finished().Wait(5000));
  later.Join();
  EXPECT_TRUE(later_got_it);
}

}  // namespace
}  // namespace quillaro
