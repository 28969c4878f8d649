#include "service/notification_queue.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/wait.h"

namespace quillaro {
namespace {

std::u16string PathNumber(int i) { return u"/srv/in/job" + std::u16string(1, u'a' + i % 26); }

TEST(NotificationQueueTest, DropsRecordsPastCapacityAndKeepsTheCountInStep) {
  NotificationQueue queue(1000);
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(queue.Push({1, PathNumber(i)})) << i;
  EXPECT_FALSE(queue.Push({3, u"/srv/in/one-too-many"}));
  EXPECT_EQ(queue.size(), 1000u);
  EXPECT_EQ(queue.semaphore().Count(), 1000u);

  // Taking one makes room for exactly one more.
  ASSERT_EQ(WaitAny({queue.semaphore()}, 0), 0);
  ChangeRecord record;
  ASSERT_TRUE(queue.Pop(&record));
  EXPECT_EQ(record.path, PathNumber(0));
  EXPECT_TRUE(queue.Push({5, u"/srv/in/late"}));
  EXPECT_FALSE(queue.Push({5, u"/srv/in/later"}));

  // Everything comes out in order, the dropped records nowhere.
  for (int i = 1; i < 1000; ++i) {
    ASSERT_EQ(WaitAny({queue.semaphore()}, 0), 0) << i;
    ASSERT_TRUE(queue.Pop(&record));
    ASSERT_EQ(record.path, PathNumber(i));
  }
  ASSERT_EQ(WaitAny({queue.semaphore()}, 0), 0);
  ASSERT_TRUE(queue.Pop(&record));
  EXPECT_EQ(record.action, 5u);
  EXPECT_EQ(record.path, u"/srv/in/late");
  EXPECT_EQ(WaitAny({queue.semaphore()}, 0), kWaitTimeout);
}

TEST(NotificationQueueTest, PopOnAnEmptyQueueFailsAndClearsStrayCounts) {
  NotificationQueue queue(10);
  ChangeRecord record{7, u"untouched"};
  EXPECT_FALSE(queue.Pop(&record));
  EXPECT_EQ(record.path, u"untouched");
  // Counts with no record behind them are taken back.
  ASSERT_TRUE(queue.semaphore().Release(3));
  EXPECT_FALSE(queue.Pop(&record));
  EXPECT_EQ(queue.semaphore().Count(), 0u);
}

}  // namespace
}  // namespace quillaro
