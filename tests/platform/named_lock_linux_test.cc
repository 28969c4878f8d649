#include "platform/named_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/event.h"
#include "platform/thread.h"

namespace quillaro {
namespace {

// A name of its own, so that a service on this machine does not meet it here.
const std::u16string kName = u"Global\\QuillaroPlatformTestLock";
constexpr NamedLock::Result kAcquired = NamedLock::Result::kAcquired;

// The interpreter lock serialises the worker threads of one service and any
// other process on the machine; a holder that dies must not block the rest.
TEST(NamedLockTest, ExcludesThreadsAndProcessesAndIsFreedWhenItsHolderDies) {
  int ready[2];  // the other process says when it holds the lock
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    NamedLock lock(kName);
    if (lock.Acquire(nullptr) == kAcquired && ::write(ready[1], "H", 1) == 1) {
      for (;;) ::pause();  // killed while holding the lock
    }
    ::_exit(1);
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  // Behind another process, a waiter can give up; the next gets the lock as
  // soon as the holder dies.
  const ManualResetEvent at_once(true);
  EXPECT_EQ(NamedLock(kName).Acquire(&at_once), NamedLock::Result::kCancelled);
  bool acquired = false;
  Thread waiter;
  ASSERT_TRUE(waiter.Start([&] { acquired = NamedLock(kName).Acquire(nullptr) == kAcquired; }));
  EXPECT_FALSE(waiter.finished().Wait(300));
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  EXPECT_TRUE(waiter.finished().Wait(5000));
  waiter.Join();
  EXPECT_TRUE(acquired);
  EXPECT_EQ(NamedLock(kName).Acquire(&at_once), kAcquired);  // a free lock comes first

  // Threads of this process exclude each other too.
  NamedLock mine(kName);
  ASSERT_EQ(mine.Acquire(nullptr), kAcquired);
  EXPECT_EQ(NamedLock(kName).Acquire(&at_once), NamedLock::Result::kCancelled);
}

}  // namespace
}  // namespace quillaro
