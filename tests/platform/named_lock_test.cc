#include "platform/named_lock.h"

#include <gtest/gtest.h>

#include "platform/event.h"

namespace quillaro {
namespace {

// A name of its own, so that a service on this machine does not meet it here.
const std::u16string kName = u"Global\\QuillaroPlatformTestLock";
constexpr NamedLock::Result kAcquired = NamedLock::Result::kAcquired;

// With slots, that many holders at once and no more; a user of the name with one slot meets the
// holder of the first.
TEST(NamedLockTest, SlotsLetThatManyHoldersInAtOnce) {
  const ManualResetEvent at_once(true);
  NamedLock first(kName, 2), second(kName, 2);
  ASSERT_EQ(first.Acquire(nullptr), kAcquired);
  ASSERT_EQ(second.Acquire(&at_once), kAcquired);
  EXPECT_EQ(NamedLock(kName, 2).Acquire(&at_once), NamedLock::Result::kCancelled);
  EXPECT_EQ(NamedLock(kName).Acquire(&at_once), NamedLock::Result::kCancelled);
  first.Release();
  EXPECT_EQ(NamedLock(kName, 2).Acquire(&at_once), kAcquired);
}

}  // namespace
}  // namespace quillaro
