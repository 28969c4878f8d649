#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <string>

#include "config/text_utils.h"
#include "platform/cancellation.h"
#include "platform/event.h"
#include "platform/wait.h"
#include "service/interpreter_lock.h"
#include "service/job_path_rules.h"
#include "service/last_name_filter.h"
#include "service/notification_queue.h"
#include "service/worker_pool.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

std::u16string Path(int i) { return u"/srv/in/job" + std::u16string(1, u'a' + i % 26); }

TEST(NotificationQueueTest, DropsRecordsPastCapacityAndKeepsTheCountInStep) {
  NotificationQueue queue(1000);
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(queue.Push({1, Path(i)})) << i;
  EXPECT_FALSE(queue.Push({3, u"/srv/in/one-too-many"}));
  EXPECT_EQ(queue.semaphore().Count(), 1000u);
  ChangeRecord record;
  ASSERT_EQ(WaitAny({queue.semaphore()}, 0), 0);
  ASSERT_TRUE(queue.Pop(&record));  // one out makes room for exactly one more
  EXPECT_TRUE(queue.Push({5, u"/srv/in/late"}));
  EXPECT_FALSE(queue.Push({5, u"/srv/in/later"}));
  // Everything comes out in order, the dropped records nowhere; the count ends with the records.
  for (int i = 1; i <= 1000; ++i) {
    ASSERT_EQ(WaitAny({queue.semaphore()}, 0), 0) << i;
    ASSERT_TRUE(queue.Pop(&record));
    ASSERT_EQ(record.path, i < 1000 ? Path(i) : u"/srv/in/late");
  }
  EXPECT_EQ(WaitAny({queue.semaphore()}, 0), kWaitTimeout);
  // Counts with no record behind them are taken back.
  ASSERT_TRUE(queue.semaphore().Release(3));
  EXPECT_FALSE(queue.Pop(&record));
  EXPECT_EQ(queue.semaphore().Count(), 0u);
}

TEST(LastNameFilterTest, DispatchesOnlyTheFirstOfRepeatsAndOnlyExistingPaths) {
  testing::TempDir dir;
  for (const char* name : {"a.pcl", "b.pcl", "B.PCL"})
    testing::WriteFileBytes(dir.path() / name, "x");
  std::filesystem::create_directory(dir.path() / "folder");
  auto path = [&](const char* name) { return ToWide(dir.File(name)); };
  const struct {
    std::u16string path;
    bool dispatched;
  } steps[] = {
      {path("a.pcl"), true},     {path("a.pcl"), false},  // modified: same as the last name
      {path("b.pcl"), true},     {path("B.PCL"), true},   // exact comparison: another name
      {path("a.pcl"), true},                              // another path came in between
      {path("gone.pcl"), false},                          // removed, or a rename's old half
      {path("a.pcl"), true},                              // the vanished path reset the name
      {path("folder"), true},    {u"", false},            // Pop found no record
  };
  LastNameFilter filter;
  for (const auto& step : steps) {
    EXPECT_EQ(filter.Accept(step.path), step.dispatched) << ToNarrow(step.path);
    EXPECT_EQ(filter.last_name(), step.path);
  }
}

TEST(JobPathRulesTest, OwnOutputsAreKnownByTheFileNameAndTheWatermarkRouteByThePath) {
  const struct {
    std::u16string path;
    bool own_output, watermark;
  } cases[] = {
      {u"/srv/q/in/job_pagescount.txt", true, false},
      {u"/srv/q/in/a.ps.watermarked", true, false},
      {u"/srv/q/in/invoice_WTR.pdf", false, true},
      // Folders the service is installed under are nobody's output.
      {u"/srv/watermark/in/invoice.pdf", false, false},
      {u"/srv/q.copy/in/a.jpg.d/invoice.pdf", false, false},
      {u"/srv/WTR/in/invoice.pdf", false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsOwnOutputPath(c.path), c.own_output) << ToNarrow(c.path);
    EXPECT_EQ(IsWatermarkPath(c.path), c.watermark) << ToNarrow(c.path);
  }
}

// Worker bodies held in place until released or cancelled, counting what they saw.
struct FakeWorkers {
  ManualResetEvent release{false};
  std::mutex mu;
  int ended = 0, cancelled = 0;

  WorkerEntry Entry() {
    return [this](WorkerSlot* slot) -> uint32_t {
      std::unique_lock<std::mutex> slot_lock(*slot->lock);
      const ManualResetEvent* cancel = slot->cancel_event;
      slot_lock.unlock();
      ScopedCancellation scope(*cancel);
      const int which = WaitAny({*cancel, release}, 20000);
      std::lock_guard<std::mutex> lock(mu);
      ++ended, cancelled += which == 0;
      return 0;
    };
  }
};

TEST(WorkerPoolTest, ScansSlotsInOrderAndTerminatesOverdueWorkersOnlyWhenASlotIsNeeded) {
  FakeWorkers fake;
  WorkerPoolLimits limits;
  limits.run_limit_ms = 300;
  WorkerPool pool(fake.Entry(), limits);
  for (int i = 0; i < kWorkerSlotCount; ++i) EXPECT_EQ(pool.TryDispatch(Path(i)), i);
  EXPECT_EQ(pool.TryDispatch(u"/in/eleventh"), WorkerPool::kNoFreeSlot);  // none overdue yet
  EXPECT_EQ(pool.BusySlotCount(), kWorkerSlotCount);
  ManualResetEvent(false).Wait(400);
  EXPECT_EQ(pool.BusySlotCount(), kWorkerSlotCount);  // overdue, but nobody asked for a slot
  // A scan terminates every overdue worker it passes and takes no slot in that pass.
  EXPECT_EQ(pool.TryDispatch(u"/in/late"), WorkerPool::kNoFreeSlot);
  EXPECT_EQ(pool.BusySlotCount(), 0);
  EXPECT_EQ(pool.TryDispatch(u"/in/late"), 0);
  fake.release.Set();
  pool.Drain();
  EXPECT_EQ(fake.cancelled, kWorkerSlotCount);
  EXPECT_EQ(fake.ended, kWorkerSlotCount + 1);
  EXPECT_EQ(pool.TerminatedCount(), 0u);  // all joined
}

// With several slots, jobs whose results could mix still wait for each other: the same STEM,
// or one that is the other's followed by "_" (whose page files the other's sweep removes).
TEST(InterpreterLockTest, KeepsJobsWhoseStemsClashApart) {
  const std::u16string suffix = u"UnitTestStems";
  const ManualResetEvent at_once(true);
  ScopedCancellation cancellation(at_once);  // a wait gives up at once
  InterpreterLock held(suffix, 4, u"report");
  ASSERT_TRUE(held.held());
  for (const char16_t* stem : {u"report", u"report_2", u"report_x_y"}) {
    EXPECT_TRUE(InterpreterLock(suffix, 4, stem).cancelled()) << ToNarrow(stem);
  }
  for (const char16_t* stem : {u"report2", u"repor", u"report.final", u"invoice"}) {
    EXPECT_TRUE(InterpreterLock(suffix, 4, stem).held()) << ToNarrow(stem);
  }
}

}  // namespace
}  // namespace quillaro
